#include "platform/linux/aufnahme_uhr.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace hoerspur {
namespace {

constexpr double kRate = 48000;
constexpr double kStart = 1000.0;

// A stream read like the backend does: buffers of 1024 frames, a clock reading
// every 0.25 s. `wahreZeit(p)` is when frame p was really captured; readings
// carry `rauschen` seconds of uniform noise.
struct Strom {
    AufnahmeUhr uhr{kRate};
    std::mt19937 zufall{7};
    double position = 0;
    double rauschen = 0;
    std::vector<double> stempel;

    template <class Wahr>
    void laufe(double sekunden, Wahr wahreZeit) {
        std::uniform_real_distribution<double> r(-rauschen, rauschen);
        const double ende = position + sekunden * kRate;
        double naechsteLesung = position;
        while (position < ende) {
            if (position >= naechsteLesung) {
                const double jetzt = wahreZeit(position);
                uhr.messung(position, jetzt + r(zufall), jetzt);
                naechsteLesung += 0.25 * kRate;
            }
            stempel.push_back(uhr.zeitVon(position).value_or(NAN));
            position += 1024;
        }
    }

    // Largest |stamp[k+1] - stamp[k] - 1024 / rate| from index `ab` on.
    double groessterSprung(std::size_t ab = 1) const {
        double m = 0;
        for (std::size_t k = std::max<std::size_t>(ab, 1); k < stempel.size(); ++k) {
            m = std::max(m, std::abs(stempel[k] - stempel[k - 1] - 1024 / kRate));
        }
        return m;
    }
};

TEST(AufnahmeUhr, NothingBeforeTheFirstReading) {
    AufnahmeUhr uhr(kRate);
    EXPECT_FALSE(uhr.zeitVon(0).has_value());
    uhr.messung(4800, kStart + 0.1, kStart + 0.1);
    ASSERT_TRUE(uhr.zeitVon(0).has_value());
    EXPECT_NEAR(*uhr.zeitVon(0), kStart, 1e-9);
    EXPECT_NEAR(*uhr.zeitVon(48000), kStart + 1.0, 1e-9);
}

TEST(AufnahmeUhr, NoisyReadingsGiveContinuousStampsNearTheTruth) {
    Strom s;
    s.rauschen = 0.004;
    s.laufe(60, [](double p) { return kStart + p / kRate; });
    EXPECT_LT(s.groessterSprung(), 0.00003);
    EXPECT_NEAR(s.stempel.back(), kStart + (s.position - 1024) / kRate, 0.0015);
    EXPECT_EQ(s.uhr.spruenge(), 0);
}

TEST(AufnahmeUhr, FollowsADriftingDeviceClock) {
    // A device clock 60 ppm fast: after two minutes its sample count is 7 ms ahead.
    Strom s;
    s.rauschen = 0.0005;
    s.laufe(120, [](double p) { return kStart + p / (kRate * 1.00006); });
    EXPECT_LT(s.groessterSprung(), 0.00003);
    EXPECT_NEAR(s.stempel.back(), kStart + (s.position - 1024) / (kRate * 1.00006), 0.0015);
    EXPECT_EQ(s.uhr.spruenge(), 0);
}

TEST(AufnahmeUhr, ReadingsThatLagWhileASinkPlaysBarelyMoveTheStamps) {
    // Half a minute of readings 6 to 9 ms late, then exact ones again: the
    // frames themselves never moved, so neither may the stamps, beyond what a
    // timeline lets pass (5 ms).
    Strom s;
    s.laufe(5, [](double p) { return kStart + p / kRate; });
    s.rauschen = 0.0015;
    s.laufe(30, [](double p) { return kStart + 0.0075 + p / kRate; });
    s.rauschen = 0;
    s.laufe(30, [](double p) { return kStart + p / kRate; });
    for (std::size_t k = 0; k < s.stempel.size(); ++k) {
        ASSERT_NEAR(s.stempel[k], kStart + k * 1024 / kRate, 0.004) << k;
    }
    EXPECT_EQ(s.uhr.spruenge(), 0);
}

TEST(AufnahmeUhr, LostFramesBecomeOneJumpOnceConfirmed) {
    Strom s;
    s.rauschen = 0.001;
    s.laufe(5, [](double p) { return kStart + p / kRate; });
    const std::size_t vorher = s.stempel.size();
    // From here on 80 ms of audio are missing from the stream.
    s.laufe(5, [](double p) { return kStart + 0.08 + p / kRate; });
    EXPECT_EQ(s.uhr.spruenge(), 1);
    EXPECT_NEAR(s.stempel.back(), kStart + 0.08 + (s.position - 1024) / kRate, 0.002);
    // One step of 80 ms, nothing else.
    int schritte = 0;
    for (std::size_t k = vorher; k < s.stempel.size(); ++k) {
        if (std::abs(s.stempel[k] - s.stempel[k - 1] - 1024 / kRate) > 0.001) {
            ++schritte;
            EXPECT_NEAR(s.stempel[k] - s.stempel[k - 1] - 1024 / kRate, 0.08, 0.003);
        }
    }
    EXPECT_EQ(schritte, 1);
}

TEST(AufnahmeUhr, ShortRunsOfBadReadingsAreNotTaken) {
    AufnahmeUhr uhr(kRate);
    uhr.messung(0, kStart, kStart);
    // Two readings 30 ms off within 0.1 s, as right after a stream starts, then good ones.
    EXPECT_TRUE(uhr.messung(4800, kStart + 0.1 + 0.03, kStart + 0.1));
    EXPECT_TRUE(uhr.messung(9600, kStart + 0.2 + 0.03, kStart + 0.15));
    EXPECT_FALSE(uhr.messung(14400, kStart + 0.3, kStart + 0.3));
    EXPECT_EQ(uhr.spruenge(), 0);
    EXPECT_NEAR(*uhr.zeitVon(48000), kStart + 1.0, 1e-4);
    // Readings that disagree with each other never confirm a jump either.
    for (int i = 0; i < 20; ++i) {
        const double t = kStart + 1.0 + 0.1 * i;
        uhr.messung(t * kRate - kStart * kRate, t + (i % 2 == 0 ? 0.05 : -0.05), t);
    }
    EXPECT_EQ(uhr.spruenge(), 0);
    EXPECT_NEAR(*uhr.zeitVon(48000), kStart + 1.0, 1e-4);
}

TEST(AufnahmeUhr, AJumpCandidateForgottenByGoodReadingsIsNotConfirmedLater) {
    AufnahmeUhr uhr(kRate);
    uhr.messung(0, kStart, kStart);
    EXPECT_TRUE(uhr.messung(4800, kStart + 0.1 + 0.03, kStart + 0.1));
    EXPECT_FALSE(uhr.messung(9600, kStart + 0.2, kStart + 0.2));
    // Half a second later one reading near the old candidate: a new candidate,
    // not the confirmation of one that good readings had already dismissed.
    EXPECT_TRUE(uhr.messung(33600, kStart + 0.7 + 0.03, kStart + 0.7));
    EXPECT_EQ(uhr.spruenge(), 0);
    EXPECT_NEAR(*uhr.zeitVon(48000), kStart + 1.0, 1e-4);
}

TEST(AufnahmeUhr, IgnoresReadingsThatAreNotNumbers) {
    AufnahmeUhr uhr(kRate);
    uhr.messung(NAN, kStart, kStart);
    uhr.messung(0, INFINITY, kStart);
    EXPECT_FALSE(uhr.hatAnker());
    uhr.messung(0, kStart, kStart);
    uhr.messung(48000, NAN, kStart + 1);
    EXPECT_NEAR(*uhr.zeitVon(48000), kStart + 1.0, 1e-9);
}

}  // namespace
}  // namespace hoerspur
