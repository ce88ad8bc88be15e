#include "recorder/audiofiles/channel_chunker.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "basis/ausgabe.h"
#include "recorder/audiofiles/wav_datei.h"

namespace hoerspur {
namespace {

using Json = nlohmann::json;

std::vector<float> laut(std::size_t n) {
    return std::vector<float>(n, 0.1f);
}
std::vector<float> still(std::size_t n) {
    return std::vector<float>(n, 0.0f);
}
std::vector<float> operator+(std::vector<float> a, const std::vector<float>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Captures the chunk lines and log lines of the chunker under test.
class ChunkerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ordner = (std::filesystem::temp_directory_path() /
                  ("hs_chunk_" + std::to_string(::getpid()) + "_" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                     .string();
        std::filesystem::create_directories(ordner);
        unsere = {::memfd_create("ereignisse", 0), ::memfd_create("log", 0)};
        alt = setzeAusgabeziele(unsere);
    }
    void TearDown() override {
        setzeAusgabeziele(alt);
        ::close(unsere.ereignisFd);
        ::close(unsere.logFd);
        std::filesystem::remove_all(ordner);
    }
    // A new chunker for channel "me" at 16 kHz, writing into an empty folder.
    void neu(bool turnMode, double chunkSeconds = 10.0) {
        std::filesystem::remove_all(ordner);
        std::filesystem::create_directories(ordner);
        beobachte(std::make_unique<ChannelChunker>("me", ordner, 16000.0, chunkSeconds, turnMode));
    }
    // Takes `chunker` as the one under test and records the chunks it reports.
    void beobachte(std::unique_ptr<ChannelChunker> chunker) {
        c = std::move(chunker);
        {
            std::lock_guard<std::mutex> l(gemeldetLock);
            gemeldet.clear();
        }
        c->gemeldet = [this](const GeschriebenerChunk& g) {
            Json j = {{"chunk", g.index},
                      {"channel", g.channel},
                      {"path", g.pfad},
                      {"t0", g.t0Sekunden},
                      {"t1", g.t1Sekunden}};
            if (g.spracheMs) j["sprache_ms"] = *g.spracheMs;
            std::lock_guard<std::mutex> l(gemeldetLock);
            gemeldet.push_back(std::move(j));
        };
    }
    // Feeds in blocks of `block` samples, as a capture does.
    void fuettere(const std::vector<float>& x, std::size_t block = 160) {
        for (std::size_t i = 0; i < x.size(); i += block) {
            c->append(std::span(x).subspan(i, std::min(block, x.size() - i)));
        }
    }
    static std::vector<std::string> zeilen(int fd) {
        std::string alles(static_cast<std::size_t>(::lseek(fd, 0, SEEK_END)), '\0');
        if (::pread(fd, alles.data(), alles.size(), 0) < 0) return {};
        std::vector<std::string> z;
        for (std::size_t a = 0, e; (e = alles.find('\n', a)) != std::string::npos; a = e + 1) {
            z.push_back(alles.substr(a, e - a));
        }
        return z;
    }
    std::vector<Json> chunks() {
        std::lock_guard<std::mutex> l(gemeldetLock);
        return gemeldet;
    }
    std::vector<std::string> logZeilen() const { return zeilen(unsere.logFd); }
    void pruefeNebenlaeufig(bool turnMode);
    static std::size_t laenge(const Json& chunk) {
        return liesWav(chunk["path"].get<std::string>()).value().size();
    }

    std::string ordner;
    Ausgabeziele unsere;
    Ausgabeziele alt;
    std::unique_ptr<ChannelChunker> c;
    std::mutex gemeldetLock;
    std::vector<Json> gemeldet;
};

TEST_F(ChunkerTest, FixedModeCutsAtQuietestFrameOfTheWindow) {
    const std::vector<std::pair<std::vector<std::size_t>, std::size_t>> faelle = {
        {{}, 147280},  // all frames equal: the earliest wins
        {{160000}, 160080}, {{147200}, 147280},
        {{172480}, 172560}, {{147040, 172640}, 147280},  // quiet frames just outside the window
    };
    for (const auto& [leise, schnitt] : faelle) {
        std::vector<float> x = laut(172800);
        for (const std::size_t s : leise) std::fill_n(x.begin() + s, 160, 0.01f);
        neu(false);
        c->append(std::span(x).first(172799));
        ASSERT_TRUE(std::filesystem::is_empty(ordner));
        c->append(std::span(x).last(1));
        ASSERT_TRUE(std::filesystem::exists(ordner + "/chunk_me_000.wav"));
        EXPECT_EQ(liesWav(ordner + "/chunk_me_000.wav")->size(), schnitt);
    }
}

TEST_F(ChunkerTest, TurnModeCutsInTheMiddleOfTheFirstPause) {
    neu(true);
    const auto x = laut(25000) + still(5000) + laut(2000) + still(9600);  // a short pause first
    fuettere(std::vector<float>(x.begin(), x.end() - 1), 100);
    EXPECT_TRUE(chunks().empty());
    c->append(std::span(x).last(1));
    ASSERT_EQ(chunks().size(), 1u);
    EXPECT_EQ(laenge(chunks()[0]), 36800u);
}

TEST_F(ChunkerTest, TurnModeForcesACutAtTheQuietestFrameNearMax) {
    const std::pair<int, int> faelle[] = {{0, 38480}, {49920, 50000}};
    for (const auto& [leise, schnitt] : faelle) {
        auto x = laut(64000);
        if (leise > 0) std::fill_n(x.begin() + leise, 160, 0.05f);
        neu(true);
        c->append(std::span(x).first(63999));
        EXPECT_TRUE(std::filesystem::is_empty(ordner));
        c->append(std::span(x).last(1));
        EXPECT_EQ(liesWav(ordner + "/chunk_me_000.wav")->size(), static_cast<std::size_t>(schnitt));
    }
}

TEST_F(ChunkerTest, TurnModeDropsSilentChunksWithoutUsingAnIndex) {
    neu(true);
    fuettere(laut(32000) + still(60000) + laut(32000) + still(20000));
    c->finalizeRemainder();
    const auto j = chunks();
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0], Json::parse(R"({"chunk":0,"channel":"me","path":")" + ordner +
                                R"(/chunk_me_000.wav","t0":0.0,"t1":2.3})"));
    EXPECT_EQ(j[1]["chunk"], 1);
    EXPECT_EQ(j[1]["t0"], 5.3);
    EXPECT_EQ(j[1]["t1"], 8.05);
    EXPECT_EQ(c->ohneSprache(), 0);
}

