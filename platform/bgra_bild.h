// One picture of the window video: 32-bit pixels in memory order blue, green,
// red, alpha; rows top to bottom.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace hoerspur {

// A view of pixels that someone else owns; valid only as long as the owner says
// (a frame callback's picture only during the callback).
struct BgraBild {
    std::int32_t breite = 0;
    std::int32_t hoehe = 0;
    // Bytes from the start of one row to the start of the next, at least 4 × breite.
    std::int32_t zeilenBytes = 0;
    const std::uint8_t* pixel = nullptr;

    bool leer() const { return pixel == nullptr || breite <= 0 || hoehe <= 0; }
    const std::uint8_t* zeile(std::int32_t y) const {
        return pixel + static_cast<std::ptrdiff_t>(y) * zeilenBytes;
    }
};

// Storage for one picture, allocated when its size grows and reused frame after
// frame. Rows are packed (zeilenBytes = 4 × breite) and the storage is 64-byte
// aligned for vector code. Not thread-safe; one owner at a time.
class BgraPuffer {
  public:
    BgraPuffer() = default;
    BgraPuffer(std::int32_t breite, std::int32_t hoehe) { setzeGroesse(breite, hoehe); }

    // Allocates only when the new size needs more bytes than are held; the
    // content is unspecified afterwards.
    void setzeGroesse(std::int32_t breite, std::int32_t hoehe);
    // Every pixel the same colour.
    void fuelle(std::uint8_t blau, std::uint8_t gruen, std::uint8_t rot, std::uint8_t alpha);
    // Copies a picture of the same size; false (nothing copied) when sizes differ.
    bool kopiereVon(const BgraBild& quelle);

    std::int32_t breite() const { return breite_; }
    std::int32_t hoehe() const { return hoehe_; }
    std::int32_t zeilenBytes() const { return breite_ * 4; }
    std::uint8_t* daten() { return daten_.get(); }
    std::uint8_t* zeile(std::int32_t y) {
        return daten_.get() + static_cast<std::ptrdiff_t>(y) * zeilenBytes();
    }
    BgraBild bild() const { return BgraBild{breite_, hoehe_, breite_ * 4, daten_.get()}; }

  private:
    struct Freigabe {
        void operator()(std::uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<std::uint8_t, Freigabe> daten_;
    std::size_t kapazitaetBytes_ = 0;
    std::int32_t breite_ = 0;
    std::int32_t hoehe_ = 0;
};

}  // namespace hoerspur
