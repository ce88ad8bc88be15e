// Echokompensation: removes the far end's voice, played by the loudspeaker and picked up
// again, from the microphone. A partitioned-block frequency-domain adaptive filter of P
// partitions of 256 samples (FFT size 512) with a background filter that adapts every
// block and a foreground filter that makes the output, an adaptive per-bin step size from
// the estimated echo leakage, a DC notch and pre-emphasis on the microphone and
// de-emphasis on the output. Behind it runs an optional residual-echo postfilter with
// near-end speech detection (Nachfilter; its look-ahead makes the output 17 blocks late).
//
// Samples are doubles on the +-32768 scale at 16000 Hz. Thread: one thread at a time
// (the echo queue); no lock. All storage is made at construction; block() allocates
// nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "recorder/echo/dfeld.h"
#include "recorder/echo/kfft.h"
#include "recorder/echo/nachfilter.h"

namespace hoerspur {

class Echokompensation {
  public:
    static constexpr int N = 256;  // block length
    static constexpr int K = 512;  // FFT size
    static constexpr double RATE = 16000.0;
    // Lead-in the echo path leaves before the start of the echo: 3 blocks, in samples.
    static constexpr int vorlauf = 768;
    // Output latency of the postfilter's look-ahead, in blocks.
    static constexpr int NACHFILTER_BLOECKE = Nachfilter::VERZOEGERUNG;

    // Fills a reference frame of K samples for partition j = 0 ... P.
    using RahmenQuelle = std::function<void(int j, std::span<double> rahmen)>;

    explicit Echokompensation(int partitionen);

    // Processes one microphone block (N samples) against the reference frame (K
    // samples: previous and current aligned reference block, already pre-emphasised).
    // Returns N output samples, valid until the next call; letzteSprache() then tells
    // whether they hold near-end speech.
    std::span<const double> block(std::span<const double> mikro, std::span<const double> rahmen);

    // Shifts both filters by d partitions (d > 0: towards the start) and rebuilds the
    // reference history from the frames `quelle` gives for j = 0 ... P.
    void versetzen(int d, const RahmenQuelle& quelle);

    // Forgets the learned filters and returns to the start-up rate.
    void resetFilter();

    int P() const { return P_; }
    int verzoegerungBloecke() const { return nachfilterAn ? NACHFILTER_BLOECKE : 0; }
    bool letzteSprache() const { return letzteSprache_; }
    bool tor() const { return nachfilter_.tor(); }
    int nahHalt() const { return nachfilter_.nahHalt(); }
    double leak() const { return leak_; }
    bool adapted() const { return adapted_; }
    std::int64_t bloecke() const { return bloecke_; }
    std::int64_t vgKopien() const { return vgKopien_; }
    std::int64_t hgReset() const { return hgReset_; }
    std::int64_t resets() const { return resets_; }
    std::int64_t torBloecke() const { return nachfilter_.torBloecke(); }
    std::int64_t nahBloecke() const { return nachfilter_.nahBloecke(); }
    // The postfilter, for its tunables.
    Nachfilter& nachfilter() { return nachfilter_; }

    // Set before the first block; the system leaves everything below at its default.
    bool nachfilterAn = true;
    double vorwissen = 20.0;  // weight of the prior towards early partitions
    double startRate = 0.25;  // start-up learning rate factor

  private:
    static constexpr int H = K / 2 + 1;  // bins that carry a real signal's spectrum

    // The pair of error and echo estimate the next update learns from.
    struct Lernpaar {
        const double* e;
        const double* y;
        double See;
    };

    double* xr(int j) { return Xr_.p() + static_cast<std::size_t>((xKopf_ + j) % (P_ + 1)) * K; }
    double* xi(int j) { return Xi_.p() + static_cast<std::size_t>((xKopf_ + j) % (P_ + 1)) * K; }
    double* partition(DFeld& f, int j) { return f.p() + static_cast<std::size_t>(j) * K; }

    // Stages of block(), in order.
    void vorverarbeiten(std::span<const double> mikro);        // DC notch, pre-emphasis -> d_
    double referenzAufnehmen(std::span<const double> rahmen);  // new X_0; returns Sxx
    void adaptieren();                                         // proportional gradient step on W
    void beschraenkenReihum();                                 // constrain partition 0 and one more
    // Foreground/background decision after both estimates; may copy W to F (blending
    // the output) or F back to W. Returns the pair to learn from.
    Lernpaar zweiWege(double& Sff);
    // Divergence check; false when the block must teach nothing.
    bool pruefen(double Syy, double See, double Sff, double Sdd);
    // Error spectrum, leak estimate and step sizes for the next block.
    void naechsterSchritt(const Lernpaar& paar, double Syy, double Sey, double Sxx);
    // Spectra of the pair (the error's kept for the next gradient step), reference power,
    // and the leak estimate from how error and estimate power move together.
    void leckSchaetzen(const double* e, const double* y, double See, double Syy);

    // The N samples of the time-domain echo estimate of filter (wr, wi).
    void echoSchaetzen(const DFeld& wr, const DFeld& wi, double* y);
    void beschraenken(int j);
    // Puts state that overflowed back to its start values, so one bad block cannot
    // disable the canceller for the rest of the recording.
    void heilen();

    // fest nach dem Bau
    const int P_;
    DFeld prior_;
    DFeld fade_;

    // nur auf der Echo-Queue
    DFeld Xr_, Xi_;  // ring of P+1 reference spectra; frame j at slot (xKopf_ + j) mod (P+1)
    int xKopf_ = 0;
    DFeld Wr_, Wi_;  // background filter
    DFeld Fr_, Fi_;  // foreground filter
    DFeld power_, power1_;
    DFeld Er_, Ei_;
    DFeld Eh_, Yh_;
    double Pey_ = 1.0, Pyy_ = 1.0;
    double Davg1_ = 0.0, Davg2_ = 0.0, Dvar1_ = 0.0, Dvar2_ = 0.0;
    bool adapted_ = false;
    double sumAdapt_ = 0.0;
    double leak_ = 0.0;
    int screwed_ = 0;
    KFFT fft_;
    DFeld prop_;
    double n0_ = 0.0, n1_ = 0.0;
    double preD_ = 0.0;
    double deM_ = 0.0;
    bool letzteSprache_ = false;
    Nachfilter nachfilter_;

    std::int64_t bloecke_ = 0;
    std::int64_t vgKopien_ = 0;
    std::int64_t hgReset_ = 0;
    std::int64_t resets_ = 0;

    // Per-block signals of N samples: the preprocessed microphone, the foreground and
    // background estimates and errors, the output.
    DFeld d_, yf_, ef_, yb_, eb_, aus_;
    // scratch of the stages, valid within one call
    DFeld schaetzRe_, schaetzIm_;  // echoSchaetzen: summed spectrum (H)
    DFeld zeitBlock_;              // adaptieren, beschraenken: one partition in time (N)
    DFeld yRe_, yIm_;              // naechsterSchritt: spectrum of the echo estimate (H)
    DFeld Rf_, Yf_;                // naechsterSchritt: error and estimate power (H)
    DFeld rahmen_;                 // versetzen: one reference frame (K)
};

}  // namespace hoerspur
