// The sound server backends against a private PulseAudio daemon started through
// scripts/pulse-fixture (found through HOERSPUR_QUELLEN, which ctest sets).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/linux_plattform.h"
#include "platform/linux/pulse_fehler.h"
#include "platform/uhr.h"
#include "tests/befehl.h"
#include "tests/dateien.h"
#include "tests/fixtur.h"

namespace hoerspur {
namespace {

using namespace std::chrono_literals;

// One private daemon per test; the test's clients reach it through PULSE_SERVER.
class Tonserver : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(quellenOrdner().empty()) << "HOERSPUR_QUELLEN fehlt";
        dir_ = neuerOrdner("hs-pulse");
        ASSERT_FALSE(dir_.empty());
        ton_.emplace(dir_);
        unsetenv("PULSE_SOURCE");
    }

    void TearDown() override { ton_.reset(); }

    void starte(const std::string& layout) { ASSERT_TRUE(ton_->starte(layout)); }

    // "toete", or "pactl" with its arguments.
    void fixture(const std::string& befehl, const std::string& argumente = "") {
        ASSERT_EQ(ton_->rufe(befehl, argumente), 0);
    }

    // Plays a sox-made signal into `senke` on a thread of its own.
    void spieleImHintergrund(const std::string& senke, const std::string& soxSynth,
                             double wartenSekunden = 0) {
        const std::string datei = dir_ + "/signal" + std::to_string(signale_++) + ".wav";
        ASSERT_EQ(sh("sox -q -n -r 48000 -c 2 " + datei + " " + soxSynth), 0);
        ton_->spieleImHintergrund(senke, datei, wartenSekunden);
    }

    std::string dir_;
    std::optional<PulseFixtur> ton_;
    int signale_ = 0;
};

// What a tap or sample callback received, for the test thread to inspect.
struct Mitschnitt {
    std::mutex m;
    double rateHz = 0;
    std::vector<double> stempel;
    std::vector<std::uint32_t> frames;
    std::vector<float> ersterKanal;
    std::vector<AudioFormat> formate;
    int ohneStempel = 0;

    void nimm(const PcmPuffer& p, std::uint32_t n, std::optional<double> t) {
        std::lock_guard<std::mutex> lock(m);
        if (!t) ++ohneStempel;
        stempel.push_back(t.value_or(NAN));
        frames.push_back(n);
        if (p.format()) formate.push_back(*p.format());
        const auto daten = p.floatDaten(0);
        const std::uint32_t k = p.format() ? p.format()->kanaele : 1;
        for (std::uint32_t i = 0; i < n && i * k < daten.size(); ++i) {
            ersterKanal.push_back(daten[i * k]);
        }
    }

    std::size_t anzahl() {
        std::lock_guard<std::mutex> lock(m);
        return stempel.size();
    }

    // stamp[k+1] - stamp[k] - frames[k] / rate, for every k.
    std::vector<double> abweichungen() {
        std::lock_guard<std::mutex> lock(m);
        std::vector<double> d;
        for (std::size_t k = 1; k < stempel.size(); ++k) {
            d.push_back(stempel[k] - stempel[k - 1] - frames[k - 1] / rateHz);
        }
        return d;
    }

    // Host time of the first sample louder than `schwelle`.
    std::optional<double> ersterLauterSample(float schwelle) {
        std::lock_guard<std::mutex> lock(m);
        std::size_t pos = 0;
        for (std::size_t k = 0; k < stempel.size(); ++k) {
            for (std::uint32_t i = 0; i < frames[k]; ++i) {
                if (std::abs(ersterKanal[pos + i]) > schwelle) return stempel[k] + i / rateHz;
            }
            pos += frames[k];
        }
        return std::nullopt;
    }
};

AudioEngine::TapFunktion tapNach(Mitschnitt& m) {
    return [&m](const PcmPuffer& p, const AudioZeit& z) {
        m.nimm(p, p.frameLaenge(), z.hostSekunden);
    };
}

