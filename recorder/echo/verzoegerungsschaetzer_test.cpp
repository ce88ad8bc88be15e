#include "recorder/echo/verzoegerungsschaetzer.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <vector>

namespace hoerspur {
namespace {

// Feeds reference and microphone in blocks of 256 (as the echo path does) and records
// every reported value with the sample count at which it came.
struct Meldung {
    std::size_t nachSamples;
    int wert;
};

std::vector<Meldung> fuettere(Verzoegerungsschaetzer& v, const std::vector<double>& ref,
                              const std::vector<double>& mik) {
    std::vector<Meldung> meldungen;
    for (std::size_t i = 0; i + 256 <= ref.size(); i += 256) {
        std::span<const double> r(ref.data() + i, 256), m(mik.data() + i, 256);
        if (auto w = v.fuettern(r, m)) meldungen.push_back({i + 256, *w});
    }
    return meldungen;
}

std::vector<double> rauschen(std::size_t n, unsigned seed, double pegel) {
    std::mt19937 g(seed);
    std::normal_distribution<double> nd(0.0, pegel);
    std::vector<double> v(n);
    for (double& x : v) x = nd(g);
    return v;
}

std::vector<double> verzoegert(const std::vector<double>& x, std::size_t um) {
    std::vector<double> y(x.size(), 0.0);
    for (std::size_t i = um; i < x.size(); ++i) y[i] = x[i - um];
    return y;
}

TEST(Verzoegerungsschaetzer, FindsTheLagAfterThreeAcceptedEstimates) {
    const auto ref = rauschen(16000 * 8, 1, 3000.0);
    Verzoegerungsschaetzer v;
    const auto meldungen = fuettere(v, ref, verzoegert(ref, 2000));
    ASSERT_EQ(meldungen.size(), 1u);
    EXPECT_EQ(meldungen[0].wert, 2000);
    // Window full after 44800 samples, then two more steps of at least 8000, which
    // blocks of 256 reach after 8192.
    EXPECT_EQ(meldungen[0].nachSamples, 44800u + 2 * 8192u);
    EXPECT_EQ(v.wert(), 2000);
}

TEST(Verzoegerungsschaetzer, FollowsTheMicrophoneThroughARoomAndNoise) {
    const auto ref = rauschen(16000 * 10, 2, 2000.0);
    std::vector<double> mik(ref.size(), 0.0);
    const auto stoerung = rauschen(ref.size(), 3, 200.0);
    for (std::size_t i = 5100; i < ref.size(); ++i) {
        mik[i] = 0.4 * ref[i - 5000] + 0.2 * ref[i - 5030] - 0.1 * ref[i - 5100] + stoerung[i];
    }
    Verzoegerungsschaetzer v;
    fuettere(v, ref, mik);
    EXPECT_EQ(v.wert(), 5000);
}

TEST(Verzoegerungsschaetzer, StaysSilentWithoutAUsableSignal) {
    const std::size_t n = 16000 * 10;
    const auto laut = rauschen(n, 4, 3000.0);
    {
        SCOPED_TRACE("silent far end");
        Verzoegerungsschaetzer v;
        EXPECT_TRUE(fuettere(v, std::vector<double>(n, 0.0), laut).empty());
    }
    {
        SCOPED_TRACE("far end just below -50 dBFS");
        const auto leise = rauschen(n, 5, 100.0);  // mean square 10000 < 10737.4
        Verzoegerungsschaetzer v;
        EXPECT_TRUE(fuettere(v, leise, verzoegert(leise, 2000)).empty());
    }
    {
        // Correlating against nothing gives 0/0; that must not pass as lag 0.
        SCOPED_TRACE("muted microphone");
        Verzoegerungsschaetzer v;
        EXPECT_TRUE(fuettere(v, laut, std::vector<double>(n, 0.0)).empty());
        EXPECT_FALSE(v.wert().has_value());
    }
    {
        // Two equal peaks within the searched lags: ambiguous, never used.
        SCOPED_TRACE("periodic far end");
        const auto periode = rauschen(3000, 6, 3000.0);
        std::vector<double> ref(n);
        for (std::size_t i = 0; i < n; ++i) ref[i] = periode[i % periode.size()];
        Verzoegerungsschaetzer v;
        EXPECT_TRUE(fuettere(v, ref, verzoegert(ref, 2000)).empty());
    }
}

TEST(Verzoegerungsschaetzer, ReportsTheMedianOnlyWhenItMovesMoreThan128) {
    Verzoegerungsschaetzer v;
    EXPECT_EQ(v.uebernehmen(1000), std::nullopt);
    EXPECT_EQ(v.uebernehmen(1010), std::nullopt);
    EXPECT_EQ(v.uebernehmen(1020), 1010);
    // The median creeps to 1100, 90 from the reported value: not reported.
    EXPECT_EQ(v.uebernehmen(1100), std::nullopt);
    EXPECT_EQ(v.uebernehmen(1100), std::nullopt);
    EXPECT_EQ(v.uebernehmen(1100), std::nullopt);
    EXPECT_EQ(v.wert(), 1010);
    EXPECT_EQ(v.uebernehmen(1200), std::nullopt);
    EXPECT_EQ(v.uebernehmen(1200), std::nullopt);
    // Held now: 1100 1100 1200 1200 1200, median 1200.
    EXPECT_EQ(v.uebernehmen(1200), 1200);
}

TEST(Verzoegerungsschaetzer, EvenCountMedianIsTheTruncatedMean) {
    Verzoegerungsschaetzer v;
    v.uebernehmen(0);
    v.uebernehmen(1);
    EXPECT_EQ(v.uebernehmen(1000), 1);
    // Held 0 1 1000 1001: mean of 1 and 1000 is 500.5.
    EXPECT_EQ(v.uebernehmen(1001), 500);
}

}  // namespace
}  // namespace hoerspur
