// The shipped recorder's window probe end to end: a private X server with the
// openbox window manager (scripts/x11-fixture), windows opened by our own test
// client with chosen classes, titles, pids, types and states, and
// `hoerspur --fenster-probe` reading them back. Never skips: without Xvfb and
// openbox the test fails.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "tests/dateien.h"
#include "tests/fixtur.h"
#include "tests/kindprozess.h"

namespace hoerspur {
namespace {

using Json = nlohmann::json;
using namespace std::chrono_literals;

// The process environment with DISPLAY set to `display`, or without it.
std::vector<std::string> mitDisplay(const std::optional<std::string>& display) {
    return umgebungMit({{"DISPLAY", display}});
}

// What the test client reports about one of its windows.
struct Offen {
    std::uint32_t id;
    int x, y;
    std::vector<int> rand;  // left, right, top, bottom
};

class FensterProbeAufX11 : public ::testing::Test {
  protected:
    // One private X server per test suite.
    static void SetUpTestSuite() {
        server_ = new X11Fixtur(neuerOrdner("hs-x11"));
        server_->starte("mit-wm");
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override { ASSERT_FALSE(server_->display().empty()) << "Xvfb/openbox fehlen"; }

    // Opens the windows of `plan`; the client keeps them until it is destroyed.
    std::vector<Offen> oeffne(const Json& plan) {
        client_ =
            std::make_unique<Kindprozess>(std::vector<std::string>{TESTFENSTER_PFAD, plan.dump()},
                                          mitDisplay(server_->display()));
        EXPECT_TRUE(client_->liesBis("bereit\n", 15s)) << client_->err();
        std::vector<Offen> offen;
        for (const std::string& z : client_->ausZeilen()) {
            if (z == "bereit") break;
            const Json j = Json::parse(z);
            offen.push_back({j["id"].get<std::uint32_t>(), j["x"].get<int>(), j["y"].get<int>(),
                             j["rand"].get<std::vector<int>>()});
        }
        return offen;
    }

    static Kindprozess probe(const std::vector<std::string>& optionen,
                             const std::optional<std::string>& display) {
        std::vector<std::string> argv{HOERSPUR_PFAD, "--fenster-probe"};
        argv.insert(argv.end(), optionen.begin(), optionen.end());
        return Kindprozess(argv, mitDisplay(display));
    }

    static X11Fixtur* server_;
    std::unique_ptr<Kindprozess> client_;
};

X11Fixtur* FensterProbeAufX11::server_ = nullptr;

// A desktop in the middle of a call: the Zoom meeting beside Zoom's home window,
// browsers, a terminal, a panel, a Slack huddle kept above, a minimised tab, a
// Webex window on another desktop, and windows that name themselves oddly.
const Json DESKTOP = Json::parse(R"({"fenster": [
  {"klasse": ["zoom", "zoom"], "titel": "Zoom Meeting", "pid": 4242,
   "x": 40, "y": 60, "breite": 1280, "hoehe": 800},
  {"klasse": ["zoom", "zoom"], "titel": "Zoom Workplace", "breite": 900, "hoehe": 600},
  {"klasse": ["google-chrome", "Google-chrome"],
   "titel": "Meet \u2013 abc-defg-hij \u2013 Google Chrome", "breite": 1000, "hoehe": 700},
  {"klasse": ["msedge-_cinhimbnkkaeohfgghhklpknlkffjgod-Default", "Microsoft-edge"],
   "titel": "Teams", "breite": 800, "hoehe": 600},
  {"klasse": ["xterm", "XTerm"], "wm_name": "Notizen f\u00fcr heute", "breite": 600, "hoehe": 400},
  {"klasse": ["panel", "Panel"], "titel": "Leiste", "typ": "DOCK", "breite": 1920, "hoehe": 30},
  {"klasse": ["slack", "Slack"], "titel": "Huddle mit Team", "zustand": ["ABOVE"],
   "breite": 700, "hoehe": 500},
  {"klasse": ["Navigator", "firefox"], "titel": "Google Meet", "minimiert": true},
  {"klasse": ["CiscoCollabHost", "CiscoCollabHost"], "titel": "Webex Meeting", "desktop": 1},
  {"titel": "Ohne Herkunft"},
  {"titel": "Nur eine Pid", "eigene_pid": true},
  {"klasse": ["b\u00f6se", "B\"\\ose"], "titel": "Zitat"}
]})");

std::map<std::uint32_t, Json> nachId(const std::vector<std::string>& zeilen) {
    std::map<std::uint32_t, Json> m;
    for (const std::string& z : zeilen) {
        const Json j = Json::parse(z, nullptr, false);
        EXPECT_FALSE(j.is_discarded()) << z;
        if (j.contains("fenster")) m[j["fenster"].get<std::uint32_t>()] = j;
    }
    return m;
}

TEST_F(FensterProbeAufX11, ListsTheSessionsWindowsFrontToBackAndChoosesTheZoomMeeting) {
    std::vector<Offen> w = oeffne(DESKTOP);
    ASSERT_EQ(w.size(), DESKTOP["fenster"].size());
    Kindprozess p = probe({}, server_->display());
    const int status = p.warteAufEnde();
    ASSERT_TRUE(WIFEXITED(status)) << p.err();
    ASSERT_EQ(WEXITSTATUS(status), 0) << p.aus() << p.err();
    const std::vector<std::string> zeilen = p.ausZeilen();
    ASSERT_GE(zeilen.size(), 3u) << p.aus();

    // Meeting clients and browsers only: Zoom twice, Chrome, the Edge app,
    // Slack, Firefox, Webex. Terminal, panel, the pid-only window and the odd
    // class are counted; the window nobody owns is not even counted.
    const std::map<std::uint32_t, Json> zeile = nachId(zeilen);
    for (const int i : {0, 1, 2, 3, 6, 7, 8}) EXPECT_TRUE(zeile.contains(w[i].id)) << i;
    EXPECT_EQ(zeile.size(), 7u) << p.aus();
    EXPECT_EQ(zeilen[zeilen.size() - 2], R"({"andere_fenster":4})");

    // Front to back: the keep-above huddle first, then the normal windows from the
    // newest to the oldest.
    std::vector<std::uint32_t> reihe;
    for (const std::string& z : zeilen) {
        const Json j = Json::parse(z);
        if (j.contains("fenster") && j["sichtbar"].get<bool>()) reihe.push_back(j["fenster"]);
    }
    EXPECT_EQ(reihe, (std::vector<std::uint32_t>{w[6].id, w[3].id, w[2].id, w[1].id, w[0].id}));

    const Json& zoom = zeile.at(w[0].id);
    EXPECT_EQ(zoom["app"], "Zoom");
    EXPECT_EQ(zoom["bundle"], "us.zoom.xos");
    EXPECT_EQ(zoom["titel"], "Zoom Meeting");
    // The frame includes the decorations openbox draws around the client.
    const std::vector<int>& r = w[0].rand;
    EXPECT_GT(r[2], 0) << "openbox draws a title bar";
    EXPECT_EQ(zoom["breite"], 1280 + r[0] + r[1]);
    EXPECT_EQ(zoom["hoehe"], 800 + r[2] + r[3]);
    EXPECT_EQ(zoom["x"], w[0].x - r[0]);
    EXPECT_EQ(zoom["y"], w[0].y - r[2]);
    EXPECT_EQ(zoom["ebene"], 0);

    EXPECT_EQ(zeile.at(w[2].id)["titel"], "Meet \u2013 abc-defg-hij \u2013 Google Chrome");
    EXPECT_EQ(zeile.at(w[3].id)["bundle"],
              "com.microsoft.edgemac.app.cinhimbnkkaeohfgghhklpknlkffjgod");
    EXPECT_EQ(zeile.at(w[6].id)["ebene"], 3);
    EXPECT_FALSE(zeile.at(w[7].id)["sichtbar"].get<bool>());  // minimised
    EXPECT_FALSE(zeile.at(w[8].id)["sichtbar"].get<bool>());  // another desktop
    EXPECT_EQ(zeile.at(w[8].id)["app"], "Webex");

    EXPECT_EQ(zeilen.back(), "{\"wahl\":{\"art\":\"fenster\",\"id\":" + std::to_string(w[0].id) +
                                 ",\"quelle\":\"Zoom \u00b7 Zoom Meeting\",\"rang\":1,\"grund\":"
                                 "\"Zoom-Meetingfenster\"}}");

    // With --alle every window of an application gets its line, and none is counted.
    Kindprozess alle = probe({"--alle"}, server_->display());
    ASSERT_EQ(WEXITSTATUS(alle.warteAufEnde()), 0) << alle.err();
    const std::map<std::uint32_t, Json> jede = nachId(alle.ausZeilen());
    EXPECT_EQ(jede.size(), w.size() - 1);
    EXPECT_FALSE(jede.contains(w[9].id));
    EXPECT_EQ(alle.aus().find("andere_fenster"), std::string::npos);
    EXPECT_EQ(jede.at(w[4].id)["titel"], "Notizen f\u00fcr heute");  // WM_NAME in Latin-1
    EXPECT_EQ(jede.at(w[4].id)["bundle"], "XTerm");
    EXPECT_EQ(jede.at(w[5].id)["ebene"], 20);  // the dock
    EXPECT_EQ(jede.at(w[10].id)["app"], "x11_testfenster");
    EXPECT_EQ(jede.at(w[11].id)["bundle"], "B\"\\ose");
    EXPECT_EQ(alle.ausZeilen().back(), zeilen.back());
}

TEST_F(FensterProbeAufX11, WithoutAReachableDisplayTheProbeSaysWhyAndEndsWith3) {
    for (const std::optional<std::string>& display :
         {std::optional<std::string>(), std::optional<std::string>(":59999"),
          std::optional<std::string>("kein display")}) {
        Kindprozess p = probe({}, display);
        const int status = p.warteAufEnde();
        ASSERT_TRUE(WIFEXITED(status)) << p.err();
        EXPECT_EQ(WEXITSTATUS(status), 3);
        const std::vector<std::string> zeilen = p.ausZeilen();
        ASSERT_EQ(zeilen.size(), 1u) << p.aus();
        const Json j = Json::parse(zeilen[0]);
        ASSERT_TRUE(j.contains("fehler"));
        const std::string text = j["fehler"];
        if (!display) {
            EXPECT_EQ(text, "kein X-Display: DISPLAY ist nicht gesetzt");
        } else {
            EXPECT_NE(text.find("X-Display \"" + *display + "\""), std::string::npos) << text;
        }
    }
}

// A session without a window manager whose client list a client wrote itself:
// stale ids, duplicates and properties of the wrong type, format or length must
// neither crash the probe nor leak into its lines.
TEST(FensterProbeOhneWm, StaleWindowsAndGarbagePropertiesAreSurvived) {
    X11Fixtur server(neuerOrdner("hs-x11"));
    server.starte("ohne-wm");
    ASSERT_FALSE(server.display().empty());
    const Json plan = Json::parse(R"({"wm": false, "fenster": [
      {"klasse": ["zoom", "zoom"], "titel": "Zoom Meeting", "x": 10, "y": 20,
       "breite": 1024, "hoehe": 700},
      {"wm_name": "Ersatztitel", "x": 5, "y": 6, "breite": 640, "hoehe": 480, "roh": [
        {"name": "_NET_WM_NAME", "typ": "STRING", "format": 8, "werte": [65, 66]},
        {"name": "WM_CLASS", "typ": "STRING", "format": 8, "werte": [122, 111, 111, 109]},
        {"name": "_NET_WM_PID", "typ": "CARDINAL", "format": 8, "werte": [1, 2, 3, 4]},
        {"name": "_NET_FRAME_EXTENTS", "typ": "CARDINAL", "format": 32, "werte": [5, 5]},
        {"name": "_NET_WM_STATE", "typ": "ATOM", "format": 16, "werte": [1, 2, 3]},
        {"name": "_NET_WM_WINDOW_TYPE", "typ": "ATOM", "format": 32,
         "werte": [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20]},
        {"name": "_NET_WM_DESKTOP", "typ": "CARDINAL", "format": 32, "werte": [7, 8]}]}],
      "wurzel_liste": [0, 123456789, 1, 0]})");
    Kindprozess client({TESTFENSTER_PFAD, plan.dump()}, mitDisplay(server.display()));
    ASSERT_TRUE(client.liesBis("bereit\n", 15s)) << client.err();
    const std::vector<std::string> offen = client.ausZeilen();
    const std::uint32_t zoomId = Json::parse(offen[0])["id"];
    const std::uint32_t krummId = Json::parse(offen[1])["id"];

    Kindprozess p({HOERSPUR_PFAD, "--fenster-probe", "--alle"}, mitDisplay(server.display()));
    const int status = p.warteAufEnde();
    ASSERT_TRUE(WIFEXITED(status)) << p.err();
    ASSERT_EQ(WEXITSTATUS(status), 0) << p.aus() << p.err();
    const std::map<std::uint32_t, Json> zeile = nachId(p.ausZeilen());
    ASSERT_EQ(zeile.size(), 2u) << p.aus();  // the stale id is gone, the duplicate once

    // Without a manager the frame is the window itself.
    EXPECT_EQ(zeile.at(zoomId), Json::parse(R"({"fenster":)" + std::to_string(zoomId) +
                                            R"(,"app":"Zoom","bundle":"us.zoom.xos",
        "titel":"Zoom Meeting","breite":1024,"hoehe":700,"x":10,"y":20,"sichtbar":true,"ebene":0})"));
    const Json& krumm = zeile.at(krummId);
    EXPECT_EQ(krumm["titel"], "Ersatztitel");   // the non-UTF-8 EWMH name is not taken
    EXPECT_EQ(krumm["bundle"], "us.zoom.xos");  // WM_CLASS without its terminators
    EXPECT_EQ(krumm["breite"], 640);            // two frame extents are no frame
    EXPECT_EQ(krumm["x"], 5);
    EXPECT_TRUE(krumm["sichtbar"].get<bool>());
    EXPECT_TRUE(p.ausZeilen().back().starts_with(
        "{\"wahl\":{\"art\":\"fenster\",\"id\":" + std::to_string(zoomId) + ","));
    client.schliesseEingabe();
    client.warteAufEnde();
}

}  // namespace
}  // namespace hoerspur
