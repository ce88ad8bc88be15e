// The shipped observer end to end: Namenspaeher against the GTK test client on a
// private desktop session (scripts/atspi-fixture: X server, session bus,
// accessibility bus), found through the real process list, stopped by SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/befehl.h"
#include "tests/dateien.h"
#include "tests/fixtur.h"
#include "tests/kindprozess.h"

namespace hoerspur {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
using Uhr = std::chrono::steady_clock;

bool hat(const std::string& text, const std::string& teil) {
    return text.find(teil) != std::string::npos;
}

class Ende2EndeBeobachter : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(quellenOrdner().empty()) << "HOERSPUR_QUELLEN fehlt";
        dir_ = neuerOrdner("hs-eb");
        ASSERT_FALSE(dir_.empty());
        sitzung_.emplace(dir_ + "/s");
        call_ = dir_ + "/call";
        std::filesystem::create_directory(call_);
    }
    void TearDown() override {
        client_.reset();
        sitzung_.reset();
        if (!HasFailure()) std::filesystem::remove_all(dir_);
    }

    // Starts the private session; its environment goes to every program.
    void starteSitzung(const std::string& art = "") {
        umgebung_ = sitzung_->starte(art);
        ASSERT_TRUE(umgebung_.contains("DBUS_SESSION_BUS_ADDRESS")) << sitzung_->ausgabe();
    }

    // A program in the private session, its standard output and error in files.
    std::unique_ptr<ProgrammMitDateien> starte(std::vector<std::string> argv,
                                               const std::string& name) const {
        std::map<std::string, std::optional<std::string>> aenderungen(umgebung_.begin(),
                                                                      umgebung_.end());
        aenderungen["AT_SPI_BUS_ADDRESS"] = std::nullopt;
        return std::make_unique<ProgrammMitDateien>(std::move(argv), dir_ + "/" + name + ".out",
                                                    dir_ + "/" + name + ".err",
                                                    umgebungMit(aenderungen));
    }

    void starteClient() {
        client_ = starte({ZOOM_TESTCLIENT_PFAD, "--wechsel", "1.5"}, "client");
        const auto ende = Uhr::now() + 20s;
        while (!hat(clientAusgabe(), "bereit") && Uhr::now() < ende)
            std::this_thread::sleep_for(20ms);
        ASSERT_TRUE(hat(clientAusgabe(), "bereit")) << liesDatei(dir_ + "/client.err");
        ASSERT_TRUE(sitzung_->warteAuf(client_->pid(), 20));
    }

    std::unique_ptr<ProgrammMitDateien> starteBeobachter(std::vector<std::string> optionen) {
        optionen.insert(optionen.begin(), {NAMENSPAEHER_PFAD, call_});
        return starte(optionen, "beobachter");
    }

    std::string clientAusgabe() const { return liesDatei(dir_ + "/client.out"); }
    std::vector<Json> spur() const {
        std::vector<Json> z;
        for (const std::string& zeile : zeilenVon(liesDatei(call_ + "/zoom-namen.jsonl"))) {
            z.push_back(Json::parse(zeile));
        }
        return z;
    }
    std::vector<std::string> befund() const {
        auto z = zeilenVon(liesDatei(call_ + "/zoom-namen-befund.txt"));
        return z.size() < 2 ? z : std::vector<std::string>(z.begin() + 2, z.end());
    }

    std::string dir_;
    std::optional<AtspiFixtur> sitzung_;
    std::string call_;
    std::map<std::string, std::string> umgebung_;
    std::unique_ptr<ProgrammMitDateien> client_;
};

const std::vector<std::string> SPRECHER = {"Anna Berg", "Jean-Luc Favre", "\xC3\x89lodie Dubois"};

