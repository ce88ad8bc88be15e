#include "recorder/echo/echokompensation.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

#include "recorder/echo/avx2_klon.h"

namespace hoerspur {

namespace {

constexpr double PI = std::numbers::pi;

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

}  // namespace

Echokompensation::Echokompensation(int partitionen)
    : P_(partitionen),
      prior_(partitionen),
      fade_(N),
      fenster_(K),
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
      ar_(K),
      ai_(K),
      br_(K),
      bi_(K),
      prop_(partitionen),
      d_(N),
      yf_(N),
      ef_(N),
      yb_(N),
      eb_(N),
      aus_(N),
      eHist_(N),
      yHist_(N),
      ola_(N),
      gain_(H),
      restAvg_(H),
      rausch_(H),
      schlange_(NACHFILTER_BLOECKE),
      rho_(H) {
    if (partitionen < 1) throw std::invalid_argument("Echokompensation: partitionen < 1");
    for (int j = 0; j < P_; ++j) prior_[j] = std::exp(-j / 3.0);
    for (int i = 0; i < N; ++i) fade_[i] = 0.5 - 0.5 * std::cos(2.0 * PI * (256 + i) / 511.0);
    for (int i = 0; i < K; ++i) fenster_[i] = std::sqrt(0.5 - 0.5 * std::cos(2.0 * PI * i / 512.0));
    for (int k = 0; k < H; ++k) gain_[k] = 1.0;
}

void Echokompensation::echoSchaetzen(const DFeld& wr, const DFeld& wi, double* y) {
    double* __restrict ar = ar_.p();
    double* __restrict ai = ai_.p();
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
    double* wr = Wr_.p() + static_cast<std::size_t>(j) * K;
    double* wi = Wi_.p() + static_cast<std::size_t>(j) * K;
    double* t = br_.p();
    fft_.rueckReell(wr, wi, t, 0, N);
    fft_.vorReell(std::span<const double>(t, N), 0, wr, wi);
}

std::span<const double> Echokompensation::block(std::span<const double> mikro,
                                                std::span<const double> rahmen) {
    if (mikro.size() != static_cast<std::size_t>(N) ||
        rahmen.size() != static_cast<std::size_t>(K)) {
        throw std::invalid_argument("Echokompensation::block: Block 256 und Rahmen 512 Samples");
    }
    double* __restrict d = d_.p();
    double* __restrict yf = yf_.p();
    double* __restrict ef = ef_.p();
    double* __restrict yb = yb_.p();
    double* __restrict eb = eb_.p();

    bloecke_ += 1;

    // DC notch and pre-emphasis of the microphone.
    constexpr double R = 0.982;
    constexpr double DEN2 = R * R + 0.7 * (1.0 - R) * (1.0 - R);
    for (int i = 0; i < N; ++i) {
        const double v = mikro[i];
        const double vout = v + n0_;
        const double o = R * vout;
        n0_ = n1_ + 2.0 * (o - v);
        n1_ = v - DEN2 * vout;
        d[i] = o - 0.9 * preD_;
        preD_ = o;
    }

    // The oldest reference spectrum leaves the ring, the newest takes its slot.
    xKopf_ = (xKopf_ + P_) % (P_ + 1);
    fft_.vorReell(rahmen, 0, xr(0), xi(0));
    const double Sxx = quadratSumme(rahmen.data() + N, N);

    echoSchaetzen(Fr_, Fi_, yf);
    for (int i = 0; i < N; ++i) ef[i] = d[i] - yf[i];
    double Sff = quadratSumme(ef, N);

    if (screwed_ == 0) {
        double* __restrict prop = prop_.p();
        double* __restrict a = br_.p();
        for (int j = 0; j < P_; ++j) {
            fft_.rueckReell(Wr_.p() + static_cast<std::size_t>(j) * K,
                            Wi_.p() + static_cast<std::size_t>(j) * K, a, 0, N);
            prop[j] = std::sqrt(1.0 + K * quadratSumme(a, N));
        }
        double mx = prop[0];
        for (int j = 1; j < P_; ++j) mx = std::max(mx, prop[j]);
        double S = 0.0;
        for (int j = 0; j < P_; ++j) {
            prop[j] += 0.1 * mx + vorwissen * prior_[j];
            S += prop[j];
        }
        for (int j = 0; j < P_; ++j) prop[j] = 0.99 * prop[j] / S;

        const double* __restrict er = Er_.p();
        const double* __restrict ei = Ei_.p();
        const double* __restrict p1 = power1_.p();
        for (int j = 0; j < P_; ++j) {
            const std::size_t o = static_cast<std::size_t>(j) * K;
            gradientSchritt(Wr_.p() + o, Wi_.p() + o, xr(j + 1), xi(j + 1), er, ei, p1, prop[j], H);
        }
    }

    beschraenken(0);
    const int j2 = static_cast<int>(bloecke_ % std::max(P_ - 1, 1)) + 1;
    if (j2 < P_) beschraenken(j2);

    echoSchaetzen(Wr_, Wi_, yb);
    for (int i = 0; i < N; ++i) eb[i] = d[i] - yb[i];
    double See = quadratSumme(eb, N);
    const double Dbf =
        10.0 + summe(N, [yf, yb](int i) { return (yf[i] - yb[i]) * (yf[i] - yb[i]); });

    const double delta = Sff - See;
    Davg1_ = 0.6 * Davg1_ + 0.4 * delta;
    Davg2_ = 0.85 * Davg2_ + 0.15 * delta;
    Dvar1_ = 0.36 * Dvar1_ + 0.16 * Sff * Dbf;
    Dvar2_ = 0.7225 * Dvar2_ + 0.0225 * Sff * Dbf;

    const double* e = eb;
    const double* y = yb;
    if (delta * std::fabs(delta) > Sff * Dbf || Davg1_ * std::fabs(Davg1_) > 0.5 * Dvar1_ ||
        Davg2_ * std::fabs(Davg2_) > 0.25 * Dvar2_) {
        Davg1_ = Davg2_ = Dvar1_ = Dvar2_ = 0.0;
        for (int j = 0; j < P_; ++j) {
            const std::size_t o = static_cast<std::size_t>(j) * K;
            std::copy_n(Wr_.p() + o, H, Fr_.p() + o);
            std::copy_n(Wi_.p() + o, H, Fi_.p() + o);
        }
        vgKopien_ += 1;
        for (int i = 0; i < N; ++i) {
            yf[i] = fade_[i] * yf[i] + (1.0 - fade_[i]) * yb[i];
            ef[i] = d[i] - yf[i];
        }
        Sff = quadratSumme(ef, N);
    } else if (-delta * std::fabs(delta) > 4.0 * Sff * Dbf ||
               -Davg1_ * std::fabs(Davg1_) > 4.0 * Dvar1_ ||
               -Davg2_ * std::fabs(Davg2_) > 4.0 * Dvar2_) {
        for (int j = 0; j < P_; ++j) {
            const std::size_t o = static_cast<std::size_t>(j) * K;
            std::copy_n(Fr_.p() + o, H, Wr_.p() + o);
            std::copy_n(Fi_.p() + o, H, Wi_.p() + o);
        }
        Davg1_ = Davg2_ = Dvar1_ = Dvar2_ = 0.0;
        hgReset_ += 1;
        See = Sff;
        e = ef;
        y = yf;
    }

    // The output before the postfilter is d - y_f, which ef holds after any blending.
    const double* out0 = ef;

    const double Sey = summe(N, [e, y](int i) { return e[i] * y[i]; });
    const double Syy = quadratSumme(y, N);
    const double Sdd = quadratSumme(d, N);

    bool unbrauchbar = false;
    if (std::isfinite(Syy) && std::isfinite(See) && std::isfinite(Sff) &&
        Sff <= N * 10000.0 + Sdd) {
        screwed_ = 0;
    } else {
        screwed_ += 1;
        unbrauchbar = !std::isfinite(Syy);
        if (unbrauchbar || screwed_ >= 50) resetFilter();
    }

    // A block whose echo estimate is not a number teaches nothing: the reset has just
    // cleared the error spectrum and step sizes, and learning from this block would put
    // the non-numbers straight back into the filter on the next block.
    if (!unbrauchbar) naechsterSchritt(e, y, See, Syy, Sey, Sxx);

    double* __restrict aus = aus_.p();
    if (nachfilterAn) {
        nachfiltern(out0, yf, aus);
    } else {
        std::copy_n(out0, N, aus);
        letzteSprache_ = true;
    }

    for (int i = 0; i < N; ++i) {
        deM_ = aus[i] + 0.9 * deM_;
        aus[i] = deM_;
    }
    // Overflowed state would keep every later block from being a number.
    if (!std::all_of(aus, aus + N, [](double v) { return std::isfinite(v); })) heilen();
    return {aus, static_cast<std::size_t>(N)};
}

void Echokompensation::naechsterSchritt(const double* e, const double* y, double See, double Syy,
                                        double Sey, double Sxx) {
    See = std::max(See, N * 100.0 / 64.0);

    // Spectra of the error (for the next gradient step) and of the echo estimate.
    double* __restrict er = Er_.p();
    double* __restrict ei = Ei_.p();
    double* __restrict yr = br_.p();
    double* __restrict yi = bi_.p();
    fft_.vorReell(std::span<const double>(e, N), N, er, ei);
    fft_.vorReell(std::span<const double>(y, N), N, yr, yi);

    double* __restrict Rf = ar_.p();
    double* __restrict Yf = ai_.p();
    double* __restrict power = power_.p();
    double* __restrict Eh = Eh_.p();
    double* __restrict Yh = Yh_.p();
    const double* __restrict x0r = xr(0);
    const double* __restrict x0i = xi(0);
    const double glaett = 0.35 / P_;
    const double a = N / 16000.0;
    double PeyB = 0.0, PyyB = 0.0;
    for (int k = 0; k < H; ++k) {
        Rf[k] = er[k] * er[k] + ei[k] * ei[k];
        Yf[k] = yr[k] * yr[k] + yi[k] * yi[k];
        power[k] = (1.0 - glaett) * power[k] + 1.0 + glaett * (x0r[k] * x0r[k] + x0i[k] * x0i[k]);
        PeyB += (Rf[k] - Eh[k]) * (Yf[k] - Yh[k]);
        PyyB += (Yf[k] - Yh[k]) * (Yf[k] - Yh[k]);
        Eh[k] = a * Rf[k] + (1.0 - a) * Eh[k];
        Yh[k] = a * Yf[k] + (1.0 - a) * Yh[k];
    }
    PyyB = std::sqrt(PyyB);
    PeyB = PeyB / (PyyB + 1e-9);

    const double alpha = std::min(See * 0.5 * N / 16000.0, Syy * 2.0 * N / 16000.0) / See;
    Pyy_ = std::max(alpha * PyyB + (1.0 - alpha) * Pyy_, 1.0);
    Pey_ = std::max((1.0 - alpha) * Pey_ + alpha * PeyB, 0.005 * Pyy_);
    Pey_ = std::min(Pey_, Pyy_);
    leak_ = Pey_ / Pyy_;

    const double RER = std::min(
        0.5, std::max((1e-4 * Sxx + 3.0 * leak_ * Syy) / See, Sey * Sey / (See * Syy + 1.0)));

    if (!adapted_ && sumAdapt_ > P_ && Syy * 0.03 < Syy * leak_) adapted_ = true;

    double* __restrict p1 = power1_.p();
    if (adapted_) {
        for (int k = 0; k < H; ++k) {
            const double e1 = Rf[k] + 1.0;
            double r = std::min(0.5 * e1, leak_ * Yf[k]);
            r = 0.7 * r + 0.3 * RER * e1;
            p1[k] = r / (e1 * (power[k] + 10.0));
        }
    } else {
        const double rate =
            Sxx > N * 1000.0 ? std::min(startRate * Sxx, startRate * See) / See : 0.0;
        for (int k = 0; k < H; ++k) p1[k] = rate / (power[k] + 10.0);
        sumAdapt_ += rate;
    }
}

void Echokompensation::nachfiltern(const double* out0, const double* yf, double* aus) {
    constexpr int RING = NACHFILTER_BLOECKE;
    constexpr int BAND_LO = 10, BAND_HI = 128;
    constexpr int VORSCHAU = 16, HALT = 20;
    // The ring holds the block being output plus its look-ahead.
    static_assert(VORSCHAU == RING - 1);
    static_assert(N % 4 == 0);

    Eintrag& neu = schlange_[static_cast<std::size_t>((schlangeKopf_ + schlangeAnzahl_) % RING)];
    double* __restrict a = ar_.p();
    double* __restrict b = ai_.p();
    const double* __restrict w = fenster_.p();
    for (int i = 0; i < N; ++i) {
        a[i] = eHist_[i] * w[i];
        a[N + i] = out0[i] * w[N + i];
        b[i] = yHist_[i] * w[i];
        b[N + i] = yf[i] * w[N + i];
    }
    std::copy_n(out0, N, eHist_.p());
    std::copy_n(yf, N, yHist_.p());
    double* __restrict yr = br_.p();
    double* __restrict yi = bi_.p();
    fft_.vorReell(std::span<const double>(a, K), 0, neu.er.data(), neu.ei.data());
    fft_.vorReell(std::span<const double>(b, K), 0, yr, yi);

    double* __restrict rausch = rausch_.p();
    double* __restrict restAvg = restAvg_.p();
    const double* __restrict rho = rho_.p();
    if (!rauschBereit_) {
        for (int k = 0; k < H; ++k) rausch[k] = neu.er[k] * neu.er[k] + neu.ei[k] * neu.ei[k] + 1.0;
        rauschBereit_ = true;
    }
    const double leakF = std::max(leak_, 0.0316227766);

    double sPe = 0.0, sPy = 0.0, sN = 0.0;
    for (int k = 0; k < H; ++k) {
        const double Pe = neu.er[k] * neu.er[k] + neu.ei[k] * neu.ei[k] + 1.0;
        const double Py = yr[k] * yr[k] + yi[k] * yi[k];
        if (Pe < 3.0 * rausch[k]) {
            rausch[k] = 0.95 * rausch[k] + 0.05 * Pe;
        } else {
            rausch[k] = 1.01 * rausch[k];
        }
        restAvg[k] = std::max(nachhall * restAvg[k], c * std::max(rho[k], leakF) * Py);
        neu.p[k] = Py;
        if (k >= BAND_LO && k <= BAND_HI) {
            sPe += Pe;
            sPy += Py;
            sN += rausch[k];
        }
    }
    std::copy_n(restAvg, H, neu.r.data());
    neu.nah = std::pow(10.0, theta / 10.0) * (sN + c * leakF * sPy) < sPe;
    neu.echo = sPy > 0.5 * sN;
    schlangeAnzahl_ += 1;
    if (neu.nah) schlangeNah_ += 1;
    tNach_ += 1;

    if (schlangeAnzahl_ < RING) {
        std::copy_n(ola_.p(), N, aus);
        ola_.null();
        letzteSprache_ = false;
        return;
    }

    const Eintrag& alt = schlange_[static_cast<std::size_t>(schlangeKopf_)];
    schlangeKopf_ = (schlangeKopf_ + 1) % RING;
    schlangeAnzahl_ -= 1;
    if (alt.nah) schlangeNah_ -= 1;
    const std::int64_t b0 = tNach_ - RING;
    letzteSprache_ = alt.nah;

    bool halten, gate;
    if (alt.nah) {
        nahZuletzt_ = b0;
        halten = true;
        gate = false;
    } else if (schlangeNah_ > 0) {
        // near-end speech within the look-ahead
        halten = true;
        gate = false;
    } else if (nahZuletzt_) {
        const std::int64_t s = b0 - *nahZuletzt_;
        halten = s <= HALT;
        gate = alt.echo && s > HALT;
    } else {
        halten = false;
        gate = alt.echo;
    }
    tor_ = gate;
    nahHalt_ = halten ? 1 : 0;

    if (gate) {
        double pmax = alt.p[0];
        for (int k = 1; k < H; ++k) pmax = std::max(pmax, alt.p[k]);
        const double schwelle = (pmax + 1e-9) * 0.001;
        double* __restrict rh = rho_.p();
        for (int k = 0; k < H; ++k) {
            if (alt.p[k] > schwelle) {
                double q = (alt.er[k] * alt.er[k] + alt.ei[k] * alt.ei[k] + 1.0 - rausch[k]) /
                           (alt.p[k] + 1e-9);
                if (q <= 0.0) q = 0.0;
                if (q > 4.0) q = 4.0;
                rh[k] += 0.05 * (q - rh[k]);
            }
        }
        torBloecke_ += 1;
    }
    if (halten) nahBloecke_ += 1;

    const double gmin = gate ? std::pow(10.0, -35.0 / 20.0) : std::pow(10.0, gminOffen / 20.0);
    const double gTor = std::pow(10.0, torDb / 20.0);
    double* __restrict gain = gain_.p();
    double* __restrict sr = ar_.p();
    double* __restrict si = ai_.p();
    for (int k = 0; k < H; ++k) {
        double g = 1.0 - alt.r[k] / (alt.er[k] * alt.er[k] + alt.ei[k] * alt.ei[k] + 1.0);
        g = std::max(g, gmin);
        g = std::min(g, 1.0);
        if (gate) g = std::min(g, gTor);
        if (g < gain[k]) {
            gain[k] = g;
        } else {
            gain[k] = 0.6 * gain[k] + 0.4 * g;
        }
        sr[k] = alt.er[k] * gain[k];
        si[k] = alt.ei[k] * gain[k];
    }
    double* __restrict s = br_.p();
    fft_.rueckReell(sr, si, s, 0, K);
    double* __restrict ola = ola_.p();
    for (int i = 0; i < N; ++i) {
        aus[i] = ola[i] + s[i] * w[i];
        ola[i] = s[N + i] * w[N + i];
    }
}

void Echokompensation::versetzen(int d, const RahmenQuelle& quelle) {
    auto schieben = [&](DFeld& re, DFeld& im) {
        const std::size_t teil = K;
        if (d >= P_ || d <= -P_) {
            re.null();
            im.null();
        } else if (d > 0) {
            for (int j = 0; j < P_; ++j) {
                const std::size_t ziel = static_cast<std::size_t>(j) * teil;
                if (j + d < P_) {
                    const std::size_t quelleOff = static_cast<std::size_t>(j + d) * teil;
                    std::copy_n(re.p() + quelleOff, teil, re.p() + ziel);
                    std::copy_n(im.p() + quelleOff, teil, im.p() + ziel);
                } else {
                    std::fill_n(re.p() + ziel, teil, 0.0);
                    std::fill_n(im.p() + ziel, teil, 0.0);
                }
            }
        } else if (d < 0) {
            for (int j = P_ - 1; j >= 0; --j) {
                const std::size_t ziel = static_cast<std::size_t>(j) * teil;
                if (j + d >= 0) {
                    const std::size_t quelleOff = static_cast<std::size_t>(j + d) * teil;
                    std::copy_n(re.p() + quelleOff, teil, re.p() + ziel);
                    std::copy_n(im.p() + quelleOff, teil, im.p() + ziel);
                } else {
                    std::fill_n(re.p() + ziel, teil, 0.0);
                    std::fill_n(im.p() + ziel, teil, 0.0);
                }
            }
        }
    };
    schieben(Wr_, Wi_);
    schieben(Fr_, Fi_);

    xKopf_ = 0;
    std::span<double> rahmen(br_.p(), K);
    for (int j = 0; j <= P_; ++j) {
        std::fill(rahmen.begin(), rahmen.end(), 0.0);
        quelle(j, rahmen);
        fft_.vorReell(rahmen, 0, xr(j), xi(j));
    }
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
    if (!allesEndlich(eHist_, N) || !allesEndlich(yHist_, N) || !allesEndlich(ola_, N)) {
        eHist_.null();
        yHist_.null();
        ola_.null();
    }
    if (!allesEndlich(gain_, H)) {
        for (int k = 0; k < H; ++k) gain_[k] = 1.0;
    }
    if (!allesEndlich(restAvg_, H)) restAvg_.null();
    if (!allesEndlich(rausch_, H)) rauschBereit_ = false;
    if (!allesEndlich(rho_, H)) rho_.null();
    for (Eintrag& e : schlange_) {
        for (auto* feld : {&e.er, &e.ei, &e.r, &e.p}) {
            for (double& v : *feld) {
                if (!std::isfinite(v)) v = 0.0;
            }
        }
    }
}

}  // namespace hoerspur