BildschirmAufnahme::SampleFunktion sampleNach(Mitschnitt& m) {
    return [&m](const AudioSampleBuffer& s) {
        m.nimm(s.pcm, static_cast<std::uint32_t>(s.frames), s.praesentationSekunden);
    };
}

void warteBis(const std::function<bool()>& fertig, double sekunden) {
    const double ende = hostSekunden() + sekunden;
    while (!fertig() && hostSekunden() < ende) std::this_thread::sleep_for(10ms);
}

const AudioFormat kStereo48k{48000, 2, SampleArt::float32, true};

// The microphone (taps of 1024 frames, 48 kHz stereo) into `mikro` and the system
// audio into `system`, both started and both with at least `mindestens` deliveries
// (or 10 s gone). The system audio's stream.
std::unique_ptr<SystemAudioStrom> starteBeide(
    Plattform& p, AudioEngine& engine, Mitschnitt& mikro, Mitschnitt& system,
    std::size_t mindestens, BildschirmAufnahme::StopFunktion beiStop = [](const std::string&) {}) {
    mikro.rateHz = system.rateHz = 48000;
    engine.installiereTap(1024, kStereo48k, tapNach(mikro));
    engine.starte();
    auto strom = p.bildschirm->starteSystemAudio(Display{}, SystemAudioKonfiguration{},
                                                 sampleNach(system), std::move(beiStop));
    warteBis([&] { return mikro.anzahl() >= mindestens && system.anzahl() >= mindestens; }, 10);
    return strom;
}

TEST_F(Tonserver, MicrophoneRecordsTheDefaultSourceInItsOwnFormat) {
    starte("getrennt");
    Plattform p = linuxPlattform();
    auto engine = p.neueAudioEngine();
    const std::optional<AudioFormat> format = engine->eingangsFormat();
    ASSERT_TRUE(format.has_value());
    EXPECT_EQ(format->sampleRateHz, 44100);
    EXPECT_EQ(format->kanaele, 1u);
    EXPECT_EQ(format->art, SampleArt::float32);

    Mitschnitt m;
    m.rateHz = format->sampleRateHz;
    engine->installiereTap(4096, *format, tapNach(m));
    spieleImHintergrund("mikro", "synth 3 sine 440 vol 0.5");
    engine->starte();
    warteBis([&] { return m.anzahl() >= 20; }, 10);
    engine->entferneTap();
    engine->stoppe();

    ASSERT_GE(m.anzahl(), 20u);
    EXPECT_EQ(m.ohneStempel, 0);
    for (const AudioFormat& f : m.formate) EXPECT_EQ(f, *format);
    for (std::uint32_t n : m.frames) EXPECT_EQ(n, 4096u);
    // The tone played into the microphone's sink arrives (mono at 44100 Hz).
    float spitze = 0;
    for (float s : m.ersterKanal) spitze = std::max(spitze, std::abs(s));
    EXPECT_NEAR(spitze, 0.5, 0.05);
}