TEST_F(ChunkerTest, SpeechMaskDropsChunksBelow768FlaggedSamples) {
    neu(false);
    const auto x = laut(1000);
    const auto flags = [](std::size_t wahr) {
        auto m = std::make_unique<bool[]>(1000);
        std::fill_n(m.get(), wahr, true);
        return m;
    };
    c->append(x, std::span<const bool>(flags(767).get(), 1000));
    c->finalizeRemainder();
    EXPECT_TRUE(chunks().empty());
    EXPECT_EQ(c->ohneSprache(), 1);
    c->append(x, std::span<const bool>(flags(768).get(), 1000));
    c->finalizeRemainder();
    c->append(x, std::span<const bool>(flags(1000).get(), 999));  // wrong length: speech
    c->finalizeRemainder();
    c->finalizeRemainder();  // nothing left: no file
    const auto j = chunks();
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0]["sprache_ms"], 48);
    EXPECT_EQ(j[0]["t0"], 0.0625);
    EXPECT_EQ(j[1]["sprache_ms"], 62);
    EXPECT_EQ(c->ohneSprache(), 1);
    neu(false);
    c->append(still(1000));  // fixed mode keeps silent chunks
    c->finalizeRemainder();
    EXPECT_FALSE(chunks().back().contains("sprache_ms"));
    EXPECT_EQ(laenge(chunks().back()), 1000u);
}

