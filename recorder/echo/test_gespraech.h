// Synthetic calls for the tests and benchmarks of the echo path: speech-like far-end and
// near-end signals (resonant noise under a syllable envelope with pauses), the far end
// reaching the microphone through a room response, and noise. Deterministic per seed.
//
// Samples are floats at 16000 Hz on the +-1 scale.
#pragma once

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

namespace hoerspur::test {

// A voice: noise through a resonance, shaped by a syllable envelope that changes every
// 100 ms; about a quarter of the syllables are pauses.
inline std::vector<float> sprachAehnlich(std::size_t anzahl, unsigned seed, double pegel) {
    std::mt19937 zufall(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_real_distribution<double> gleich(0.0, 1.0);
    std::vector<float> v(anzahl);
    double a1 = 0.0, a2 = 0.0, huelle = 0.0, ziel = 0.0;
    // Resonance frequency changes per syllable, like formants do.
    double r1 = 1.3, r2 = -0.6;
    for (std::size_t i = 0; i < anzahl; ++i) {
        if (i % 1600 == 0) {
            ziel = gleich(zufall) < 0.25 ? 0.0 : 0.3 + 0.7 * gleich(zufall);
            const double f = 300.0 + 2200.0 * gleich(zufall);
            r1 = 2.0 * 0.85 * std::cos(2.0 * 3.14159265358979 * f / 16000.0);
            r2 = -0.85 * 0.85;
        }
        huelle += (ziel - huelle) * 0.004;
        const double y = normal(zufall) + r1 * a1 + r2 * a2;
        a2 = a1;
        a1 = y;
        v[i] = static_cast<float>(pegel * huelle * y * 0.25);
    }
    return v;
}

// A room: a direct path of gain `direkt` after `verzoegerungSamples`, then 96
// reflections at random places within `laenge` samples, decaying with time constant
// 250 samples. Sparse, so that convolving long signals stays cheap in slow builds.
inline std::vector<double> raumAntwort(int verzoegerungSamples, double direkt, int laenge,
                                       unsigned seed) {
    std::mt19937 zufall(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_int_distribution<int> ort(1, laenge - 1);
    std::vector<double> h(static_cast<std::size_t>(verzoegerungSamples + laenge), 0.0);
    h[static_cast<std::size_t>(verzoegerungSamples)] = direkt;
    for (int r = 0; r < 96; ++r) {
        const int t = ort(zufall);
        h[static_cast<std::size_t>(verzoegerungSamples + t)] +=
            direkt * 0.3 * normal(zufall) * std::exp(-t / 250.0);
    }
    return h;
}

// x convolved with h, as long as x. Zero taps are skipped, so long pure delays are cheap.
inline std::vector<float> falten(const std::vector<float>& x, const std::vector<double>& h) {
    std::vector<double> y(x.size(), 0.0);
    for (std::size_t t = 0; t < h.size(); ++t) {
        if (h[t] == 0.0) continue;
        for (std::size_t i = t; i < x.size(); ++i) y[i] += h[t] * x[i - t];
    }
    return std::vector<float>(y.begin(), y.end());
}

struct Gespraech {
    std::vector<float> fern;   // reference: the far end as played
    std::vector<float> echo;   // the far end as it reaches the microphone
    std::vector<float> nah;    // the near end's own voice
    std::vector<float> mikro;  // echo + near end + noise
};

// `nahAb`/`nahBis`: the near end speaks only in [nahAb, nahBis) seconds (empty: never).
inline Gespraech gespraech(double sekunden, int verzoegerungSamples, unsigned seed,
                           double nahAb = 0.0, double nahBis = 0.0, double rauschen = 1e-4) {
    const auto n = static_cast<std::size_t>(sekunden * 16000.0);
    Gespraech g;
    g.fern = sprachAehnlich(n, seed, 0.6);
    g.echo = falten(g.fern, raumAntwort(verzoegerungSamples, 0.5, 1024, seed + 1));
    g.nah = sprachAehnlich(n, seed + 2, 0.5);
    const auto ab = static_cast<std::size_t>(nahAb * 16000.0);
    const auto bis = static_cast<std::size_t>(nahBis * 16000.0);
    for (std::size_t i = 0; i < n; ++i) {
        if (i < ab || i >= bis) g.nah[i] = 0.0f;
    }
    std::mt19937 zufall(seed + 3);
    std::normal_distribution<double> normal(0.0, rauschen);
    g.mikro.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        g.mikro[i] = static_cast<float>(g.echo[i] + g.nah[i] + normal(zufall));
    }
    return g;
}

// Energy ratio of a to b over [von, bis) samples, in dB.
inline double pegelDb(const std::vector<float>& a, const std::vector<float>& b, std::size_t von,
                      std::size_t bis) {
    double ea = 1e-30, eb = 1e-30;
    for (std::size_t i = von; i < bis; ++i) {
        ea += static_cast<double>(a[i]) * a[i];
        eb += static_cast<double>(b[i]) * b[i];
    }
    return 10.0 * std::log10(ea / eb);
}

}  // namespace hoerspur::test
