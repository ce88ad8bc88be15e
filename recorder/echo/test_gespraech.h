// Synthetic calls for the tests and benchmarks of the echo path: speech-like far-end and
// near-end signals (resonant noise under a syllable envelope with pauses), the far end
// reaching the microphone through a room response, and noise. Deterministic per seed.
//
// Samples are floats at 16000 Hz on the +-1 scale.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
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

// A voiced voice, closer to real speech than sprachAehnlich: syllables of 120 to 300 ms,
// most of them a glottal pulse train (gliding pitch of 90 to 220 Hz, falling spectrum)
// through three formants, some hissing noise, about a quarter pauses. Its strong
// spectral tilt and harmonics make an adaptive filter converge as slowly as on speech.
// Scaled to an RMS of 0.1 x `pegel` over the whole signal (with `pegel` 0.6 about
// -24 dBFS, peaks near full scale, as a loud far end plays).
inline std::vector<float> stimmhaft(std::size_t anzahl, unsigned seed, double pegel) {
    constexpr double PI = 3.14159265358979;
    std::mt19937 zufall(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_real_distribution<double> gleich(0.0, 1.0);
    struct Resonanz {
        double a1 = 0.0, a2 = 0.0, b1 = 0.0, b2 = 0.0;
        void setze(double f, double r) {
            b1 = 2.0 * r * std::cos(2.0 * PI * f / 16000.0);
            b2 = -r * r;
        }
        double schritt(double x) {
            const double y = (1.0 - b1 - b2) * x + b1 * a1 + b2 * a2;
            a2 = a1;
            a1 = y;
            return y;
        }
    };
    Resonanz f1, f2, f3, zisch;
    f3.setze(2700.0, 0.96);
    std::vector<double> v(anzahl);
    double huelle = 0.0, ziel = 0.0, phase = 0.0, f0 = 140.0, f0Ziel = 140.0;
    double g1 = 0.0, g2 = 0.0;  // glottal low-pass
    bool stimmhaftGerade = true;
    std::size_t silbeEnde = 0;
    for (std::size_t i = 0; i < anzahl; ++i) {
        if (i == silbeEnde) {
            silbeEnde = i + 1920 + static_cast<std::size_t>(2880.0 * gleich(zufall));
            const double wahl = gleich(zufall);
            ziel = wahl < 0.25 ? 0.0 : 0.4 + 0.6 * gleich(zufall);
            stimmhaftGerade = wahl < 0.85;
            f0Ziel = 90.0 + 130.0 * gleich(zufall);
            f1.setze(300.0 + 500.0 * gleich(zufall), 0.97);
            f2.setze(900.0 + 1400.0 * gleich(zufall), 0.97);
            zisch.setze(3000.0 + 3000.0 * gleich(zufall), 0.9);
        }
        huelle += (ziel - huelle) * 0.003;
        f0 += (f0Ziel - f0) * 0.0005;
        double quelle = 0.0;
        phase += f0 / 16000.0;
        if (phase >= 1.0) {
            phase -= 1.0;
            quelle = 1.0;
        }
        g1 = 0.95 * g1 + quelle;
        g2 = 0.95 * g2 + g1;
        const double rausch = normal(zufall);
        double y;
        if (stimmhaftGerade) {
            const double anregung = g2 * 0.05 + 0.02 * rausch;
            y = f3.schritt(f2.schritt(f1.schritt(anregung)) + 0.3 * f1.schritt(0.0));
        } else {
            y = zisch.schritt(rausch) * 0.3;
        }
        v[i] = huelle * y;
    }
    double summe = 0.0;
    for (double x : v) summe += x * x;
    const double rms = std::sqrt(summe / static_cast<double>(std::max<std::size_t>(anzahl, 1)));
    const double zielRms = 0.1 * pegel;
    std::vector<float> aus(anzahl);
    for (std::size_t i = 0; i < anzahl; ++i) {
        aus[i] = static_cast<float>(rms > 0.0 ? v[i] * zielRms / rms : 0.0);
    }
    return aus;
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
        h[static_cast<std::size_t>(verzoegerungSamples) + static_cast<std::size_t>(t)] +=
            direkt * 0.3 * normal(zufall) * std::exp(-t / 250.0);
    }
    return h;
}

