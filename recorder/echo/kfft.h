// KFFT: complex FFT of one power-of-two length n in double precision on split arrays
// (one array of real parts, one of imaginary parts). Forward is unscaled,
// X[k] = sum x[t] e^(-2 pi i k t / n); inverse is scaled by 1/n, so rueck(vor(x)) = x.
// The real-signal forms give the same spectra for signals with a zero imaginary part, as
// bins 0 ... n/2 (the other bins are their complex conjugates, bin n-k = conj(bin k)).
//
// Plans come from FFTW, made once per length with FFTW_ESTIMATE (the same plan in every
// run, so results repeat bit for bit) and shared by all objects; making them is
// serialised by a lock. Each object owns its aligned scratch arrays, so one object must
// be used by one thread at a time, and different objects may run in parallel.
//
// Pointers passed in must hold n values (complex forms) or n/2 + 1 values (spectra of
// the real forms); they may alias none of the object's scratch.
#pragma once

#include <complex>
#include <cstddef>
#include <memory>
#include <span>

namespace hoerspur {

class KFFT {
  public:
    // Lengths 2^1 ... 2^MAX_LOG2N; anything else throws std::invalid_argument. Throws
    // std::runtime_error if FFTW cannot plan.
    static constexpr int MAX_LOG2N = 24;
    explicit KFFT(int log2n);
    ~KFFT();
    KFFT(const KFFT&) = delete;
    KFFT& operator=(const KFFT&) = delete;

    std::size_t n() const { return n_; }
    unsigned log2n() const { return log2n_; }

    // Complex transforms in place.
    void vor(double* re, double* im);
    void rueck(double* re, double* im);

    // Spectrum of the real signal that is zero except for `x` at positions
    // von ... von + x.size() - 1 (which must lie below n): bins 0 ... n/2 into re, im.
    void vorReell(std::span<const double> x, std::size_t von, double* re, double* im);
    // Inverse of the spectrum whose bins 0 ... n/2 are given (the rest taken as their
    // conjugates; the imaginary parts of bins 0 and n/2 are ignored), scaled by 1/n.
    // Writes the time samples von ... von + anzahl - 1 to x[0 ... anzahl - 1].
    void rueckReell(const double* re, const double* im, double* x, std::size_t von,
                    std::size_t anzahl);

    // The same two transforms with the spectrum kept in the object's own storage, as
    // interleaved complex bins 0 ... n/2, for work on long spectra that would otherwise
    // be copied to split arrays and back. The span stays valid for the object's life;
    // its contents until the next transform of this object.
    std::span<std::complex<double>> vorReellIntern(std::span<const double> x, std::size_t von);
    // Inverse of the spectrum now in that storage (the caller may have changed it).
    void rueckReellIntern(double* x, std::size_t von, std::size_t anzahl);

    struct Plaene;

  private:
    struct Puffer;

    // fest nach dem Bau
    std::size_t n_;
    unsigned log2n_;
    const Plaene* plaene_;
    bool inPlatz_;
    // scratch of this object
    std::unique_ptr<Puffer> puffer_;
};

}  // namespace hoerspur
