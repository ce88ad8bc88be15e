#include "recorder/capture/zeitachsen_selbsttest.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace hoerspur {
namespace {

using nlohmann::json;

const std::vector<std::string> SCHLUESSEL{
    "fall",         "laenge", "soll_laenge",      "luecken",        "luecken_ms",  "ueberlappungen",
    "verworfen_ms", "nullen", "laufzeit_samples", "rest_anfang_db", "rest_ende_db"};

// Parses a result line and checks that it has exactly the keys in their order.
json lies(const std::string& zeile) {
    const json j = json::parse(zeile);
    // nlohmann's object sorts its keys; the order is checked on the text.
    std::size_t pos = 0;
    for (const std::string& k : SCHLUESSEL) {
        const std::size_t p = zeile.find("\"" + k + "\":", pos);
        EXPECT_NE(p, std::string::npos) << k << " in " << zeile;
        if (p != std::string::npos) pos = p;
    }
    EXPECT_EQ(j.size(), SCHLUESSEL.size());
    return j;
}

void erwarteLueckenlos(const json& j) {
    EXPECT_EQ(j["luecken"], 0);
    EXPECT_EQ(j["ueberlappungen"], 0);
    EXPECT_EQ(j["nullen"], 0);
    EXPECT_EQ(j["laufzeit_samples"], 0);
    EXPECT_LT(j["rest_anfang_db"].get<double>(), -20.0);
    EXPECT_LT(j["rest_ende_db"].get<double>(), -20.0);
    // Short of the expected length only by what the converter still holds.
    EXPECT_LE(j["laenge"].get<int>(), j["soll_laenge"].get<int>());
    EXPECT_GT(j["laenge"].get<int>(), j["soll_laenge"].get<int>() - 500);
}

TEST(ZeitachsenSelbsttest, LosslessCasesShowNoCorrection) {
    const json mikro = lies(fall("mikro_lueckenlos", 4800, 1, 100, {}, 0.0));
    EXPECT_EQ(mikro["fall"], "mikro_lueckenlos");
    EXPECT_EQ(mikro["soll_laenge"], 164800);
    erwarteLueckenlos(mikro);
    const json system = lies(fall("systemton_lueckenlos", 960, 2, 500, {}, 0.0));
    EXPECT_EQ(system["soll_laenge"], 164800);
    erwarteLueckenlos(system);
}

TEST(ZeitachsenSelbsttest, LostBufferBecomesOneGapOfSilence) {
    const json j = lies(fall("mikro_aussetzer", 4800, 1, 100, {50}, 0.0));
    EXPECT_EQ(j["soll_laenge"], 164800);
    EXPECT_EQ(j["luecken"], 1);
    EXPECT_DOUBLE_EQ(j["luecken_ms"].get<double>(), 100.0);
    EXPECT_GE(j["nullen"].get<int>(), 1600);
    EXPECT_LT(j["nullen"].get<int>(), 1700);
    // After the gap the stream is back in step.
    EXPECT_LT(j["rest_ende_db"].get<double>(), -20.0);
}

TEST(ZeitachsenSelbsttest, DriftingClockIsCorrectedByGaps) {
    const json j = lies(fall("mikro_drift", 4800, 1, 300, {}, 0.0005));
    EXPECT_EQ(j["soll_laenge"], 485039);
    EXPECT_EQ(j["luecken"], 2);
    EXPECT_EQ(j["ueberlappungen"], 0);
    EXPECT_NEAR(j["luecken_ms"].get<double>(), 10.1, 0.2);
    // The clock runs ahead by 0.8 samples per buffer; by the end of the start window
    // that is about 8 samples, so the best lag lies halfway, not half a period off.
    EXPECT_GE(j["laufzeit_samples"].get<int>(), -8);
    EXPECT_LE(j["laufzeit_samples"].get<int>(), 0);
    // A drifting clock shows as a growing mismatch.
    EXPECT_GT(j["rest_ende_db"].get<double>(), j["rest_anfang_db"].get<double>());
}

TEST(ZeitachsenSelbsttest, TooShortForTheAnalysisStillGivesALine) {
    const json j = lies(fall("kurz", 480, 1, 3, {}, 0.0));
    EXPECT_LT(j["laenge"].get<int>(), 5600);
    // No window to compare over: no match shown.
    EXPECT_DOUBLE_EQ(j["rest_anfang_db"].get<double>(), 0.0);
    EXPECT_EQ(j["nullen"], 0);
}

TEST(ZeitachsenSelbsttest, ModePrintsTheFourCasesInOrder) {
    std::FILE* datei = std::tmpfile();
    ASSERT_NE(datei, nullptr);
    std::fflush(stdout);
    const int alt = dup(fileno(stdout));
    dup2(fileno(datei), fileno(stdout));
    const int status = zeitachsenSelbsttest();
    std::fflush(stdout);
    dup2(alt, fileno(stdout));
    close(alt);

    EXPECT_EQ(status, 0);
    std::rewind(datei);
    std::vector<std::string> zeilen;
    char puffer[4096];
    while (std::fgets(puffer, sizeof puffer, datei) != nullptr) zeilen.emplace_back(puffer);
    std::fclose(datei);
    const std::vector<std::string> namen{"mikro_lueckenlos", "mikro_aussetzer", "mikro_drift",
                                         "systemton_lueckenlos"};
    ASSERT_EQ(zeilen.size(), namen.size());
    for (std::size_t i = 0; i < namen.size(); ++i) {
        ASSERT_EQ(zeilen[i].back(), '\n');
        EXPECT_EQ(lies(zeilen[i].substr(0, zeilen[i].size() - 1))["fall"], namen[i]);
    }
}

}  // namespace
}  // namespace hoerspur
