// Echokompensation: removes the far end's voice, played by the loudspeaker and picked up
// again, from the microphone. A partitioned-block frequency-domain adaptive filter of P
// partitions of 256 samples (FFT size 512) with a background filter that adapts every
// block and a foreground filter that makes the output, an adaptive per-bin step size from
// the estimated echo leakage, a DC notch and pre-emphasis on the microphone and
// de-emphasis on the output. Behind it runs an optional residual-echo postfilter with
// near-end speech detection (16 blocks of look-ahead, so the output is 17 blocks late).
//
// Samples are doubles on the +-32768 scale at 16000 Hz. Thread: one thread at a time
// (the echo queue); no lock. All storage is made at construction; block() allocates
// nothing.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "recorder/echo/dfeld.h"
#include "recorder/echo/kfft.h"

namespace hoerspur {

class Echokompensation {
  public:
    static constexpr int N = 256;  // block length
    static constexpr int K = 512;  // FFT size
    static constexpr double RATE = 16000.0;
    // Lead-in the echo path leaves before the start of the echo: 3 blocks, in samples.
    static constexpr int vorlauf = 768;
    // Output latency of the postfilter's look-ahead, in blocks.
    static constexpr int NACHFILTER_BLOECKE = 17;

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
    bool tor() const { return tor_; }
    int nahHalt() const { return nahHalt_; }
    double leak() const { return leak_; }
    bool adapted() const { return adapted_; }
    std::int64_t bloecke() const { return bloecke_; }
    std::int64_t vgKopien() const { return vgKopien_; }
    std::int64_t hgReset() const { return hgReset_; }
    std::int64_t resets() const { return resets_; }
    std::int64_t torBloecke() const { return torBloecke_; }
    std::int64_t nahBloecke() const { return nahBloecke_; }

    // Set before the first block; the system leaves everything below at its default.
    bool nachfilterAn = true;
    double vorwissen = 20.0;   // weight of the prior towards early partitions
    double startRate = 0.25;   // start-up learning rate factor
    double c = 2.0;            // over-estimation of the residual echo
    double theta = 6.0;        // near-end detection margin, dB
    double nachhall = 0.75;    // per-block decay of the residual echo estimate
    double gminOffen = -12.0;  // gain floor outside the gate, dB
    double torDb = -25.0;      // gain ceiling under the gate, dB

  private:
    static constexpr int H = K / 2 + 1;  // bins that carry a real signal's spectrum

    // One block waiting for its look-ahead in the postfilter.
    struct Eintrag {
        std::array<double, H> er, ei;  // spectrum of the analysis frame
        std::array<double, H> r;       // residual echo estimate
        std::array<double, H> p;       // echo estimate power
        bool nah = false;
        bool echo = false;
    };

    double* xr(int j) { return Xr_.p() + static_cast<std::size_t>((xKopf_ + j) % (P_ + 1)) * K; }
    double* xi(int j) { return Xi_.p() + static_cast<std::size_t>((xKopf_ + j) % (P_ + 1)) * K; }
    // The N samples of the time-domain echo estimate of filter (wr, wi).
    void echoSchaetzen(const DFeld& wr, const DFeld& wi, double* y);
    void beschraenken(int j);
    // Error spectrum, leak estimate and step sizes for the next block, from the pair
    // (e, y) chosen for adaptation.
    void naechsterSchritt(const double* e, const double* y, double See, double Syy, double Sey,
                          double Sxx);
    void nachfiltern(const double* out0, const double* yf, double* aus);
    // Puts state that overflowed back to its start values, so one bad block cannot
    // disable the canceller for the rest of the recording.
    void heilen();

    // fest nach dem Bau
    const int P_;
    DFeld prior_;
    DFeld fade_;
    DFeld fenster_;

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
    DFeld ar_, ai_, br_, bi_;
    DFeld prop_;
    double n0_ = 0.0, n1_ = 0.0;
    double preD_ = 0.0;
    double deM_ = 0.0;
    // per-block arrays of N samples
    DFeld d_, yf_, ef_, yb_, eb_, aus_;

    // postfilter
    DFeld eHist_, yHist_, ola_;
    DFeld gain_, restAvg_, rausch_;
    bool rauschBereit_ = false;
    int nahHalt_ = 0;
    bool tor_ = false;
    bool letzteSprache_ = false;
    std::vector<Eintrag> schlange_;  // ring of NACHFILTER_BLOECKE entries
    int schlangeKopf_ = 0;
    int schlangeAnzahl_ = 0;
    int schlangeNah_ = 0;  // entries in the ring with nah set
    DFeld rho_;
    std::optional<std::int64_t> nahZuletzt_;
    std::int64_t tNach_ = 0;

    std::int64_t bloecke_ = 0;
    std::int64_t vgKopien_ = 0;
    std::int64_t hgReset_ = 0;
    std::int64_t torBloecke_ = 0;
    std::int64_t nahBloecke_ = 0;
    std::int64_t resets_ = 0;
};

}  // namespace hoerspur
