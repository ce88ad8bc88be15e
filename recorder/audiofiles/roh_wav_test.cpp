#include "recorder/audiofiles/roh_wav.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

namespace hoerspur {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

class RohWavTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ordner = std::filesystem::temp_directory_path() /
                 ("hs_roh_" + std::to_string(::getpid()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(ordner);
        pfad = (ordner / "mikro_roh.wav").string();
    }
    void TearDown() override { std::filesystem::remove_all(ordner); }

    std::unique_ptr<RohWav> oeffne(std::uint64_t maxDatenBytes = MAX_DATEN_BYTES) {
        return RohWav::oeffnen(pfad, 16000, maxDatenBytes, [this] { return jetzt; });
    }
    std::uint32_t feld(std::size_t offset) const {
        std::ifstream ein(pfad, std::ios::binary);
        ein.seekg(static_cast<std::streamoff>(offset));
        unsigned char b[4] = {};
        ein.read(reinterpret_cast<char*>(b), 4);
        return b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24;
    }
    std::uint64_t groesse() const { return std::filesystem::file_size(pfad); }

    std::filesystem::path ordner;
    std::string pfad;
    steady_clock::time_point jetzt{};
    const std::vector<float> block = std::vector<float>(100, 0.5f);
};

TEST_F(RohWavTest, HeaderDeclaresNothingUntilFiveSecondsHavePassed) {
    auto roh = RohWav::oeffnen(pfad, 44100);
    ASSERT_TRUE(roh);
    EXPECT_EQ(groesse(), 44u);
    EXPECT_EQ(feld(4), 36u);
    EXPECT_EQ(feld(24), 44100u);
    roh.reset();

    roh = oeffne();
    roh->schreiben(block);
    jetzt += milliseconds(5000);
    roh->schreiben(block);
    EXPECT_EQ(groesse(), 444u);
    EXPECT_EQ(feld(40), 0u);
    jetzt += milliseconds(1);
    roh->schreiben(block);
    EXPECT_EQ(feld(40), 600u);
    EXPECT_EQ(feld(4), 636u);
    roh->schreiben(block);
    EXPECT_EQ(feld(40), 600u);
}

TEST_F(RohWavTest, CloseDeclaresEverySampleAndEndsWriting) {
    auto roh = oeffne();
    roh->schreiben(std::vector<float>{1.5f, -0.5f, 0.25f});
    roh->schliessen();
    roh->schreiben(block);
    roh->schliessen();
    EXPECT_EQ(feld(40), 6u);
    EXPECT_EQ(feld(4), 42u);
    EXPECT_EQ(liesWav(pfad),
              (std::vector<float>{32767 / 32768.0f, -16383 / 32768.0f, 8191 / 32768.0f}));
    roh = oeffne();  // replaces the file
    roh->schreiben(block);
    roh.reset();  // a forgotten close still declares the samples
    EXPECT_EQ(feld(40), 200u);
}

TEST_F(RohWavTest, RefusesUnusablePathOrRate) {
    EXPECT_FALSE(RohWav::oeffnen((ordner / "fehlt" / "a.wav").string(), 16000));
    EXPECT_FALSE(RohWav::oeffnen(pfad, 0));
    EXPECT_FALSE(RohWav::oeffnen(pfad, MAX_RATE_HZ + 1));
}

TEST_F(RohWavTest, KeepsWritingPastTheSizeLimitWithSaturatedFields) {
    auto roh = oeffne(200);
    roh->schreiben(block);
    roh->schliessen();
    EXPECT_EQ(feld(40), 200u);
    roh = oeffne(200);
    roh->schreiben(block);
    roh->schreiben(std::vector<float>{0.25f});
    roh->schliessen();
    EXPECT_EQ(feld(4), 0xFFFFFFFFu);
    EXPECT_EQ(feld(40), 0xFFFFFFFFu);
    EXPECT_EQ(liesWav(pfad)->size(), 101u);
}

TEST_F(RohWavTest, FailedWriteLeavesFileAlignedToWholeSamples) {
    auto roh = oeffne();
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit alt{};
    getrlimit(RLIMIT_FSIZE, &alt);
    rlimit eng = alt;
    eng.rlim_cur = 44 + 101;  // the block of 200 bytes stops after 101
    setrlimit(RLIMIT_FSIZE, &eng);
    roh->schreiben(block);
    setrlimit(RLIMIT_FSIZE, &alt);
    std::signal(SIGXFSZ, SIG_DFL);
    roh->schreiben(std::vector<float>{0.25f, -0.25f});
    roh->schliessen();
    EXPECT_EQ(groesse(), 48u);
    EXPECT_EQ(liesWav(pfad), (std::vector<float>{8191 / 32768.0f, -8191 / 32768.0f}));
}

}  // namespace
}  // namespace hoerspur
