// Test helper: an RGB colour as the video tests compare pictures with it,
// 0 to 255 a channel.
#pragma once

namespace hoerspur {

struct Farbe {
    int rot, gruen, blau;
};

constexpr Farbe kSchwarz{0, 0, 0};

}  // namespace hoerspur
