#include "platform/audio_puffer.h"

#include <gtest/gtest.h>

#include <limits>

namespace hoerspur {
namespace {

TEST(PcmPuffer, PlanarBuffersHoldOneArrayPerChannel) {
    PcmPuffer p(AudioFormat{48000.0, 2, SampleArt::float32, false}, 480);
    ASSERT_EQ(p.arrayAnzahl(), 2u);
    ASSERT_EQ(p.floatDaten(0).size(), 480u);
    ASSERT_EQ(p.floatDaten(1).size(), 480u);
    p.floatDaten(1)[0] = 0.5f;
    EXPECT_EQ(p.floatDaten(0)[0], 0.0f);  // the channels do not overlap
    EXPECT_EQ(p.floatDaten(0).data() + 480, p.floatDaten(1).data());
    EXPECT_TRUE(p.floatDaten(2).empty());
    EXPECT_TRUE(p.int16Daten(0).empty());
}

TEST(PcmPuffer, InterleavedBuffersHoldOneArrayForAllChannels) {
    PcmPuffer p(AudioFormat{44100.0, 3, SampleArt::int16, true}, 100);
    ASSERT_EQ(p.arrayAnzahl(), 1u);
    EXPECT_EQ(p.int16Daten(0).size(), 300u);
    EXPECT_TRUE(p.int16Daten(1).empty());
    EXPECT_TRUE(p.floatDaten(0).empty());
}

TEST(PcmPuffer, FrameLengthStaysWithinCapacity) {
    PcmPuffer p(AudioFormat{16000.0, 1, SampleArt::float32, false}, 256);
    EXPECT_EQ(p.frameLaenge(), 256u);
    p.setzeFrameLaenge(100);
    EXPECT_EQ(p.frameLaenge(), 100u);
    p.setzeFrameLaenge(1000);
    EXPECT_EQ(p.frameLaenge(), 256u);
}

TEST(PcmPuffer, InvalidFormatsGiveNoStorage) {
    for (const AudioFormat f :
         {AudioFormat{0.0, 1, SampleArt::float32, false},
          AudioFormat{std::numeric_limits<double>::infinity(), 1, SampleArt::float32, false},
          AudioFormat{48000.0, 0, SampleArt::int16, true}}) {
        PcmPuffer p(f, 480);
        EXPECT_FALSE(f.gueltig());
        EXPECT_EQ(p.arrayAnzahl(), 0u);
        EXPECT_EQ(p.frameLaenge(), 0u);
        EXPECT_TRUE(p.floatDaten(0).empty());
        EXPECT_TRUE(p.int16Daten(0).empty());
    }
    EXPECT_FALSE(PcmPuffer().format().has_value());
}

}  // namespace
}  // namespace hoerspur
