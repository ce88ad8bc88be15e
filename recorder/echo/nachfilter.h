// Nachfilter: the residual-echo postfilter behind the echo canceller. It estimates per
// frequency bin the echo the adaptive filter left (from the canceller's own echo
// estimate, a learned residual ratio and a reverberation tail), tracks the background
// noise, decides per block whether the near end speaks (16 blocks of look-ahead, 20
// blocks of hold), suppresses far-end-only blocks strongly under a gate and applies
// smoothed Wiener-like gains on a 50 % overlapped square-root-Hann analysis and
// synthesis. Its output is 17 blocks late.
//
// Samples are doubles on the +-32768 scale at 16000 Hz, blocks of 256. Thread: one
// thread at a time (the echo queue); no lock. All storage is made at construction;
// filtern() allocates nothing.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "recorder/echo/dfeld.h"
#include "recorder/echo/kfft.h"

namespace hoerspur {

class Nachfilter {
  public:
    static constexpr int N = 256;                      // block length
    static constexpr int K = 512;                      // analysis frame, two blocks
    static constexpr int H = K / 2 + 1;                // bins of a real frame's spectrum
    static constexpr int VORSCHAU = 16;                // look-ahead in blocks
    static constexpr int HALT = 20;                    // hold after near-end speech, in blocks
    static constexpr int VERZOEGERUNG = VORSCHAU + 1;  // output latency in blocks

    Nachfilter();

    // Takes the cancelled block `out0` and the foreground echo estimate `yf` of the same
    // block (N samples each) with the canceller's leak estimate, and writes the block
    // that leaves the look-ahead now to `aus` (N samples; silence while it fills).
    void filtern(const double* out0, const double* yf, double leak, double* aus);

    // Puts state that overflowed back to its start values.
    void heilen();

    bool letzteSprache() const { return letzteSprache_; }  // near end in the block output
    bool tor() const { return tor_; }                      // that block was gated
    int nahHalt() const { return nahHalt_; }               // 1: in near-end speech or hold
    std::int64_t torBloecke() const { return torBloecke_; }
    std::int64_t nahBloecke() const { return nahBloecke_; }

    // Set before the first block; the system leaves them at their defaults.
    double c = 2.0;            // over-estimation of the residual echo
    double theta = 6.0;        // near-end detection margin, dB
    double nachhall = 0.75;    // per-block decay of the residual echo estimate
    double gminOffen = -12.0;  // gain floor outside the gate, dB
    double torDb = -25.0;      // gain ceiling under the gate, dB

  private:
    // One block waiting for its look-ahead.
    struct Eintrag {
        std::array<double, H> er, ei;  // spectrum of the analysis frame
        std::array<double, H> r;       // residual echo estimate
        std::array<double, H> p;       // echo estimate power
        bool nah = false;
        bool echo = false;
    };

    // Spectra of the new block, noise and residual estimates, and its near/echo flags.
    void analysieren(const double* out0, const double* yf, double leak, Eintrag& neu);
    // Hold and gate for the block leaving the look-ahead; sets tor_ and nahHalt_.
    void haltUndTor(const Eintrag& alt);
    // Learns the residual ratio from a gated block.
    void rhoLernen(const Eintrag& alt);
    // Smoothed gains applied to the block's spectrum, overlap-added into `aus`.
    void synthetisieren(const Eintrag& alt, double* aus);

    // fest nach dem Bau
    DFeld fenster_;  // square root of the periodic Hann window, K samples
    KFFT fft_;

    // nur auf der Echo-Queue
    DFeld eHist_, yHist_, ola_;  // previous block of out0 and yf; synthesis tail
    DFeld gain_, restAvg_, rausch_, rho_;
    bool rauschBereit_ = false;
    int nahHalt_ = 0;
    bool tor_ = false;
    bool letzteSprache_ = false;
    std::vector<Eintrag> schlange_;  // ring of VERZOEGERUNG entries
    int schlangeKopf_ = 0;
    int schlangeAnzahl_ = 0;
    int schlangeNah_ = 0;  // entries in the ring with nah set
    std::optional<std::int64_t> nahZuletzt_;
    std::int64_t tNach_ = 0;
    std::int64_t torBloecke_ = 0;
    std::int64_t nahBloecke_ = 0;

    // scratch of the stages, valid within one call
    DFeld rahmenE_, rahmenY_;  // windowed analysis frames (K)
    DFeld yRe_, yIm_;          // spectrum of the echo estimate frame (H)
    DFeld pe_;                 // power of the new frame + 1 (H)
    DFeld sRe_, sIm_;          // spectrum after the gains (H)
    DFeld synthese_;           // inverse of it (K)
};

}  // namespace hoerspur