TEST_F(ChunkerTest, FlagsStayBesideTheirSamplesWhenTheMaskStartsLate) {
    neu(false, 0.1);  // cut window 1 ... 14400
    auto x = laut(16000);
    std::fill_n(x.begin() + 1921, 160, 0.0f);  // cut at 2001
    c->append(std::span(x).first(2000));
    const auto keineSprache = std::make_unique<bool[]>(14000);
    c->append(std::span(x).last(14000), std::span<const bool>(keineSprache.get(), 14000));
    ASSERT_EQ(chunks().size(), 1u);
    EXPECT_EQ(laenge(chunks()[0]), 2001u);
    EXPECT_EQ(chunks()[0]["sprache_ms"], 125);
    c->finalizeRemainder();
    EXPECT_EQ(c->ohneSprache(), 1);
}

TEST_F(ChunkerTest, WriteErrorIsLoggedAndTheNextChunkTakesTheNextIndex) {
    beobachte(std::make_unique<ChannelChunker>("them", ordner + "/neu", 100.0, 10.0));
    c->append(laut(10));
    c->finalizeRemainder();
    ASSERT_EQ(logZeilen().size(), 1u);
    EXPECT_EQ(logZeilen()[0], "[hoerspur] WAV-Schreibfehler (them #0): " + ordner +
                                  "/neu/chunk_them_000.wav: No such file or directory");
    std::filesystem::create_directories(ordner + "/neu");
    c->append(laut(10));
    c->finalizeRemainder();
    const auto j = chunks();
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j[0]["path"], ordner + "/neu/chunk_them_001.wav");
    EXPECT_EQ(j[0]["t0"], 0.1);
    EXPECT_EQ(laenge(j[0]), 10u);
}

TEST_F(ChunkerTest, FileNamesHaveAtLeastThreeDigitsAndOneSlash) {
    beobachte(
        std::make_unique<ChannelChunker>("me", ordner + "//", 200.0, 1.0));  // 120-sample cuts
    c->append(laut(1001 * 120 + 240));
    const auto j = chunks();
    ASSERT_EQ(j.size(), 1001u);
    EXPECT_EQ(j[7]["path"], ordner + "/chunk_me_007.wav");
    EXPECT_EQ(j[1000]["path"], ordner + "/chunk_me_1000.wav");
    EXPECT_EQ(laenge(j[1000]), 120u);
}

// Runs under the thread sanitizer: finalizeRemainder() from a second thread while
// samples arrive must neither lose nor repeat a sample nor reorder the lines.
void ChunkerTest::pruefeNebenlaeufig(bool turnMode) {
    std::vector<float> x(60000);
    for (std::size_t i = 0; i < x.size(); ++i) {
        x[i] = (1000.5f + static_cast<float>(i % 30000)) / 32767.0f;  // survives writing exactly
    }
    neu(turnMode, 1.0);
    std::atomic<bool> laeuft = false;
    std::atomic<bool> gefuettert = false;
    std::thread zweiter([&] {
        laeuft = true;
        while (!gefuettert) {
            c->finalizeRemainder();
            std::this_thread::yield();
        }
    });
    while (!laeuft) std::this_thread::yield();
    for (std::size_t i = 0; i < x.size(); i += 97) {
        c->append(std::span(x).subspan(i, std::min<std::size_t>(97, x.size() - i)));
        std::this_thread::yield();
    }
    gefuettert = true;
    zweiter.join();
    c->finalizeRemainder();
    std::vector<float> zusammen;
    const auto j = chunks();
    for (std::size_t i = 0; i < j.size(); ++i) {
        ASSERT_EQ(j[i]["chunk"], i);
        ASSERT_EQ(j[i]["t0"], i == 0 ? 0.0 : j[i - 1]["t1"].get<double>());
        const auto teil = liesWav(j[i]["path"].get<std::string>()).value();
        zusammen.insert(zusammen.end(), teil.begin(), teil.end());
    }
    ASSERT_EQ(zusammen.size(), x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        ASSERT_EQ(zusammen[i] * 32768.0f, 1000.0f + static_cast<float>(i % 30000)) << i;
    }
}

TEST_F(ChunkerTest, ConcurrentFinalizeLosesNothingInFixedMode) {
    pruefeNebenlaeufig(false);
}
TEST_F(ChunkerTest, ConcurrentFinalizeLosesNothingInTurnMode) {
    pruefeNebenlaeufig(true);
}

}  // namespace
}  // namespace hoerspur
