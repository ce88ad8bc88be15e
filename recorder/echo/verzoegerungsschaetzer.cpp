#include "recorder/echo/verzoegerungsschaetzer.h"

#include <algorithm>
#include <cmath>
#include <complex>

#include "recorder/echo/avx2_klon.h"

namespace hoerspur {

namespace {

// Mean square, summed in four interleaved partial sums in a fixed order.
double mittlereLeistung(std::span<const double> x) {
    double s[4] = {0.0, 0.0, 0.0, 0.0};
    const std::size_t viertel = x.size() / 4 * 4;
    std::size_t t = 0;
    for (; t < viertel; t += 4) {
        for (std::size_t l = 0; l < 4; ++l) s[l] += x[t + l] * x[t + l];
    }
    for (; t < x.size(); ++t) s[0] += x[t] * x[t];
    return ((s[0] + s[1]) + (s[2] + s[3])) / static_cast<double>(x.size());
}

// The loops over the 65537 bins, as separate functions so that the compiler sees that
// the arrays do not overlap and vectorises them.
HS_AVX2_KLON void kreuzspektrum(const double* __restrict x, double* __restrict c,
                                double* __restrict betrag, std::size_t bins) {
    for (std::size_t k = 0; k < bins; ++k) {
        const double xr = x[2 * k], xi = x[2 * k + 1];
        const double dr = c[2 * k], di = c[2 * k + 1];
        const double re = dr * xr + di * xi;
        const double im = xr * di - dr * xi;
        c[2 * k] = re;
        c[2 * k + 1] = im;
        betrag[k] = std::sqrt(re * re + im * im);
    }
}

HS_AVX2_KLON void phasenTransform(double* __restrict c, const double* __restrict betrag,
                                  double rest, std::size_t bins) {
    for (std::size_t k = 0; k < bins; ++k) {
        const double nenner = betrag[k] + rest;
        c[2 * k] = c[2 * k] / nenner;
        c[2 * k + 1] = c[2 * k + 1] / nenner;
    }
}

// The largest value, at least 0; values that are not numbers are passed over. The
// largest value does not depend on the order of comparison, so four lanes give the
// same result as one.
double groesster(const double* v, std::size_t anzahl) {
    double m[4] = {0.0, 0.0, 0.0, 0.0};
    const std::size_t viertel = anzahl / 4 * 4;
    std::size_t k = 0;
    for (; k < viertel; k += 4) {
        for (std::size_t l = 0; l < 4; ++l) m[l] = v[k + l] > m[l] ? v[k + l] : m[l];
    }
    for (; k < anzahl; ++k) m[0] = v[k] > m[0] ? v[k] : m[0];
    return std::max(std::max(m[0], m[1]), std::max(m[2], m[3]));
}

}  // namespace

Verzoegerungsschaetzer::Verlauf::Verlauf() : speicher_(2 * static_cast<std::size_t>(FENSTER)) {}

void Verzoegerungsschaetzer::Verlauf::anhaengen(std::span<const double> block) {
    const std::size_t fenster = FENSTER;
    if (block.size() >= fenster) {
        std::copy(block.end() - fenster, block.end(), speicher_.begin());
        anfang_ = 0;
        ende_ = fenster;
        return;
    }
    if (ende_ + block.size() > speicher_.size()) {
        // Move the part that stays to the front: one copy per FENSTER samples fed.
        const std::size_t bleibt = std::min(ende_ - anfang_, fenster - block.size());
        std::copy(speicher_.begin() + static_cast<std::ptrdiff_t>(ende_ - bleibt),
                  speicher_.begin() + static_cast<std::ptrdiff_t>(ende_), speicher_.begin());
        anfang_ = 0;
        ende_ = bleibt;
    }
    std::copy(block.begin(), block.end(), speicher_.begin() + static_cast<std::ptrdiff_t>(ende_));
    ende_ += block.size();
    if (ende_ - anfang_ > fenster) anfang_ = ende_ - fenster;
}

std::span<const double> Verzoegerungsschaetzer::Verlauf::inhalt() const {
    return {speicher_.data() + anfang_, ende_ - anfang_};
}

Verzoegerungsschaetzer::Verzoegerungsschaetzer()
    : fftX_(LOG2_FFT),
      fftD_(LOG2_FFT),
      betrag_((std::ptrdiff_t{1} << LOG2_FFT) / 2 + 1),
      korrelation_(maxLag + 1) {}

std::optional<int> Verzoegerungsschaetzer::fuettern(std::span<const double> referenz,
                                                    std::span<const double> mikro) {
    x_.anhaengen(referenz);
    d_.anhaengen(mikro);
    // Saturating: a stream that never fills the window must not overflow the count.
    seit_ = static_cast<int>(
        std::min<std::size_t>(static_cast<std::size_t>(seit_) + referenz.size(), schritt));
    if (seit_ < schritt) return std::nullopt;
    if (x_.inhalt().size() < static_cast<std::size_t>(FENSTER)) return std::nullopt;
    seit_ = 0;
    return schaetzen();
}

std::optional<int> Verzoegerungsschaetzer::schaetzen() {
    const std::span<const double> x = x_.inhalt();
    const std::span<const double> d = d_.inhalt();

    if (mittlereLeistung(x.first(fen)) < MIN_REFERENZ_LEISTUNG) return std::nullopt;

    // Both signals are real, so their spectra are conjugate-symmetric: bins 0 ... n/2
    // carry everything, and the largest |C| over all bins is the largest over these.
    const std::span<std::complex<double>> X = fftX_.vorReellIntern(x.first(fen), 0);
    const std::span<std::complex<double>> D = fftD_.vorReellIntern(d, 0);
    const std::size_t bins = X.size();
    const auto* __restrict xs = reinterpret_cast<const double*>(X.data());
    auto* __restrict cs = reinterpret_cast<double*>(D.data());

    // C = D conj(X) into D's storage, |C| per bin, the phase transform C / (|C| + 1e-9 m).
    double* __restrict betrag = betrag_.p();
    kreuzspektrum(xs, cs, betrag, bins);
    phasenTransform(cs, betrag, 1e-9 * groesster(betrag, bins), bins);
    // Only the searched lags are needed from the inverse.
    double* dr = korrelation_.p();
    fftD_.rueckReellIntern(dr, 0, maxLag + 1);

    int spitze = 0;
    double p = std::fabs(dr[0]);
    for (int tau = 1; tau <= maxLag; ++tau) {
        const double v = std::fabs(dr[tau]);
        if (v > p) {
            p = v;
            spitze = tau;
        }
    }
    double q = 0.0;
    for (int tau = 0; tau <= maxLag; ++tau) {
        if (tau >= spitze - 48 && tau < spitze + 48) continue;
        q = std::max(q, std::fabs(dr[tau]));
    }
    // Written as "not at least" so that a correlation that is not a number (a silent
    // or non-finite stream gives 0/0) is rejected instead of accepted as lag 0.
    if (!(p >= 0.05) || !(p / (q + 1e-12) >= 1.5)) return std::nullopt;
    return uebernehmen(spitze);
}

std::optional<int> Verzoegerungsschaetzer::uebernehmen(int lagSamples) {
    if (anzahlSchaetzungen_ == MAX_SCHAETZUNGEN) {
        std::copy(schaetzungen_.begin() + 1, schaetzungen_.end(), schaetzungen_.begin());
        --anzahlSchaetzungen_;
    }
    schaetzungen_[anzahlSchaetzungen_++] = lagSamples;
    if (anzahlSchaetzungen_ < 3) return std::nullopt;

    // Insertion sort of at most five values (std::sort trips a false bounds warning).
    std::array<int, MAX_SCHAETZUNGEN> sortiert = schaetzungen_;
    for (int i = 1; i < anzahlSchaetzungen_; ++i) {
        const int v = sortiert[i];
        int j = i;
        for (; j > 0 && sortiert[j - 1] > v; --j) sortiert[j] = sortiert[j - 1];
        sortiert[j] = v;
    }
    const int mitte = anzahlSchaetzungen_ / 2;
    int median;
    if (anzahlSchaetzungen_ % 2 == 1) {
        median = sortiert[mitte];
    } else {
        median =
            static_cast<int>((static_cast<double>(sortiert[mitte - 1]) + sortiert[mitte]) / 2.0);
    }

    if (wert_ && std::abs(median - *wert_) <= 128) return std::nullopt;
    wert_ = median;
    return median;
}

}  // namespace hoerspur
