#include "recorder/echo/nachfilter.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <span>

#include "recorder/echo/avx2_klon.h"

namespace hoerspur {

namespace {

// Detection band, bins 10 ... 128 (312.5 ... 4000 Hz): where speech carries its energy
// and the room and loudspeaker are least coloured.
constexpr int BAND_LO = 10;
constexpr int BAND_HI = 128;
// A bin below 3 x the noise estimate holds noise and updates it; a busier bin holds a
// voice, and the estimate only creeps up (1 % per block) so that steady noise that
// starts loud is still learned.
constexpr double RAUSCH_BESETZT = 3.0;
constexpr double RAUSCH_BEHALTEN = 0.95;
constexpr double RAUSCH_NEU = 0.05;
constexpr double RAUSCH_ANSTIEG = 1.01;
// The residual is never taken as less than 10^-1.5 of the echo estimate: a leak
// estimate near zero would otherwise switch the suppression off.
constexpr double LEAK_MIN = 0.0316227766;
// A block carries echo when the echo estimate in the band reaches half the noise.
constexpr double ECHO_SCHWELLE = 0.5;
// The residual ratio learns at 5 % per gated block, only in bins that carry at least
// 0.1 % of the block's strongest echo estimate, and never beyond 4.
constexpr double RHO_RATE = 0.05;
constexpr double RHO_MIN_ANTEIL = 0.001;
constexpr double RHO_MAX = 4.0;
// Gain floor under the gate: far-end-only blocks are suppressed hard but not muted.
constexpr double TOR_BODEN_DB = -35.0;
// Gains fall at once (a residual must not leak through at an echo onset) and rise
// with 40 % per block (no musical noise from gains jumping up and down).
constexpr double FREIGABE_BEHALTEN = 0.6;
constexpr double FREIGABE_NEU = 0.4;

static_assert(Nachfilter::N % 4 == 0);

// The per-bin loops as separate functions over non-overlapping arrays, so that they
// vectorise; sums over bins stay outside them, in their fixed order.

// Per bin: power of the frame (+1) and of the echo estimate, noise tracking, residual
// echo estimate.
HS_AVX2_KLON void binsAnalysieren(const double* __restrict er, const double* __restrict ei,
                                  const double* __restrict yr, const double* __restrict yi,
                                  const double* __restrict rho, double* __restrict rausch,
                                  double* __restrict restAvg, double* __restrict pe,
                                  double* __restrict py, double nachhall, double c, double leakF) {
    for (int k = 0; k < Nachfilter::H; ++k) {
        const double Pe = er[k] * er[k] + ei[k] * ei[k] + 1.0;
        const double Py = yr[k] * yr[k] + yi[k] * yi[k];
        rausch[k] = Pe < RAUSCH_BESETZT * rausch[k] ? RAUSCH_BEHALTEN * rausch[k] + RAUSCH_NEU * Pe
                                                    : RAUSCH_ANSTIEG * rausch[k];
        restAvg[k] = std::max(nachhall * restAvg[k], c * std::max(rho[k], leakF) * Py);
        pe[k] = Pe;
        py[k] = Py;
    }
}

HS_AVX2_KLON void rhoNachfuehren(const double* __restrict er, const double* __restrict ei,
                                 const double* __restrict p, const double* __restrict rausch,
                                 double* __restrict rho, double schwelle) {
    for (int k = 0; k < Nachfilter::H; ++k) {
        double q = (er[k] * er[k] + ei[k] * ei[k] + 1.0 - rausch[k]) / (p[k] + 1e-9);
        q = q <= 0.0 ? 0.0 : q;
        q = q > RHO_MAX ? RHO_MAX : q;
        rho[k] = p[k] > schwelle ? rho[k] + RHO_RATE * (q - rho[k]) : rho[k];
    }
}

// Gain per bin, falling at once and rising smoothed, applied to the spectrum.
HS_AVX2_KLON void verstaerken(const double* __restrict er, const double* __restrict ei,
                              const double* __restrict r, double* __restrict gain,
                              double* __restrict sr, double* __restrict si, double gmin,
                              double gDecke) {
    for (int k = 0; k < Nachfilter::H; ++k) {
        double g = 1.0 - r[k] / (er[k] * er[k] + ei[k] * ei[k] + 1.0);
        g = std::max(g, gmin);
        g = std::min(g, gDecke);
        gain[k] = g < gain[k] ? g : FREIGABE_BEHALTEN * gain[k] + FREIGABE_NEU * g;
        sr[k] = er[k] * gain[k];
        si[k] = ei[k] * gain[k];
    }
}

}  // namespace

Nachfilter::Nachfilter()
    : fenster_(K),
      fft_(9),
      eHist_(N),
      yHist_(N),
      ola_(N),
      gain_(H),
      restAvg_(H),
      rausch_(H),
      rho_(H),
      schlange_(VERZOEGERUNG),
      rahmenE_(K),
      rahmenY_(K),
      yRe_(H),
      yIm_(H),
      pe_(H),
      sRe_(H),
      sIm_(H),
      synthese_(K) {
    constexpr double PI = std::numbers::pi;
    for (int i = 0; i < K; ++i) fenster_[i] = std::sqrt(0.5 - 0.5 * std::cos(2.0 * PI * i / 512.0));
    for (int k = 0; k < H; ++k) gain_[k] = 1.0;
}

void Nachfilter::filtern(const double* out0, const double* yf, double leak, double* aus) {
    Eintrag& neu =
        schlange_[static_cast<std::size_t>((schlangeKopf_ + schlangeAnzahl_) % VERZOEGERUNG)];
    analysieren(out0, yf, leak, neu);
    schlangeAnzahl_ += 1;
    if (neu.nah) schlangeNah_ += 1;
    tNach_ += 1;

    if (schlangeAnzahl_ < VERZOEGERUNG) {
        std::copy_n(ola_.p(), N, aus);
        ola_.null();
        letzteSprache_ = false;
        return;
    }

    // The slot of the oldest entry is written again only by the next call.
    const Eintrag& alt = schlange_[static_cast<std::size_t>(schlangeKopf_)];
    schlangeKopf_ = (schlangeKopf_ + 1) % VERZOEGERUNG;
    schlangeAnzahl_ -= 1;
    if (alt.nah) schlangeNah_ -= 1;
    letzteSprache_ = alt.nah;

    haltUndTor(alt);
    if (tor_) {
        rhoLernen(alt);
        torBloecke_ += 1;
    }
    if (nahHalt_ == 1) nahBloecke_ += 1;
    synthetisieren(alt, aus);
}

void Nachfilter::analysieren(const double* out0, const double* yf, double leak, Eintrag& neu) {
    double* __restrict a = rahmenE_.p();
    double* __restrict b = rahmenY_.p();
    const double* __restrict w = fenster_.p();
    for (int i = 0; i < N; ++i) {
        a[i] = eHist_[i] * w[i];
        a[N + i] = out0[i] * w[N + i];
        b[i] = yHist_[i] * w[i];
        b[N + i] = yf[i] * w[N + i];
    }
    std::copy_n(out0, N, eHist_.p());
    std::copy_n(yf, N, yHist_.p());
    double* __restrict yr = yRe_.p();
    double* __restrict yi = yIm_.p();
    fft_.vorReell(std::span<const double>(a, K), 0, neu.er.data(), neu.ei.data());
    fft_.vorReell(std::span<const double>(b, K), 0, yr, yi);

    double* __restrict rausch = rausch_.p();
    double* __restrict restAvg = restAvg_.p();
    const double* __restrict rho = rho_.p();
    if (!rauschBereit_) {
        for (int k = 0; k < H; ++k) rausch[k] = neu.er[k] * neu.er[k] + neu.ei[k] * neu.ei[k] + 1.0;
        rauschBereit_ = true;
    }
    const double leakF = std::max(leak, LEAK_MIN);

    double* __restrict pe = pe_.p();
    binsAnalysieren(neu.er.data(), neu.ei.data(), yr, yi, rho, rausch, restAvg, pe, neu.p.data(),
                    nachhall, c, leakF);
    double sPe = 0.0, sPy = 0.0, sN = 0.0;
    for (int k = BAND_LO; k <= BAND_HI; ++k) {
        sPe += pe[k];
        sPy += neu.p[k];
        sN += rausch[k];
    }
    std::copy_n(restAvg, H, neu.r.data());
    // Near end: the residual exceeds noise plus the expected residual echo by theta dB.
    neu.nah = std::pow(10.0, theta / 10.0) * (sN + c * leakF * sPy) < sPe;
    neu.echo = sPy > ECHO_SCHWELLE * sN;
}

void Nachfilter::haltUndTor(const Eintrag& alt) {
    const std::int64_t b = tNach_ - VERZOEGERUNG;  // number of the block leaving now
    bool halten, gate;
    if (alt.nah) {
        nahZuletzt_ = b;
        halten = true;
        gate = false;
    } else if (schlangeNah_ > 0) {
        // near-end speech within the look-ahead
        halten = true;
        gate = false;
    } else if (nahZuletzt_) {
        const std::int64_t s = b - *nahZuletzt_;
        halten = s <= HALT;
        gate = alt.echo && s > HALT;
    } else {
        halten = false;
        gate = alt.echo;
    }
    tor_ = gate;
    nahHalt_ = halten ? 1 : 0;
}

void Nachfilter::rhoLernen(const Eintrag& alt) {
    double pmax = alt.p[0];
    for (int k = 1; k < H; ++k) pmax = std::max(pmax, alt.p[k]);
    const double schwelle = (pmax + 1e-9) * RHO_MIN_ANTEIL;
    rhoNachfuehren(alt.er.data(), alt.ei.data(), alt.p.data(), rausch_.p(), rho_.p(), schwelle);
}

void Nachfilter::synthetisieren(const Eintrag& alt, double* aus) {
    const double gmin =
        tor_ ? std::pow(10.0, TOR_BODEN_DB / 20.0) : std::pow(10.0, gminOffen / 20.0);
    const double gTor = std::pow(10.0, torDb / 20.0);
    // Under the gate the ceiling is gTor, otherwise 1.
    verstaerken(alt.er.data(), alt.ei.data(), alt.r.data(), gain_.p(), sRe_.p(), sIm_.p(), gmin,
                tor_ ? std::min(1.0, gTor) : 1.0);
    const double* __restrict sr = sRe_.p();
    const double* __restrict si = sIm_.p();
    double* __restrict s = synthese_.p();
    fft_.rueckReell(sr, si, s, 0, K);
    const double* __restrict w = fenster_.p();
    double* __restrict ola = ola_.p();
    for (int i = 0; i < N; ++i) {
        aus[i] = ola[i] + s[i] * w[i];
        ola[i] = s[N + i] * w[N + i];
    }
}

namespace {

bool allesEndlich(const DFeld& f) {
    for (std::size_t i = 0; i < f.n(); ++i) {
        if (!std::isfinite(f[i])) return false;
    }
    return true;
}

}  // namespace

void Nachfilter::heilen() {
    if (!allesEndlich(eHist_) || !allesEndlich(yHist_) || !allesEndlich(ola_)) {
        eHist_.null();
        yHist_.null();
        ola_.null();
    }
    if (!allesEndlich(gain_)) {
        for (int k = 0; k < H; ++k) gain_[k] = 1.0;
    }
    if (!allesEndlich(restAvg_)) restAvg_.null();
    if (!allesEndlich(rausch_)) rauschBereit_ = false;
    if (!allesEndlich(rho_)) rho_.null();
    for (Eintrag& e : schlange_) {
        for (auto* feld : {&e.er, &e.ei, &e.r, &e.p}) {
            for (double& v : *feld) {
                if (!std::isfinite(v)) v = 0.0;
            }
        }
    }
}

}  // namespace hoerspur
