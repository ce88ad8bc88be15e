#include "recorder/audiofiles/roh_wav.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "platform/plattform_fehler.h"
#include "tests/zeilen_mitschnitt.h"

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

TEST_F(RohWavTest, RefusesUnusablePathOrRateWithTheSystemsReason) {
    const std::string fehlt = (ordner / "fehlt" / "a.wav").string();
    try {
        RohWav::oeffnen(fehlt, 16000);
        FAIL() << "no error";
    } catch (const PlattformFehler& f) {
        EXPECT_EQ(f.domain(), "posix");
        EXPECT_EQ(f.code(), ENOENT);
        EXPECT_EQ(f.beschreibung(), fehlt + ": No such file or directory");
    }
    EXPECT_THROW(RohWav::oeffnen(pfad, 0), PlattformFehler);
    EXPECT_THROW(RohWav::oeffnen(pfad, MAX_RATE_HZ + 1), PlattformFehler);
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

// The file size limit stands in for a full disk: writes past it fail with EFBIG.
class Dateigrenze {
  public:
    explicit Dateigrenze(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &alt_);
        rlimit eng = alt_;
        eng.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &eng);
    }
    ~Dateigrenze() { aufheben(); }
    void aufheben() {
        setrlimit(RLIMIT_FSIZE, &alt_);
        std::signal(SIGXFSZ, SIG_DFL);
    }

  private:
    rlimit alt_{};
};

TEST_F(RohWavTest, FailedBlocksBecomeSilenceOnceWritingWorksAgain) {
    ZeilenMitschnitt zeilen;
    auto roh = oeffne();
    roh->schreiben(std::vector<float>{0.5f});
    Dateigrenze grenze(44 + 2 + 101);  // the next block of 200 bytes stops after 101
    roh->schreiben(block);
    roh->schreiben(block);  // still full: no second line
    EXPECT_EQ(roh->bytes(), 2u);
    EXPECT_EQ(roh->ausstehendeBytes(), 400u);
    grenze.aufheben();
    roh->schreiben(std::vector<float>{0.25f, -0.25f});
    roh->schliessen();

    // Every later sample sits where its moment is: 1 + 200 silent + 2.
    const auto samples = liesWav(pfad);
    ASSERT_TRUE(samples);
    ASSERT_EQ(samples->size(), 203u);
    EXPECT_EQ((*samples)[0], 16383 / 32768.0f);
    EXPECT_EQ(std::count(samples->begin() + 1, samples->begin() + 201, 0.0f), 200);
    EXPECT_EQ((*samples)[201], 8191 / 32768.0f);
    EXPECT_EQ(groesse(), 44u + 406u);
    EXPECT_EQ(feld(40), 406u);
    const auto log = zeilen.logZeilen();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "[hoerspur] Roh-Mikrofon-Schreibfehler: " + pfad + ": File too large");
    EXPECT_EQ(log[1], "[hoerspur] Roh-Mikrofon schreibt wieder, 0.01 s als Stille nachgetragen");
}

TEST_F(RohWavTest, AFileThatStaysFullKeepsWhatItHoldsWithATrueHeader) {
    ZeilenMitschnitt zeilen;
    auto roh = oeffne();
    roh->schreiben(block);
    {
        Dateigrenze grenze(44 + 200 + 30);
        roh->schreiben(block);
        roh->schreiben(block);
        roh->schliessen();  // the silence owed cannot be written either
    }
    EXPECT_EQ(feld(40), 200u);
    EXPECT_EQ(feld(4), 236u);
    // Nothing written before the failure is lost; the bytes the failed write left
    // behind the declared data are gone.
    EXPECT_EQ(groesse(), 244u);
    EXPECT_EQ(liesWav(pfad), std::vector<float>(100, 16383 / 32768.0f));
    EXPECT_EQ(zeilen.logZeilen().size(), 1u);
}

}  // namespace
}  // namespace hoerspur
