#include "recorder/driver/ausgabe_ordner.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/plattform_fehler.h"

namespace hoerspur {
namespace {

namespace fs = std::filesystem;

class AusgabeOrdnerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char vorlage[] = "/tmp/hs-ordner-XXXXXX";
        ASSERT_NE(mkdtemp(vorlage), nullptr);
        basis = vorlage;
    }
    void TearDown() override { fs::remove_all(basis); }

    // The description of the error oeffne() throws for `pfad`, or nothing.
    static std::optional<std::string> fehler(const std::string& pfad) {
        try {
            AusgabeOrdner::oeffne(pfad);
        } catch (const PlattformFehler& f) {
            EXPECT_EQ(f.domain(), "posix");
            return f.beschreibung();
        }
        return std::nullopt;
    }

    std::string basis;
};

TEST_F(AusgabeOrdnerTest, MakesTheFolderLeavesNothingInItAndKeepsASecondRecorderOut) {
    const std::string ordner = basis + "/a/b/call";
    {
        AusgabeOrdner erster = AusgabeOrdner::oeffne(ordner);
        EXPECT_TRUE(fs::is_directory(ordner));
        EXPECT_TRUE(fs::is_empty(ordner));
        EXPECT_EQ(fehler(ordner),
                  "Ausgabeordner \"" + ordner + "\" wird schon von einer anderen Aufnahme benutzt");
        // The same folder under another spelling is the same folder.
        EXPECT_TRUE(fehler(basis + "/a/b/../b/call/"));
    }
    EXPECT_FALSE(fehler(ordner));  // free again once the first recording is over
}

TEST_F(AusgabeOrdnerTest, AFolderThatCannotTakeTheRecordingIsNamedWithTheReason) {
    std::ofstream(basis + "/datei") << "x";
    std::string lang = basis;
    while (lang.size() < 4096 - 40) lang += "/" + std::string(200, 'l');
    lang.resize(4096 - 40);
    struct Fall {
        std::string pfad;
        std::string erwartet;
    };
    const Fall faelle[] = {
        {basis + "/datei", "\" nicht anlegbar: Not a directory"},
        {basis + "/datei/unter", "\" nicht anlegbar: Not a directory"},
        {"/proc/hoerspur-aufnahme", "\" nicht anlegbar: No such file or directory"},
        {lang, "\": Pfad zu lang fuer die Chunk-Dateien: File name too long"},
    };
    for (const Fall& f : faelle) {
        EXPECT_EQ(fehler(f.pfad), "Ausgabeordner \"" + f.pfad + f.erwartet) << f.pfad;
    }
    // The folder of a path too long for its chunks was made, and stays empty.
    EXPECT_TRUE(fs::is_empty(lang));
}

}  // namespace
}  // namespace hoerspur
