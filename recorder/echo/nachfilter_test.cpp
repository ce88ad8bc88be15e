#include "recorder/echo/nachfilter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace hoerspur {
namespace {

constexpr int N = Nachfilter::N;

// Feeds the postfilter block by block and keeps its output, VERZOEGERUNG blocks late.
struct Treiber {
    Nachfilter nf;
    std::mt19937 zufall{7};
    std::normal_distribution<double> normal{0.0, 1.0};
    std::vector<std::vector<double>> ein, aus;
    std::vector<bool> tor;

    std::vector<double> rauschen(double pegel) {
        std::vector<double> v(N);
        for (double& x : v) x = pegel * normal(zufall);
        return v;
    }

    void block(const std::vector<double>& out0, const std::vector<double>& yf, double leak) {
        std::vector<double> a(N);
        nf.filtern(out0.data(), yf.data(), leak, a.data());
        ein.push_back(out0);
        aus.push_back(a);
        tor.push_back(nf.tor());
    }

    // Output over input level of input blocks [von, bis), in dB.
    double pegelDb(std::size_t von, std::size_t bis) const {
        double e = 1e-30, a = 1e-30;
        for (std::size_t b = von; b < bis; ++b) {
            for (int i = 0; i < N; ++i) {
                e += ein[b][i] * ein[b][i];
                a += aus[b + Nachfilter::VERZOEGERUNG][i] * aus[b + Nachfilter::VERZOEGERUNG][i];
            }
        }
        return 10.0 * std::log10(a / e);
    }
};

// The near end talks alone, so every gain is near 1; then it stops and a far-end burst
// leaves a residual 10 dB under the canceller's echo estimate. Still in the hold time
// (no gate), the gains must fall to the floor of -12 dB in the very block the residual
// appears: a gain that only glides down lets the first 50 ms of every echo burst after
// the near end spoke through at -3 to -6 dB.
TEST(Nachfilter, GainsFallAtOnceWhenEchoFollowsNearEndSpeech) {
    Treiber t;
    const std::vector<double> still(N, 0.0);
    for (int b = 0; b < 30; ++b) t.block(t.rauschen(3.0), still, 0.1);
    for (int b = 0; b < 40; ++b) {
        const auto nah = t.rauschen(3000.0), boden = t.rauschen(3.0);
        std::vector<double> out0(N);
        for (int i = 0; i < N; ++i) out0[i] = nah[i] + boden[i];
        t.block(out0, still, 0.1);
    }
    const std::size_t burst = t.ein.size();
    for (int b = 0; b < 40; ++b) {
        const auto echo = t.rauschen(3000.0), boden = t.rauschen(3.0);
        std::vector<double> out0(N);
        for (int i = 0; i < N; ++i) out0[i] = 0.3 * echo[i] + boden[i];
        t.block(out0, echo, 0.1);
    }
    for (int b = 0; b < Nachfilter::VERZOEGERUNG; ++b) t.block(still, still, 0.1);

    EXPECT_GT(t.pegelDb(burst - 20, burst), -1.0);  // the near end passes
    // The first block's frame still holds near-end speech; from the second on the
    // floor holds, and the gate is not on yet (hold after the near end).
    for (std::size_t b = burst + 1; b < burst + 5; ++b) {
        EXPECT_FALSE(t.tor[b + Nachfilter::VERZOEGERUNG]) << b;
        EXPECT_LT(t.pegelDb(b, b + 1), -11.0) << b - burst;
    }
    // After the hold the gate takes the residual further down.
    EXPECT_LT(t.pegelDb(burst + 25, burst + 40), -25.0);
}

}  // namespace
}  // namespace hoerspur
