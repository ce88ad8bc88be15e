// The observer's files as a reader finds them: exact formats, whole lines only,
// an earlier run's files replaced, write failures that leave no broken line.
#include "observer/beobachter_dateien.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/dateien.h"
#include "tests/zeilen_mitschnitt.h"

namespace hoerspur {
namespace {

class Dateien : public ::testing::Test {
  protected:
    void SetUp() override {
        char vorlage[] = "/tmp/hs-beob-dateien-XXXXXX";
        ordner_ = mkdtemp(vorlage);
    }
    void TearDown() override { std::filesystem::remove_all(ordner_); }
    std::string pfad(const char* name) const { return ordner_ + "/" + name; }
    std::vector<std::string> dateien() const {
        std::vector<std::string> namen;
        for (const auto& e : std::filesystem::directory_iterator(ordner_)) {
            namen.push_back(e.path().filename().string());
        }
        std::sort(namen.begin(), namen.end());
        return namen;
    }
    std::string ordner_;
};

TEST_F(Dateien, RowsCarryCleanedNameRawLabelAndEveryAttribute) {
    const Zeile kachel{"AXTabGroup",
                       {{"AXDescription", "Anna Berg, Video on, Active speaker"},
                        {"AXTitle", "Anna Berg"},
                        {"KORALQuelle", "zoom-kachel"},
                        {"KORALSpricht", "1"}}};
    EXPECT_EQ(zeileAlsJson(kachel).dump(),
              R"({"rolle":"AXTabGroup","name":"Anna Berg","roh":"Anna Berg",)"
              R"("AXDescription":"Anna Berg, Video on, Active speaker","AXTitle":"Anna Berg",)"
              R"("KORALQuelle":"zoom-kachel","KORALSpricht":"1"})");
    const Zeile host{"AXStaticText", {{"AXTitle", "Anna Berg (Host)"}}};
    EXPECT_EQ(zeileAlsJson(host)["name"], "Anna Berg");
    EXPECT_EQ(zeileAlsJson(host)["roh"], "Anna Berg (Host)");
    // The fingerprint sorts keys and survives bytes that are no UTF-8.
    EXPECT_EQ(abdruck({host}),
              R"j([{"AXTitle":"Anna Berg (Host)","name":"Anna Berg","roh":"Anna Berg (Host)",)j"
              R"j("rolle":"AXStaticText"}])j");
    EXPECT_EQ(abdruck({Zeile{"AXStaticText", {{"AXTitle", "Ann\xFF"}}}}).find("Ann\xEF\xBF\xBD") !=
                  std::string::npos,
              true);
}

TEST_F(Dateien, TheTrackReplacesAnEarlierRunAndAppendsWholeLines) {
    std::ofstream(pfad(SPUR_DATEI)) << "{\"alt\":1}\n";
    Spur spur(pfad(SPUR_DATEI));
    EXPECT_EQ(liesDatei(pfad(SPUR_DATEI)), "{\"alt\":1}\n");  // untouched until the first line
    nlohmann::ordered_json z;
    z["t_ms"] = 1;
    z["runde"] = 1;
    z["gleich"] = true;
    spur.schreibe(z);
    z["runde"] = 2;
    z["name"] = "Zo\xC3\xAB \"Q\"\n";
    spur.schreibe(z);
    // Bytes that are no UTF-8 do not cost the line.
    z["runde"] = 3;
    z["name"] = "Ann\xFF";
    spur.schreibe(z);
    EXPECT_EQ(liesDatei(pfad(SPUR_DATEI)),
              "{\"t_ms\":1,\"runde\":1,\"gleich\":true}\n"
              "{\"t_ms\":1,\"runde\":2,\"gleich\":true,\"name\":\"Zo\xC3\xAB \\\"Q\\\"\\n\"}\n"
              "{\"t_ms\":1,\"runde\":3,\"gleich\":true,\"name\":\"Ann\xEF\xBF\xBD\"}\n");
}

TEST_F(Dateien, ATrackThatCannotOpenDropsTheLineAndTriesAgain) {
    const std::string unter = ordner_ + "/spaeter";
    Spur spur(unter + "/" + SPUR_DATEI);
    spur.schreibe({{"runde", 1}});
    std::filesystem::create_directory(unter);
    spur.schreibe({{"runde", 2}});
    EXPECT_EQ(liesDatei(unter + "/" + SPUR_DATEI), "{\"runde\":2}\n");
}

TEST_F(Dateien, ALineThatDoesNotFitIsCutOffSoTheFileEndsWhole) {
    // In a child: a file size limit of 100 bytes makes the third line fit only
    // in part, as a full disk would.
    const std::string datei = pfad(SPUR_DATEI);
    const pid_t kind = fork();
    if (kind == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit grenze{100, 100};
        setrlimit(RLIMIT_FSIZE, &grenze);
        Spur spur(datei);
        for (int i = 1; i <= 4; ++i) spur.schreibe({{"runde", i}, {"fuell", std::string(20, 'x')}});
        _exit(0);
    }
    int status = 0;
    waitpid(kind, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    const std::string zeile = R"({"runde":1,"fuell":"xxxxxxxxxxxxxxxxxxxx"})";
    const std::string inhalt = liesDatei(datei);
    ASSERT_EQ(inhalt.size() % (zeile.size() + 1), 0u) << inhalt;
    EXPECT_EQ(inhalt.size(), 2 * (zeile.size() + 1)) << inhalt;
    EXPECT_EQ(inhalt.back(), '\n');
}

TEST_F(Dateien, FindingsAreLoggedAtOnceAndTheFileIsReplacedWhole) {
    ZeilenMitschnitt mitschnitt;
    Befund befund(pfad(BEFUND_DATEI), [] { return std::int64_t{1772719629999}; });
    befund.befund("Ordner: /tmp/x");
    EXPECT_EQ(mitschnitt.logText(), "[zoom-namen] Ordner: /tmp/x\n");
    EXPECT_FALSE(std::filesystem::exists(pfad(BEFUND_DATEI)));
    befund.sichern();
    befund.befund("Takt: 2.0 s");
    befund.sichern();
    EXPECT_EQ(liesDatei(pfad(BEFUND_DATEI)),
              "ZOOM-NAMEN \xC2\xB7 BEFUND \xC2\xB7 2026-03-05T14:07:09Z\n" + std::string(72, '-') +
                  "\nOrdner: /tmp/x\nTakt: 2.0 s\n");
    EXPECT_EQ(dateien(), std::vector<std::string>{BEFUND_DATEI});  // no temporary file left
}

TEST_F(Dateien, TheTreeFileHasItsHeaderThenTheLines) {
    schreibeBaumDatei(pfad(BAUM_DATEI), {"### zoom.us [pid 1]", "  [AXWindow] AXTitle=Zoom"});
    EXPECT_EQ(liesDatei(pfad(BAUM_DATEI)),
              "ZOOM \xC2\xB7 VOLLER BEDIENUNGSHILFEN-BAUM, erste Abtastung\n"
              "Hier steht, WELCHES Attribut den Namen traegt und welches sich aendert,\n"
              "waehrend jemand redet. Daraus wird der Sprech-Marker \xE2\x80\x94 ohne Raten.\n" +
                  std::string(72, '-') + "\n### zoom.us [pid 1]\n  [AXWindow] AXTitle=Zoom\n");
}

TEST_F(Dateien, AMissingFolderLosesTheFilesButNotTheLog) {
    ZeilenMitschnitt mitschnitt;
    const std::string weg = ordner_ + "/gibt-es-nicht";
    Befund befund(weg + "/" + BEFUND_DATEI, [] { return std::int64_t{0}; });
    befund.befund("Ende");
    befund.sichern();
    schreibeBaumDatei(weg + "/" + BAUM_DATEI, {});
    EXPECT_FALSE(std::filesystem::exists(weg));
    EXPECT_EQ(mitschnitt.logText(), "[zoom-namen] Ende\n");
    EXPECT_TRUE(dateien().empty());
}

}  // namespace
}  // namespace hoerspur
