// The FFmpeg video writer, checked from the outside: ffprobe and ffmpeg (Debian's
// command-line tools) read what it wrote.
#include "platform/linux/ffmpeg_video_schreiber.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "platform/plattform_fehler.h"
#include "tests/video_pruefung.h"

namespace hoerspur {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

constexpr int kBreite = kVideoBreite;
constexpr int kHoehe = 800;

constexpr Farbe kHintergrund{20, 60, 160};
constexpr Farbe kFeld{40, 200, 60};  // fixed block at the top left
constexpr Farbe kQuadrat{230, 30, 30};
constexpr int kFeldSeite = 200;
constexpr int kQuadratSeite = 160;

// Top left corner of the moving square in picture k.
int quadratX(int k) {
    return 260 + (k * 23) % 800;
}
int quadratY(int k) {
    return 300 + (k * 11) % 300;
}

void rechteck(BgraPuffer& p, int x0, int y0, int seite, Farbe f) {
    for (int y = y0; y < y0 + seite; ++y) {
        std::uint8_t* z = p.zeile(y);
        for (int x = x0; x < x0 + seite; ++x) {
            z[4 * x] = static_cast<std::uint8_t>(f.blau);
            z[4 * x + 1] = static_cast<std::uint8_t>(f.gruen);
            z[4 * x + 2] = static_cast<std::uint8_t>(f.rot);
        }
    }
}

void maleBild(BgraPuffer& p, int k) {
    p.fuelle(kHintergrund.blau, kHintergrund.gruen, kHintergrund.rot, 255);
    rechteck(p, 0, 0, kFeldSeite, kFeld);
    rechteck(p, quadratX(k), quadratY(k), kQuadratSeite, kQuadrat);
}

class VideoSchreiberTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char vorlage[] = "/tmp/hs-video-XXXXXX";
        ASSERT_NE(mkdtemp(vorlage), nullptr);
        ordner_ = vorlage;
        datei_ = ordner_ + "/video.mp4";
        bild_.setzeGroesse(kBreite, kHoehe);
    }
    void TearDown() override {
        if (!getenv("BEHALTEN")) std::filesystem::remove_all(ordner_);
    }

    std::unique_ptr<VideoSchreiber> starte(FfmpegSchreiberOptionen optionen = {},
                                           double sitzungSekunden = kStart) {
        auto s = neuerFfmpegVideoSchreiber(datei_, std::move(optionen));
        EXPECT_TRUE(s->fuegeEingangHinzu(H264Einstellungen{}));
        EXPECT_TRUE(s->starteSchreiben()) << s->fehlerText();
        s->starteSitzung(sitzungSekunden);
        return s;
    }

    // Waits until the writer takes more (the caller never drops here) and appends picture k.
    void haengeWartendAn(VideoSchreiber& s, int k, double sekunden) {
        while (!s.bereitFuerMehr()) std::this_thread::sleep_for(1ms);
        maleBild(bild_, k);
        ASSERT_TRUE(s.haengeAn(bild_.bild(), sekunden));
    }

    static constexpr double kStart = 5000.0;
    std::string ordner_;
    std::string datei_;
    BgraPuffer bild_;
};

