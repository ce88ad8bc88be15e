// Compute time of the capture core per second of audio. The counter
// "rechenzeit_pro_audiosekunde" is compute seconds per second of input: 0.01 means
// one percent of one core in real time.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "platform/audio_puffer.h"
#include "recorder/capture/mono_resampler.h"
#include "recorder/capture/zeitachse.h"

namespace {

void setzeEchtzeitAnteil(benchmark::State& state, double audioSekundenProDurchlauf) {
    state.counters["rechenzeit_pro_audiosekunde"] =
        benchmark::Counter(audioSekundenProDurchlauf * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// 48 kHz stereo float buffers of state.range(0) frames to 16 kHz mono, one second per run.
void BM_ResamplerStereo48kZu16kMono(benchmark::State& state) {
    const auto frames = static_cast<std::uint32_t>(state.range(0));
    const hoerspur::AudioFormat format{48000.0, 2, hoerspur::SampleArt::float32, true};
    const std::uint32_t anzahl = 48000 / frames;
    std::vector<hoerspur::PcmPuffer> puffer;
    for (std::uint32_t i = 0; i < anzahl; ++i) {
        hoerspur::PcmPuffer p(format, frames);
        auto d = p.floatDaten(0);
        for (std::uint32_t n = 0; n < frames; ++n) {
            const double t = static_cast<double>(i * frames + n) / 48000.0;
            d[2 * n] = static_cast<float>(0.3 * std::sin(2.0 * std::numbers::pi * 440.0 * t));
            d[2 * n + 1] = static_cast<float>(0.2 * std::sin(2.0 * std::numbers::pi * 1230.0 * t));
        }
        puffer.push_back(std::move(p));
    }
    hoerspur::MonoResampler resampler(16000.0);
    for (auto _ : state) {
        for (const hoerspur::PcmPuffer& p : puffer) {
            auto aus = resampler.process(p);
            benchmark::DoNotOptimize(aus);
        }
    }
    setzeEchtzeitAnteil(state, anzahl * frames / 48000.0);
}
BENCHMARK(BM_ResamplerStereo48kZu16kMono)->Arg(480)->Arg(960)->Arg(4096);

// The timeline placing 10 ms blocks at 16 kHz with jitter, one second per run.
void BM_ZeitachseEinordnen(benchmark::State& state) {
    hoerspur::Zeitachse zeit("me", 16000.0, 1000.0);
    const std::vector<float> block(160, 0.1f);
    double t = 1000.0;
    int i = 0;
    for (auto _ : state) {
        for (int n = 0; n < 100; ++n, ++i) {
            t += 0.01;
            // Up to ±2 ms of jitter, within the tolerance.
            const double jitter = 0.002 * std::sin(static_cast<double>(i));
            auto aus = zeit.einordnen(block, t + jitter, 0.01);
            benchmark::DoNotOptimize(aus);
        }
    }
    setzeEchtzeitAnteil(state, 1.0);
}
BENCHMARK(BM_ZeitachseEinordnen);

}  // namespace

BENCHMARK_MAIN();