TEST_F(Tonserver, SteadyCaptureHasContinuousStampsOnTheHostClockAndBothChannelsAgree) {
    starte("gleich");
    Plattform p = linuxPlattform();
    auto engine = p.neueAudioEngine();
    const std::optional<AudioFormat> format = engine->eingangsFormat();
    ASSERT_TRUE(format.has_value());
    Mitschnitt mikro, system;
    mikro.rateHz = format->sampleRateHz;
    system.rateHz = 48000;
    engine->installiereTap(4096, *format, tapNach(mikro));

    // Speech-like bursts for 10 s: new streams and silence in between are what
    // moves a sink's timing; a click at about 5 s marks one instant in both channels.
    spieleImHintergrund("fern", "synth 4 pinknoise vol 0.1 : synth 2 sine 300 vol 0.1", 0.5);
    spieleImHintergrund("fern", "synth 0.005 sine 1000 vol 0.9 pad 0.5 0.5", 4.5);
    const double start = hostSekunden();
    engine->starte();
    const std::vector<Display> displays = p.bildschirm->systemAudioDisplays();
    ASSERT_EQ(displays.size(), 1u);
    auto strom = p.bildschirm->starteSystemAudio(displays[0], SystemAudioKonfiguration{},
                                                 sampleNach(system), [](const std::string&) {});
    std::this_thread::sleep_for(10s);
    engine->entferneTap();
    engine->stoppe();
    strom->stoppe();
    const double ende = hostSekunden();

    for (Mitschnitt* m : {&mikro, &system}) {
        ASSERT_GT(m->anzahl(), 50u);
        EXPECT_EQ(m->ohneStempel, 0);
        // Every buffer follows the one before by its own duration, within 1 ms.
        for (double d : m->abweichungen()) ASSERT_LT(std::abs(d), 0.001);
        // The stamps are host clock times of this recording.
        EXPECT_GT(m->stempel.front(), start - 0.5);
        EXPECT_LT(m->stempel.back(), ende);
        EXPECT_GT(m->stempel.back(), ende - 0.5);
    }
    for (std::uint32_t n : system.frames) EXPECT_EQ(n, 1024u);
    const std::optional<double> klickMikro = mikro.ersterLauterSample(0.5f);
    const std::optional<double> klickSystem = system.ersterLauterSample(0.5f);
    ASSERT_TRUE(klickMikro && klickSystem);
    EXPECT_NEAR(*klickMikro, *klickSystem, 0.001);
    EXPECT_NEAR(*klickMikro, start + 5.0, 1.5);
}

TEST_F(Tonserver, ASuspendedSourceBecomesAGapOfItsLength) {
    starte("getrennt");
    Plattform p = linuxPlattform();
    auto engine = p.neueAudioEngine();
    Mitschnitt m;
    m.rateHz = 44100;
    engine->installiereTap(4096, AudioFormat{44100, 1, SampleArt::float32, true}, tapNach(m));
    engine->starte();
    warteBis([&] { return m.anzahl() >= 10; }, 10);
    fixture("pactl", "suspend-sink mikro 1");
    std::this_thread::sleep_for(1500ms);
    fixture("pactl", "suspend-sink mikro 0");
    const std::size_t nachher = m.anzahl();
    warteBis([&] { return m.anzahl() >= nachher + 30; }, 10);
    engine->stoppe();

    int luecken = 0;
    for (double d : m.abweichungen()) {
        if (std::abs(d) > 0.001) {
            ++luecken;
            EXPECT_NEAR(d, 1.5, 0.3);
        }
    }
    EXPECT_EQ(luecken, 1);
}

TEST_F(Tonserver, StoppingEndsAllDeliveries) {
    starte("gleich");
    Plattform p = linuxPlattform();
    auto engine = p.neueAudioEngine();
    Mitschnitt mikro, system;
    auto strom = starteBeide(p, *engine, mikro, system, 5);

    // Removing the tap alone ends the microphone's deliveries.
    engine->entferneTap();
    const std::size_t mikroNachTap = mikro.anzahl();
    strom->stoppe();
    const std::size_t systemNachStopp = system.anzahl();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(mikro.anzahl(), mikroNachTap);
    EXPECT_EQ(system.anzahl(), systemNachStopp);
    engine->stoppe();
    engine->stoppe();
    strom->stoppe();

    // A stopped engine starts again.
    engine->installiereTap(1024, kStereo48k, tapNach(mikro));
    engine->starte();
    warteBis([&] { return mikro.anzahl() >= mikroNachTap + 5; }, 10);
    EXPECT_GE(mikro.anzahl(), mikroNachTap + 5);
}

