// BGRA pictures to the encoder's YUV 4:2:0: BT.709 matrix, limited range
// (Y 16..235, Cb/Cr 16..240), each chroma sample the mean of its 2 × 2 pixels.
// Coefficients in 1/256 (within one step of the exact values; flat grey, black
// and white come out exactly). Reentrant; no allocation.
#pragma once

#include <cstdint>

#include "platform/bgra_bild.h"

namespace hoerspur {

// `quelle` must have even width and height; the planes hold breite × hoehe
// (Y) and breite/2 × hoehe/2 (Cb, Cr) samples with the given row strides.
void bgraZuYuv420(const BgraBild& quelle, std::uint8_t* y, int yZeile, std::uint8_t* cb,
                  int cbZeile, std::uint8_t* cr, int crZeile);

}  // namespace hoerspur
