// Cost of the echo path, reported as compute seconds per second of audio
// ("s_pro_s_audio") and its inverse, the factor faster than real time ("x_echtzeit").
// On a machine shared with other work the minimum over the repetitions is the figure
// closest to the cost itself; mean and median are listed beside it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "recorder/echo/echo_strecke.h"
#include "recorder/echo/echokompensation.h"
#include "recorder/echo/kfft.h"
#include "recorder/echo/test_gespraech.h"
#include "recorder/echo/verzoegerungsschaetzer.h"

namespace {

using namespace hoerspur;

const test::Gespraech& gespraech60() {
    static const test::Gespraech g = test::gespraech(60.0, 4000, 11, 20.0, 30.0);
    return g;
}

// Compute seconds per second of audio; its inverse is the factor faster than real time.
void setzeRatio(benchmark::State& state, double audioSekundenProDurchlauf) {
    const double audio = audioSekundenProDurchlauf * static_cast<double>(state.iterations());
    state.counters["s_pro_s_audio"] =
        benchmark::Counter(audio, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The whole path as the offline mode drives it: postfilter on, delay estimation included.
void BM_EchoStrecke60s(benchmark::State& state) {
    const auto& g = gespraech60();
    const bool nachfilter = state.range(0) != 0;
    for (auto _ : state) {
        EchoStrecke strecke(20);
        strecke.nachfilter(nachfilter);
        std::size_t ausgegeben = 0;
        strecke.ausgabe = [&](std::span<const float> s, std::span<const bool>) {
            ausgegeben += s.size();
        };
        for (std::size_t i = 0; i < g.mikro.size(); i += 4800) {
            const std::size_t n = std::min<std::size_t>(4800, g.mikro.size() - i);
            strecke.referenz({g.fern.data() + i, n});
            strecke.mikro({g.mikro.data() + i, n});
        }
        strecke.abschliessen();
        benchmark::DoNotOptimize(ausgegeben);
    }
    setzeRatio(state, 60.0);
}
double kleinster(const std::vector<double>& werte) {
    return *std::min_element(werte.begin(), werte.end());
}

BENCHMARK(BM_EchoStrecke60s)
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ComputeStatistics("min", kleinster);

// One canceller block (16 ms of audio) on an adapted filter.
void BM_KompensationBlock(benchmark::State& state) {
    const auto& g = gespraech60();
    Echokompensation ec(20);
    std::vector<double> mikro(256), rahmen(512);
    std::size_t pos = 256;
    auto naechster = [&] {
        for (int i = 0; i < 256; ++i) mikro[i] = g.mikro[pos + i] * 32768.0;
        for (int i = 0; i < 512; ++i) rahmen[i] = g.fern[pos - 256 + i] * 32768.0;
        pos += 256;
        if (pos + 256 > g.mikro.size()) pos = 256;
    };
    for (int b = 0; b < 1000; ++b) {
        naechster();
        ec.block(mikro, rahmen);
    }
    for (auto _ : state) {
        naechster();
        benchmark::DoNotOptimize(ec.block(mikro, rahmen).data());
    }
    setzeRatio(state, 256.0 / 16000.0);
}
BENCHMARK(BM_KompensationBlock)->Repetitions(5)->ComputeStatistics("min", kleinster);

// One delay estimate (two forward, one inverse 131072-point transform); the path makes
// at most two per second of audio.
void BM_Verzoegerungsschaetzung(benchmark::State& state) {
    const auto& g = gespraech60();
    Verzoegerungsschaetzer v;
    std::vector<double> ref(256), mik(256);
    std::size_t pos = 0;
    auto fuettern = [&] {
        for (int i = 0; i < 256; ++i) {
            ref[i] = g.fern[pos + i] * 32768.0;
            mik[i] = g.mikro[pos + i] * 32768.0;
        }
        pos = pos + 256 + 256 > g.mikro.size() ? 0 : pos + 256;
        return v.fuettern(ref, mik);
    };
    for (int b = 0; b < 175; ++b) fuettern();  // fill the 2.8 s window
    for (auto _ : state) {
        // 31 blocks fill the 8000-sample step without an estimate; the 32nd makes one.
        state.PauseTiming();
        for (int b = 0; b < 31; ++b) fuettern();
        state.ResumeTiming();
        benchmark::DoNotOptimize(fuettern());
    }
}
BENCHMARK(BM_Verzoegerungsschaetzung)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ComputeStatistics("min", kleinster);

void BM_Fft512(benchmark::State& state) {
    KFFT f(9);
    std::vector<double> re(512), im(512), x(512);
    for (int i = 0; i < 512; ++i) x[i] = (i * 37 % 101) - 50.0;
    const int art = static_cast<int>(state.range(0));
    for (auto _ : state) {
        if (art == 0) {
            f.vor(re.data(), im.data());
        } else if (art == 1) {
            f.vorReell(x, 0, re.data(), im.data());
        } else {
            f.rueckReell(re.data(), im.data(), x.data(), 0, 512);
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Fft512)->Arg(0)->Arg(1)->Arg(2);

// The plans are made by the first transform of each size in a process, so their cost
// is measured here, before any benchmark has made them, and listed in the context.
double planenMs(int log2n) {
    const auto start = std::chrono::steady_clock::now();
    KFFT fft(log2n);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// One pass of the whole path over the 60 s call and nothing else, for instruction
// counts that repeat run after run:
//   valgrind --tool=callgrind --toggle-collect='hoerspur::EchoStrecke::*' bench_echo --ein-lauf
int einLauf() {
    const auto& g = gespraech60();
    EchoStrecke strecke(20);
    double energie = 0.0;
    strecke.ausgabe = [&](std::span<const float> s, std::span<const bool>) {
        for (float v : s) energie += static_cast<double>(v) * v;
    };
    for (std::size_t i = 0; i < g.mikro.size(); i += 4800) {
        const std::size_t n = std::min<std::size_t>(4800, g.mikro.size() - i);
        strecke.referenz({g.fern.data() + i, n});
        strecke.mikro({g.mikro.data() + i, n});
    }
    strecke.abschliessen();
    std::printf("output energy %.17g\n", energie);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--ein-lauf") return einLauf();
    benchmark::AddCustomContext("planen_512_ms", std::to_string(planenMs(9)));
    benchmark::AddCustomContext("planen_131072_ms", std::to_string(planenMs(17)));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