TEST_F(Tonserver, WithoutAServerEverythingIsRefusedWithTheServersReason) {
    setenv("PULSE_SERVER", ("unix:" + dir_ + "/gibt-es-nicht").c_str(), 1);
    Plattform p = linuxPlattform();
    auto engine = p.neueAudioEngine();
    EXPECT_FALSE(engine->eingangsFormat().has_value());
    engine->installiereTap(4096, kStereo48k, [](const PcmPuffer&, const AudioZeit&) {});
    try {
        engine->starte();
        FAIL() << "Mikrofon ohne Tonserver gestartet";
    } catch (const PlattformFehler& f) {
        EXPECT_EQ(f.domain(), kPulseDomain);
        EXPECT_NE(f.beschreibung().find("keine Verbindung zum Tonserver"), std::string::npos);
        // The server library's own reason follows.
        EXPECT_NE(f.beschreibung().find(": "), std::string::npos);
    }
    EXPECT_THROW(p.bildschirm->starteSystemAudio(
                     Display{}, SystemAudioKonfiguration{}, [](const AudioSampleBuffer&) {},
                     [](const std::string&) {}),
                 PlattformFehler);
    // Refusals leave the engine usable: stopping is safe.
    engine->stoppe();
}

TEST_F(Tonserver, AServerWithoutDevicesRefusesMicrophoneAndSystemAudio) {
    starte("leer");
    Plattform p = linuxPlattform();
    auto engine = p.neueAudioEngine();
    EXPECT_FALSE(engine->eingangsFormat().has_value());
    try {
        engine->starte();
        FAIL() << "Mikrofon ohne Eingang gestartet";
    } catch (const PlattformFehler& f) {
        EXPECT_NE(f.beschreibung().find("kein Standard-Eingang"), std::string::npos)
            << f.beschreibung();
    }
    try {
        p.bildschirm->starteSystemAudio(
            Display{}, SystemAudioKonfiguration{}, [](const AudioSampleBuffer&) {},
            [](const std::string&) {});
        FAIL() << "System-Audio ohne Ausgang gestartet";
    } catch (const PlattformFehler& f) {
        EXPECT_NE(f.beschreibung().find("kein Standard-Ausgang"), std::string::npos)
            << f.beschreibung();
    }
}

TEST_F(Tonserver, ANamedMicrophoneThatIsMissingIsRefusedAndSystemAudioStillRecords) {
    starte("gleich");
    setenv("PULSE_SOURCE", "gibt-es-nicht", 1);
    Plattform p = linuxPlattform();
    auto engine = p.neueAudioEngine();
    EXPECT_FALSE(engine->eingangsFormat().has_value());
    try {
        engine->starte();
        FAIL() << "fehlendes Mikrofon gestartet";
    } catch (const PlattformFehler& f) {
        EXPECT_NE(f.beschreibung().find("gibt-es-nicht"), std::string::npos) << f.beschreibung();
    }
    Mitschnitt system;
    system.rateHz = 48000;
    auto strom = p.bildschirm->starteSystemAudio(Display{}, SystemAudioKonfiguration{},
                                                 sampleNach(system), [](const std::string&) {});
    warteBis([&] { return system.anzahl() >= 5; }, 10);
    strom->stoppe();
    EXPECT_GE(system.anzahl(), 5u);
}

