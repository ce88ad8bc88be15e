#include "recorder/capture/mic_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "basis/ausgabe.h"
#include "platform/plattform_fehler.h"
#include "platform/sim/sim_plattform.h"
#include "tests/zeilen_mitschnitt.h"

namespace hoerspur {
namespace {

using namespace std::chrono_literals;

constexpr double NULL_S = 100.0;

// A microphone on the simulated platform feeding a 16 kHz "me" timeline, with
// every delivered block and every log line kept.
class MicCaptureTest : public ::testing::Test {
  protected:
    void TearDown() override { capture.reset(); }

    void baue(SimMikrofon mikrofon) {
        SimSzenario s;
        s.mikrofon = std::move(mikrofon);
        s.uhrStartSekunden = NULL_S;
        umgebung = baueSimPlattform(std::move(s));
        capture = MicCapture::erstelle(16000.0, zeit, umgebung.plattform.neueAudioEngine(),
                                       [this](std::vector<float> block) {
                                           std::lock_guard lock(m_);
                                           bloecke_.push_back(std::move(block));
                                       });
    }
    void baue(SimQuelle quelle) {
        SimMikrofon m;
        m.quelle = std::move(quelle);
        baue(std::move(m));
    }

    bool warte(std::function<bool(const SimMikrofonAufrufe&)> bedingung) {
        return umgebung.mikrofon->warte(bedingung, 10s);
    }
    std::size_t blockAnzahl() {
        std::lock_guard lock(m_);
        return bloecke_.size();
    }
    std::vector<float> alleSamples() {
        std::lock_guard lock(m_);
        std::vector<float> alle;
        for (const auto& b : bloecke_) alle.insert(alle.end(), b.begin(), b.end());
        return alle;
    }
    std::string log() { return mitschnitt_.logText(); }

    Zeitachse zeit{"me", 16000.0, NULL_S};
    SimUmgebung umgebung;
    std::shared_ptr<MicCapture> capture;

