// Verzoegerungsschaetzer: how far the microphone lags behind the far-end reference, in
// samples at 16000 Hz. Every 8000 reference samples it correlates the oldest 2 s of a
// 2.8 s reference window with the whole microphone window (phase transform, lags 0 ...
// 0.8 s) and keeps the confident peaks; it reports the median of the last estimates
// whenever that moves by more than 128 samples (8 ms).
//
// Samples on the +-32768 scale. Thread: one thread at a time (the echo queue); no lock.
// All storage, about 5 MB of windows and spectra, is made at construction.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "recorder/echo/dfeld.h"
#include "recorder/echo/kfft.h"

namespace hoerspur {

class Verzoegerungsschaetzer {
  public:
    static constexpr int maxLag = 12800;
    static constexpr int fen = 32000;
    static constexpr int schritt = 8000;
    // Reference level below which nothing is correlated: 32768^2 x 1e-5 (-50 dBFS).
    static constexpr double MIN_REFERENZ_LEISTUNG = 10737.41824;

    Verzoegerungsschaetzer();

    // Feeds one reference block and the microphone block of the same moment (the echo
    // path passes 256 samples each). Returns the delay in samples when the reported
    // value changes, otherwise nullopt.
    std::optional<int> fuettern(std::span<const double> referenz, std::span<const double> mikro);

    // Takes one accepted lag estimate into the median; returns the delay when the
    // reported value changes. fuettern() calls it for every confident peak.
    std::optional<int> uebernehmen(int lagSamples);

    std::optional<int> wert() const { return wert_; }

  private:
    static constexpr int FENSTER = fen + maxLag;  // 44800 samples kept of each stream
    static constexpr int LOG2_FFT = 17;           // 131072 >= 32000 + 44800: no wrap-around
    static constexpr int MAX_SCHAETZUNGEN = 5;

    // The newest FENSTER samples of one stream, contiguous for the transform.
    class Verlauf {
      public:
        Verlauf();
        void anhaengen(std::span<const double> block);
        std::span<const double> inhalt() const;

      private:
        std::vector<double> speicher_;
        std::size_t anfang_ = 0;
        std::size_t ende_ = 0;
    };

    std::optional<int> schaetzen();

    // nur auf der Echo-Queue
    Verlauf x_;
    Verlauf d_;
    int seit_ = 0;
    std::array<int, MAX_SCHAETZUNGEN> schaetzungen_{};
    int anzahlSchaetzungen_ = 0;
    std::optional<int> wert_;
    // The two spectra stay in the transforms' own interleaved storage: at 131072 points
    // every pass over split copies costs more than the arithmetic on them.
    KFFT fftX_;
    KFFT fftD_;
    DFeld betrag_;       // |C| per bin
    DFeld korrelation_;  // lags 0 ... maxLag
};

}  // namespace hoerspur