TEST_F(Tonserver, AServerThatDiesStopsEachStreamOnceWithItsReason) {
    starte("gleich");
    std::atomic<int> mikroGestoppt{0}, systemGestoppt{0};
    std::mutex textSperre;
    std::string systemText;
    Plattform p = linuxPlattform();
    auto engine = p.neueAudioEngine();
    engine->beiStoerung([&](const std::string&) { ++mikroGestoppt; });
    Mitschnitt mikro, system;
    auto strom = starteBeide(p, *engine, mikro, system, 5, [&](const std::string& text) {
        std::lock_guard<std::mutex> lock(textSperre);
        systemText = text;
        ++systemGestoppt;
    });
    fixture("toete");
    warteBis([&] { return mikroGestoppt == 1 && systemGestoppt == 1; }, 10);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(mikroGestoppt, 1);
    EXPECT_EQ(systemGestoppt, 1);
    {
        std::lock_guard<std::mutex> lock(textSperre);
        EXPECT_NE(systemText.find(kPulseDomain), std::string::npos) << systemText;
        EXPECT_NE(systemText.find("Tonserver"), std::string::npos) << systemText;
    }
    const std::size_t mikroDanach = mikro.anzahl();
    const std::size_t systemDanach = system.anzahl();
    engine->entferneTap();
    engine->stoppe();
    strom->stoppe();
    EXPECT_EQ(mikro.anzahl(), mikroDanach);
    EXPECT_EQ(system.anzahl(), systemDanach);
    EXPECT_EQ(mikroGestoppt, 1);
    EXPECT_EQ(systemGestoppt, 1);
}

TEST_F(Tonserver, BothChannelsFollowANewDefaultDeviceWithoutStopping) {
    // Headphones with a microphone plugged in during the call: a new sink and a new
    // source become the defaults while the old ones stay.
    starte("gleich");
    Plattform p = linuxPlattform();
    auto engine = p.neueAudioEngine();
    std::atomic<int> gestoppt{0};
    engine->beiStoerung([&](const std::string&) { ++gestoppt; });
    Mitschnitt mikro, system;
    auto strom =
        starteBeide(p, *engine, mikro, system, 10, [&](const std::string&) { ++gestoppt; });
    fixture("pactl",
            "load-module module-null-sink sink_name=kopf rate=48000 channels=2 >/dev/null");
    fixture("pactl", "set-default-sink kopf");
    fixture("pactl", "set-default-source kopf.monitor");
    std::this_thread::sleep_for(1s);
    const double umgesteckt = hostSekunden();
    // Only the new device hears this tone.
    spieleImHintergrund("kopf", "synth 1 sine 500 vol 0.5");
    ton_->warteAufSpieler();
    std::this_thread::sleep_for(300ms);
    engine->entferneTap();
    engine->stoppe();
    strom->stoppe();

    EXPECT_EQ(gestoppt, 0);
    for (Mitschnitt* m : {&mikro, &system}) {
        const std::optional<double> ton = m->ersterLauterSample(0.3f);
        ASSERT_TRUE(ton) << (m == &mikro ? "mikro" : "system");
        EXPECT_GT(*ton, umgesteckt) << (m == &mikro ? "mikro" : "system");
        EXPECT_EQ(m->ohneStempel, 0);
    }
}

TEST_F(Tonserver, AfterTheServerComesBackBothBackendsStartAgain) {
    starte("gleich");
    Plattform p = linuxPlattform();
    auto engine = p.neueAudioEngine();
    Mitschnitt mikro, system;
    auto strom = starteBeide(p, *engine, mikro, system, 5);
    fixture("toete");
    EXPECT_THROW(
        p.bildschirm->starteSystemAudio(Display{}, {}, sampleNach(system), [](const auto&) {}),
        PlattformFehler);
    starte("gleich");
    engine->stoppe();  // what is left of the stream that ended
    engine->starte();
    strom->stoppe();
    strom = p.bildschirm->starteSystemAudio(Display{}, SystemAudioKonfiguration{},
                                            sampleNach(system), [](const std::string&) {});
    const std::size_t mikroVorher = mikro.anzahl();
    const std::size_t systemVorher = system.anzahl();
    warteBis([&] { return mikro.anzahl() > mikroVorher + 5 && system.anzahl() > systemVorher + 5; },
             10);
    engine->stoppe();
    strom->stoppe();
    EXPECT_GT(mikro.anzahl(), mikroVorher + 5);
    EXPECT_GT(system.anzahl(), systemVorher + 5);
}

}  // namespace
}  // namespace hoerspur
