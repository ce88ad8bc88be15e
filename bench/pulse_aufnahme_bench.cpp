// Processor time of live capture from the sound server: microphone (4096-frame
// buffers) and system audio together, 48 kHz stereo, against a private daemon
// started through scripts/pulse-fixture. The counter "rechenzeit_pro_audiosekunde"
// is process CPU seconds per second of captured audio: 0.01 means one percent of
// one core. It includes the server library's own threads, not the daemon.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/linux/linux_plattform.h"
#include "platform/uhr.h"
#include "tests/befehl.h"
#include "tests/dateien.h"
#include "tests/fixtur.h"
#include "tests/prozessorzeit.h"

namespace {

void BM_AufnahmeMikrofonUndSystemAudio(benchmark::State& state) {
    const std::string dir = hoerspur::neuerOrdner("hs-bench");
    if (dir.empty()) {
        state.SkipWithError("kein Ordner fuer den Tonserver");
        return;
    }
    hoerspur::PulseFixtur server(dir);
    if (!server.starte("gleich")) {
        state.SkipWithError("privater Tonserver startet nicht");
        return;
    }
    const std::string ton = dir + "/ton.wav";
    hoerspur::sh("sox -q -n -r 48000 -c 2 " + ton + " synth 12 pinknoise vol 0.2");
    server.spieleImHintergrund("fern", ton);

    constexpr double kSekunden = 10.0;
    double audioSekunden = 0;
    double cpu = 0;
    for (auto _ : state) {
        hoerspur::Plattform p = hoerspur::linuxPlattform();
        auto engine = p.neueAudioEngine();
        std::atomic<std::uint64_t> frames{0};
        engine->installiereTap(4096,
                               hoerspur::AudioFormat{48000, 2, hoerspur::SampleArt::float32, true},
                               [&](const hoerspur::PcmPuffer& b, const hoerspur::AudioZeit&) {
                                   frames += b.frameLaenge();
                               });
        const double start = hoerspur::prozessorSekunden();
        engine->starte();
        auto strom = p.bildschirm->starteSystemAudio(
            hoerspur::Display{}, hoerspur::SystemAudioKonfiguration{},
            [&](const hoerspur::AudioSampleBuffer& s) { frames += s.frames; },
            [](const std::string&) {});
        std::this_thread::sleep_for(std::chrono::duration<double>(kSekunden));
        engine->stoppe();
        strom->stoppe();
        cpu += hoerspur::prozessorSekunden() - start;
        // Both streams' audio, counted once per stream.
        audioSekunden += static_cast<double>(frames.load()) / 48000.0 / 2.0;
        state.SetIterationTime(kSekunden);
    }
    state.counters["rechenzeit_pro_audiosekunde"] = cpu / audioSekunden;
}

BENCHMARK(BM_AufnahmeMikrofonUndSystemAudio)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