TEST_F(VideoSchreiberTest, WritesH264MainWithTheTimesOfAVariableFrameRate) {
    auto s = starte();
    // Irregular gaps as a window that changes now and then gives: steady 15 fps,
    // slower stretches and a still stretch of 2.5 s (which must start a fragment).
    const std::vector<double> abstaende{1.0 / 15, 1.0 / 15, 0.1, 0.2, 1.0 / 15, 0.5, 1.0 / 15, 2.5};
    std::vector<double> zeiten;
    double t = kStart;
    for (int k = 0; k < 50; ++k) {
        zeiten.push_back(t - kStart);
        haengeWartendAn(*s, k, t);
        t += abstaende[static_cast<std::size_t>(k) % abstaende.size()];
    }
    const double ende = zeiten.back() + 0.4;
    s->markiereFertig();
    s->beendeSitzung(kStart + ende);
    s->beende();
    ASSERT_EQ(s->status(), SchreiberStatus::fertig) << s->fehlerText();
    EXPECT_EQ(s->fehlerText(), "");

    const json p = ffprobe(datei_);
    ASSERT_FALSE(p.is_discarded());
    const json& spur = p["streams"][0];
    EXPECT_EQ(spur["codec_name"], "h264");
    EXPECT_EQ(spur["profile"], "Main");
    EXPECT_EQ(spur["width"], kBreite);
    EXPECT_EQ(spur["height"], kHoehe);
    EXPECT_EQ(spur["nb_read_frames"], std::to_string(zeiten.size()));
    EXPECT_NEAR(std::stod(p["format"]["duration"].get<std::string>()), ende, 0.002);

    const json& pakete = p["packets"];
    ASSERT_EQ(pakete.size(), zeiten.size());
    int seitSchluessel = 0;
    double schluesselZeit = 0.0;
    for (std::size_t i = 0; i < pakete.size(); ++i) {
        const double pts = std::stod(pakete[i]["pts_time"].get<std::string>());
        EXPECT_NEAR(pts, zeiten[i], 1.0 / 90000) << "Bild " << i;
        if (pakete[i]["flags"].get<std::string>().front() == 'K') {
            seitSchluessel = 0;
            schluesselZeit = pts;
        }
        // A key frame at least every 30 pictures and every 2 s of source time.
        EXPECT_LT(seitSchluessel++, 30) << "Bild " << i;
        EXPECT_LT(pts - schluesselZeit, 2.0) << "Bild " << i;
    }
    // The picture after the long still stretch opens a fragment of its own.
    EXPECT_EQ(pakete[8]["flags"].get<std::string>().front(), 'K');

    for (const int k : {0, 17, 49}) {
        const std::string rgb = dekodiere(datei_, k);
        EXPECT_TRUE(hatFarbe(rgb, kFeldSeite / 2, kFeldSeite / 2, kFeld)) << "Bild " << k;
        EXPECT_TRUE(hatFarbe(rgb, quadratX(k) + kQuadratSeite / 2, quadratY(k) + kQuadratSeite / 2,
                             kQuadrat))
            << "Bild " << k;
        EXPECT_TRUE(hatFarbe(rgb, 1200, 60, kHintergrund)) << "Bild " << k;
    }
}

TEST_F(VideoSchreiberTest, AppendingNeverWaitsForABusyEncoder) {
    std::mutex m;
    std::condition_variable cv;
    bool frei = false;
    FfmpegSchreiberOptionen o;
    o.pufferPlaetze = 3;
    o.vorKodieren = [&] {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return frei; });
    };
    auto s = starte(o);
    auto gibFrei = [&] {
        {
            std::lock_guard lock(m);
            frei = true;
        }
        cv.notify_all();
    };
    // Should appending wait for the encoder, this frees it after a while, so
    // that the test fails instead of hanging.
    std::atomic<bool> waechterGriffEin{false};
    std::thread waechter([&] {
        std::unique_lock lock(m);
        if (!cv.wait_for(lock, 5s, [&] { return frei; })) {
            waechterGriffEin = true;
            lock.unlock();
            gibFrei();
        }
    });

    // The encoder hangs on its first picture: three are taken, the rest refused at once.
    int genommen = 0;
    double t = kStart;
    for (int k = 0; k < 40; ++k, t += 1.0 / 15) {
        maleBild(bild_, k);
        if (s->haengeAn(bild_.bild(), t)) ++genommen;
    }
    EXPECT_FALSE(s->bereitFuerMehr());
    EXPECT_FALSE(waechterGriffEin);
    EXPECT_EQ(genommen, 3);
    gibFrei();
    waechter.join();

    for (int k = 40; k < 60; ++k, t += 1.0 / 15) {
        haengeWartendAn(*s, k, t);
        ++genommen;
    }
    s->beende();
    ASSERT_EQ(s->status(), SchreiberStatus::fertig) << s->fehlerText();
    EXPECT_EQ(ffprobe(datei_)["streams"][0]["nb_read_frames"], std::to_string(genommen));
}

