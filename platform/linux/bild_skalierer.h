// Scales a BGRX picture into a rectangle of a BGRA picture: area-weighted when
// shrinking (every source pixel counts with the share of it that an output pixel
// covers, so text stays legible), bilinear when growing. The fourth byte of the
// source is ignored; the output is opaque.
//
// Fixed point throughout (weights in 1/256); flat colours come out exactly. The
// weights and one row of scratch space are made when the sizes change, not per
// picture. Not thread-safe; one owner.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/bgra_bild.h"

namespace hoerspur {

class BildSkalierer {
  public:
    // Scales `quelle` into the rectangle (zielX, zielY, zielBreite × zielHoehe)
    // of `ziel`, which must lie inside it.
    void skaliere(const BgraBild& quelle, BgraPuffer& ziel, int zielX, int zielY, int zielBreite,
                  int zielHoehe);

  private:
    // For each output position: first source index and `taps` weights summing
    // to 256.
    struct Achse {
        int quelle = 0;
        int ziel = 0;
        int taps = 0;
        std::vector<int> start;
        std::vector<std::uint16_t> gewichte;
    };
    static void berechne(Achse& a, int quelle, int ziel);

    Achse waagerecht_;
    Achse senkrecht_;
    std::vector<std::uint16_t> zeile_;  // one source row after the vertical pass, 4 per pixel
};

}  // namespace hoerspur