TEST_F(Ende2EndeBeobachter, NamesAndTheChangingSpeakerOfARunningClient) {
    starteSitzung();
    starteClient();
    const std::string pid = std::to_string(client_->pid());
    auto beobachter = starteBeobachter({"--takt", "0.5"});
    // Three scans per speaker: about four speakers in twelve scans.
    const auto ende = Uhr::now() + 40s;
    while (Uhr::now() < ende && spur().size() < 12) std::this_thread::sleep_for(50ms);
    // Asking for the full tree switched the session's accessibility on.
    auto bedienungshilfenAn = [this] {
        return ausgabeVon("DBUS_SESSION_BUS_ADDRESS=" + umgebung_["DBUS_SESSION_BUS_ADDRESS"] +
                          " dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus "
                          "org.freedesktop.DBus.Properties.Get string:org.a11y.Status "
                          "string:IsEnabled");
    };
    const std::string waehrend = bedienungshilfenAn();
    EXPECT_TRUE(hat(waehrend, "boolean true")) << waehrend;
    beobachter->signal(SIGTERM);
    const auto status = beobachter->warteAufEnde(10s);
    ASSERT_TRUE(status.has_value());
    ASSERT_TRUE(WIFEXITED(*status)) << liesDatei(dir_ + "/beobachter.err");
    EXPECT_EQ(WEXITSTATUS(*status), 0);

    const auto linien = spur();
    ASSERT_GE(linien.size(), 12u);
    // The first scan found the tiles, then the names of the opened list.
    std::vector<std::string> namen;
    for (const Json& z : linien[0]["zeilen"]) namen.push_back(z["name"]);
    for (const char* erwartet : {"Anna Berg", "Jean-Luc Favre", "\xC3\x89lodie Dubois",
                                 "Zo\xC3\xAB M\xC3\xBC"
                                 "ller-\xC5\x9E"
                                 "ahin"}) {
        EXPECT_NE(std::find(namen.begin(), namen.end(), erwartet), namen.end()) << erwartet;
    }
    EXPECT_EQ(std::find(namen.begin(), namen.end(), "Fireflies Notetaker"), namen.end());
    EXPECT_EQ(linien[0]["gekappt"], false);

    // Every full line marks exactly one tile as speaking; the speakers follow the
    // client's rotation.
    std::vector<std::string> folge;
    for (std::size_t i = 1; i < linien.size(); ++i) {
        const Json& z = linien[i];
        EXPECT_EQ(z["runde"], i + 1);
        if (!z.contains("zeilen")) {
            EXPECT_EQ(z["gleich"], true);
            continue;
        }
        std::vector<std::string> sprechend;
        for (const Json& r : z["zeilen"]) {
            if (r.value("KORALSpricht", "") == "1") sprechend.push_back(r["name"]);
        }
        ASSERT_EQ(sprechend.size(), 1u) << z.dump();
        if (folge.empty() || folge.back() != sprechend[0]) folge.push_back(sprechend[0]);
    }
    ASSERT_GE(folge.size(), 3u);
    const auto start = std::find(SPRECHER.begin(), SPRECHER.end(), folge[0]) - SPRECHER.begin();
    for (std::size_t i = 0; i < folge.size(); ++i) {
        EXPECT_EQ(folge[i], SPRECHER[(start + i) % SPRECHER.size()]) << i;
    }

    // Opened once for the second scan and closed again.
    const std::string client = clientAusgabe();
    EXPECT_EQ(client.find("panel offen"), client.rfind("panel offen"));
    EXPECT_EQ(client.find("panel zu"), client.rfind("panel zu"));
    EXPECT_LT(client.find("panel offen"), client.find("panel zu"));

    const std::string baum = liesDatei(call_ + "/zoom-baum.txt");
    EXPECT_TRUE(hat(baum, "### zoom-testclient [pid " + pid + "]\n  [AXWindow] "));
    EXPECT_TRUE(hat(baum, "[AXButton] AXIdentifier=teilnehmer-knopf \xC2\xB7 AXRoleDescription="));
    EXPECT_TRUE(hat(baum, "[AXTabGroup] AXDescription=Anna Berg, Video on"));
    const auto umgeschaltet = baum.find("### Teilnehmer-Panel, umgeschalteter Zustand\n");
    ASSERT_NE(umgeschaltet, std::string::npos);
    EXPECT_GT(baum.find("AXValue=Fireflies Notetaker"), umgeschaltet);
    EXPECT_FALSE(hat(baum, "Hilfe"));  // the menu bar is skipped

    const auto b = befund();
    ASSERT_GE(b.size(), 9u);
    EXPECT_EQ(b[0], "Ordner: " + call_);
    EXPECT_EQ(b[1], "Takt: 0.5 s");
    EXPECT_EQ(b[2], "Bedienungshilfen: vorhanden");
    EXPECT_TRUE(hat(b[3], "zoom-testclient[" + pid + "]")) << b[3];
    EXPECT_EQ(b[4], "Echter Call (CptHost): nein");
    EXPECT_EQ(b[5], "Teilnehmer-Panel kurz abgetastet und Ausgangszustand wiederhergestellt.");
    EXPECT_EQ(b[b.size() - 2], "Ende nach " + std::to_string(linien.size()) +
                                   " Abtastungen. Verschiedene Namen gesehen: 4");
    EXPECT_EQ(b.back(),
              "Namen: Anna Berg, Jean-Luc Favre, Zo\xC3\xAB M\xC3\xBC"
              "ller-\xC5\x9E"
              "ahin, \xC3\x89lodie Dubois");

    // The desktop keeps that switch across sessions: the end of the run put it back.
    const std::string danach = bedienungshilfenAn();
    EXPECT_TRUE(hat(danach, "boolean false")) << danach;
}

TEST_F(Ende2EndeBeobachter, WithoutAnAccessibilityBusTheRunStopsWithStatus3) {
    starteSitzung("ohne-bedienungshilfen");
    auto beobachter = starteBeobachter({});
    const auto status = beobachter->warteAufEnde(30s);
    ASSERT_TRUE(status && WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 3);
    const auto b = befund();
    ASSERT_EQ(b.size(), 10u);
    EXPECT_EQ(b[2], "ABBRUCH: keine Bedienungshilfen-Freigabe fuer diesen Prozess.");
    const auto log = zeilenVon(liesDatei(dir_ + "/beobachter.err"));
    ASSERT_FALSE(log.empty());
    EXPECT_TRUE(hat(log.back(),
                    "[zoom-namen] Bedienungshilfen: der Bedienungshilfen-Bus "
                    "(org.a11y.Bus, at-spi2-core) meldet sich nicht"))
        << log.back();
    EXPECT_FALSE(std::filesystem::exists(call_ + "/zoom-namen.jsonl"));

    // No session bus at all.
    umgebung_["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + dir_ + "/kein-bus";
    auto ohneBus = starteBeobachter({"--einmal"});
    const auto s2 = ohneBus->warteAufEnde(30s);
    ASSERT_TRUE(s2 && WIFEXITED(*s2));
    EXPECT_EQ(WEXITSTATUS(*s2), 3);
    EXPECT_TRUE(hat(liesDatei(dir_ + "/beobachter.err"),
                    "[zoom-namen] Bedienungshilfen: die D-Bus-Sitzung nicht erreichbar"));
}

}  // namespace
}  // namespace hoerspur
