#include "recorder/audiofiles/wav_datei.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <system_error>

namespace hoerspur {
namespace {

std::vector<std::uint8_t> dateiBytes(const std::string& pfad) {
    std::ifstream ein(pfad, std::ios::binary);
    return {std::istreambuf_iterator<char>(ein), std::istreambuf_iterator<char>()};
}

std::vector<float> alsFloat(std::initializer_list<int> werte) {
    std::vector<float> v;
    for (const int w : werte) v.push_back(static_cast<float>(w) / 32768.0f);
    return v;
}

class WavSchreibenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ordner = std::filesystem::temp_directory_path() /
                 ("hs_wav_" + std::to_string(::getpid()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(ordner);
        pfad = (ordner / "a.wav").string();
    }
    void TearDown() override { std::filesystem::remove_all(ordner); }
    std::filesystem::path ordner;
    std::string pfad;
};

TEST_F(WavSchreibenTest, WritesCanonicalHeaderAndClampsToFullScale) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    writeWav(std::vector<float>{1.0f, 1.5f, nan, inf, -1.0f, -3.0f, -inf, 0.5f, -0.5f}, 16000.9,
             pfad);
    const std::vector<std::uint8_t> erwartet = {
        'R',  'I',  'F',  'F',  54,   0,    0,    0,    'W',  'A',  'V',  'E',  'f', 'm',
        't',  ' ',  16,   0,    0,    0,    1,    0,    1,    0,    0x80, 0x3E, 0,   0,
        0,    0x7D, 0,    0,    2,    0,    16,   0,    'd',  'a',  't',  'a',  18,  0,
        0,    0,    0xFF, 0x7F, 0xFF, 0x7F, 0xFF, 0x7F, 0xFF, 0x7F,  // 1.0, 1.5, NaN, inf -> 32767
        0x01, 0x80, 0x01, 0x80, 0x01, 0x80,                          // -1, -3, -inf -> -32767
        0xFF, 0x3F, 0x01, 0xC0};                                     // +-0.5 -> +-16383 (truncated)
    EXPECT_EQ(dateiBytes(pfad), erwartet);
}

TEST_F(WavSchreibenTest, EmptyFileIsHeaderOnlyAndUnreadable) {
    writeWav({}, 16000, pfad);
    const auto bytes = dateiBytes(pfad);
    ASSERT_EQ(bytes.size(), 44u);
    EXPECT_EQ(bytes[4], 36);
    EXPECT_EQ(bytes[40], 0);
    EXPECT_FALSE(liesWav(pfad));
}

TEST_F(WavSchreibenTest, ReplacesLongerFileAndReadsBack) {
    writeWav(std::vector<float>(1000, 0.25f), 16000, pfad);
    writeWav(std::vector<float>{0.5f, -0.25f}, 16000, pfad);
    EXPECT_EQ(std::filesystem::file_size(pfad), 48u);
    EXPECT_EQ(liesWav(pfad), alsFloat({16383, -8191}));
}

TEST_F(WavSchreibenTest, FailuresThrowWithErrnoAndPath) {
    const std::string fehlt = (ordner / "fehlt" / "a.wav").string();
    try {
        writeWav(std::vector<float>{0.1f}, 16000, fehlt);
        FAIL() << "no exception";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::errc::no_such_file_or_directory);
        EXPECT_NE(std::string(e.what()).find(fehlt), std::string::npos);
    }
    for (const double rate : {0.0, -16000.0, 3e9, std::nan("")}) {
        EXPECT_THROW(writeWav(std::vector<float>{0.1f}, rate, pfad), std::system_error) << rate;
    }
    EXPECT_FALSE(std::filesystem::exists(pfad));
}

