// The shipped recorder films a meeting window end to end: a private X server with
// a window manager (scripts/x11-fixture), a meeting window of our own test client
// with known colours and a moving square, a private sound server
// (scripts/pulse-fixture), the real binary stopped by SIGTERM or killed. The
// file is checked from the outside with ffprobe and ffmpeg.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/dateien.h"
#include "tests/fixtur.h"
#include "tests/rekorder.h"
#include "tests/testfenster.h"
#include "tests/video_pruefung.h"

namespace hoerspur {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using Uhr = std::chrono::steady_clock;

// Stream facts, the presentation time of every picture, and the file's duration.
struct Pruefung {
    std::string codec, profil;
    int breite = 0, hoehe = 0;
    long bilder = -1;
    double dauerSekunden = 0.0;
    std::vector<double> zeiten;
};

std::optional<Pruefung> pruefe(const std::string& datei) {
    const json j = ffprobe(datei);
    if (j.is_discarded() || !j.contains("streams") || j["streams"].empty()) return std::nullopt;
    const json& s = j["streams"][0];
    Pruefung p;
    p.codec = s.value("codec_name", "");
    p.profil = s.value("profile", "");
    p.breite = s.value("width", 0);
    p.hoehe = s.value("height", 0);
    p.bilder = std::stol(s.value("nb_read_frames", "-1"));
    p.dauerSekunden = std::stod(j["format"].value("duration", "0"));
    for (const json& paket : j["packets"])
        p.zeiten.push_back(std::stod(paket.value("pts_time", "0")));
    std::sort(p.zeiten.begin(), p.zeiten.end());
    return p;
}

// A 960 × 540 window (16:9) fills 1280 × 720 of the 16:10 picture, 40 rows of
// black above and below. Its quadrants' centres and the bars, in the picture.
void pruefeBild(const std::string& rgb) {
    EXPECT_TRUE(hatFarbe(rgb, 320, 220, kQuadrant[0]));
    EXPECT_TRUE(hatFarbe(rgb, 960, 220, kQuadrant[1]));
    EXPECT_TRUE(hatFarbe(rgb, 320, 580, kQuadrant[2]));
    EXPECT_TRUE(hatFarbe(rgb, 960, 580, kQuadrant[3]));
    EXPECT_TRUE(hatFarbe(rgb, 640, 15, kSchwarz));
    EXPECT_TRUE(hatFarbe(rgb, 640, 785, kSchwarz));
}

// The meeting window: class and title of a Zoom meeting, moving content.
class Meetingfenster : public Testfenster {
  public:
    Meetingfenster()
        : Testfenster({"--groesse", "960x540", "--position", "100,100", "--bewegt", "--klasse",
                       "zoom", "--titel", "Zoom Meeting"}) {}
    bool bereit() const { return id() != 0; }
};

// Every line of the recorder's standard output with this event name.
std::vector<json> ereignisse(Rekorder& r, const std::string& name) {
    std::vector<json> treffer;
    for (const json& z : r.zeilen()) {
        if (z.is_object() && z.value("event", "") == name) treffer.push_back(z);
    }
    return treffer;
}

// One private X server and one private sound server for the suite.
class VideoEnde2Ende : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_FALSE(quellenOrdner().empty()) << "HOERSPUR_QUELLEN fehlt";
        dienste_ = neuerOrdner("hs-e2e-video");
        ASSERT_FALSE(dienste_.empty());
        x_ = new X11Fixtur(dienste_ + "/x");
        x_->starte("mit-wm");
        ASSERT_TRUE(x_->laeuft()) << "x11-fixture: " << x_->display();
        x_->setzeDisplay();
        ton_ = new PulseFixtur(dienste_ + "/t");
        ASSERT_TRUE(ton_->starte("gleich")) << "pulse-fixture startet nicht";
    }
    static void TearDownTestSuite() {
        delete ton_;
        ton_ = nullptr;
        delete x_;
        x_ = nullptr;
        sh("rm -rf '" + dienste_ + "'");
    }
    void SetUp() override {
        dir_ = neuerOrdner("hs-e2e-videolauf");
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override {
        if (!HasFailure()) sh("rm -rf '" + dir_ + "'");
    }

    static inline std::string dienste_;
    static inline X11Fixtur* x_ = nullptr;
    static inline PulseFixtur* ton_ = nullptr;
    std::string datei() const { return dir_ + "/aufnahme/video.mp4"; }

    std::string dir_;
};

const std::string ZOOM_QUELLE = "Zoom \u00b7 Zoom Meeting";

