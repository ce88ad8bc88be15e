#include "platform/linux/yuv_wandler.h"

namespace hoerspur {

namespace {

constexpr int koeffizient(double c) {
    return static_cast<int>(c * 256.0 + (c >= 0 ? 0.5 : -0.5));
}

// BT.709: Kr 0.2126, Kb 0.0722; luma scaled to 219 steps, chroma to 224.
constexpr double kKr = 0.2126, kKb = 0.0722, kKg = 1.0 - kKr - kKb;
constexpr int kYR = koeffizient(kKr * 219 / 255);
constexpr int kYG = koeffizient(kKg * 219 / 255);
constexpr int kYB = koeffizient(kKb * 219 / 255);
constexpr int kCbR = koeffizient(-kKr / (2 * (1 - kKb)) * 224 / 255);
constexpr int kCbB = koeffizient(0.5 * 224 / 255);
// Chosen so that the row sums to zero: grey stays without colour.
constexpr int kCbG = -kCbR - kCbB;
constexpr int kCrR = koeffizient(0.5 * 224 / 255);
constexpr int kCrB = koeffizient(-kKb / (2 * (1 - kKr)) * 224 / 255);
constexpr int kCrG = -kCrR - kCrB;

}  // namespace

void bgraZuYuv420(const BgraBild& quelle, std::uint8_t* y, int yZeile, std::uint8_t* cb,
                  int cbZeile, std::uint8_t* cr, int crZeile) {
    const int breite = quelle.breite, hoehe = quelle.hoehe;
    for (int zeile = 0; zeile < hoehe; ++zeile) {
        const std::uint8_t* __restrict s = quelle.zeile(zeile);
        std::uint8_t* __restrict z = y + static_cast<std::ptrdiff_t>(zeile) * yZeile;
        for (int x = 0; x < breite; ++x) {
            const int b = s[4 * x], g = s[4 * x + 1], r = s[4 * x + 2];
            z[x] = static_cast<std::uint8_t>(((kYR * r + kYG * g + kYB * b + 128) >> 8) + 16);
        }
    }
    for (int zeile = 0; zeile < hoehe / 2; ++zeile) {
        const std::uint8_t* __restrict s0 = quelle.zeile(2 * zeile);
        const std::uint8_t* __restrict s1 = quelle.zeile(2 * zeile + 1);
        std::uint8_t* __restrict u = cb + static_cast<std::ptrdiff_t>(zeile) * cbZeile;
        std::uint8_t* __restrict v = cr + static_cast<std::ptrdiff_t>(zeile) * crZeile;
        for (int x = 0; x < breite / 2; ++x) {
            const int b = (s0[8 * x] + s0[8 * x + 4] + s1[8 * x] + s1[8 * x + 4] + 2) >> 2;
            const int g = (s0[8 * x + 1] + s0[8 * x + 5] + s1[8 * x + 1] + s1[8 * x + 5] + 2) >> 2;
            const int r = (s0[8 * x + 2] + s0[8 * x + 6] + s1[8 * x + 2] + s1[8 * x + 6] + 2) >> 2;
            u[x] = static_cast<std::uint8_t>(((kCbR * r + kCbG * g + kCbB * b + 128) >> 8) + 128);
            v[x] = static_cast<std::uint8_t>(((kCrR * r + kCrG * g + kCrB * b + 128) >> 8) + 128);
        }
    }
}

}  // namespace hoerspur
