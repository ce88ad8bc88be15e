#include "recorder/capture/zeitachse.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "basis/ausgabe.h"
#include "tests/zeilen_mitschnitt.h"

namespace hoerspur {
namespace {

constexpr double RATE = 16000.0;
constexpr double NULL_S = 100.0;

// A "me" timeline at 16 kHz with zero time 100 s whose log lines are collected.
class ZeitachseTest : public ::testing::Test {
  protected:
    // Samples 1, 2, 3, ... so that what survives shows which part was kept.
    static std::vector<float> block(std::size_t n) {
        std::vector<float> b(n);
        std::iota(b.begin(), b.end(), 1.0f);
        return b;
    }

    // Places n samples captured at host time t, lasting n / 16000 s.
    std::vector<float> lege(std::size_t n, std::optional<double> t) {
        return zeit.einordnen(block(n), t, static_cast<double>(n) / RATE);
    }

    std::vector<std::string> logZeilen() { return mitschnitt_.logZeilen(); }

    static std::size_t fuehrendeNullen(const std::vector<float>& b) {
        std::size_t n = 0;
        while (n < b.size() && b[n] == 0.0f) ++n;
        return n;
    }

    Zeitachse zeit{"me", RATE, NULL_S};

  private:
    ZeilenMitschnitt mitschnitt_;  // declared first of the members below: outlives the capture
};

TEST_F(ZeitachseTest, LateFirstBlockIsPrecededBySilenceWithoutCounting) {
    const std::vector<float> aus = lege(1600, 100.25);
    ASSERT_EQ(aus.size(), 4000u + 1600u);
    EXPECT_EQ(fuehrendeNullen(aus), 4000u);
    EXPECT_EQ(aus[4000], 1.0f);
    EXPECT_EQ(zeit.geschrieben(), 5600);
    EXPECT_EQ(zeit.luecken(), 0);
    EXPECT_EQ(zeit.lueckenSamples(), 0);
    EXPECT_TRUE(logZeilen().empty());
}

TEST_F(ZeitachseTest, EarlyFirstBlockDiscardsAcrossBlocks) {
    // Begins 0.1 s (1600 samples) before the zero time: all of the first block and
    // 600 samples of the second go.
    EXPECT_TRUE(lege(1000, 99.9).empty());
    const std::vector<float> zweiter = lege(1000, 99.9 + 1000 / RATE);
    ASSERT_EQ(zweiter.size(), 400u);
    EXPECT_EQ(zweiter.front(), 601.0f);
    EXPECT_EQ(zeit.verworfen(), 1600);
    EXPECT_EQ(zeit.ueberlappungen(), 0);
    EXPECT_EQ(zeit.geschrieben(), 400);
    EXPECT_TRUE(logZeilen().empty());
}

TEST_F(ZeitachseTest, OverlapAddsToTheDiscardOfAnEarlyStart) {
    // 1600 samples before the zero time, only 1000 in the first block: 600 pending.
    EXPECT_TRUE(lege(1000, 99.9).empty());
    // The next block is 10 ms (160 samples) early as well: both discards apply.
    const std::vector<float> zweiter = lege(1000, 99.9 + 1000 / RATE - 0.010);
    ASSERT_EQ(zweiter.size(), 240u);
    EXPECT_EQ(zweiter.front(), 761.0f);
    EXPECT_EQ(zeit.verworfen(), 1760);
    EXPECT_EQ(zeit.ueberlappungen(), 1);
}

TEST_F(ZeitachseTest, JitterPassesAndDoesNotReanchor) {
    lege(1600, 100.0);
    // 3 ms late (48 samples) is within the 80-sample tolerance.
    EXPECT_EQ(lege(1600, 100.1 + 0.003), block(1600));
    EXPECT_EQ(zeit.luecken(), 0);
    // Measured against the durations, this block is 6 ms late, not 3 ms: the jittered
    // block moved the expected position by its duration only.
    const std::vector<float> aus = lege(1600, 100.2 + 0.006);
    EXPECT_EQ(fuehrendeNullen(aus), 96u);
    EXPECT_EQ(aus.size(), 96u + 1600u);
    EXPECT_EQ(zeit.luecken(), 1);
    EXPECT_EQ(zeit.lueckenSamples(), 96);
    EXPECT_EQ(logZeilen(), std::vector<std::string>{
                               "[hoerspur] Zeitachse me: Luecke 6.0 ms bei 0.20 s aufgefuellt"});
}

TEST_F(ZeitachseTest, GapReanchorsToTheMeasuredTime) {
    lege(1600, 100.0);
    EXPECT_EQ(fuehrendeNullen(lege(1600, 100.2)), 1600u);  // one lost block
    // The next block follows the late one directly: no second gap.
    EXPECT_EQ(lege(1600, 100.3), block(1600));
    EXPECT_EQ(zeit.luecken(), 1);
    EXPECT_EQ(zeit.geschrieben(), 3 * 1600 + 1600);
}

TEST_F(ZeitachseTest, EarlyBlockLosesItsOverlap) {
    lege(1600, 100.0);
    const std::vector<float> aus = lege(1600, 100.1 - 0.010);
    ASSERT_EQ(aus.size(), 1600u - 160u);
    EXPECT_EQ(aus.front(), 161.0f);
    EXPECT_EQ(zeit.ueberlappungen(), 1);
    EXPECT_EQ(zeit.verworfen(), 160);
    EXPECT_EQ(logZeilen(),
              std::vector<std::string>{
                  "[hoerspur] Zeitachse me: 10.0 ms Ueberlappung bei 0.10 s verworfen"});
}

TEST_F(ZeitachseTest, GapFirstCancelsPendingDiscard) {
    lege(1600, 100.0);
    // An empty block 100 samples early leaves 100 samples to discard.
    zeit.einordnen({}, 100.1 - 100 / RATE, 0.0);
    // 300 samples late against the re-anchored position: 100 cancel the pending
    // discard, 200 become silence, and the block itself stays whole.
    const std::vector<float> aus = lege(1600, 100.1 - 100 / RATE + 300 / RATE);
    EXPECT_EQ(fuehrendeNullen(aus), 200u);
    EXPECT_EQ(aus.size(), 200u + 1600u);
    EXPECT_EQ(zeit.lueckenSamples(), 200);
    EXPECT_EQ(zeit.verworfen(), 0);
    // Nothing is pending any more.
    EXPECT_EQ(lege(1600, 100.1 + 200 / RATE + 0.1), block(1600));
}

TEST_F(ZeitachseTest, LogLinesAreLimitedPerKindButAllCounted) {
    double t = 100.0;
    lege(1600, t);
    for (int i = 0; i < 25; ++i) {
        t += 0.1 + 0.010;  // 10 ms late
        lege(1600, t);
        t += 0.1 - 0.010;  // 10 ms early
        lege(1600, t);
    }
    EXPECT_EQ(zeit.luecken(), 25);
    EXPECT_EQ(zeit.ueberlappungen(), 25);
    int lueckenZeilen = 0;
    int ueberlappungsZeilen = 0;
    for (const std::string& z : logZeilen()) {
        if (z.find("Luecke") != std::string::npos) ++lueckenZeilen;
        if (z.find("Ueberlappung") != std::string::npos) ++ueberlappungsZeilen;
    }
    EXPECT_EQ(lueckenZeilen, 20);
    EXPECT_EQ(ueberlappungsZeilen, 20);
}

TEST_F(ZeitachseTest, UntimedBlocksBeforeTheAnchorPassUnchanged) {
    EXPECT_EQ(lege(1600, std::nullopt), block(1600));
    // Not a valid host time either: zero, negative, not finite.
    EXPECT_EQ(lege(100, 0.0), block(100));
    EXPECT_EQ(lege(100, -5.0), block(100));
    EXPECT_EQ(lege(100, std::numeric_limits<double>::quiet_NaN()), block(100));
    EXPECT_EQ(lege(100, std::numeric_limits<double>::infinity()), block(100));
    // Still unanchored. The first timed block lands at its own time, after the 2000
    // samples already handed out: 2000 zeros, not 4000.
    EXPECT_EQ(fuehrendeNullen(lege(1600, 100.25)), 2000u);
    EXPECT_EQ(zeit.geschrieben(), 4000 + 1600);
}

TEST_F(ZeitachseTest, UntimedBlocksAfterTheAnchorAdvanceIt) {
    lege(1600, 100.0);
    EXPECT_EQ(lege(1600, std::nullopt), block(1600));
    EXPECT_EQ(lege(1600, 100.2), block(1600));
    EXPECT_EQ(zeit.luecken(), 0);
}

TEST_F(ZeitachseTest, BrokenDurationOrTimeDoesNotDerailTheTimeline) {
    lege(1600, 100.0);
    // An unusable duration counts as the block's own length.
    zeit.einordnen(block(1600), 100.1, std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(lege(1600, 100.2), block(1600));
    // A time stamp millennia away is garbage, not a gap to fill.
    EXPECT_EQ(lege(1600, 1e300), block(1600));
    EXPECT_EQ(zeit.luecken(), 0);
    // Real gaps are still found.
    EXPECT_EQ(fuehrendeNullen(lege(1600, 100.5)), 1600u);
}

TEST_F(ZeitachseTest, CountersForTheReport) {
    lege(1600, 100.0);
    lege(1600, 100.1 + 0.0203);  // 324.8 samples late: 325 zeros, 20.3 ms
    lege(1600, 100.2 + 0.0203 - 0.012);
    EXPECT_EQ(zeit.luecken(), 1);
    EXPECT_EQ(zeit.lueckenSamples(), 325);
    EXPECT_EQ(zeit.ueberlappungen(), 1);
    EXPECT_EQ(zeit.verworfen(), 192);
}

}  // namespace
}  // namespace hoerspur
