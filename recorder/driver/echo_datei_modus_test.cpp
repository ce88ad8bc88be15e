#include "recorder/driver/echo_datei_modus.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "recorder/audiofiles/wav_datei.h"
#include "recorder/echo/test_gespraech.h"
#include "tests/zeilen_mitschnitt.h"

namespace hoerspur {
namespace {

namespace fs = std::filesystem;

class EchoDateiModus : public testing::Test {
  protected:
    void SetUp() override {
        std::string muster = (fs::temp_directory_path() / "echo_datei_XXXXXX").string();
        ASSERT_NE(mkdtemp(muster.data()), nullptr);
        ordner = muster;
        cfg.echoDatei = {pfad("mikro.wav"), pfad("ref.wav"), pfad("aus.wav")};
    }
    void TearDown() override { fs::remove_all(ordner); }

    std::string pfad(const std::string& name) const { return (ordner / name).string(); }

    void schreibe(const std::vector<float>& mikro, const std::vector<float>& ref) {
        writeWav(mikro, 16000.0, cfg.echoDatei[0]);
        writeWav(ref, 16000.0, cfg.echoDatei[1]);
    }

    // Runs the mode; returns the exit status and keeps what it printed.
    int fuehreAus() {
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> datei(std::tmpfile(), std::fclose);
        const int status = echoDateiModus(cfg, datei.get());
        std::rewind(datei.get());
        ergebnis.clear();
        char puffer[4096];
        std::size_t n;
        while ((n = std::fread(puffer, 1, sizeof puffer, datei.get())) > 0)
            ergebnis.append(puffer, n);
        return status;
    }

    fs::path ordner;
    Config cfg;
    ZeilenMitschnitt zeilen;
    std::string ergebnis;
};

TEST_F(EchoDateiModus, CleansTheMicrophoneAndPrintsOneResultLine) {
    const auto g = test::gespraech(6.0, 1000, 31);
    schreibe(g.mikro, g.fern);
    ASSERT_EQ(fuehreAus(), 0);

    const auto aus = liesWav(cfg.echoDatei[2]);
    ASSERT_TRUE(aus);
    ASSERT_EQ(aus->size(), g.mikro.size());
    EXPECT_GT(test::pegelDb(g.mikro, *aus, 4 * 16000, 6 * 16000), 15.0);

    ASSERT_FALSE(ergebnis.empty());
    ASSERT_EQ(ergebnis.back(), '\n');
    ASSERT_EQ(ergebnis.find('\n'), ergebnis.size() - 1);
    const auto j = nlohmann::ordered_json::parse(ergebnis);
    std::vector<std::string> schluessel;
    for (const auto& [k, v] : j.items()) schluessel.push_back(k);
    EXPECT_EQ(schluessel, (std::vector<std::string>{
                              "event", "verzoegerung_ms", "versatz_bloecke", "versatz_wechsel",
                              "leck", "tor_anteil", "nah_anteil", "vg_kopien", "hg_reset", "resets",
                              "ohne_referenz", "ausfaelle", "bloecke", "sekunden_audio",
                              "rechenzeit_s", "samples", "chunks_ohne_sprache"}));
    EXPECT_EQ(j["event"], "echo");
    EXPECT_EQ(j["samples"], g.mikro.size());
    EXPECT_DOUBLE_EQ(j["sekunden_audio"].get<double>(), 6.0);
    EXPECT_EQ(j["chunks_ohne_sprache"], 0);
    EXPECT_NE(ergebnis.find("\"sekunden_audio\":6.0,"), std::string::npos);
    EXPECT_TRUE(zeilen.ereignisText().empty());
    EXPECT_TRUE(zeilen.logText().empty());
}

TEST_F(EchoDateiModus, CutsTurnChunksIntoANewFolder) {
    // Near end from 3 s to 9 s over a running far end.
    const auto g = test::gespraech(12.0, 1000, 32, 3.0, 9.0);
    schreibe(g.mikro, g.fern);
    cfg.chunkOrdner = pfad("a/b/chunks");
    cfg.turnMode = false;  // the mode cuts turns whatever the command line says
    ASSERT_EQ(fuehreAus(), 0);

    const auto chunkZeilen = zeilen.ereignisZeilen();
    ASSERT_FALSE(chunkZeilen.empty());
    for (const auto& zeile : chunkZeilen) {
        const auto j = nlohmann::json::parse(zeile);
        EXPECT_EQ(j["channel"], "me");
        EXPECT_TRUE(fs::exists(j["path"].get<std::string>()));
        EXPECT_TRUE(j.contains("sprache_ms"));
        EXPECT_LE(j["t1"].get<double>() - j["t0"].get<double>(), 15.0 + 0.01);
    }
    EXPECT_TRUE(fs::exists(pfad("a/b/chunks/chunk_me_000.wav")));
    const auto j = nlohmann::json::parse(ergebnis);
    EXPECT_GE(j["chunks_ohne_sprache"].get<int>(), 0);
}

TEST_F(EchoDateiModus, ShorterReferenceStillGivesTheWholeMicrophone) {
    const auto g = test::gespraech(3.0, 500, 33);
    schreibe(g.mikro, std::vector<float>(g.fern.begin(), g.fern.begin() + 16000));
    ASSERT_EQ(fuehreAus(), 0);
    EXPECT_EQ(liesWav(cfg.echoDatei[2])->size(), g.mikro.size());
    EXPECT_EQ(nlohmann::json::parse(ergebnis)["samples"], g.mikro.size());
}

TEST_F(EchoDateiModus, WithoutPostfilterNoBlockIsGated) {
    const auto g = test::gespraech(4.0, 500, 34);
    schreibe(g.mikro, g.fern);
    cfg.ohneNachfilter = true;
    ASSERT_EQ(fuehreAus(), 0);
    EXPECT_NE(ergebnis.find("\"tor_anteil\":0.000,\"nah_anteil\":0.000,"), std::string::npos)
        << ergebnis;
    EXPECT_EQ(liesWav(cfg.echoDatei[2])->size(), g.mikro.size());
}

TEST_F(EchoDateiModus, UnreadableInputEndsWithStatus2) {
    for (int fehlt : {0, 1}) {
        SCOPED_TRACE(fehlt);
        schreibe(std::vector<float>(16000, 0.1f), std::vector<float>(16000, 0.1f));
        fs::remove(cfg.echoDatei[static_cast<std::size_t>(fehlt)]);
        EXPECT_EQ(fuehreAus(), 2);
        EXPECT_TRUE(ergebnis.empty());
        EXPECT_FALSE(fs::exists(cfg.echoDatei[2]));
    }
    EXPECT_EQ(zeilen.logZeilen(),
              (std::vector<std::string>{"[hoerspur] --echo-datei: WAV nicht lesbar",
                                        "[hoerspur] --echo-datei: WAV nicht lesbar"}));
}

TEST_F(EchoDateiModus, UnwritableOutputEndsWithStatus2AndNoResultLine) {
    schreibe(std::vector<float>(16000, 0.1f), std::vector<float>(16000, 0.1f));
    cfg.echoDatei[2] = pfad("fehlt/aus.wav");
    EXPECT_EQ(fuehreAus(), 2);
    EXPECT_TRUE(ergebnis.empty());
    const auto log = zeilen.logZeilen();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind("[hoerspur] --echo-datei: Schreiben fehlgeschlagen: ", 0), 0u) << log[0];
    EXPECT_NE(log[0].find("fehlt/aus.wav"), std::string::npos);
}

}  // namespace
}  // namespace hoerspur
