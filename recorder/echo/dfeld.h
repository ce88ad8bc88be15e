// DFeld: a fixed-size, zero-initialised array of doubles owned by one object, the storage
// of all spectra and work arrays of the echo path. The storage is 64-byte aligned so that
// vector loops and the FFT library see aligned data.
//
// Thread: none inside; the owner confines it to one thread at a time.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>

namespace hoerspur {

class DFeld {
  public:
    // Holds max(anzahl, 1) doubles, all 0.
    explicit DFeld(std::ptrdiff_t anzahl)
        : n_(static_cast<std::size_t>(std::max<std::ptrdiff_t>(anzahl, 1))), p_(belegen(n_)) {
        null();
    }
    DFeld(const DFeld&) = delete;
    DFeld& operator=(const DFeld&) = delete;
    DFeld(DFeld&&) noexcept = default;
    DFeld& operator=(DFeld&&) noexcept = default;

    std::size_t n() const { return n_; }
    double* p() { return p_.get(); }
    const double* p() const { return p_.get(); }
    double& operator[](std::size_t i) { return p_[i]; }
    double operator[](std::size_t i) const { return p_[i]; }
    void null() { std::fill_n(p_.get(), n_, 0.0); }

  private:
    struct Freigabe {
        void operator()(double* p) const { std::free(p); }
    };
    static constexpr std::size_t AUSRICHTUNG = 64;

    static std::unique_ptr<double[], Freigabe> belegen(std::size_t n) {
        if (n > (SIZE_MAX - AUSRICHTUNG) / sizeof(double)) throw std::bad_alloc();
        std::size_t bytes = (n * sizeof(double) + AUSRICHTUNG - 1) / AUSRICHTUNG * AUSRICHTUNG;
        auto* p = static_cast<double*>(std::aligned_alloc(AUSRICHTUNG, bytes));
        if (p == nullptr) throw std::bad_alloc();
        return std::unique_ptr<double[], Freigabe>(p);
    }

    // fest nach dem Bau
    std::size_t n_;
    std::unique_ptr<double[], Freigabe> p_;
};

}  // namespace hoerspur