TEST_F(VideoSchreiberTest, AKilledWriterLeavesAFileReadableUpToItsLastFragment) {
    int bereit[2];
    ASSERT_EQ(pipe(bereit), 0);
    constexpr int kBilder = 150;
    const pid_t kind = fork();
    ASSERT_GE(kind, 0);
    if (kind == 0) {
        close(bereit[0]);
        auto s = starte();
        for (int k = 0; k < kBilder; ++k) haengeWartendAn(*s, k, kStart + k / 15.0);
        // Time for the encoder to take the last pictures; then wait to be killed.
        std::this_thread::sleep_for(1s);
        const char ok = 'x';
        if (write(bereit[1], &ok, 1) != 1) _exit(2);
        for (;;) pause();
    }
    close(bereit[1]);
    char c = 0;
    ASSERT_EQ(read(bereit[0], &c, 1), 1);
    close(bereit[0]);
    kill(kind, SIGKILL);
    int status = 0;
    waitpid(kind, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    const json p = ffprobe(datei_);
    ASSERT_FALSE(p.is_discarded());
    const json& pakete = p["packets"];
    // Fragments end before a key frame (every 30 pictures) and reach the disk
    // once complete; the pictures since the last key frame die with the process.
    ASSERT_GE(pakete.size(), 90u);
    ASSERT_LE(pakete.size(), static_cast<std::size_t>(kBilder));
    EXPECT_EQ(pakete.size() % 30, 0u);
    EXPECT_EQ(p["streams"][0]["nb_read_frames"], std::to_string(pakete.size()));
    for (std::size_t i = 0; i < pakete.size(); ++i) {
        EXPECT_NEAR(std::stod(pakete[i]["pts_time"].get<std::string>()), i / 15.0, 1.0 / 90000);
    }
    const int letztes = static_cast<int>(pakete.size()) - 1;
    EXPECT_TRUE(hatFarbe(dekodiere(datei_, letztes), quadratX(letztes) + kQuadratSeite / 2,
                         quadratY(letztes) + kQuadratSeite / 2, kQuadrat));
}

TEST_F(VideoSchreiberTest, RefusesWhatItCannotWriteAndSaysWhy) {
    EXPECT_THROW(neuerFfmpegVideoSchreiber(ordner_ + "/fehlt/video.mp4"), PlattformFehler);

    {
        // The folder goes away between creation and start.
        std::filesystem::create_directory(ordner_ + "/weg");
        auto s = neuerFfmpegVideoSchreiber(ordner_ + "/weg/video.mp4");
        std::filesystem::remove(ordner_ + "/weg");
        ASSERT_TRUE(s->fuegeEingangHinzu(H264Einstellungen{}));
        EXPECT_FALSE(s->fuegeEingangHinzu(H264Einstellungen{}));
        EXPECT_FALSE(s->starteSchreiben());
        EXPECT_EQ(s->status(), SchreiberStatus::fehlgeschlagen);
        EXPECT_NE(s->fehlerText().find("Videodatei laesst sich nicht anlegen"), std::string::npos)
            << s->fehlerText();
    }

    auto s = neuerFfmpegVideoSchreiber(datei_);
    H264Einstellungen ungerade;
    ungerade.breite = 1279;
    EXPECT_FALSE(s->fuegeEingangHinzu(ungerade));
    EXPECT_FALSE(s->starteSchreiben());  // no input
    EXPECT_EQ(s->status(), SchreiberStatus::unbekannt);
    ASSERT_TRUE(s->fuegeEingangHinzu(H264Einstellungen{}));
    ASSERT_TRUE(s->starteSchreiben());
    maleBild(bild_, 0);
    EXPECT_FALSE(s->haengeAn(bild_.bild(), kStart));  // no session yet
    s->starteSitzung(kStart);
    EXPECT_FALSE(s->haengeAn(bild_.bild(), kStart - 0.5));  // before the session
    EXPECT_TRUE(s->haengeAn(bild_.bild(), kStart));
    EXPECT_FALSE(s->haengeAn(bild_.bild(), kStart));  // not after the previous one
    BgraPuffer klein(640, 400);
    EXPECT_FALSE(s->haengeAn(klein.bild(), kStart + 1.0));
    s->brecheAb();
    EXPECT_EQ(s->status(), SchreiberStatus::abgebrochen);
    EXPECT_FALSE(std::filesystem::exists(datei_));
}

}  // namespace
}  // namespace hoerspur
