#include "platform/linux/bild_skalierer.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace hoerspur {
namespace {

void setze(BgraPuffer& p, int x, int y, int b, int g, int r) {
    std::uint8_t* q = p.zeile(y) + 4 * x;
    q[0] = static_cast<std::uint8_t>(b);
    q[1] = static_cast<std::uint8_t>(g);
    q[2] = static_cast<std::uint8_t>(r);
    q[3] = 0;  // the server's pad byte
}

std::uint8_t kanal(BgraPuffer& p, int x, int y, int c) { return p.zeile(y)[4 * x + c]; }

TEST(BildSkalierer, ShrinksByAreaAndKeepsFlatColoursAndEdgesExact) {
    // Left half red, right half a one-pixel black and white checkerboard.
    BgraPuffer quelle(1920, 1080);
    for (int y = 0; y < 1080; ++y) {
        for (int x = 0; x < 1920; ++x) {
            const int v = (x + y) % 2 == 0 ? 255 : 0;
            if (x < 960) {
                setze(quelle, x, y, 0, 0, 200);
            } else {
                setze(quelle, x, y, v, v, v);
            }
        }
    }
    BgraPuffer ziel(1280, 800);
    ziel.fuelle(1, 2, 3, 4);
    BildSkalierer s;
    s.skaliere(quelle.bild(), ziel, 0, 40, 1280, 720);

    // Outside the rectangle nothing changed.
    EXPECT_EQ(kanal(ziel, 10, 39, 0), 1);
    EXPECT_EQ(kanal(ziel, 10, 760, 3), 4);
    std::uint64_t summe = 0;
    for (int y = 40; y < 760; ++y) {
        for (int x = 0; x < 1280; ++x) {
            EXPECT_EQ(kanal(ziel, x, y, 3), 255);
            if (x < 639) {
                ASSERT_EQ(kanal(ziel, x, y, 2), 200) << x << "," << y;
                ASSERT_EQ(kanal(ziel, x, y, 0), 0) << x << "," << y;
            }
            if (x > 640) {
                // Area weighting averages the checkerboard instead of sampling it.
                ASSERT_NEAR(kanal(ziel, x, y, 1), 127.5, 30) << x << "," << y;
                summe += kanal(ziel, x, y, 1);
            }
        }
    }
    EXPECT_NEAR(static_cast<double>(summe) / (639.0 * 720.0), 127.5, 1.0);
}

TEST(BildSkalierer, GrowsBilinearlyAndKeepsTheEdgePixels) {
    BgraPuffer quelle(4, 2);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 4; ++x) setze(quelle, x, y, 0, 0, x * 80);
    }
    BgraPuffer ziel(8, 4);
    BildSkalierer s;
    s.skaliere(quelle.bild(), ziel, 0, 0, 8, 4);
    // Edges keep the edge colour, the middle interpolates between neighbours.
    EXPECT_EQ(kanal(ziel, 0, 0, 2), 0);
    EXPECT_EQ(kanal(ziel, 7, 3, 2), 240);
    EXPECT_EQ(kanal(ziel, 1, 0, 2), 20);   // between 0 and 80, a quarter of the way
    EXPECT_EQ(kanal(ziel, 2, 0, 2), 60);   // three quarters of the way to 80
    EXPECT_EQ(kanal(ziel, 4, 2, 2), 140);  // three quarters from 80 to 160
}

}  // namespace
}  // namespace hoerspur