TEST(WavKopfTest, SaturatesBothSizeFieldsAboveTheLimit) {
    const auto feld = [](const WavKopf& k, std::size_t o) {
        return k[o] | k[o + 1] << 8 | k[o + 2] << 16 | static_cast<std::uint32_t>(k[o + 3]) << 24;
    };
    EXPECT_EQ(feld(wavKopf(8000, MAX_DATEN_BYTES), 4), 0xFFFFFFFFu);
    EXPECT_EQ(feld(wavKopf(8000, MAX_DATEN_BYTES), 40), MAX_DATEN_BYTES);
    EXPECT_EQ(feld(wavKopf(8000, MAX_DATEN_BYTES + 2), 40), 0xFFFFFFFFu);
    EXPECT_EQ(feld(wavKopf(8000, 100, 100), 40), 100u);
    EXPECT_EQ(feld(wavKopf(8000, 102, 100), 4), 0xFFFFFFFFu);
    EXPECT_EQ(feld(wavKopf(8000, 102, 100), 40), 0xFFFFFFFFu);
}

// Files as other tools lay them out, built byte by byte.
class WavLesenTest : public ::testing::Test {
  protected:
    void text(const char* s) { b.insert(b.end(), s, s + 4); }
    void u16(unsigned v) { b.insert(b.end(), {std::uint8_t(v), std::uint8_t(v >> 8)}); }
    void u32(std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    void riff(const char* magie = "RIFF") {
        text(magie);
        u32(0);
        text("WAVE");
    }
    void kopf(const char* id, std::uint32_t groesse) {
        text(id);
        u32(groesse);
    }
    void fuelle(std::size_t n) { b.insert(b.end(), n, 'x'); }
    void fmt(unsigned tag, unsigned kanaele, unsigned bits, std::uint32_t groesse = 16) {
        kopf("fmt ", groesse);
        u16(tag);
        u16(kanaele);
        u32(16000);
        u32(16000 * kanaele * bits / 8);
        u16(kanaele * bits / 8);
        u16(bits);
        fuelle(groesse - 16);
    }
    // WAVE_FORMAT_EXTENSIBLE as sox writes it for more than two channels or 16 bits.
    void fmtExtensible(unsigned kanaele, unsigned bits, std::uint8_t subformat) {
        fmt(0xFFFE, kanaele, bits, 40);
        b.resize(b.size() - 24);
        u16(22);
        u16(bits);
        u32(0);
        b.insert(b.end(),
                 {subformat, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71});
        kopf("fact", 4);
        u32(16);
    }
    void daten(std::vector<int> samples, std::optional<std::uint32_t> groesse = {}) {
        kopf("data", groesse.value_or(2 * samples.size()));
        for (const int s : samples) u16(static_cast<unsigned>(s));
    }
    void setzeU32(std::size_t offset, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    std::optional<std::vector<float>> lies() const { return liesWavAusBytes(b); }
    std::vector<std::uint8_t> b;
};

const std::vector<int> ZEHN = {1, -2, 3, -4, 5, -6, 7, -8, 9, -32768};

TEST_F(WavLesenTest, ReadsFirstChannelOfEveryFrame) {
    riff();
    fmt(1, 2, 16);
    daten({100, -1, -200, -1, 32767, -1, 5});  // half a frame at the end
    EXPECT_EQ(lies(), alsFloat({100, -200, 32767}));
    b.clear();
    riff();
    fmtExtensible(3, 16, 0x01);
    daten({1, 2, 3, -4, 5, 6, 7, 8, 9, 10});
    EXPECT_EQ(lies(), alsFloat({1, -4, 7}));
}

TEST_F(WavLesenTest, SkipsForeignChunksAndPadBytes) {
    riff();
    kopf("JUNK", 28);
    fuelle(28);
    fmt(1, 1, 16);
    kopf("LIST", 25);
    text("INFO");
    text("ISFT");
    u32(13);
    fuelle(13);
    fuelle(1);
    kopf("bext", 3);
    fuelle(4);
    kopf("\xE4\xF6\xFC\xDF", 1);
    fuelle(2);
    daten(ZEHN);
    EXPECT_EQ(lies(), alsFloat({1, -2, 3, -4, 5, -6, 7, -8, 9, -32768}));
}

TEST_F(WavLesenTest, RefusesAllButSixteenBitIntegerPcm) {
    const auto mit = [&](auto formatKopf) {
        b.clear();
        riff();
        formatKopf();
        daten(ZEHN);
        return lies().has_value();
    };
    EXPECT_FALSE(mit([&] { fmt(1, 1, 8); }));
    EXPECT_FALSE(mit([&] { fmt(1, 1, 24); }));
    EXPECT_FALSE(mit([&] { fmt(3, 1, 32, 18); }));  // float, as sox writes it
    EXPECT_FALSE(mit([&] { fmtExtensible(1, 24, 0x01); }));
    EXPECT_FALSE(mit([&] { fmtExtensible(1, 16, 0x03); }));  // float subformat
    EXPECT_FALSE(mit([&] {
        fmt(1, 1, 16);
        b.resize(b.size() - 2);
        setzeU32(16, 14);
    }));
    EXPECT_TRUE(mit([&] { fmt(1, 1, 16, 18); }));
    EXPECT_TRUE(mit([&] { kopf("JUNK", 0); }));  // no format chunk: mono 16-bit
    EXPECT_TRUE(mit([&] { fmt(1, 0, 16); }));    // zero channels count as one
    EXPECT_EQ(lies()->size(), 10u);
}

TEST_F(WavLesenTest, DataRegionEndsAtSizeFieldOrFileEnd) {
    riff();
    fmt(1, 1, 16);
    daten(ZEHN, 1000);
    EXPECT_EQ(lies()->size(), 10u);
    setzeU32(40, 0xFFFFFFFF);
    EXPECT_EQ(lies()->size(), 10u);
    setzeU32(40, 7);  // a header patched before the last three and a half samples
    EXPECT_EQ(lies(), alsFloat({1, -2, 3}));
}

TEST_F(WavLesenTest, EveryTruncationIsRefusedOrAWholeFramePrefix) {
    riff();
    fmt(1, 2, 16);
    kopf("LIST", 5);
    fuelle(6);
    daten(ZEHN);
    const std::vector<std::uint8_t> ganz = b;
    for (std::size_t n = 0; n <= ganz.size(); ++n) {
        b.assign(ganz.begin(), ganz.begin() + static_cast<std::ptrdiff_t>(n));
        const auto r = lies();
        ASSERT_EQ(r.has_value(), n >= 58) << n;
        if (r) {
            EXPECT_EQ(r->size(), (n - 58) / 4) << n;
        }
    }
}

TEST_F(WavLesenTest, SizeFieldsNearTwoToTheThirtyTwoNeitherWrapNorLoop) {
    riff();
    kopf("JUNK", 0xFFFFFFF8);
    fmt(1, 1, 16);
    daten(ZEHN);  // 12 + 8 + s wraps to 12
    EXPECT_FALSE(lies());
    setzeU32(16, 0xFFFFFFFF);
    EXPECT_FALSE(lies());
}

TEST_F(WavLesenTest, Rf64TakesTheDataSizeFromDs64) {
    riff("RF64");
    setzeU32(4, 0xFFFFFFFF);
    kopf("ds64", 28);
    u32(200);
    u32(0);
    u32(2 * 6);
    u32(0);
    u32(6);
    u32(0);
    u32(0);
    fmt(1, 1, 16);
    daten(ZEHN, 0xFFFFFFFF);
    setzeU32(b.size() - 8, 0x5453494C);  // "LIST"
    EXPECT_EQ(lies(), alsFloat({1, -2, 3, -4, 5, -6}));
}

TEST(WavLesenDateiTest, MissingFileOrFolderIsUnreadable) {
    EXPECT_FALSE(liesWav("/nicht/vorhanden.wav"));
    EXPECT_FALSE(liesWav(std::filesystem::temp_directory_path().string()));
}

}  // namespace
}  // namespace hoerspur
