#include "recorder/audiofiles/wav_datei.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>

#include "platform/plattform_fehler.h"

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
    } catch (const PlattformFehler& e) {
        EXPECT_EQ(e.domain(), "posix");
        EXPECT_EQ(e.code(), ENOENT);
        EXPECT_EQ(e.beschreibung(), fehlt + ": No such file or directory");
    }
    for (const double rate : {0.0, -16000.0, 3e9, std::nan("")}) {
        EXPECT_THROW(writeWav(std::vector<float>{0.1f}, rate, pfad), PlattformFehler) << rate;
    }
    EXPECT_FALSE(std::filesystem::exists(pfad));
}

TEST_F(WavSchreibenTest, AFileThatCannotBeWrittenWhollyLeavesNothingBehind) {
    writeWav(std::vector<float>(1000, 0.25f), 16000, pfad);
    const auto vorher = dateiBytes(pfad);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit alt{};
    getrlimit(RLIMIT_FSIZE, &alt);
    rlimit eng = alt;
    eng.rlim_cur = 1000;  // a full disk for files above 1000 bytes
    setrlimit(RLIMIT_FSIZE, &eng);
    const std::string neu = (ordner / "b.wav").string();
    EXPECT_THROW(writeWav(std::vector<float>(1000, 0.5f), 16000, pfad), PlattformFehler);
    try {
        writeWav(std::vector<float>(1000, 0.5f), 16000, neu);
        ADD_FAILURE() << "no exception";
    } catch (const PlattformFehler& e) {
        EXPECT_EQ(e.code(), EFBIG);
        EXPECT_EQ(e.beschreibung(), neu + ": File too large");
    }
    writeWav(std::vector<float>(400, 0.5f), 16000, neu);  // small enough
    setrlimit(RLIMIT_FSIZE, &alt);
    std::signal(SIGXFSZ, SIG_DFL);

    // The older file is whole, the small one complete, and no partial or hidden
    // file is left in the folder.
    EXPECT_EQ(dateiBytes(pfad), vorher);
    EXPECT_EQ(liesWav(neu)->size(), 400u);
    std::vector<std::string> namen;
    for (const auto& e : std::filesystem::directory_iterator(ordner)) {
        namen.push_back(e.path().filename().string());
    }
    std::sort(namen.begin(), namen.end());
    EXPECT_EQ(namen, (std::vector<std::string>{"a.wav", "b.wav"}));
}

TEST(WavKopfTest, SaturatesBothSizeFieldsAboveTheLimit) {
    EXPECT_EQ(wavKopf(8000, MAX_DATEN_BYTES)[4], 0xFF);  // RIFF size just fits
    EXPECT_EQ(wavKopf(8000, MAX_DATEN_BYTES)[40], 0xDB);
    EXPECT_EQ(wavKopf(8000, MAX_DATEN_BYTES + 2)[40], 0xFF);
}

// Files as other tools lay them out, built byte by byte.
struct Bytes {
    Bytes& text(const char* s) { return v.insert(v.end(), s, s + 4), *this; }
    Bytes& u16(unsigned x) {
        return v.insert(v.end(), {std::uint8_t(x), std::uint8_t(x >> 8)}), *this;
    }
    Bytes& u32(std::uint32_t x) { return u16(x & 0xFFFF).u16(x >> 16); }
    Bytes& riff(const char* magie = "RIFF") { return text(magie).u32(0).text("WAVE"); }
    Bytes& kopf(const char* id, std::uint32_t groesse) { return text(id).u32(groesse); }
    Bytes& fuelle(std::size_t n) { return v.insert(v.end(), n, 'x'), *this; }
    Bytes& fmt(unsigned tag, unsigned kanaele, unsigned bits, std::uint32_t groesse = 16) {
        kopf("fmt ", groesse).u16(tag).u16(kanaele).u32(16000).u32(16000 * kanaele * bits / 8);
        return u16(kanaele * bits / 8).u16(bits).fuelle(groesse - 16);
    }
    // WAVE_FORMAT_EXTENSIBLE as sox writes it for more than two channels or 16 bits.
    Bytes& fmtExtensible(unsigned kanaele, unsigned bits, std::uint8_t subformat) {
        kopf("fmt ", 40).u16(0xFFFE).u16(kanaele).u32(16000).u32(16000 * kanaele * bits / 8);
        u16(kanaele * bits / 8).u16(bits).u16(22).u16(bits).u32(0);
        v.insert(v.end(),
                 {subformat, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71});
        return kopf("fact", 4).u32(16);
    }
    Bytes& daten(std::vector<int> samples, std::optional<std::uint32_t> groesse = {}) {
        kopf("data", groesse.value_or(2 * samples.size()));
        for (const int s : samples) u16(static_cast<unsigned>(s));
        return *this;
    }
    Bytes& setzeU32(std::size_t offset, std::uint32_t x) {
        for (int i = 0; i < 4; ++i) v[offset + i] = static_cast<std::uint8_t>(x >> (8 * i));
        return *this;
    }
    std::optional<std::vector<float>> lies() const { return liesWavAusBytes(v); }
    std::vector<std::uint8_t> v;
};

