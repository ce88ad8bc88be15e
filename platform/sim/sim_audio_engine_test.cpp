#include "platform/sim/sim_audio_engine.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/sim_plattform.h"

namespace hoerspur {
namespace {

using namespace std::chrono_literals;

// `n` buffers of 480 frames at 48 kHz mono, buffer k holding the value k.
SimQuelle nummerierteQuelle(std::uint64_t n, std::optional<double> start = std::nullopt) {
    std::vector<float> werte(n * 480);
    for (std::size_t i = 0; i < werte.size(); ++i) {
        const std::size_t puffer = i / 480;
        werte[i] = static_cast<float>(puffer);
    }
    SimPlan plan;
    plan.signal = SimSignal::mono(werte);
    plan.startSekunden = start;
    return SimQuelle::ausPlan(plan);
}

// What a tap saw: the value of each buffer, its stamp and the thread's name.
struct Mitschnitt {
    std::mutex m;
    std::vector<float> werte;
    std::vector<std::optional<double>> stempel;
    std::string threadName;

    AudioEngine::TapFunktion tap() {
        return [this](const PcmPuffer& p, const AudioZeit& z) {
            std::lock_guard lock(m);
            char name[16] = {};
            pthread_getname_np(pthread_self(), name, sizeof name);
            threadName = name;
            werte.push_back(p.floatDaten(0)[0]);
            stempel.push_back(z.hostSekunden);
        };
    }
    std::size_t anzahl() {
        std::lock_guard lock(m);
        return werte.size();
    }
};

SimMikrofon mikrofonMit(SimQuelle quelle) {
    SimMikrofon m;
    m.quelle = std::move(quelle);
    return m;
}

SimSzenario szenarioMit(SimMikrofon m) {
    SimSzenario s;
    s.mikrofon = std::move(m);
    s.uhrStartSekunden = 100.0;
    return s;
}

struct Mikro {
    explicit Mikro(SimMikrofon m) : umgebung(baueSimPlattform(szenarioMit(std::move(m)))) {}
    SimUmgebung umgebung;
    std::unique_ptr<AudioEngine> engine = umgebung.plattform.neueAudioEngine();
    SimMikrofonAufrufe stand() const { return umgebung.mikrofon->stand(); }
    bool warteAufEnde() {
        return umgebung.mikrofon->warte([](const auto& a) { return a.erschoepft; }, 10s);
    }
};

TEST(SimAudioEngine, DeliversTheScriptInOrderOnItsOwnThreadWithAbsoluteStamps) {
    Mikro mikro(mikrofonMit(nummerierteQuelle(50)));
    Mitschnitt mit;
    mikro.engine->installiereTap(4096, *mikro.engine->eingangsFormat(), mit.tap());
    mikro.engine->starte();
    ASSERT_TRUE(mikro.warteAufEnde());
    ASSERT_EQ(mit.werte.size(), 50u);
    for (std::size_t k = 0; k < 50; ++k) {
        EXPECT_EQ(mit.werte[k], static_cast<float>(k));
        // Without a start time the stamps begin at the clock's reading at start.
        EXPECT_DOUBLE_EQ(*mit.stempel[k], 100.0 + 0.01 * static_cast<double>(k));
    }
    EXPECT_EQ(mit.threadName, "audio.tap");
    const SimMikrofonAufrufe a = mikro.stand();
    EXPECT_EQ(a.tapPufferFrames, std::vector<std::uint32_t>{4096});
    EXPECT_EQ(a.tapFormate.at(0), (AudioFormat{48000.0, 1, SampleArt::float32, false}));
    EXPECT_EQ(a.starts, 1);
    EXPECT_EQ(a.geliefert, 50u);
}

TEST(SimAudioEngine, TapFunctionMayRemoveItselfAndStopTheEngine) {
    SimMikrofon m = mikrofonMit(nummerierteQuelle(20));
    Mikro mikro(std::move(m));
    std::atomic<int> aufrufe{0};
    AudioEngine& engine = *mikro.engine;
    engine.installiereTap(4096, *engine.eingangsFormat(), [&](const PcmPuffer&, const AudioZeit&) {
        if (++aufrufe == 3) {
            engine.entferneTap();
            engine.stoppe();
        }
    });
    engine.starte();
    ASSERT_TRUE(mikro.umgebung.mikrofon->warte([](const auto& a) { return !a.laeuft; }, 10s));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(aufrufe, 3);
}

TEST(SimAudioEngine, RealTimePacingDeliversBuffersWhenTheyAreDue) {
    SimMikrofon m = mikrofonMit(nummerierteQuelle(3));
    m.quelle.tempo = SimTempo::echtzeit;
    Mikro mikro(std::move(m));
    Mitschnitt mit;
    mikro.engine->installiereTap(4096, *mikro.engine->eingangsFormat(), mit.tap());
    const auto start = std::chrono::steady_clock::now();
    mikro.engine->starte();
    ASSERT_TRUE(mikro.warteAufEnde());
    // Three buffers of 10 ms: the last is due 30 ms after the start, not before.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
    EXPECT_EQ(mit.anzahl(), 3u);
}

TEST(SimPlattform, ClockDrivesHostTimeAndWallClockAndEnginesShareOneRecord) {
    SimSzenario s;
    s.uhrStartSekunden = 10.0;
    s.unixStartMs = 5000;
    SimUmgebung u = baueSimPlattform(std::move(s));
    EXPECT_EQ(u.plattform.hostSekunden(), 10.0);
    u.uhr->vorruecken(1.2345);
    EXPECT_EQ(u.plattform.hostSekunden(), 11.2345);
    EXPECT_EQ(u.plattform.unixMs(), 6234);
    const auto a = u.plattform.neueAudioEngine();
    const auto b = u.plattform.neueAudioEngine();
    a->starte();
    b->starte();
    EXPECT_EQ(u.mikrofon->stand().engines, 2);
    EXPECT_EQ(u.mikrofon->stand().starts, 2);

    SimUhr laufend(0.0, true);
    std::this_thread::sleep_for(10ms);
    EXPECT_GE(laufend.jetzt(), 0.01);
}

}  // namespace
}  // namespace hoerspur
