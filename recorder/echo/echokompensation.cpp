#include "recorder/echo/echokompensation.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

#include "recorder/echo/avx2_klon.h"

namespace hoerspur {

namespace {

constexpr double PI = std::numbers::pi;
constexpr int N = Echokompensation::N;
constexpr double RATE = Echokompensation::RATE;

// Microphone preprocessing: a DC notch of radius 0.982 (about 45 Hz wide) removes offset
// and hum below speech; pre-emphasis 0.9 (the reference gets the same in the echo path)
// whitens speech's falling spectrum so that the filter also learns the upper bands.
constexpr double NOTCH_RADIUS = 0.982;
constexpr double NOTCH_DEN2 =
    NOTCH_RADIUS * NOTCH_RADIUS + 0.7 * (1.0 - NOTCH_RADIUS) * (1.0 - NOTCH_RADIUS);
constexpr double EMPHASE = 0.9;
// Prior towards early partitions decays by e per 3 partitions (48 ms): rooms put most of
// their echo early.
constexpr double PRIOR_PARTITIONEN = 3.0;
// Every partition gets 10 % of the largest partition's step, so that one that is still
// empty can learn; the steps add up to 0.99, just below a full normalised step.
constexpr double PROP_GRUND = 0.1;
constexpr double PROP_SUMME = 0.99;
// Two-path statistics: a fast (0.6) and a slower (0.85) average of the foreground's
// excess error, with variances smoothed by the squares of the same factors.
constexpr double DAVG1_ALT = 0.6, DAVG1_NEU = 0.4, DVAR1_ALT = 0.36, DVAR1_NEU = 0.16;
constexpr double DAVG2_ALT = 0.85, DAVG2_NEU = 0.15, DVAR2_ALT = 0.7225, DVAR2_NEU = 0.0225;
// Floor of the estimates' difference energy: two nearly equal filters decide nothing.
constexpr double DBF_GRUND = 10.0;
// The background replaces the foreground when it is better beyond the statistics'
// spread (block, fast, slow average); the foreground goes back into the background only
// when the background is four times as far off: a diverging background is rare, a
// learning one often briefly worse.
constexpr double KOPIE_DAVG1 = 0.5;
constexpr double KOPIE_DAVG2 = 0.25;
constexpr double RUECK_FAKTOR = 4.0;
// Divergent: the foreground error exceeds the microphone by more than 10000 per sample
// (full-scale noise would); after 50 such blocks in a row the filters start over.
constexpr double DIVERGENZ_GRUND = N * 10000.0;
constexpr int DIVERGENZ_BLOECKE = 50;
// Error energy floor of a block, 100/64 per sample: silence must not make the rates huge.
constexpr double SEE_MIN = N * 100.0 / 64.0;
// Reference power per bin averaged over about P / 0.35 blocks (the filter's length).
constexpr double POWER_RATE = 0.35;
// Error and estimate spectra averaged over one second, for the leak estimate.
constexpr double SPEKTRUM_RATE = N / RATE;
// The leak estimate moves at most by half a block per second when the error dominates,
// twice as fast relative to the echo estimate's energy; it never falls below 0.5 % and
// the correlation powers not below 1.
constexpr double LEAK_RATE_SEE = 0.5;
constexpr double LEAK_RATE_SYY = 2.0;
constexpr double PYY_MIN = 1.0;
constexpr double PEY_MIN_ANTEIL = 0.005;
// Residual-to-error ratio: at least 1e-4 of the reference's energy (the filter is never
// perfect) plus three times the leaked echo, at most one half.
constexpr double RER_REFERENZ = 1e-4;
constexpr double RER_LEAK = 3.0;
constexpr double RER_MAX = 0.5;
// Start-up ends when the filter has taken P blocks' worth of rate and leaks over 3 %.
constexpr double ADAPTIERT_LEAK = 0.03;
// Adapted step per bin: the leaked echo, at most half the error, blended 70/30 with the
// block's residual-to-error ratio; the reference power gets 10 added so that quiet bins
// do not get huge steps.
constexpr double SCHRITT_DECKEL = 0.5;
constexpr double SCHRITT_LEAK = 0.7;
constexpr double SCHRITT_RER = 0.3;
constexpr double POWER_GRUND = 10.0;
// Start-up learns only while the reference has energy (1000 per sample, about -30 dBFS).
constexpr double START_SXX = N * 1000.0;

bool allesEndlich(const DFeld& f, std::size_t anzahl) {
    for (std::size_t i = 0; i < anzahl; ++i) {
        if (!std::isfinite(f[i])) return false;
    }
    return true;
}

// a += w * x, complex, bin by bin. Separate functions so that the compiler knows the
// arrays do not overlap and vectorises the loops.
HS_AVX2_KLON void komplexAkkumulieren(double* __restrict ar, double* __restrict ai,
                                      const double* __restrict wr, const double* __restrict wi,
                                      const double* __restrict xr, const double* __restrict xi,
                                      int anzahl) {
    for (int k = 0; k < anzahl; ++k) {
        ar[k] += wr[k] * xr[k] - wi[k] * xi[k];
        ai[k] += wr[k] * xi[k] + wi[k] * xr[k];
    }
}

// w += (pj * p1) * e * conj(x), bin by bin.
HS_AVX2_KLON void gradientSchritt(double* __restrict wr, double* __restrict wi,
                                  const double* __restrict xr, const double* __restrict xi,
                                  const double* __restrict er, const double* __restrict ei,
                                  const double* __restrict p1, double pj, int anzahl) {
    for (int k = 0; k < anzahl; ++k) {
        const double g = pj * p1[k];
        const double ger = g * er[k];
        const double gei = g * ei[k];
        wr[k] += ger * xr[k] + gei * xi[k];
        wi[k] += gei * xr[k] - ger * xi[k];
    }
}

// Per bin: error and echo estimate power, and the smoothed reference power.
HS_AVX2_KLON void leistungen(const double* __restrict er, const double* __restrict ei,
                             const double* __restrict yr, const double* __restrict yi,
                             const double* __restrict x0r, const double* __restrict x0i,
                             double* __restrict Rf, double* __restrict Yf, double* __restrict power,
                             double glaett, int anzahl) {
    for (int k = 0; k < anzahl; ++k) {
        Rf[k] = er[k] * er[k] + ei[k] * ei[k];
        Yf[k] = yr[k] * yr[k] + yi[k] * yi[k];
        power[k] = (1.0 - glaett) * power[k] + 1.0 + glaett * (x0r[k] * x0r[k] + x0i[k] * x0i[k]);
    }
}

// Sums over a block run in four interleaved partial sums, combined as (s0 + s1) +
// (s2 + s3): a fixed order, so results repeat bit for bit, without one long chain of
// dependent additions. `anzahl` is a multiple of 4.
template <typename Term>
double summe(int anzahl, Term term) {
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    for (int i = 0; i < anzahl; i += 4) {
        s0 += term(i);
        s1 += term(i + 1);
        s2 += term(i + 2);
        s3 += term(i + 3);
    }
    return (s0 + s1) + (s2 + s3);
}

double quadratSumme(const double* v, int anzahl) {
    return summe(anzahl, [v](int i) { return v[i] * v[i]; });
}

// Step size per bin once adapted: the leaked echo, at most a share of the error,
// blended with the block's residual-to-error ratio, normalised by the reference power.
HS_AVX2_KLON void schritteAdaptiert(const double* __restrict Rf, const double* __restrict Yf,
                                    const double* __restrict power, double* __restrict p1,
                                    double leak, double RER, int anzahl) {
    for (int k = 0; k < anzahl; ++k) {
        const double e1 = Rf[k] + 1.0;
        double r = std::min(SCHRITT_DECKEL * e1, leak * Yf[k]);
        r = SCHRITT_LEAK * r + SCHRITT_RER * RER * e1;
        p1[k] = r / (e1 * (power[k] + POWER_GRUND));
    }
}

}  // namespace

Echokompensation::Echokompensation(int partitionen)
    : P_(partitionen),
      prior_(partitionen),
      fade_(N),
      Xr_(static_cast<std::ptrdiff_t>(partitionen + 1) * K),
      Xi_(static_cast<std::ptrdiff_t>(partitionen + 1) * K),
      Wr_(static_cast<std::ptrdiff_t>(partitionen) * K),
      Wi_(static_cast<std::ptrdiff_t>(partitionen) * K),
      Fr_(static_cast<std::ptrdiff_t>(partitionen) * K),
      Fi_(static_cast<std::ptrdiff_t>(partitionen) * K),
      power_(K),
      power1_(K),
      Er_(K),
      Ei_(K),
      Eh_(K),
      Yh_(K),
      fft_(9),
      prop_(partitionen),
      d_(N),
      yf_(N),
      ef_(N),
      yb_(N),
      eb_(N),
      aus_(N),
      schaetzRe_(H),
      schaetzIm_(H),
      zeitBlock_(N),
      yRe_(H),
      yIm_(H),
      Rf_(H),
      Yf_(H),
      rahmen_(K) {
    if (partitionen < 1) throw std::invalid_argument("Echokompensation: partitionen < 1");
    for (int j = 0; j < P_; ++j) prior_[j] = std::exp(-j / PRIOR_PARTITIONEN);
    // Falling half of a Hann window: blends the foreground's estimate into the
    // background's over the block of a copy.
    for (int i = 0; i < N; ++i) fade_[i] = 0.5 - 0.5 * std::cos(2.0 * PI * (256 + i) / 511.0);
}

void Echokompensation::echoSchaetzen(const DFeld& wr, const DFeld& wi, double* y) {
    double* __restrict ar = schaetzRe_.p();
    double* __restrict ai = schaetzIm_.p();
    std::fill_n(ar, H, 0.0);
    std::fill_n(ai, H, 0.0);
    for (int j = 0; j < P_; ++j) {
        const std::size_t o = static_cast<std::size_t>(j) * K;
        komplexAkkumulieren(ar, ai, wr.p() + o, wi.p() + o, xr(j), xi(j), H);
    }
    // Overlap-save: the second half is the linear part.
    fft_.rueckReell(ar, ai, y, N, N);
}

void Echokompensation::beschraenken(int j) {
    double* wr = partition(Wr_, j);
    double* wi = partition(Wi_, j);
    double* t = zeitBlock_.p();
    fft_.rueckReell(wr, wi, t, 0, N);
    fft_.vorReell(std::span<const double>(t, N), 0, wr, wi);
}

std::span<const double> Echokompensation::block(std::span<const double> mikro,
                                                std::span<const double> rahmen) {
    if (mikro.size() != static_cast<std::size_t>(N) ||
        rahmen.size() != static_cast<std::size_t>(K)) {
        throw std::invalid_argument("Echokompensation::block: Block 256 und Rahmen 512 Samples");
    }
    bloecke_ += 1;
    vorverarbeiten(mikro);
    const double Sxx = referenzAufnehmen(rahmen);

    const double* __restrict d = d_.p();
    double* __restrict yf = yf_.p();
    double* __restrict ef = ef_.p();
    echoSchaetzen(Fr_, Fi_, yf);
    for (int i = 0; i < N; ++i) ef[i] = d[i] - yf[i];
    double Sff = quadratSumme(ef, N);

    if (screwed_ == 0) adaptieren();
    beschraenkenReihum();

    const Lernpaar paar = zweiWege(Sff);
    // The output before the postfilter is d - y_f, which ef holds after any blending.
    const double* out0 = ef;

    const double* __restrict e = paar.e;
    const double* __restrict y = paar.y;
    const double Sey = summe(N, [e, y](int i) { return e[i] * y[i]; });
    const double Syy = quadratSumme(y, N);
    const double Sdd = quadratSumme(d, N);
    if (pruefen(Syy, paar.See, Sff, Sdd)) naechsterSchritt(paar, Syy, Sey, Sxx);

    double* __restrict aus = aus_.p();
    if (nachfilterAn) {
        nachfilter_.filtern(out0, yf, leak_, aus);
        letzteSprache_ = nachfilter_.letzteSprache();
    } else {
        std::copy_n(out0, N, aus);
        letzteSprache_ = true;
    }

    // De-emphasis undoes the microphone's pre-emphasis.
    for (int i = 0; i < N; ++i) {
        deM_ = aus[i] + EMPHASE * deM_;
        aus[i] = deM_;
    }
    // Overflowed state would keep every later block from being a number.
    if (!std::all_of(aus, aus + N, [](double v) { return std::isfinite(v); })) heilen();
    return {aus, static_cast<std::size_t>(N)};
}

void Echokompensation::vorverarbeiten(std::span<const double> mikro) {
    double* __restrict d = d_.p();
    for (int i = 0; i < N; ++i) {
        const double v = mikro[i];
        const double vout = v + n0_;
        const double o = NOTCH_RADIUS * vout;
        n0_ = n1_ + 2.0 * (o - v);
        n1_ = v - NOTCH_DEN2 * vout;
        d[i] = o - EMPHASE * preD_;
        preD_ = o;
    }
}

double Echokompensation::referenzAufnehmen(std::span<const double> rahmen) {
    // The oldest reference spectrum leaves the ring, the newest takes its slot.
    xKopf_ = (xKopf_ + P_) % (P_ + 1);
    fft_.vorReell(rahmen, 0, xr(0), xi(0));
    return quadratSumme(rahmen.data() + N, N);
}

void Echokompensation::adaptieren() {
    // Step per partition proportional to its share of the filter, biased to the start.
    double* __restrict prop = prop_.p();
    double* __restrict a = zeitBlock_.p();
    for (int j = 0; j < P_; ++j) {
        fft_.rueckReell(partition(Wr_, j), partition(Wi_, j), a, 0, N);
        prop[j] = std::sqrt(1.0 + K * quadratSumme(a, N));
    }
    double mx = prop[0];
    for (int j = 1; j < P_; ++j) mx = std::max(mx, prop[j]);
    double S = 0.0;
    for (int j = 0; j < P_; ++j) {
        prop[j] += PROP_GRUND * mx + vorwissen * prior_[j];
        S += prop[j];
    }
    for (int j = 0; j < P_; ++j) prop[j] = PROP_SUMME * prop[j] / S;

    // Gradient with the previous block's error against the reference one frame older.
    const double* __restrict er = Er_.p();
    const double* __restrict ei = Ei_.p();
    const double* __restrict p1 = power1_.p();
    for (int j = 0; j < P_; ++j) {
        gradientSchritt(partition(Wr_, j), partition(Wi_, j), xr(j + 1), xi(j + 1), er, ei, p1,
                        prop[j], H);
    }
}

void Echokompensation::beschraenkenReihum() {
    // Partition 0 every block, the others in turn: each stays a filter of N taps.
    beschraenken(0);
    const int j2 = static_cast<int>(bloecke_ % std::max(P_ - 1, 1)) + 1;
    if (j2 < P_) beschraenken(j2);
}

Echokompensation::Lernpaar Echokompensation::zweiWege(double& Sff) {
    const double* __restrict d = d_.p();
    double* __restrict yf = yf_.p();
    double* __restrict ef = ef_.p();
    double* __restrict yb = yb_.p();
    double* __restrict eb = eb_.p();
    echoSchaetzen(Wr_, Wi_, yb);
    for (int i = 0; i < N; ++i) eb[i] = d[i] - yb[i];
    double See = quadratSumme(eb, N);
    const double Dbf =
        DBF_GRUND + summe(N, [yf, yb](int i) { return (yf[i] - yb[i]) * (yf[i] - yb[i]); });

    const double delta = Sff - See;
    Davg1_ = DAVG1_ALT * Davg1_ + DAVG1_NEU * delta;
    Davg2_ = DAVG2_ALT * Davg2_ + DAVG2_NEU * delta;
    Dvar1_ = DVAR1_ALT * Dvar1_ + DVAR1_NEU * Sff * Dbf;
    Dvar2_ = DVAR2_ALT * Dvar2_ + DVAR2_NEU * Sff * Dbf;

    if (delta * std::fabs(delta) > Sff * Dbf || Davg1_ * std::fabs(Davg1_) > KOPIE_DAVG1 * Dvar1_ ||
        Davg2_ * std::fabs(Davg2_) > KOPIE_DAVG2 * Dvar2_) {
        // The background is better: it becomes the foreground, blended in over the block.
        Davg1_ = Davg2_ = Dvar1_ = Dvar2_ = 0.0;
        for (int j = 0; j < P_; ++j) {
            std::copy_n(partition(Wr_, j), H, partition(Fr_, j));
            std::copy_n(partition(Wi_, j), H, partition(Fi_, j));
        }
        vgKopien_ += 1;
        for (int i = 0; i < N; ++i) {
            yf[i] = fade_[i] * yf[i] + (1.0 - fade_[i]) * yb[i];
            ef[i] = d[i] - yf[i];
        }
        Sff = quadratSumme(ef, N);
        return {eb, yb, See};
    }
    if (-delta * std::fabs(delta) > RUECK_FAKTOR * Sff * Dbf ||
        -Davg1_ * std::fabs(Davg1_) > RUECK_FAKTOR * Dvar1_ ||
        -Davg2_ * std::fabs(Davg2_) > RUECK_FAKTOR * Dvar2_) {
        // The background went astray: it starts again from the foreground.
        for (int j = 0; j < P_; ++j) {
            std::copy_n(partition(Fr_, j), H, partition(Wr_, j));
            std::copy_n(partition(Fi_, j), H, partition(Wi_, j));
        }
        Davg1_ = Davg2_ = Dvar1_ = Dvar2_ = 0.0;
        hgReset_ += 1;
        return {ef, yf, Sff};
    }
    return {eb, yb, See};
}

bool Echokompensation::pruefen(double Syy, double See, double Sff, double Sdd) {
    if (std::isfinite(Syy) && std::isfinite(See) && std::isfinite(Sff) &&
        Sff <= DIVERGENZ_GRUND + Sdd) {
        screwed_ = 0;
        return true;
    }
    screwed_ += 1;
    const bool unbrauchbar = !std::isfinite(Syy);
    if (unbrauchbar || screwed_ >= DIVERGENZ_BLOECKE) resetFilter();
    // A block whose echo estimate is not a number teaches nothing: the reset has just
    // cleared the error spectrum and step sizes, and learning from this block would put
    // the non-numbers straight back into the filter on the next block.
    return !unbrauchbar;
}

void Echokompensation::naechsterSchritt(const Lernpaar& paar, double Syy, double Sey, double Sxx) {
    const double See = std::max(paar.See, SEE_MIN);
    leckSchaetzen(paar.e, paar.y, See, Syy);
    const double RER =
        std::min(RER_MAX, std::max((RER_REFERENZ * Sxx + RER_LEAK * leak_ * Syy) / See,
                                   Sey * Sey / (See * Syy + 1.0)));

    if (!adapted_ && sumAdapt_ > P_ && Syy * ADAPTIERT_LEAK < Syy * leak_) adapted_ = true;

    const double* __restrict Rf = Rf_.p();
    const double* __restrict Yf = Yf_.p();
    const double* __restrict power = power_.p();
    double* __restrict p1 = power1_.p();
    if (adapted_) {
        schritteAdaptiert(Rf, Yf, power, p1, leak_, RER, H);
    } else {
        const double rate =
            Sxx > START_SXX ? std::min(startRate * Sxx, startRate * See) / See : 0.0;
        for (int k = 0; k < H; ++k) p1[k] = rate / (power[k] + POWER_GRUND);
        sumAdapt_ += rate;
    }
}

void Echokompensation::leckSchaetzen(const double* e, const double* y, double See, double Syy) {
    // Spectra of the error (for the next gradient step) and of the echo estimate.
    double* __restrict er = Er_.p();
    double* __restrict ei = Ei_.p();
    double* __restrict yr = yRe_.p();
    double* __restrict yi = yIm_.p();
    fft_.vorReell(std::span<const double>(e, N), N, er, ei);
    fft_.vorReell(std::span<const double>(y, N), N, yr, yi);

    double* __restrict Rf = Rf_.p();
    double* __restrict Yf = Yf_.p();
    double* __restrict power = power_.p();
    double* __restrict Eh = Eh_.p();
    double* __restrict Yh = Yh_.p();
    const double* __restrict x0r = xr(0);
    const double* __restrict x0i = xi(0);
    const double glaett = POWER_RATE / P_;
    const double a = SPEKTRUM_RATE;
    leistungen(er, ei, yr, yi, x0r, x0i, Rf, Yf, power, glaett, H);
    double PeyB = 0.0, PyyB = 0.0;
    for (int k = 0; k < H; ++k) {
        PeyB += (Rf[k] - Eh[k]) * (Yf[k] - Yh[k]);
        PyyB += (Yf[k] - Yh[k]) * (Yf[k] - Yh[k]);
        Eh[k] = a * Rf[k] + (1.0 - a) * Eh[k];
        Yh[k] = a * Yf[k] + (1.0 - a) * Yh[k];
    }
    PyyB = std::sqrt(PyyB);
    PeyB = PeyB / (PyyB + 1e-9);

    const double alpha =
        std::min(See * LEAK_RATE_SEE * N / RATE, Syy * LEAK_RATE_SYY * N / RATE) / See;
    Pyy_ = std::max(alpha * PyyB + (1.0 - alpha) * Pyy_, PYY_MIN);
    Pey_ = std::max((1.0 - alpha) * Pey_ + alpha * PeyB, PEY_MIN_ANTEIL * Pyy_);
    Pey_ = std::min(Pey_, Pyy_);
    leak_ = Pey_ / Pyy_;
}

void Echokompensation::versetzen(int d, const RahmenQuelle& quelle) {
    // Partition j takes partition j + d; partitions whose source lies outside the filter
    // become zero. Walking away from the side the contents come from, every source is
    // read before it is overwritten, for either sign of d.
    if (d != 0) {
        const int richtung = d > 0 ? 1 : -1;
        for (int n = 0, j = d > 0 ? 0 : P_ - 1; n < P_; ++n, j += richtung) {
            const int von = j + d;
            for (DFeld* f : {&Wr_, &Wi_, &Fr_, &Fi_}) {
                if (von >= 0 && von < P_) {
                    std::copy_n(partition(*f, von), K, partition(*f, j));
                } else {
                    std::fill_n(partition(*f, j), K, 0.0);
                }
            }
        }
    }

    xKopf_ = 0;
    std::span<double> rahmen(rahmen_.p(), K);
    for (int j = 0; j <= P_; ++j) {
        std::fill(rahmen.begin(), rahmen.end(), 0.0);
        quelle(j, rahmen);
        fft_.vorReell(rahmen, 0, xr(j), xi(j));
    }
    // The next gradient step would pair the old error with the new alignment.
    Er_.null();
    Ei_.null();
}

void Echokompensation::resetFilter() {
    Wr_.null();
    Wi_.null();
    Fr_.null();
    Fi_.null();
    power1_.null();
    Er_.null();
    Ei_.null();
    adapted_ = false;
    sumAdapt_ = 0.0;
    Pey_ = Pyy_ = 1.0;
    screwed_ = 0;
    resets_ += 1;
    heilen();
}

void Echokompensation::heilen() {
    if (!allesEndlich(power_, H)) power_.null();
    if (!allesEndlich(Eh_, H) || !allesEndlich(Yh_, H)) {
        Eh_.null();
        Yh_.null();
    }
    if (!std::isfinite(Davg1_) || !std::isfinite(Davg2_) || !std::isfinite(Dvar1_) ||
        !std::isfinite(Dvar2_)) {
        Davg1_ = Davg2_ = Dvar1_ = Dvar2_ = 0.0;
    }
    if (!std::isfinite(leak_)) leak_ = 0.0;
    if (!std::isfinite(n0_) || !std::isfinite(n1_) || !std::isfinite(preD_) ||
        !std::isfinite(deM_)) {
        n0_ = n1_ = preD_ = deM_ = 0.0;
    }
    nachfilter_.heilen();
}

}  // namespace hoerspur