TEST_F(VideoEnde2Ende, FilmsTheMeetingWindowPausesWhileItIsGoneAndFinishesOnePlayableFile) {
    Meetingfenster fenster;
    ASSERT_TRUE(fenster.bereit());
    Rekorder r(dir_, {"--kein-echo", "--video-warten", "10"});
    ASSERT_TRUE(r.warteAuf("video_start", 20s)) << r.log();
    const auto gestartet = Uhr::now();
    std::this_thread::sleep_for(6s);
    EXPECT_TRUE(fenster.befehl("unmap"));
    ASSERT_TRUE(r.warteAuf("video_pause", 10s)) << r.log();
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(fenster.befehl("map"));
    ASSERT_TRUE(r.warteAuf("video_wechsel", 10s)) << r.log();
    std::this_thread::sleep_for(6s);
    const auto gestoppt = Uhr::now();
    ASSERT_EQ(r.stoppe(), 0) << r.log();
    const double gefilmtSekunden = std::chrono::duration<double>(gestoppt - gestartet).count();

    ASSERT_EQ(ereignisse(r, "started").size(), 1u);
    EXPECT_EQ(ereignisse(r, "started")[0]["video"], true);
    const json start = ereignisse(r, "video_start").at(0);
    EXPECT_EQ(start["quelle"], ZOOM_QUELLE);
    EXPECT_EQ(start["art"], "fenster");
    EXPECT_EQ(start["rang"], 1);
    EXPECT_EQ(start["grund"], "Zoom-Meetingfenster");
    // Unmapped, the window leaves the window manager's list: no meeting app is
    // open. A check that comes before the window manager has done so still sees
    // the window, unmapped: the app is open, its meeting not visible.
    const auto pausen = ereignisse(r, "video_pause");
    ASSERT_EQ(pausen.size(), 1u);
    const std::string grund = pausen[0]["message"];
    EXPECT_TRUE(grund == "kein Meetingfenster \u2013 kein Bild (keine Meeting-App offen)" ||
                grund ==
                    "kein Meetingfenster \u2013 kein Bild (Zoom offen, aber kein Meeting "
                    "sichtbar)")
        << grund;
    const auto wechsel = ereignisse(r, "video_wechsel");
    ASSERT_EQ(wechsel.size(), 1u);
    EXPECT_EQ(wechsel[0]["quelle"], ZOOM_QUELLE);
    EXPECT_LT(start["t_s"].get<double>(), pausen[0]["t_s"].get<double>());
    EXPECT_LT(pausen[0]["t_s"].get<double>(), wechsel[0]["t_s"].get<double>());
    EXPECT_TRUE(ereignisse(r, "video_none").empty());

    // "video" comes once, after the last video line and before the timeline report.
    const auto video = ereignisse(r, "video");
    ASSERT_EQ(video.size(), 1u) << r.log();
    EXPECT_EQ(video[0]["path"], datei());
    EXPECT_EQ(video[0]["quelle"], ZOOM_QUELLE);
    const auto zeilen = r.zeilen();
    const auto position = [&](const std::string& name) {
        return std::find_if(
                   zeilen.begin(), zeilen.end(),
                   [&](const json& z) { return z.is_object() && z.value("event", "") == name; }) -
               zeilen.begin();
    };
    EXPECT_LT(position("video_wechsel"), position("video"));
    EXPECT_LT(position("video"), position("zeitachse"));
    EXPECT_EQ(zeilen.back(), json::parse(R"({"event":"done"})"));

    const auto p = pruefe(datei());
    ASSERT_TRUE(p) << "ffprobe liest " << datei() << " nicht";
    EXPECT_EQ(p->codec, "h264");
    EXPECT_EQ(p->profil, "Main");
    EXPECT_EQ(p->breite, 1280);
    EXPECT_EQ(p->hoehe, 800);
    EXPECT_EQ(p->bilder, video[0]["frames"].get<long>());
    // The file runs from the first picture to the stop, the pause included.
    EXPECT_NEAR(p->dauerSekunden, gefilmtSekunden, 0.7);
    // At most 15 pictures a second, and no pictures while the window was gone.
    ASSERT_GE(p->zeiten.size(), 2u);
    double kleinsterAbstand = 1e9, groessterAbstand = 0.0;
    for (std::size_t i = 1; i < p->zeiten.size(); ++i) {
        kleinsterAbstand = std::min(kleinsterAbstand, p->zeiten[i] - p->zeiten[i - 1]);
        groessterAbstand = std::max(groessterAbstand, p->zeiten[i] - p->zeiten[i - 1]);
    }
    EXPECT_GE(kleinsterAbstand, 1.0 / 15.0 - 0.002);
    EXPECT_GE(groessterAbstand, 1.0);

    // The window's own content, scaled with its aspect ratio kept.
    pruefeBild(dekodiere(datei(), 5));
    pruefeBild(dekodiere(datei(), static_cast<int>(p->bilder) - 2));
}

TEST_F(VideoEnde2Ende, KilledRecorderLeavesAFileThatPlaysUpToItsLastFragment) {
    Meetingfenster fenster;
    ASSERT_TRUE(fenster.bereit());
    Rekorder r(dir_, {"--kein-echo"});
    ASSERT_TRUE(r.warteAuf("video_start", 20s)) << r.log();
    const auto gestartet = Uhr::now();
    std::this_thread::sleep_for(7s);
    const double gefilmtSekunden = std::chrono::duration<double>(Uhr::now() - gestartet).count();
    r.signal(SIGKILL);
    EXPECT_EQ(r.warteAufEnde(60s), 128 + SIGKILL);

    EXPECT_TRUE(ereignisse(r, "video").empty());
    const auto p = pruefe(datei());
    ASSERT_TRUE(p) << "ffprobe liest " << datei() << " nicht";
    EXPECT_EQ(p->codec, "h264");
    EXPECT_EQ(p->breite, 1280);
    ASSERT_GE(p->bilder, 1);
    EXPECT_EQ(static_cast<long>(p->zeiten.size()), p->bilder);
    // A fragment closes at least every 2 s of pictures and is on disk once the
    // encoder is past it: what was filmed up to a few seconds before the kill
    // plays (more than the first fragment), also in the slow sanitizer builds.
    EXPECT_GE(p->zeiten.back(), gefilmtSekunden - 4.0);
    EXPECT_LE(p->zeiten.back(), gefilmtSekunden + 0.5);
    pruefeBild(dekodiere(datei(), 0));
    pruefeBild(dekodiere(datei(), static_cast<int>(p->bilder) - 1));
}

}  // namespace
}  // namespace hoerspur
