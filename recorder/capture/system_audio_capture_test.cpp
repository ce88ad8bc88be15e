#include "recorder/capture/system_audio_capture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <limits>
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
constexpr AudioFormat STEREO_48K{48000.0, 2, SampleArt::float32, true};

// System audio on the simulated platform feeding a 16 kHz "them" timeline, with
// the delivered blocks and the log lines kept.
class SystemAudioCaptureTest : public ::testing::Test {
  protected:
    void TearDown() override { capture.reset(); }

    void baue(SimSystemAudio systemAudio) {
        SimSzenario s;
        s.systemAudio = std::move(systemAudio);
        s.uhrStartSekunden = NULL_S;
        umgebung = baueSimPlattform(std::move(s));
        capture =
            std::make_unique<SystemAudioCapture>(16000.0, zeit, umgebung.plattform.bildschirm);
        capture->setzeWeiter([this](std::vector<float> block) { nimm(std::move(block)); });
    }
    void baue(SimQuelle quelle) {
        SimSystemAudio s;
        s.quelle = std::move(quelle);
        baue(std::move(s));
    }

    void nimm(std::vector<float> block) {
        std::lock_guard lock(m_);
        samples_ += block.size();
        ++bloecke_;
    }
    bool warte(std::function<bool(const SimSystemAudioAufrufe&)> bedingung) {
        return umgebung.systemAudio->warte(bedingung, 10s);
    }
    std::size_t bloecke() {
        std::lock_guard lock(m_);
        return bloecke_;
    }
    std::size_t samples() {
        std::lock_guard lock(m_);
        return samples_;
    }
    std::string log() { return mitschnitt_.logText(); }
    // The PlattformFehler that start() throws.
    PlattformFehler startFehler() {
        try {
            capture->start();
        } catch (const PlattformFehler& f) {
            return f;
        }
        ADD_FAILURE() << "start accepted";
        return PlattformFehler("", 0, "");
    }

    Zeitachse zeit{"them", 16000.0, NULL_S};
    SimUmgebung umgebung;
    std::unique_ptr<SystemAudioCapture> capture;

  private:
    ZeilenMitschnitt mitschnitt_;  // TearDown() releases the capture before this goes
    std::mutex m_;
    std::size_t samples_ = 0;
    std::size_t bloecke_ = 0;
};

SimQuelle stereo(double sekunden, std::set<std::uint64_t> weglassen = {}) {
    SimPlan plan;
    plan.signal = SimSignal::sinus(440.0, 0.5f, 48000.0);
    plan.format = STEREO_48K;
    plan.pufferFrames = 1024;
    plan.frames = static_cast<std::uint64_t>(sekunden * 48000.0);
    plan.startSekunden = NULL_S;
    plan.weglassen = std::move(weglassen);
    return SimQuelle::ausPlan(plan);
}

SimQuelle endlos() {
    SimQuelle q = stereo(0.1);
    q.nachlauf = SimNachlauf::stille;
    return q;
}

TEST_F(SystemAudioCaptureTest, CapturesTheFirstDisplayAt48kStereoWithoutItsOwnAudio) {
    SimSystemAudio s;
    s.quelle = stereo(1.0, {10});
    s.displays = {Display{5, 1, 1}, Display{6, 1, 1}};
    baue(std::move(s));
    capture->start();
    ASSERT_TRUE(warte([](const auto& a) { return a.erschoepft; }));
    const SimSystemAudioAufrufe a = umgebung.systemAudio->stand();
    EXPECT_EQ(a.displays.at(0).id, 5u);
    EXPECT_EQ(a.konfigurationen.at(0).sampleRateHz, 48000.0);
    EXPECT_EQ(a.konfigurationen.at(0).kanaele, 2u);
    EXPECT_TRUE(a.konfigurationen.at(0).eigenenProzessAusschliessen);
    EXPECT_NE(log().find("[hoerspur] System-Audio-Capture gestartet\n"), std::string::npos);
    // 46 of 47 buffers arrive; the lost one shows as a gap by the presentation
    // times and is filled, so the timeline still spans the second.
    EXPECT_EQ(bloecke(), 46u);
    EXPECT_EQ(zeit.luecken(), 1);
    EXPECT_EQ(zeit.lueckenSamples(), 341);  // 1024 frames at 48 kHz
    EXPECT_GT(samples(), 15000u);
    EXPECT_LE(samples(), 16000u);
}

