#include "platform/sim/sim_quelle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numeric>
#include <stdexcept>
#include <vector>

namespace hoerspur {
namespace {

std::vector<float> rampe(std::size_t n, float schritt) {
    std::vector<float> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<float>(i) * schritt;
    return v;
}

// 10 frames of 1000 Hz mono in buffers of 4, starting at host time 50.
SimPlan kleinerPlan() {
    SimPlan plan;
    plan.signal = SimSignal::mono(rampe(10, 0.01f));
    plan.format = AudioFormat{1000.0, 1, SampleArt::float32, false};
    plan.pufferFrames = 4;
    plan.startSekunden = 50.0;
    return plan;
}

TEST(SimQuelle, PlanCutsTheSignalIntoStampedBuffersInOrder) {
    const SimQuelle q = SimQuelle::ausPlan(kleinerPlan());
    ASSERT_EQ(q.anzahl(), 3u);
    EXPECT_EQ(q.basisSekunden(), 50.0);
    std::vector<float> alles;
    for (std::uint64_t k = 0; k < 3; ++k) {
        const auto p = q.puffer(k);
        ASSERT_TRUE(p);
        EXPECT_DOUBLE_EQ(*p->stempelSekunden, 0.004 * static_cast<double>(k));
        const auto d = p->pcm.floatDaten(0);
        alles.insert(alles.end(), d.begin(), d.begin() + p->pcm.frameLaenge());
        EXPECT_EQ(p->frames, p->pcm.frameLaenge());
    }
    EXPECT_EQ(q.puffer(2)->pcm.frameLaenge(), 2u);  // the rest
    EXPECT_DOUBLE_EQ(q.puffer(2)->lieferSekunden, 0.010);
    EXPECT_EQ(alles, rampe(10, 0.01f));
    EXPECT_TRUE(q.amEnde(3));
    EXPECT_FALSE(q.puffer(3));
}

TEST(SimQuelle, PlanShowsDriftDropsLateStampsAndUntimedBuffers) {
    SimPlan plan = kleinerPlan();
    plan.drift = 0.5;
    plan.weglassen = {1};
    plan.versatzSekunden = {{2, -0.001}};
    plan.ohneZeit = {0};
    const SimQuelle q = SimQuelle::ausPlan(plan);
    EXPECT_FALSE(q.puffer(0)->stempelSekunden);
    EXPECT_FALSE(q.puffer(1));
    EXPECT_DOUBLE_EQ(*q.puffer(2)->stempelSekunden, 0.008 * 1.5 - 0.001);
    EXPECT_DOUBLE_EQ(q.puffer(2)->lieferSekunden, 0.010 * 1.5);
}

TEST(SimQuelle, FormatsCarryEveryChannelInTheirLayout) {
    SimPlan plan = kleinerPlan();
    plan.signal = SimSignal::proKanal({{0.5f, 0.25f}, {-0.5f, -1.5f}});
    plan.frames = 3;
    plan.format = AudioFormat{1000.0, 2, SampleArt::int16, true};
    const auto p = SimQuelle::ausPlan(plan).puffer(0);
    const auto d = p->pcm.int16Daten(0);
    ASSERT_EQ(p->pcm.frameLaenge(), 3u);
    // Frames interleaved; out-of-range values clipped; silence after the data.
    EXPECT_EQ(std::vector<std::int16_t>(d.begin(), d.begin() + 6),
              (std::vector<std::int16_t>{16384, -16384, 8192, -32767, 0, 0}));

    plan.format = AudioFormat{1000.0, 2, SampleArt::float32, false};
    plan.signal = SimSignal::mono({0.5f});
    const auto q = SimQuelle::ausPlan(plan).puffer(0);
    EXPECT_EQ(q->pcm.floatDaten(0)[0], 0.5f);
    EXPECT_EQ(q->pcm.floatDaten(1)[0], 0.5f);  // a mono signal feeds every channel
}

TEST(SimQuelle, AfterRunRepeatsOrFillsWithSilenceWithStampsGoingOn) {
    SimQuelle q = SimQuelle::ausPlan(kleinerPlan());
    q.nachlauf = SimNachlauf::wiederholen;
    EXPECT_FALSE(q.amEnde(1000));
    EXPECT_DOUBLE_EQ(*q.puffer(4)->stempelSekunden, 0.010 + 0.004);
    EXPECT_EQ(q.puffer(4)->pcm.floatDaten(0)[1], rampe(10, 0.01f)[5]);
    q.nachlauf = SimNachlauf::stille;
    const auto still = q.puffer(4);
    EXPECT_DOUBLE_EQ(*still->stempelSekunden, 0.014);
    EXPECT_EQ(still->pcm.frameLaenge(), 4u);
    EXPECT_EQ(still->pcm.floatDaten(0)[1], 0.0f);
}

TEST(SimQuelle, ImpossiblePlansAreRefused) {
    SimPlan plan = kleinerPlan();
    plan.weglassen = {3};
    EXPECT_THROW(SimQuelle::ausPlan(plan), std::invalid_argument);
    plan = kleinerPlan();
    plan.signal = SimSignal::sinus(440.0, 0.5f, 1000.0);  // endless and no length
    EXPECT_THROW(SimQuelle::ausPlan(plan), std::invalid_argument);
    plan = kleinerPlan();
    plan.signal = SimSignal::proKanal({{0.0f}, {0.0f}, {0.0f}});
    EXPECT_THROW(SimQuelle::ausPlan(plan), std::invalid_argument);
    plan = kleinerPlan();
    plan.pufferFrames = 0;
    EXPECT_THROW(SimQuelle::ausPlan(plan), std::invalid_argument);
}

TEST(SimSignal, GeneratedSignalsReadTheSameInAnyPieces) {
    const SimSignal sinus = SimSignal::sinus(1000.0, 0.5f, 8000.0);
    std::vector<float> ganz(16), teil(6);
    sinus.fuelle(0, 0, ganz);
    sinus.fuelle(1, 10, teil);
    EXPECT_NEAR(ganz[2], 0.5f, 1e-6f);  // a quarter period of 8 samples
    EXPECT_NEAR(teil[0], ganz[10], 1e-6f);

    const SimSignal rauschen = SimSignal::rauschen(7, 0.1f);
    rauschen.fuelle(0, 0, ganz);
    rauschen.fuelle(0, 10, teil);
    EXPECT_EQ(teil[0], ganz[10]);
    EXPECT_NE(ganz[0], ganz[1]);
    for (const float x : ganz) EXPECT_LE(std::fabs(x), 0.1f);
    std::vector<float> andererSeed(16);
    SimSignal::rauschen(8, 0.1f).fuelle(0, 0, andererSeed);
    EXPECT_NE(andererSeed, ganz);
}

// A WAV file with the given format fields and data bytes.
std::vector<std::uint8_t> wavDatei(std::uint16_t tag, std::uint16_t kanaele, std::uint16_t bits,
                                   const std::vector<std::uint8_t>& daten) {
    std::vector<std::uint8_t> d;
    const auto u16 = [&](std::uint32_t x) {
        d.push_back(x & 0xFF);
        d.push_back((x >> 8) & 0xFF);
    };
    const auto u32 = [&](std::uint32_t x) {
        u16(x & 0xFFFF);
        u16(x >> 16);
    };
    const auto kennung = [&](const char* k) {
        for (int i = 0; i < 4; ++i) d.push_back(static_cast<std::uint8_t>(k[i]));
    };
    kennung("RIFF");
    u32(36 + static_cast<std::uint32_t>(daten.size()));
    kennung("WAVE");
    kennung("fmt ");
    u32(16);
    u16(tag);
    u16(kanaele);
    u32(22050);
    u32(22050u * kanaele * bits / 8);
    u16(kanaele * bits / 8);
    u16(bits);
    kennung("data");
    u32(static_cast<std::uint32_t>(daten.size()));
    d.insert(d.end(), daten.begin(), daten.end());
    return d;
}

TEST(SimWav, ReadsIntegerAndFloatChannels) {
    const SimWav pcm = liesSimWav(wavDatei(1, 2, 16, {0x00, 0x40, 0x00, 0xC0, 0xFF, 0x7F, 0, 0}));
    EXPECT_EQ(pcm.rateHz, 22050.0);
    ASSERT_EQ(pcm.kanaele.size(), 2u);
    EXPECT_EQ(pcm.kanaele[0], (std::vector<float>{0.5f, 32767.0f / 32768.0f}));
    EXPECT_EQ(pcm.kanaele[1], (std::vector<float>{-0.5f, 0.0f}));

    std::vector<std::uint8_t> bytes(4);
    const float x = -0.25f;
    std::memcpy(bytes.data(), &x, 4);
    EXPECT_EQ(liesSimWav(wavDatei(3, 1, 32, bytes)).kanaele[0], std::vector<float>{-0.25f});
    // A data size beyond the file keeps the frames that are there.
    std::vector<std::uint8_t> abgeschnitten = wavDatei(1, 1, 24, {0, 0, 0x40, 0, 0, 0xC0});
    abgeschnitten.resize(abgeschnitten.size() - 1);
    EXPECT_EQ(liesSimWav(abgeschnitten).kanaele[0], std::vector<float>{0.5f});
}

TEST(SimWav, RefusesWhatItCannotRead) {
    EXPECT_THROW(liesSimWav(std::vector<std::uint8_t>(44, 0)), std::invalid_argument);
    EXPECT_THROW(liesSimWav(wavDatei(1, 1, 8, {1, 2})), std::invalid_argument);
    EXPECT_THROW(liesSimWav(wavDatei(2, 1, 16, {1, 2})), std::invalid_argument);
    EXPECT_THROW(liesSimWav(wavDatei(1, 0, 16, {})), std::invalid_argument);
    std::vector<std::uint8_t> ohneDaten = wavDatei(1, 1, 16, {});
    ohneDaten.resize(36);
    EXPECT_THROW(liesSimWav(ohneDaten), std::invalid_argument);
}

}  // namespace
}  // namespace hoerspur
