#include "platform/bgra_bild.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

namespace hoerspur {

namespace {
constexpr std::size_t kAusrichtungBytes = 64;
}

void BgraPuffer::setzeGroesse(std::int32_t breite, std::int32_t hoehe) {
    if (breite < 0 || hoehe < 0) throw std::invalid_argument("BgraPuffer: negative Groesse");
    const std::size_t bytes =
        static_cast<std::size_t>(breite) * static_cast<std::size_t>(hoehe) * 4;
    if (bytes > kapazitaetBytes_) {
        const std::size_t gerundet =
            (bytes + kAusrichtungBytes - 1) / kAusrichtungBytes * kAusrichtungBytes;
        void* p = std::aligned_alloc(kAusrichtungBytes, gerundet);
        if (p == nullptr) throw std::bad_alloc();
        daten_.reset(static_cast<std::uint8_t*>(p));
        kapazitaetBytes_ = gerundet;
    }
    breite_ = breite;
    hoehe_ = hoehe;
}

void BgraPuffer::fuelle(std::uint8_t blau, std::uint8_t gruen, std::uint8_t rot,
                        std::uint8_t alpha) {
    const std::size_t pixel = static_cast<std::size_t>(breite_) * static_cast<std::size_t>(hoehe_);
    if (pixel == 0) return;
    std::uint8_t* p = daten_.get();
    const std::uint8_t muster[4] = {blau, gruen, rot, alpha};
    std::memcpy(p, muster, 4);
    // Doubling copies: a few memcpy calls instead of one store per pixel.
    std::size_t gefuellt = 1;
    while (gefuellt < pixel) {
        const std::size_t n = std::min(gefuellt, pixel - gefuellt);
        std::memcpy(p + gefuellt * 4, p, n * 4);
        gefuellt += n;
    }
}

bool BgraPuffer::kopiereVon(const BgraBild& quelle) {
    if (quelle.breite != breite_ || quelle.hoehe != hoehe_ || quelle.pixel == nullptr) {
        return false;
    }
    const std::size_t zeile = static_cast<std::size_t>(breite_) * 4;
    if (quelle.zeilenBytes == zeilenBytes()) {
        std::memcpy(daten_.get(), quelle.pixel, zeile * static_cast<std::size_t>(hoehe_));
        return true;
    }
    for (std::int32_t y = 0; y < hoehe_; ++y) std::memcpy(this->zeile(y), quelle.zeile(y), zeile);
    return true;
}

}  // namespace hoerspur