// x convolved with h over the output samples [von, bis) (all of x by default). Zero taps
// are skipped, so long pure delays are cheap.
inline std::vector<float> falten(const std::vector<float>& x, const std::vector<double>& h,
                                 std::size_t von = 0, std::size_t bis = SIZE_MAX) {
    bis = std::min(bis, x.size());
    std::vector<double> y(x.size(), 0.0);
    for (std::size_t t = 0; t < h.size(); ++t) {
        if (h[t] == 0.0) continue;
        for (std::size_t i = std::max(t, von); i < bis; ++i) y[i] += h[t] * x[i - t];
    }
    return std::vector<float>(y.begin(), y.end());
}

struct Gespraech {
    std::vector<float> fern;   // reference: the far end as played
    std::vector<float> echo;   // the far end as it reaches the microphone
    std::vector<float> nah;    // the near end's own voice
    std::vector<float> mikro;  // echo + near end + noise
};

// A stretch of a call with one echo delay: until `bisSekunden`, the far end reaches the
// microphone `verzoegerungSamples` later (the same room each time, moved as a whole).
struct EchoAbschnitt {
    double bisSekunden;
    int verzoegerungSamples;
};

// Seconds [ab, bis) in which a voice speaks.
struct Zeitraum {
    double ab;
    double bis;
};

// A call of the given voices (as long as the call or longer): the far end reaches the
// microphone with the delays of `abschnitte`, the near end speaks in `nahZeiten`, noise
// of standard deviation `rauschen` (seeded with seed + 3) is added.
inline Gespraech gespraech(std::vector<float> fern, const std::vector<float>& nahStimme,
                           double sekunden, const std::vector<EchoAbschnitt>& abschnitte,
                           const std::vector<Zeitraum>& nahZeiten, unsigned seed, double rauschen) {
    const auto n =
        std::min({static_cast<std::size_t>(sekunden * 16000.0), fern.size(), nahStimme.size()});
    auto sample = [n](double s) { return std::min(n, static_cast<std::size_t>(s * 16000.0)); };
    Gespraech g;
    g.fern = std::move(fern);
    g.fern.resize(n);
    g.echo.assign(n, 0.0f);
    std::size_t von = 0;
    for (const EchoAbschnitt& a : abschnitte) {
        const std::size_t bis = sample(a.bisSekunden);
        const auto teil =
            falten(g.fern, raumAntwort(a.verzoegerungSamples, 0.5, 1024, seed + 1), von, bis);
        std::copy(teil.begin() + static_cast<std::ptrdiff_t>(von),
                  teil.begin() + static_cast<std::ptrdiff_t>(std::max(von, bis)),
                  g.echo.begin() + static_cast<std::ptrdiff_t>(von));
        von = std::max(von, bis);
    }
    g.nah.assign(n, 0.0f);
    for (const Zeitraum& z : nahZeiten) {
        for (std::size_t i = sample(z.ab); i < sample(z.bis); ++i) g.nah[i] = nahStimme[i];
    }
    std::mt19937 zufall(seed + 3);
    std::normal_distribution<double> normal(0.0, rauschen);
    g.mikro.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        g.mikro[i] = static_cast<float>(g.echo[i] + g.nah[i] + normal(zufall));
    }
    return g;
}

enum class Stimme { Rauschen, Stimmhaft };

// The same with synthetic voices of the kind `stimme` (sprachAehnlich or stimmhaft).
inline Gespraech gespraech(double sekunden, const std::vector<EchoAbschnitt>& abschnitte,
                           const std::vector<Zeitraum>& nahZeiten, unsigned seed,
                           double rauschen = 1e-4, Stimme stimme = Stimme::Rauschen) {
    const auto n = static_cast<std::size_t>(sekunden * 16000.0);
    auto stimmeErzeugen = [stimme](std::size_t anzahl, unsigned s, double pegel) {
        return stimme == Stimme::Stimmhaft ? stimmhaft(anzahl, s, pegel)
                                           : sprachAehnlich(anzahl, s, pegel);
    };
    std::vector<float> fern = stimmeErzeugen(n, seed, 0.6);
    const std::vector<float> nahStimme = stimmeErzeugen(n, seed + 2, 0.5);
    return gespraech(std::move(fern), nahStimme, sekunden, abschnitte, nahZeiten, seed, rauschen);
}

// `nahAb`/`nahBis`: the near end speaks only in [nahAb, nahBis) seconds (empty: never).
inline Gespraech gespraech(double sekunden, int verzoegerungSamples, unsigned seed,
                           double nahAb = 0.0, double nahBis = 0.0, double rauschen = 1e-4) {
    return gespraech(sekunden, {{sekunden, verzoegerungSamples}}, {{nahAb, nahBis}}, seed,
                     rauschen);
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