TEST(ToPCMBuffer, GivesOnlyBuffersThatHoldAudio) {
    AudioSampleBuffer b{true, PcmPuffer(STEREO_48K, 512), 512, 1.0};
    ASSERT_TRUE(toPCMBuffer(b));
    EXPECT_EQ(toPCMBuffer(b)->frameLaenge(), 512u);
    EXPECT_EQ(toPCMBuffer(b)->format(), STEREO_48K);
    b.frames = 100;
    EXPECT_EQ(toPCMBuffer(b)->frameLaenge(), 100u);
    b.frames = 100000;  // more reported than held: nothing made up
    EXPECT_EQ(toPCMBuffer(b)->frameLaenge(), 512u);

    b.frames = 0;
    EXPECT_FALSE(toPCMBuffer(b));
    b.frames = std::uint64_t{std::numeric_limits<std::uint32_t>::max()} + 1;
    EXPECT_FALSE(toPCMBuffer(b));
    EXPECT_FALSE(toPCMBuffer(AudioSampleBuffer{true, PcmPuffer(), 512, 1.0}));
    EXPECT_FALSE(toPCMBuffer(AudioSampleBuffer{false, PcmPuffer(STEREO_48K, 512), 512, 1.0}));
    EXPECT_FALSE(toPCMBuffer(AudioSampleBuffer{
        true, PcmPuffer(AudioFormat{0.0, 2, SampleArt::int16, false}, 1), 1, {}}));
}

TEST_F(SystemAudioCaptureTest, SampleBuffersWithoutAudioGiveNoBlock) {
    std::vector<SimPuffer> puffer(5);
    puffer[0].pcm = PcmPuffer(STEREO_48K, 480);  // reports zero frames
    puffer[1].frames = 480;                      // no format
    puffer[2].pcm = PcmPuffer(STEREO_48K, 480);
    puffer[2].frames = 480;
    puffer[2].gueltig = false;
    for (std::size_t k = 3; k < 5; ++k) {
        puffer[k].pcm = PcmPuffer(STEREO_48K, 480);
        puffer[k].frames = 480;
        puffer[k].stempelSekunden = NULL_S + 0.01 * static_cast<double>(k - 3);
    }
    baue(SimQuelle::ausPuffern(std::move(puffer)));
    capture->start();
    ASSERT_TRUE(warte([](const auto& a) { return a.erschoepft; }));
    EXPECT_EQ(bloecke(), 2u);
}

TEST_F(SystemAudioCaptureTest, RefusalsReachTheCaller) {
    SimSystemAudio s;
    s.inhaltFehler = PlattformFehler("com.apple.ScreenCaptureKit", -3801, "keine Erlaubnis");
    baue(std::move(s));
    EXPECT_EQ(startFehler().code(), -3801);

    s = SimSystemAudio();
    s.displays.clear();
    baue(std::move(s));
    const PlattformFehler keinDisplay = startFehler();
    EXPECT_EQ(keinDisplay.domain(), "hoerspur");
    EXPECT_EQ(keinDisplay.code(), 1);
    EXPECT_EQ(keinDisplay.beschreibung(), "kein Display gefunden");
    EXPECT_EQ(umgebung.systemAudio->stand().starts, 0);

    s = SimSystemAudio();
    s.startFehler = PlattformFehler("com.apple.ScreenCaptureKit", -3802, "Start verweigert");
    baue(std::move(s));
    EXPECT_EQ(startFehler().code(), -3802);
    EXPECT_EQ(log().find("gestartet"), std::string::npos);
}

