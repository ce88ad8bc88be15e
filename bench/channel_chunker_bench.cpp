// Compute time of the channel chunker per second of 16 kHz audio, chunk files
// included, as a ratio to real time ("s_pro_audio_s": 0.001 means one millisecond
// of work per second of audio).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "basis/ausgabe.h"
#include "recorder/audiofiles/channel_chunker.h"

namespace {

constexpr double RATE = 16000.0;
constexpr double DAUER_SEKUNDEN = 60.0;
constexpr std::size_t BLOCK_SAMPLES = 256;  // what the echo path hands on

// Talk spurts of 0.4 to 3.5 s (a voiced tone with harmonics whose loudness follows
// slow noise, like syllables) separated by pauses of 0.2 to 1.2 s with faint noise.
std::vector<float> sprachAehnlich() {
    std::mt19937 zufall(20240607);
    std::uniform_real_distribution<double> gleich(0.0, 1.0);
    std::normal_distribution<double> rauschen(0.0, 1.0);
    const auto gesamt = static_cast<std::size_t>(RATE * DAUER_SEKUNDEN);
    std::vector<float> x;
    x.reserve(gesamt);
    bool spricht = true;
    while (x.size() < gesamt) {
        const double laenge = spricht ? 0.4 + 3.1 * gleich(zufall) : 0.2 + 1.0 * gleich(zufall);
        const auto n = static_cast<std::size_t>(laenge * RATE);
        const double grundton = 110.0 + 140.0 * gleich(zufall);
        double huelle = 0.0;
        double phase = 0.0;
        for (std::size_t i = 0; i < n && x.size() < gesamt; ++i) {
            double wert = 0.001 * rauschen(zufall);
            if (spricht) {
                // Envelope: low-passed noise around 4 Hz, rectified.
                huelle += 0.0015 * (std::abs(rauschen(zufall)) - huelle);
                phase += 2.0 * M_PI * grundton / RATE;
                const double ton =
                    std::sin(phase) + 0.5 * std::sin(2 * phase) + 0.25 * std::sin(3 * phase);
                wert += 0.25 * huelle * ton + 0.02 * huelle * rauschen(zufall);
            }
            x.push_back(static_cast<float>(wert));
        }
        spricht = !spricht;
    }
    return x;
}

void laufe(benchmark::State& state, bool turnMode) {
    const std::vector<float> signal = sprachAehnlich();
    char vorlage[] = "/tmp/hs_chunker_bench_XXXXXX";
    const char* ordner = ::mkdtemp(vorlage);
    if (ordner == nullptr) {
        state.SkipWithError("kein temporaerer Ordner");
        return;
    }
    const int nullFd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const hoerspur::Ausgabeziele vorher = hoerspur::setzeAusgabeziele({nullFd, nullFd});

    for (auto _ : state) {
        hoerspur::ChannelChunker chunker("me", ordner, RATE, 25.0, turnMode);
        for (std::size_t i = 0; i < signal.size(); i += BLOCK_SAMPLES) {
            const std::size_t n = std::min(BLOCK_SAMPLES, signal.size() - i);
            chunker.append(std::span<const float>(signal.data() + i, n));
        }
        chunker.finalizeRemainder();
        state.PauseTiming();
        for (const auto& eintrag : std::filesystem::directory_iterator(ordner)) {
            std::filesystem::remove(eintrag.path());
        }
        state.ResumeTiming();
    }

    hoerspur::setzeAusgabeziele(vorher);
    ::close(nullFd);
    std::filesystem::remove_all(ordner);
    state.counters["s_pro_audio_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * DAUER_SEKUNDEN,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_ChunkerTurnMode(benchmark::State& state) {
    laufe(state, true);
}
void BM_ChunkerFestMode(benchmark::State& state) {
    laufe(state, false);
}

BENCHMARK(BM_ChunkerTurnMode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ChunkerFestMode)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
