#include "recorder/capture/mono_resampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <numeric>
#include <vector>

namespace hoerspur {
namespace {

constexpr AudioFormat MONO_48K{48000.0, 1, SampleArt::float32, false};
constexpr AudioFormat STEREO_48K{48000.0, 2, SampleArt::float32, false};

// A buffer whose channels hold amplitude · sin(2π · hz · (start + n) / rate),
// scaled per channel by `pegel` (missing entries mean 1).
PcmPuffer sinus(AudioFormat format, std::uint32_t frames, double hz, std::int64_t start,
                double amplitude = 0.5, std::vector<double> pegel = {}) {
    PcmPuffer p(format, frames);
    for (std::uint32_t c = 0; c < format.kanaele; ++c) {
        const double g = c < pegel.size() ? pegel[c] : 1.0;
        for (std::uint32_t n = 0; n < frames; ++n) {
            const double x = g * amplitude *
                             std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(start + n) /
                                      format.sampleRateHz);
            const std::size_t array = format.verschraenkt ? 0 : c;
            const std::size_t i = format.verschraenkt ? n * format.kanaele + c : n;
            if (format.art == SampleArt::float32) {
                p.floatDaten(array)[i] = static_cast<float>(x);
            } else {
                p.int16Daten(array)[i] = static_cast<std::int16_t>(std::lround(x * 32767.0));
            }
        }
    }
    return p;
}

// Feeds `anzahl` consecutive sine buffers of the given sizes (cycled) and joins the output.
std::vector<float> strom(MonoResampler& r, AudioFormat format,
                         const std::vector<std::uint32_t>& groessen, int anzahl, double hz,
                         std::vector<double> pegel = {}) {
    std::vector<float> aus;
    std::int64_t start = 0;
    for (int i = 0; i < anzahl; ++i) {
        const std::uint32_t frames = groessen[static_cast<std::size_t>(i) % groessen.size()];
        const std::optional<std::vector<float>> b =
            r.process(sinus(format, frames, hz, start, 0.5, pegel));
        EXPECT_TRUE(b.has_value());
        if (b) aus.insert(aus.end(), b->begin(), b->end());
        start += frames;
    }
    return aus;
}

double rms(const std::vector<float>& x, std::size_t von, std::size_t bis) {
    double s = 0.0;
    for (std::size_t i = von; i < bis; ++i) s += static_cast<double>(x[i]) * x[i];
    return std::sqrt(s / static_cast<double>(bis - von));
}

TEST(MonoResampler, StereoBuffersOfTenMillisecondsGiveAboutOneHundredSixtySamplesEach) {
    MonoResampler r(16000.0);
    std::vector<std::size_t> laengen;
    std::int64_t start = 0;
    for (int i = 0; i < 200; ++i, start += 480) {
        const auto b = r.process(sinus(STEREO_48K, 480, 440.0, start));
        ASSERT_TRUE(b.has_value());
        laengen.push_back(b->size());
    }
    // The converter holds back its delay at first, then keeps pace with every buffer.
    EXPECT_LT(laengen.front(), 160u);
    const std::size_t summe = std::accumulate(laengen.begin() + 10, laengen.end(), std::size_t{0});
    EXPECT_NEAR(static_cast<double>(summe) / 190.0, 160.0, 2.0);
    for (std::size_t i = 10; i < laengen.size(); ++i) EXPECT_LE(laengen[i], 2 * 160u) << i;
}

TEST(MonoResampler, OddBufferSizesJoinWithoutDiscontinuity) {
    MonoResampler r(16000.0);
    const std::vector<std::uint32_t> groessen{441, 1023, 4096, 7, 2000};
    const int anzahl = 100;
    const std::vector<float> aus = strom(r, MONO_48K, groessen, anzahl, 1000.0);

    std::int64_t eingabeFrames = 0;
    for (int i = 0; i < anzahl; ++i)
        eingabeFrames += groessen[static_cast<std::size_t>(i) % groessen.size()];
    const double soll = static_cast<double>(eingabeFrames) / 3.0;
    // Nothing lost: what came out plus what the converter still holds is the input.
    EXPECT_NEAR(static_cast<double>(aus.size()) + r.verzoegerungSamples(), soll, 2.0);
    EXPECT_GE(static_cast<double>(aus.size()), soll - 1000.0);

    // Time-aligned with the input and free of clicks: compare with the ideal sine
    // away from the start-up transient.
    std::vector<float> fehler(aus.size());
    for (std::size_t m = 0; m < aus.size(); ++m) {
        const double ideal =
            0.5 * std::sin(2.0 * std::numbers::pi * 1000.0 * static_cast<double>(m) / 16000.0);
        fehler[m] = static_cast<float>(aus[m] - ideal);
    }
    const double restDb = 20.0 * std::log10(rms(fehler, 1000, aus.size()) / (0.5 / std::sqrt(2.0)));
    EXPECT_LT(restDb, -60.0);
    float groessterFehler = 0.0f;
    for (std::size_t m = 1000; m < aus.size(); ++m)
        groessterFehler = std::max(groessterFehler, std::fabs(fehler[m]));
    EXPECT_LT(groessterFehler, 1e-3f);
}

TEST(MonoResampler, FormatChangeStartsAFreshConverter) {
    MonoResampler r(16000.0);
    strom(r, MONO_48K, {4800}, 5, 300.0);

    // Same format again: the state carries on, unlike a fresh converter's output.
    MonoResampler frisch(16000.0);
    const PcmPuffer weiter = sinus(MONO_48K, 4800, 300.0, 5 * 4800);
    EXPECT_NE(*r.process(weiter), *frisch.process(weiter));

    for (const AudioFormat neu : {AudioFormat{44100.0, 1, SampleArt::float32, false}, STEREO_48K,
                                  AudioFormat{48000.0, 2, SampleArt::float32, true}}) {
        MonoResampler vergleich(16000.0);
        const PcmPuffer b = sinus(neu, 4410, 300.0, 0);
        EXPECT_EQ(*r.process(b), *vergleich.process(b)) << neu.sampleRateHz << " " << neu.kanaele;
    }
}

TEST(MonoResampler, LayoutsAndSampleTypesGiveTheSameMono) {
    const std::vector<double> pegel{1.0, 0.3};
    MonoResampler planar(16000.0);
    MonoResampler verschraenkt(16000.0);
    MonoResampler ganzzahl(16000.0);
    const auto a = strom(planar, STEREO_48K, {960}, 20, 500.0, pegel);
    const auto b = strom(verschraenkt, AudioFormat{48000.0, 2, SampleArt::float32, true}, {960}, 20,
                         500.0, pegel);
    const auto c =
        strom(ganzzahl, AudioFormat{48000.0, 2, SampleArt::int16, true}, {960}, 20, 500.0, pegel);
    EXPECT_EQ(a, b);
    ASSERT_EQ(a.size(), c.size());
    for (std::size_t i = 0; i < a.size(); ++i) ASSERT_NEAR(a[i], c[i], 1e-4) << i;
}

TEST(MonoResampler, ChannelsAreAveragedSoOneSidedSoundStays) {
    // Sound on one side only arrives at half level, whichever side it is on.
    for (const std::vector<double>& pegel : {std::vector<double>{1.0, 0.0}, {0.0, 1.0}}) {
        MonoResampler r(16000.0);
        const auto aus = strom(r, STEREO_48K, {4800}, 10, 300.0, pegel);
        ASSERT_GT(aus.size(), 12000u);
        EXPECT_NEAR(rms(aus, 2000, aus.size()), 0.25 / std::sqrt(2.0), 1e-3);
    }
}

TEST(MonoResampler, BuffersThatCannotBeConvertedGiveNothing) {
    MonoResampler r(16000.0);
    EXPECT_FALSE(r.process(PcmPuffer()).has_value());
    PcmPuffer leer(MONO_48K, 480);
    leer.setzeFrameLaenge(0);
    EXPECT_FALSE(r.process(leer).has_value());
    for (const AudioFormat kaputt :
         {AudioFormat{0.0, 1, SampleArt::float32, false},
          AudioFormat{-48000.0, 1, SampleArt::float32, false},
          AudioFormat{std::numeric_limits<double>::quiet_NaN(), 1, SampleArt::float32, false},
          AudioFormat{48000.0, 0, SampleArt::float32, false},
          AudioFormat{1.0, 1, SampleArt::float32, false}}) {
        EXPECT_FALSE(r.process(PcmPuffer(kaputt, 480)).has_value()) << kaputt.sampleRateHz;
    }
    // Still usable, and it converts as if new.
    MonoResampler frisch(16000.0);
    const PcmPuffer gut = sinus(MONO_48K, 4800, 300.0, 0);
    EXPECT_EQ(*r.process(gut), *frisch.process(gut));
}

TEST(MonoResampler, NonFiniteInputGivesFiniteOutput) {
    MonoResampler r(16000.0);
    PcmPuffer p = sinus(MONO_48K, 4800, 300.0, 0);
    p.floatDaten(0)[100] = std::numeric_limits<float>::quiet_NaN();
    p.floatDaten(0)[200] = std::numeric_limits<float>::infinity();
    p.floatDaten(0)[300] = std::numeric_limits<float>::max();
    std::vector<float> aus = *r.process(p);
    const std::vector<float> danach = strom(r, MONO_48K, {4800}, 3, 300.0);
    aus.insert(aus.end(), danach.begin(), danach.end());
    for (float x : aus) ASSERT_TRUE(std::isfinite(x));
}

}  // namespace
}  // namespace hoerspur