TEST_F(SystemAudioCaptureTest, AStreamTheServiceEndsIsLoggedAndComesBackWithItsGapOnTheTimeline) {
    SimSystemAudio s;
    s.quelle = stereo(3.0);
    s.stopptSelbstNach = 20;
    s.ausfallPuffer = 10;  // 10240 frames at 48 kHz: 3413 samples at 16 kHz
    s.neustartsVerweigert = 1;
    s.stopFehlerText = "Error Domain=sck Code=-3821 \"weg\"";
    baue(std::move(s));
    capture->start();
    ASSERT_TRUE(warte([](const auto& a) { return a.erschoepft; }));
    capture->stop();

    // Everything but the lost buffers arrived, and the timeline holds their span
    // as silence: the channel is as long as the source (less the converter's delay).
    EXPECT_EQ(zeit.luecken(), 1);
    EXPECT_NEAR(static_cast<double>(zeit.lueckenSamples()), 3413.0, 2.0);
    EXPECT_NEAR(static_cast<double>(samples()), 3.0 * 16000 - 100, 100.0);
    EXPECT_EQ(umgebung.systemAudio->stand().starts, 3);  // one refused
    EXPECT_EQ(umgebung.systemAudio->stand().laufend, 0);
    const std::string text = log();
    const std::string gestoppt =
        "[hoerspur] SCStream gestoppt: Error Domain=sck Code=-3821 \"weg\"\n";
    ASSERT_NE(text.find(gestoppt), std::string::npos) << text;
    EXPECT_EQ(text.find(gestoppt, text.find(gestoppt) + 1), std::string::npos);
    EXPECT_NE(text.find("[hoerspur] System-Audio noch nicht wieder da, neuer Versuch jede Sekunde: "
                        "Error Domain=sim Code=-3805"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("[hoerspur] System-Audio wieder verbunden\n"), std::string::npos);
}

TEST_F(SystemAudioCaptureTest, AStopWhileTheStreamIsAwayEndsTheAttempts) {
    SimSystemAudio s;
    s.quelle = endlos();
    s.stopptSelbstNach = 3;
    s.neustartsVerweigert = 1000;
    baue(std::move(s));
    capture->start();
    ASSERT_TRUE(warte([](const auto& a) { return a.starts >= 2; }));
    capture->stop();
    const int starts = umgebung.systemAudio->stand().starts;
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(umgebung.systemAudio->stand().starts, starts);
    EXPECT_EQ(umgebung.systemAudio->stand().laufend, 0);
}

TEST_F(SystemAudioCaptureTest, NothingArrivesAfterStopAndStoppingTwiceOrEarlyDoesNothing) {
    baue(endlos());
    capture->start();
    ASSERT_TRUE(warte([](const auto& a) { return a.geliefert > 20; }));
    capture->stop();
    const std::size_t danach = bloecke();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(bloecke(), danach);
    capture->stop();
    EXPECT_EQ(umgebung.systemAudio->stand().stopps, 1);
    EXPECT_EQ(umgebung.systemAudio->stand().laufend, 0);

    // A stop that came before the start (a stop during the recording's start-up)
    // is not undone by the start.
    baue(endlos());
    capture->stop();
    capture->start();
    EXPECT_EQ(umgebung.systemAudio->stand().starts, 0);
    EXPECT_EQ(umgebung.systemAudio->stand().laufend, 0);
}

TEST_F(SystemAudioCaptureTest, StopDuringAStartStopsTheNewStreamAtOnce) {
    SimSystemAudio s;
    s.quelle = endlos();
    s.startVerzoegerungSekunden = 0.1;
    baue(std::move(s));
    std::thread starter([this] { capture->start(); });
    ASSERT_TRUE(warte([](const auto& a) { return a.starts == 1; }));
    capture->stop();
    starter.join();
    EXPECT_EQ(umgebung.systemAudio->stand().laufend, 0);
    // Not one block of the stream that came up after the stop.
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(bloecke(), 0u);
    EXPECT_EQ(log().find("System-Audio-Capture gestartet"), std::string::npos);
}

// A service whose stream keeps calling back after it was told to stop.
class HaltenderDienst final : public BildschirmAufnahme {
  public:
    TeilbarerInhalt teilbarerInhalt() override { return {{Display{1, 2, 2}}, {}}; }
    std::unique_ptr<SystemAudioStrom> starteSystemAudio(const Display&,
                                                        const SystemAudioKonfiguration&,
                                                        SampleFunktion proSample,
                                                        StopFunktion) override {
        ablage = std::move(proSample);
        struct Strom final : SystemAudioStrom {
            void stoppe() override {}
        };
        return std::make_unique<Strom>();
    }
    SampleFunktion ablage;
};

TEST_F(SystemAudioCaptureTest, SamplesDeliveredAfterStopReturnWithoutWork) {
    auto dienst = std::make_shared<HaltenderDienst>();
    SystemAudioCapture c(16000.0, zeit, dienst);
    int bloecke = 0;
    c.setzeWeiter([&](std::vector<float>) { ++bloecke; });
    c.start();
    AudioSampleBuffer sample;
    sample.pcm = PcmPuffer(STEREO_48K, 480);
    sample.frames = 480;
    sample.praesentationSekunden = NULL_S;
    dienst->ablage(sample);
    EXPECT_EQ(bloecke, 1);
    const std::int64_t geschrieben = zeit.geschrieben();
    c.stop();
    dienst->ablage(sample);
    EXPECT_EQ(bloecke, 1);
    EXPECT_EQ(zeit.geschrieben(), geschrieben);
}

TEST_F(SystemAudioCaptureTest, DeliveryFunctionMayChangeWhileRunning) {
    baue(endlos());
    capture->start();
    ASSERT_TRUE(warte([](const auto& a) { return a.geliefert > 5; }));
    std::atomic<int> neu{0};
    capture->setzeWeiter([&](std::vector<float>) { ++neu; });
    const std::uint64_t bisher = umgebung.systemAudio->stand().geliefert;
    ASSERT_TRUE(warte([&](const auto& a) { return a.geliefert > bisher + 5; }));
    capture->stop();
    EXPECT_GE(neu, 5);
}

}  // namespace
}  // namespace hoerspur
