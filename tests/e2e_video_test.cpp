// The shipped recorder films a meeting window end to end: a private X server with
// a window manager (scripts/x11-fixture), a meeting window of our own test client
// with known colours and a moving square, a private sound server
// (scripts/pulse-fixture), the real binary stopped by SIGTERM or killed. The
// file is checked from the outside with ffprobe and ffmpeg.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/rekorder.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using Uhr = std::chrono::steady_clock;

std::string fuehreAus(const std::string& befehl) {
    std::string ausgabe;
    FILE* f = popen(befehl.c_str(), "r");
    if (f == nullptr) return ausgabe;
    std::array<char, 65536> puffer{};
    std::size_t n = 0;
    while ((n = std::fread(puffer.data(), 1, puffer.size(), f)) > 0)
        ausgabe.append(puffer.data(), n);
    pclose(f);
    return ausgabe;
}

std::string ohneZeilenende(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

// Stream facts, the presentation time of every picture, and the file's duration.
struct Pruefung {
    std::string codec, profil;
    int breite = 0, hoehe = 0;
    long bilder = -1;
    double dauerSekunden = 0.0;
    std::vector<double> zeiten;
};

std::optional<Pruefung> ffprobe(const std::string& datei) {
    const json j = json::parse(
        fuehreAus("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                  "stream=codec_name,profile,width,height,nb_read_frames:format=duration:"
                  "packet=pts_time -of json '" +
                  datei + "'"),
        nullptr, false);
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

struct Farbe {
    int rot, gruen, blau;
};
// The test client's quadrants (top left, top right, bottom left, bottom right).
constexpr Farbe kQuadrant[4] = {
    {0xd0, 0x30, 0x20}, {0x20, 0xb0, 0x40}, {0x20, 0x40, 0xd0}, {0xe0, 0xc0, 0x20}};
constexpr Farbe kSchwarz{0, 0, 0};

// Picture n of the file as RGB, 1280 × 800.
std::string dekodiere(const std::string& datei, int n) {
    return fuehreAus("ffmpeg -v error -i '" + datei + "' -vf 'select=eq(n\\," + std::to_string(n) +
                     ")' -frames:v 1 -f rawvideo -pix_fmt rgb24 - 2>/dev/null");
}

::testing::AssertionResult hatFarbe(const std::string& rgb, int x, int y, Farbe f) {
    const std::size_t i = (static_cast<std::size_t>(y) * 1280 + static_cast<std::size_t>(x)) * 3;
    if (rgb.size() < i + 3) return ::testing::AssertionFailure() << "kein Bild";
    const int r = static_cast<unsigned char>(rgb[i]);
    const int g = static_cast<unsigned char>(rgb[i + 1]);
    const int b = static_cast<unsigned char>(rgb[i + 2]);
    // 4:2:0 and quantisation move flat colours by a few steps.
    constexpr int kToleranz = 12;
    if (std::abs(r - f.rot) <= kToleranz && std::abs(g - f.gruen) <= kToleranz &&
        std::abs(b - f.blau) <= kToleranz) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "bei (" << x << "," << y << "): " << r << "," << g << "," << b << " statt " << f.rot
           << "," << f.gruen << "," << f.blau;
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
class Meetingfenster {
  public:
    Meetingfenster() {
        int zu[2], von[2];
        if (pipe(zu) != 0 || pipe(von) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(zu[0], 0);
            dup2(von[1], 1);
            close(zu[1]);
            close(von[0]);
            execl(HS_TESTFENSTER_PFAD, HS_TESTFENSTER_PFAD, "--groesse", "960x540", "--position",
                  "100,100", "--bewegt", "--klasse", "zoom", "--titel", "Zoom Meeting",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(zu[0]);
        close(von[1]);
        schreiben_ = fdopen(zu[1], "w");
        lesen_ = fdopen(von[0], "r");
        bereit_ = liesZeile().rfind("fenster ", 0) == 0;
    }
    ~Meetingfenster() {
        if (schreiben_ != nullptr) std::fclose(schreiben_);  // the client ends on end of input
        if (lesen_ != nullptr) std::fclose(lesen_);
        if (pid_ > 0) {
            for (int i = 0; i < 100 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i) {
                std::this_thread::sleep_for(20ms);
            }
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool bereit() const { return bereit_; }
    void befehl(const std::string& zeile) {
        std::fputs((zeile + "\n").c_str(), schreiben_);
        std::fflush(schreiben_);
        EXPECT_EQ(liesZeile(), "ok") << zeile;
    }

  private:
    std::string liesZeile() {
        char puffer[256] = {};
        if (lesen_ == nullptr || std::fgets(puffer, sizeof puffer, lesen_) == nullptr) return "";
        return ohneZeilenende(puffer);
    }
    pid_t pid_ = -1;
    FILE* schreiben_ = nullptr;
    FILE* lesen_ = nullptr;
    bool bereit_ = false;
};

// Every line of the recorder's standard output with this event name.
std::vector<json> ereignisse(hoerspur::Rekorder& r, const std::string& name) {
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
        const char* q = std::getenv("HOERSPUR_QUELLEN");
        ASSERT_NE(q, nullptr) << "HOERSPUR_QUELLEN fehlt";
        quellen_ = q;
        char vorlage[] = "/tmp/hs-e2e-video-XXXXXX";
        ASSERT_NE(mkdtemp(vorlage), nullptr);
        dienste_ = vorlage;
        const std::string display =
            ohneZeilenende(fuehreAus(quellen_ + "/scripts/x11-fixture starte " + dienste_ +
                                     "/x mit-wm " + std::to_string(getpid())));
        ASSERT_EQ(display.rfind(':', 0), 0u) << "x11-fixture: " << display;
        setenv("DISPLAY", display.c_str(), 1);
        const std::string ton = ohneZeilenende(
            fuehreAus(quellen_ + "/scripts/pulse-fixture starte " + dienste_ + "/t gleich"));
        ASSERT_EQ(ton.rfind("unix:", 0), 0u) << "pulse-fixture: " << ton;
        setenv("PULSE_SERVER", ton.c_str(), 1);
    }
    static void TearDownTestSuite() {
        fuehreAus(quellen_ + "/scripts/pulse-fixture beende " + dienste_ + "/t");
        fuehreAus(quellen_ + "/scripts/x11-fixture beende " + dienste_ + "/x");
        fuehreAus("rm -rf '" + dienste_ + "'");
        unsetenv("DISPLAY");
        unsetenv("PULSE_SERVER");
    }
    void SetUp() override {
        char vorlage[] = "/tmp/hs-e2e-videolauf-XXXXXX";
        ASSERT_NE(mkdtemp(vorlage), nullptr);
        dir_ = vorlage;
    }
    void TearDown() override {
        if (!HasFailure()) fuehreAus("rm -rf '" + dir_ + "'");
    }

    static std::string quellen_;
    static std::string dienste_;
    std::string datei() const { return dir_ + "/aufnahme/video.mp4"; }

    std::string dir_;
};

std::string VideoEnde2Ende::quellen_;
std::string VideoEnde2Ende::dienste_;

const std::string ZOOM_QUELLE = "Zoom \u00b7 Zoom Meeting";

TEST_F(VideoEnde2Ende, FilmsTheMeetingWindowPausesWhileItIsGoneAndFinishesOnePlayableFile) {
    Meetingfenster fenster;
    ASSERT_TRUE(fenster.bereit());
    hoerspur::Rekorder r(dir_, {"--kein-echo", "--video-warten", "10"});
    ASSERT_TRUE(r.warteAuf("video_start", 20s)) << r.log();
    const auto gestartet = Uhr::now();
    std::this_thread::sleep_for(6s);
    fenster.befehl("unmap");
    ASSERT_TRUE(r.warteAuf("video_pause", 10s)) << r.log();
    std::this_thread::sleep_for(1s);
    fenster.befehl("map");
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
    // Unmapped, the window leaves the window manager's list: no meeting app is open.
    const auto pausen = ereignisse(r, "video_pause");
    ASSERT_EQ(pausen.size(), 1u);
    EXPECT_EQ(pausen[0]["message"],
              "kein Meetingfenster \u2013 kein Bild (keine Meeting-App offen)");
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

    const auto p = ffprobe(datei());
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
    hoerspur::Rekorder r(dir_, {"--kein-echo"});
    ASSERT_TRUE(r.warteAuf("video_start", 20s)) << r.log();
    const auto gestartet = Uhr::now();
    std::this_thread::sleep_for(7s);
    const double gefilmtSekunden = std::chrono::duration<double>(Uhr::now() - gestartet).count();
    r.signal(SIGKILL);
    EXPECT_EQ(r.warteAufEnde(60s), 128 + SIGKILL);

    EXPECT_TRUE(ereignisse(r, "video").empty());
    const auto p = ffprobe(datei());
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
