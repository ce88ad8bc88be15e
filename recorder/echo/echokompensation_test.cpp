#include "recorder/echo/echokompensation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "recorder/echo/test_gespraech.h"

namespace hoerspur {
namespace {

constexpr int N = Echokompensation::N;
constexpr int K = Echokompensation::K;

// Drives one canceller as the echo path does with the reference aligned: block k gets
// the pre-emphasised reference blocks k-1 and k (v - 0.9 * previous), on the +-32768 scale.
class Lauf {
  public:
    explicit Lauf(int partitionen = 20, bool nachfilter = true) : ec(partitionen) {
        ec.nachfilterAn = nachfilter;
    }

    void setze(const std::vector<float>& ref, const std::vector<float>& mik) {
        refPre.assign(ref.size(), 0.0);
        double vorher = 0.0;
        for (std::size_t i = 0; i < ref.size(); ++i) {
            const double v = ref[i] * 32768.0;
            refPre[i] = v - 0.9 * vorher;
            vorher = v;
        }
        mikro.assign(mik.size(), 0.0);
        for (std::size_t i = 0; i < mik.size(); ++i) mikro[i] = mik[i] * 32768.0;
    }

    // Frame of the pre-emphasised reference from `start`, zeros outside.
    void rahmen(std::int64_t start, std::span<double> ziel) const {
        for (std::size_t i = 0; i < ziel.size(); ++i) {
            const std::int64_t p = start + static_cast<std::int64_t>(i);
            ziel[i] = p >= 0 && p < static_cast<std::int64_t>(refPre.size())
                          ? refPre[static_cast<std::size_t>(p)]
                          : 0.0;
        }
    }

    // Runs blocks [von, bis) with the reference taken `versatz` blocks earlier.
    void bloecke(std::size_t von, std::size_t bis, int versatz = 0) {
        std::vector<double> r(K);
        for (std::size_t k = von; k < bis; ++k) {
            rahmen((static_cast<std::int64_t>(k) - versatz - 1) * N, r);
            auto aus = ec.block(std::span<const double>(mikro.data() + k * N, N), r);
            ausgabe.insert(ausgabe.end(), aus.begin(), aus.end());
            sprache.push_back(ec.letzteSprache());
            halt.push_back(ec.nahHalt());
            tor.push_back(ec.tor());
        }
    }

    std::size_t anzahlBloecke() const { return mikro.size() / N; }

    // Energy of the microphone over the output in blocks [von, bis), in dB, with the
    // output `spaeter` blocks late.
    double daempfungDb(std::size_t von, std::size_t bis, std::size_t spaeter = 0) const {
        double em = 1e-30, ea = 1e-30;
        for (std::size_t i = von * N; i < bis * N; ++i) {
            em += mikro[i] * mikro[i];
            ea += ausgabe[i + spaeter * N] * ausgabe[i + spaeter * N];
        }
        return 10.0 * std::log10(em / ea);
    }