  private:
    ZeilenMitschnitt mitschnitt_;  // TearDown() releases the capture before this goes
    std::mutex m_;
    std::vector<std::vector<float>> bloecke_;
};

SimQuelle sinus48k(std::uint32_t kanaele, double sekunden, double start,
                   std::set<std::uint64_t> weglassen = {}) {
    SimPlan plan;
    plan.signal = SimSignal::sinus(1000.0, 0.5f, 48000.0);
    plan.format = AudioFormat{48000.0, kanaele, SampleArt::float32, false};
    plan.pufferFrames = 4800;
    plan.frames = static_cast<std::uint64_t>(sekunden * 48000.0);
    plan.startSekunden = start;
    plan.weglassen = std::move(weglassen);
    return SimQuelle::ausPlan(plan);
}

SimQuelle endlos() {
    SimQuelle q = sinus48k(1, 0.1, NULL_S);
    q.nachlauf = SimNachlauf::stille;
    return q;
}

TEST_F(MicCaptureTest, StereoAt48kArrivesAsMonoAt16kPlacedByItsStamps) {
    baue(sinus48k(2, 1.0, NULL_S + 0.25));
    capture->start();
    ASSERT_TRUE(warte([](const auto& a) { return a.erschoepft; }));
    const SimMikrofonAufrufe a = umgebung.mikrofon->stand();
    EXPECT_EQ(a.tapPufferFrames, std::vector<std::uint32_t>{4096});
    EXPECT_EQ(a.tapFormate.at(0), (AudioFormat{48000.0, 2, SampleArt::float32, false}));
    EXPECT_NE(log().find("[hoerspur] Mikrofon-Capture gestartet\n"), std::string::npos);

    const std::vector<float> alle = alleSamples();
    EXPECT_EQ(blockAnzahl(), 10u);
    EXPECT_EQ(static_cast<std::int64_t>(alle.size()), zeit.geschrieben());
    // A quarter second late: 4000 zeros, then the second of audio (less what the
    // converter still holds) without gaps or overlaps, since each buffer lasts
    // 4800 / 48000 s.
    ASSERT_GT(alle.size(), 4000u + 15000u);
    EXPECT_LE(alle.size(), 4000u + 16000u);
    EXPECT_TRUE(std::all_of(alle.begin(), alle.begin() + 4000, [](float x) { return x == 0.0f; }));
    EXPECT_EQ(zeit.luecken(), 0);
    EXPECT_EQ(zeit.ueberlappungen(), 0);
    double quadrate = 0.0;
    for (std::size_t i = 8000; i < 16000; ++i) quadrate += alle[i] * alle[i];
    EXPECT_NEAR(std::sqrt(quadrate / 8000.0), 0.5 / std::sqrt(2.0), 0.01);
}

TEST_F(MicCaptureTest, BuffersOfAnySizeArePlacedAndEmptyOrFormatlessOnesGiveNoBlock) {
    const AudioFormat mono{48000.0, 1, SampleArt::float32, false};
    std::vector<SimPuffer> puffer;
    double t = NULL_S;
    for (const std::uint32_t frames : {37u, 4096u, 0u, 5000u, 1000u}) {
        SimPuffer p;
        p.pcm = PcmPuffer(mono, frames);
        p.stempelSekunden = t;
        t += frames / 48000.0;
        puffer.push_back(std::move(p));
    }
    SimPuffer ohneFormat;
    ohneFormat.stempelSekunden = t;
    puffer.insert(puffer.begin() + 2, std::move(ohneFormat));
    baue(SimQuelle::ausPuffern(std::move(puffer)));
    capture->start();
    ASSERT_TRUE(warte([](const auto& a) { return a.erschoepft; }));
    EXPECT_EQ(blockAnzahl(), 4u);
    EXPECT_EQ(zeit.luecken(), 0);
    EXPECT_EQ(zeit.ueberlappungen(), 0);
}

TEST_F(MicCaptureTest, RefusedStartThrowsTheEngineErrorUnchanged) {
    SimMikrofon m;
    m.startFehler = PlattformFehler("com.apple.coreaudio.avfaudio", -10851, "kein Zugriff");
    baue(std::move(m));
    try {
        capture->start();
        FAIL() << "start accepted";
    } catch (const PlattformFehler& f) {
        EXPECT_EQ(f.domain(), "com.apple.coreaudio.avfaudio");
        EXPECT_EQ(f.code(), -10851);
        EXPECT_EQ(f.beschreibung(), "kein Zugriff");
    }
    EXPECT_EQ(umgebung.mikrofon->stand().tapsEntfernt, 0);
    EXPECT_EQ(log().find("gestartet"), std::string::npos);

    SimMikrofon ohneGeraet;
    ohneGeraet.keinGeraet = true;
    baue(std::move(ohneGeraet));
    try {
        capture->start();
        FAIL() << "start without a device accepted";
    } catch (const PlattformFehler& f) {
        EXPECT_EQ(f.domain(), "hoerspur");
        EXPECT_EQ(f.code(), 2);
    }
    EXPECT_EQ(umgebung.mikrofon->stand().starts, 0);
}

TEST_F(MicCaptureTest, NothingArrivesAfterStopAndStoppingTwiceOrEarlyDoesNothing) {
    baue(endlos());
    capture->stop();  // before start
    EXPECT_EQ(umgebung.mikrofon->stand().starts, 0);

    baue(endlos());
    capture->start();
    ASSERT_TRUE(warte([](const auto& a) { return a.geliefert > 20; }));
    capture->stop();
    const std::size_t danach = blockAnzahl();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(blockAnzahl(), danach);
    EXPECT_FALSE(umgebung.mikrofon->stand().laeuft);
    capture->stop();
    capture->start();  // a stopped capture stays stopped
    EXPECT_FALSE(umgebung.mikrofon->stand().laeuft);
}

TEST_F(MicCaptureTest, ReleasingTheCaptureWhileTheEngineRunsEndsDelivery) {
    baue(endlos());
    capture->start();
    ASSERT_TRUE(warte([](const auto& a) { return a.geliefert > 20; }));
    capture.reset();
    const std::size_t danach = blockAnzahl();
    EXPECT_FALSE(umgebung.mikrofon->stand().laeuft);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(blockAnzahl(), danach);
}

// An engine that keeps calling a tap it was told to remove.
class HaltendeEngine final : public AudioEngine {
  public:
    explicit HaltendeEngine(TapFunktion& ablage) : ablage_(ablage) {}
    std::optional<AudioFormat> eingangsFormat() override {
        return AudioFormat{16000.0, 1, SampleArt::float32, false};
    }
    void installiereTap(std::uint32_t, const AudioFormat&, TapFunktion tap) override {
        ablage_ = std::move(tap);
    }
    void entferneTap() override {}
    void starte() override {}
    void stoppe() override {}
    void beiStoerung(StoerFunktion) override {}

