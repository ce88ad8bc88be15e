#include "platform/linux/yuv_wandler.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

namespace hoerspur {
namespace {

struct Soll {
    int r, g, b;
};

// The exact BT.709 limited-range values of a colour.
std::array<double, 3> bt709(Soll c) {
    const double y = 0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b;
    return {16 + y * 219 / 255, 128 + (c.b - y) / 1.8556 * 224 / 255,
            128 + (c.r - y) / 1.5748 * 224 / 255};
}

TEST(YuvWandler, GivesBt709LimitedRangeWithinOneStep) {
    const Soll farben[] = {{255, 255, 255}, {0, 0, 0},     {128, 128, 128}, {255, 0, 0},
                           {0, 255, 0},     {0, 0, 255},   {230, 30, 30},   {20, 60, 160},
                           {250, 200, 10},  {13, 140, 120}};
    BgraPuffer bild(4, 2);
    std::uint8_t y[8], cb[2], cr[2];
    for (const Soll& f : farben) {
        // Left 2 × 2 block in the colour, right block black: chroma must not mix.
        bild.fuelle(0, 0, 0, 255);
        for (int z = 0; z < 2; ++z) {
            for (int x = 0; x < 2; ++x) {
                std::uint8_t* p = bild.zeile(z) + 4 * x;
                p[0] = static_cast<std::uint8_t>(f.b);
                p[1] = static_cast<std::uint8_t>(f.g);
                p[2] = static_cast<std::uint8_t>(f.r);
            }
        }
        bgraZuYuv420(bild.bild(), y, 4, cb, 2, cr, 2);
        const auto soll = bt709(f);
        EXPECT_NEAR(y[0], soll[0], 1.0) << f.r << "," << f.g << "," << f.b;
        EXPECT_NEAR(y[5], soll[0], 1.0);
        EXPECT_NEAR(cb[0], soll[1], 1.0) << f.r << "," << f.g << "," << f.b;
        EXPECT_NEAR(cr[0], soll[2], 1.0) << f.r << "," << f.g << "," << f.b;
        EXPECT_EQ(y[2], 16);
        EXPECT_EQ(cb[1], 128);
        EXPECT_EQ(cr[1], 128);
    }
    // Grey, black and white exactly.
    bild.fuelle(255, 255, 255, 255);
    bgraZuYuv420(bild.bild(), y, 4, cb, 2, cr, 2);
    EXPECT_EQ(y[0], 235);
    EXPECT_EQ(cb[0], 128);
    EXPECT_EQ(cr[0], 128);
}

}  // namespace
}  // namespace hoerspur