const std::vector<int> ZEHN = {1, -2, 3, -4, 5, -6, 7, -8, 9, -32768};

TEST(WavLesenTest, ReadsFirstChannelOfEveryFrame) {
    // Half a frame at the end is not read.
    EXPECT_EQ(Bytes().riff().fmt(1, 2, 16).daten({100, -1, -200, -1, 32767, -1, 5}).lies(),
              alsFloat({100, -200, 32767}));
    EXPECT_EQ(
        Bytes().riff().fmtExtensible(3, 16, 0x01).daten({1, 2, 3, -4, 5, 6, 7, 8, 9, 10}).lies(),
        alsFloat({1, -4, 7}));
}

TEST(WavLesenTest, SkipsForeignChunksAndPadBytes) {
    Bytes b;
    b.riff().kopf("JUNK", 28).fuelle(28).fmt(1, 1, 16);
    b.kopf("LIST", 25).text("INFO").text("ISFT").u32(13).fuelle(13).fuelle(1);  // pad byte
    b.kopf("bext", 3).fuelle(4).kopf("\xE4\xF6\xFC\xDF", 1).fuelle(2).daten(ZEHN);
    EXPECT_EQ(b.lies(), alsFloat({1, -2, 3, -4, 5, -6, 7, -8, 9, -32768}));
}

TEST(WavLesenTest, RefusesAllButSixteenBitIntegerPcm) {
    const auto mit = [](Bytes b) { return b.daten(ZEHN).lies().has_value(); };
    EXPECT_FALSE(mit(Bytes().riff().fmt(1, 1, 8)));
    EXPECT_FALSE(mit(Bytes().riff().fmt(1, 1, 24)));
    EXPECT_FALSE(mit(Bytes().riff().fmt(3, 1, 32, 18)));  // float, as sox writes it
    EXPECT_FALSE(mit(Bytes().riff().fmtExtensible(1, 24, 0x01)));
    EXPECT_FALSE(mit(Bytes().riff().fmtExtensible(1, 16, 0x03)));  // float subformat
    EXPECT_FALSE(mit(Bytes().riff().kopf("fmt ", 14).u16(1).u16(1).u32(16000).u32(32000).u16(2)));
    EXPECT_TRUE(mit(Bytes().riff().fmt(1, 1, 16, 18)));
    EXPECT_TRUE(mit(Bytes().riff().kopf("JUNK", 0)));  // no format chunk: mono 16-bit
    EXPECT_EQ(Bytes().riff().fmt(1, 0, 16).daten(ZEHN).lies()->size(), 10u);  // 0 channels: 1
}

TEST(WavLesenTest, DataRegionEndsAtSizeFieldOrFileEnd) {
    Bytes b;
    b.riff().fmt(1, 1, 16).daten(ZEHN, 1000);
    EXPECT_EQ(b.lies()->size(), 10u);
    EXPECT_EQ(b.setzeU32(40, 0xFFFFFFFF).lies()->size(), 10u);
    // A header patched before the last three and a half samples.
    EXPECT_EQ(b.setzeU32(40, 7).lies(), alsFloat({1, -2, 3}));
}

TEST(WavLesenTest, EveryTruncationIsRefusedOrAWholeFramePrefix) {
    const Bytes ganz = Bytes().riff().fmt(1, 2, 16).kopf("LIST", 5).fuelle(6).daten(ZEHN);
    for (std::size_t n = 0; n <= ganz.v.size(); ++n) {
        Bytes b = ganz;
        b.v.resize(n);
        const auto r = b.lies();
        ASSERT_EQ(r.has_value(), n >= 58) << n;
        if (r) {
            EXPECT_EQ(r->size(), (n - 58) / 4) << n;
        }
    }
}

TEST(WavLesenTest, SizeFieldsNearTwoToTheThirtyTwoNeitherWrapNorLoop) {
    Bytes b;
    b.riff().kopf("JUNK", 0xFFFFFFF8).fmt(1, 1, 16).daten(ZEHN);  // 12 + 8 + s wraps to 12
    EXPECT_FALSE(b.lies());
    EXPECT_FALSE(b.setzeU32(16, 0xFFFFFFFF).lies());
}

TEST(WavLesenTest, Rf64TakesTheDataSizeFromDs64) {
    Bytes b;
    b.riff("RF64").setzeU32(4, 0xFFFFFFFF);
    b.kopf("ds64", 28).u32(200).u32(0).u32(2 * 6).u32(0).u32(6).u32(0).u32(0);
    b.fmt(1, 1, 16).daten(ZEHN, 0xFFFFFFFF);
    b.setzeU32(b.v.size() - 8, 0x5453494C);  // a "LIST" chunk behind six samples
    EXPECT_EQ(b.lies(), alsFloat({1, -2, 3, -4, 5, -6}));
}

TEST(WavLesenTest, MissingFileOrFolderIsUnreadable) {
    EXPECT_FALSE(liesWav("/nicht/vorhanden.wav"));
    EXPECT_FALSE(liesWav(std::filesystem::temp_directory_path().string()));
}

}  // namespace
}  // namespace hoerspur
