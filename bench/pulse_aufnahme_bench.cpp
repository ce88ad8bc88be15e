// Processor time of live capture from the sound server: microphone (4096-frame
// buffers) and system audio together, 48 kHz stereo, against a private daemon
// started through scripts/pulse-fixture. The counter "rechenzeit_pro_audiosekunde"
// is process CPU seconds per second of captured audio: 0.01 means one percent of
// one core. It includes the server library's own threads, not the daemon.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/linux/linux_plattform.h"
#include "platform/uhr.h"

namespace {

double prozessorSekunden() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) * 1e-6;
}

void BM_AufnahmeMikrofonUndSystemAudio(benchmark::State& state) {
    const std::string skript = std::string(HOERSPUR_QUELLEN_DIR) + "/scripts/pulse-fixture";
    char vorlage[] = "/tmp/hs-bench-XXXXXX";
    if (mkdtemp(vorlage) == nullptr) {
        state.SkipWithError("kein Ordner fuer den Tonserver");
        return;
    }
    const std::string dir = vorlage;
    if (std::system((skript + " starte " + dir + " gleich >/dev/null").c_str()) != 0) {
        state.SkipWithError("privater Tonserver startet nicht");
        return;
    }
    setenv("PULSE_SERVER", ("unix:" + dir + "/native").c_str(), 1);
    const std::string ton = dir + "/ton.wav";
    std::system(("sox -q -n -r 48000 -c 2 " + ton + " synth 12 pinknoise vol 0.2").c_str());
    std::thread spieler([&] { std::system((skript + " spiele " + dir + " fern " + ton).c_str()); });

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
        const double start = prozessorSekunden();
        engine->starte();
        auto strom = p.bildschirm->starteSystemAudio(
            hoerspur::Display{}, hoerspur::SystemAudioKonfiguration{},
            [&](const hoerspur::AudioSampleBuffer& s) { frames += s.frames; },
            [](const std::string&) {});
        std::this_thread::sleep_for(std::chrono::duration<double>(kSekunden));
        engine->stoppe();
        strom->stoppe();
        cpu += prozessorSekunden() - start;
        // Both streams' audio, counted once per stream.
        audioSekunden += static_cast<double>(frames.load()) / 48000.0 / 2.0;
        state.SetIterationTime(kSekunden);
    }
    state.counters["rechenzeit_pro_audiosekunde"] = cpu / audioSekunden;
    spieler.join();
    std::system((skript + " beende " + dir).c_str());
    unsetenv("PULSE_SERVER");
}

BENCHMARK(BM_AufnahmeMikrofonUndSystemAudio)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