    Echokompensation ec;
    std::vector<double> refPre, mikro, ausgabe;
    std::vector<bool> sprache, tor;
    std::vector<int> halt;
};

// The fixed microphone filters alone: DC notch, pre-emphasis, then de-emphasis.
std::vector<double> nurFilter(const std::vector<double>& m) {
    const double r = 0.982, den2 = r * r + 0.7 * (1 - r) * (1 - r);
    double n0 = 0, n1 = 0, pre = 0, de = 0;
    std::vector<double> y(m.size());
    for (std::size_t i = 0; i < m.size(); ++i) {
        const double vout = m[i] + n0, o = r * vout;
        n0 = n1 + 2 * (o - m[i]);
        n1 = m[i] - den2 * vout;
        de = (o - 0.9 * pre) + 0.9 * de;
        pre = o;
        y[i] = de;
    }
    return y;
}

TEST(Echokompensation, WithoutReferenceOnlyTheFixedFiltersAct) {
    const auto g = test::gespraech(4.0, 0, 1, 0.0, 4.0);
    Lauf lauf(20, false);
    lauf.setze(std::vector<float>(g.nah.size(), 0.0f), g.nah);
    lauf.bloecke(0, lauf.anzahlBloecke());
    const auto erwartet = nurFilter(lauf.mikro);
    for (std::size_t i = 0; i < lauf.ausgabe.size(); ++i) {
        ASSERT_NEAR(lauf.ausgabe[i], erwartet[i], 1e-6) << i;
    }
    EXPECT_EQ(lauf.ec.vgKopien() + lauf.ec.hgReset() + lauf.ec.resets(), 0);
}

TEST(Echokompensation, RemovesAConstantOffset) {
    Lauf lauf(20, false);
    lauf.setze(std::vector<float>(N * 200, 0.0f), std::vector<float>(N * 200, 0.25f));
    lauf.bloecke(0, 200);
    EXPECT_NEAR(lauf.ausgabe[0], 0.982 * 8192.0, 1.0);
    for (std::size_t i = 190 * N; i < 200 * N; ++i) ASSERT_NEAR(lauf.ausgabe[i], 0.0, 1.0);
}

TEST(Echokompensation, AttenuatesAnEchoMoreAndMoreAsItAdapts) {
    const auto g = test::gespraech(20.0, 1200, 2);
    Lauf an(20, true), aus(20, false);
    an.setze(g.fern, g.mikro);
    aus.setze(g.fern, g.mikro);
    const std::size_t b = an.anzahlBloecke();
    an.bloecke(0, b);
    aus.bloecke(0, b);
    const std::size_t s = 62;  // blocks per second, about
    const double frueh = aus.daempfungDb(s, 3 * s);
    const double spaet = aus.daempfungDb(b - 5 * s, b);
    EXPECT_GT(spaet, frueh + 10.0);
    EXPECT_GT(spaet, 20.0);
    EXPECT_GT(aus.ec.vgKopien(), 10);
    // The postfilter adds on top, 17 blocks late.
    EXPECT_GT(an.daempfungDb(b - 5 * s, b - 17, 17), spaet + 10.0);
    EXPECT_EQ(an.ec.resets(), 0);
}

TEST(Echokompensation, OnePartitionCancelsAShortEcho) {
    const auto g = test::gespraech(10.0, 60, 3);
    Lauf lauf(1, false);
    lauf.setze(g.fern, g.mikro);
    lauf.bloecke(0, lauf.anzahlBloecke());
    // The room response is longer than one partition; the direct path is not.
    EXPECT_GT(lauf.daempfungDb(lauf.anzahlBloecke() - 150, lauf.anzahlBloecke()), 6.0);
}

TEST(Echokompensation, NonFiniteReferenceResetsAndRecovers) {
    auto g = test::gespraech(20.0, 800, 4);
    for (std::size_t i = 5 * 16000; i < 5 * 16000 + 300; ++i) {
        g.fern[i] = std::numeric_limits<float>::quiet_NaN();
    }
    Lauf lauf(20, false);
    lauf.setze(g.fern, g.mikro);
    lauf.bloecke(0, lauf.anzahlBloecke());
    EXPECT_GE(lauf.ec.resets(), 1);
    const std::size_t b = lauf.anzahlBloecke();
    for (std::size_t i = (b - 5 * 62) * N; i < b * N; ++i)
        ASSERT_TRUE(std::isfinite(lauf.ausgabe[i]));
    EXPECT_GT(lauf.daempfungDb(b - 5 * 62, b), 20.0);
}

TEST(Echokompensation, RealignmentKeepsTheLearnedEchoInPlace) {
    // The echo sits 10 blocks into the filter. Taking the reference 2 blocks earlier
    // moves it to 8; shifting the filters by +2 keeps it cancelled at once.
    const auto g = test::gespraech(16.0, 10 * N, 5);
    for (int d : {2, 0, 20}) {
        SCOPED_TRACE(d);
        Lauf lauf(20, false);
        lauf.setze(g.fern, g.mikro);
        const std::size_t mitte = 12 * 62;
        lauf.bloecke(0, mitte);
        const double vorher = lauf.daempfungDb(mitte - 62, mitte);
        const int versatz = d == 2 ? 2 : 0;
        lauf.ec.versetzen(d, [&](int j, std::span<double> r) {
            lauf.rahmen((static_cast<std::int64_t>(mitte) - versatz - j - 2) * N, r);
        });
        lauf.bloecke(mitte, mitte + 20, versatz);
        const double nachher = lauf.daempfungDb(mitte, mitte + 20);
        if (d == 20) {
            EXPECT_LT(nachher, 6.0);  // both filters forgotten
        } else {
            EXPECT_GT(vorher, 20.0);
            EXPECT_GT(nachher, vorher - 6.0);
        }
    }
}

TEST(Nachfilter, WithoutEchoEstimateReproducesTheInput17BlocksLate) {
    const auto g = test::gespraech(6.0, 0, 6, 0.0, 6.0);
    Lauf an(20, true), aus(20, false);
    const std::vector<float> still(g.nah.size(), 0.0f);
    an.setze(still, g.nah);
    aus.setze(still, g.nah);
    an.bloecke(0, an.anzahlBloecke());
    aus.bloecke(0, aus.anzahlBloecke());
    EXPECT_EQ(an.ec.verzoegerungBloecke(), 17);
    for (std::size_t i = 0; i < 17 * N; ++i) ASSERT_EQ(an.ausgabe[i], 0.0);
    for (std::size_t i = 17 * N; i < an.ausgabe.size(); ++i) {
        ASSERT_NEAR(an.ausgabe[i], aus.ausgabe[i - 17 * N], 1e-6) << i;
    }
}

TEST(Nachfilter, GateHoldsFarEndOnlyResidualBetween35And25DbDown) {
    const auto g = test::gespraech(20.0, 1200, 7);
    Lauf an(20, true), aus(20, false);
    an.setze(g.fern, g.mikro);
    aus.setze(g.fern, g.mikro);
    an.bloecke(0, an.anzahlBloecke());
    aus.bloecke(0, aus.anzahlBloecke());
    // Output blocks of the second half whose gate was on, with the blocks around them.
    double ean = 0.0, eaus = 0.0;
    std::size_t gezaehlt = 0;
    for (std::size_t t = an.anzahlBloecke() / 2; t + 1 < an.anzahlBloecke(); ++t) {
        if (!(an.tor[t - 1] && an.tor[t] && an.tor[t + 1])) continue;
        ++gezaehlt;
        for (std::size_t i = 0; i < N; ++i) {
            ean += an.ausgabe[t * N + i] * an.ausgabe[t * N + i];
            eaus += aus.ausgabe[(t - 17) * N + i] * aus.ausgabe[(t - 17) * N + i];
        }
    }
    ASSERT_GT(gezaehlt, 100u);
    const double db = 10.0 * std::log10(ean / eaus);
    EXPECT_LE(db, -25.0 + 1.0);
    EXPECT_GE(db, -35.0 - 1.0);
}

TEST(Nachfilter, FlagsNearSpeechWithLookAheadAndHold) {
    // Quiet room, no far end, then 0.5 s of near-end speech.
    auto g = test::gespraech(8.0, 0, 8, 3.0, 3.5, 1e-3);
    std::vector<float> mik(g.mikro.size());
    for (std::size_t i = 0; i < mik.size(); ++i) mik[i] = g.mikro[i] - g.echo[i];
    Lauf lauf(20, true);
    lauf.setze(std::vector<float>(g.nah.size(), 0.0f), mik);
    lauf.bloecke(0, lauf.anzahlBloecke());

    std::size_t erster = 0, letzter = 0;
    for (std::size_t t = 0; t < lauf.sprache.size(); ++t) {
        if (!lauf.sprache[t]) continue;
        if (erster == 0) erster = t;
        letzter = t;
    }
    // Speech from block 187 (3.0 s) appears 16 to 17 calls later.
    ASSERT_GE(erster, 187u + 16);
    EXPECT_LE(erster, 187u + 18);
    EXPECT_GE(letzter, 218u + 14);
    for (std::size_t t = 0; t < lauf.halt.size(); ++t) {
        const bool erwartet = t + 16 >= erster && t <= letzter + 20;
        if (t + 16 == erster || t == letzter + 20 || t == letzter + 21) continue;  // edges
        ASSERT_EQ(lauf.halt[t] == 1, erwartet) << t;
    }
    EXPECT_FALSE(std::count(lauf.tor.begin(), lauf.tor.end(), true));
}

}  // namespace
}  // namespace hoerspur