  private:
    TapFunktion& ablage_;
};

TEST_F(MicCaptureTest, TapCalledAfterStopOrReleaseReturnsWithoutWork) {
    AudioEngine::TapFunktion tap;
    int aufrufe = 0;
    auto c = MicCapture::erstelle(16000.0, zeit, std::make_unique<HaltendeEngine>(tap),
                                  [&](std::vector<float>) { ++aufrufe; });
    c->start();
    const PcmPuffer puffer(AudioFormat{16000.0, 1, SampleArt::float32, false}, 1600);
    tap(puffer, AudioZeit{NULL_S});
    EXPECT_EQ(aufrufe, 1);
    const std::int64_t geschrieben = zeit.geschrieben();
    c->stop();
    tap(puffer, AudioZeit{NULL_S + 0.1});
    c.reset();
    tap(puffer, AudioZeit{NULL_S + 0.2});
    EXPECT_EQ(aufrufe, 1);
    EXPECT_EQ(zeit.geschrieben(), geschrieben);
}

TEST_F(MicCaptureTest, StopDuringAStartLeavesTheMicrophoneOff) {
    SimMikrofon m;
    m.quelle = endlos();
    m.startVerzoegerungSekunden = 0.1;
    baue(std::move(m));
    std::thread starter([this] { capture->start(); });
    ASSERT_TRUE(warte([](const auto& a) { return a.starts == 1; }));
    capture->stop();
    starter.join();
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(umgebung.mikrofon->stand().laeuft);
    EXPECT_EQ(blockAnzahl(), 0u);
    EXPECT_EQ(log().find("Mikrofon-Capture gestartet"), std::string::npos);
}

TEST_F(MicCaptureTest, AMicrophoneThatGoesAwayComesBackWithItsGapOnTheTimeline) {
    SimMikrofon m;
    m.quelle = sinus48k(2, 2.0, NULL_S);
    m.stopptSelbstNach = 10;
    m.ausfallPuffer = 5;  // 0.5 s: 8000 samples at 16 kHz
    m.stopFehlerText = "Error Domain=sim Code=1 \"Headset abgezogen\"";
    baue(std::move(m));
    capture->start();
    ASSERT_TRUE(warte([](const auto& a) { return a.erschoepft; }));
    capture->stop();

    EXPECT_EQ(zeit.luecken(), 1);
    EXPECT_EQ(zeit.lueckenSamples(), 8000);
    // As long as the source, less the converter's delay.
    EXPECT_NEAR(static_cast<double>(alleSamples().size()), 2.0 * 16000 - 100, 100.0);
    // In this order; the new stream's first block may log its gap in between.
    const std::string text = log();
    const auto weg =
        text.find("[hoerspur] Mikrofon gestoppt: Error Domain=sim Code=1 \"Headset abgezogen\"\n");
    const auto wieder = text.find("[hoerspur] Mikrofon wieder verbunden\n");
    EXPECT_NE(weg, std::string::npos) << text;
    EXPECT_NE(wieder, std::string::npos) << text;
    EXPECT_LT(weg, wieder) << text;
    EXPECT_FALSE(umgebung.mikrofon->stand().laeuft);
}

TEST_F(MicCaptureTest, AStopWhileTheMicrophoneIsAwayEndsTheAttempts) {
    SimMikrofon m;
    m.quelle = endlos();
    m.stopptSelbstNach = 3;
    m.neustartsVerweigert = 1000;
    baue(std::move(m));
    capture->start();
    ASSERT_TRUE(warte([](const auto& a) { return a.starts >= 2; }));
    capture->stop();
    const int starts = umgebung.mikrofon->stand().starts;
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(umgebung.mikrofon->stand().starts, starts);
    EXPECT_FALSE(umgebung.mikrofon->stand().laeuft);
    EXPECT_NE(log().find("[hoerspur] Mikrofon noch nicht wieder da, neuer Versuch jede Sekunde: "),
              std::string::npos);
}

}  // namespace
}  // namespace hoerspur
