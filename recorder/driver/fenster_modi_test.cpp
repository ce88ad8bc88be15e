#include "recorder/driver/fenster_modi.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/plattform_fehler.h"
#include "platform/sim/sim_plattform.h"
#include "recorder/video/eingabe.h"
#include "tests/zeilen_mitschnitt.h"

namespace hoerspur {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A file that collects what a mode prints.
class Ausgabe {
  public:
    Ausgabe() : datei_(std::tmpfile(), std::fclose) {}
    std::FILE* datei() { return datei_.get(); }
    std::vector<std::string> zeilen() {
        std::rewind(datei_.get());
        std::string text;
        char puffer[4096];
        std::size_t n;
        while ((n = std::fread(puffer, 1, sizeof puffer, datei_.get())) > 0) text.append(puffer, n);
        return ZeilenMitschnitt::zeilen(text);
    }

  private:
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> datei_;
};

TeilbaresFenster fenster(std::uint32_t id, const char* titel, std::optional<FensterApp> app,
                         FensterRahmen rahmen = {0, 0, 1280, 800}, bool sichtbar = true) {
    return TeilbaresFenster{id, titel, std::move(app), rahmen, sichtbar, 0};
}

class FensterProbe : public testing::Test {
  protected:
    FensterProbe() {
        SimSzenario s;
        s.systemAudio.fenster = {SimFensterSchritt{
            0.0,
            {fenster(7, "Zoom Meeting", FensterApp{"us.zoom.xos", "zoom.us", 4711},
                     {-0.5, 25.9, 1280.9, 800.7}),
             fenster(8, "Terminal", FensterApp{"org.gnome.Terminal", "Terminal", 90}),
             fenster(9, "Nachrichten \"heute\"",
                     FensterApp{"com.google.Chrome", "Google Chrome", 5}, {0, 0, 900, 700}, false),
             fenster(10, "Hintergrund", std::nullopt),
             fenster(11, "x", FensterApp{"evil\"app\\", "Ev\til", std::nullopt})},
            std::nullopt}};
        umgebung = baueSimPlattform(std::move(s));
    }

    int probe(bool alle) {
        Config c;
        c.fensterProbe = true;
        c.alleFenster = alle;
        return fensterProbeModus(c, *umgebung.plattform.bildschirm, ausgabe.datei());
    }

    SimUmgebung umgebung;
    Ausgabe ausgabe;
};

TEST_F(FensterProbe, ListsMeetingClientsAndBrowsersCountsTheRestAndChooses) {
    ASSERT_EQ(probe(false), 0);
    EXPECT_EQ(
        ausgabe.zeilen(),
        (std::vector<std::string>{
            R"({"fenster":7,"app":"zoom.us","bundle":"us.zoom.xos","titel":"Zoom Meeting","breite":1280,"hoehe":800,"x":0,"y":25,"sichtbar":true,"ebene":0})",
            R"({"fenster":9,"app":"Google Chrome","bundle":"com.google.Chrome","titel":"Nachrichten \"heute\"","breite":900,"hoehe":700,"x":0,"y":0,"sichtbar":false,"ebene":0})",
            R"({"andere_fenster":2})",
            "{\"wahl\":{\"art\":\"fenster\",\"id\":7,\"quelle\":\"Zoom \u00b7 Zoom "
            "Meeting\",\"rang\":1,\"grund\":\"Zoom-Meetingfenster\"}}"}));
}

TEST_F(FensterProbe, WithAlleEveryWindowOfAnApplicationGetsAValidLine) {
    ASSERT_EQ(probe(true), 0);
    const std::vector<std::string> zeilen = ausgabe.zeilen();
    ASSERT_EQ(zeilen.size(), 5u);  // four windows with an application and the choice
    for (const std::string& z : zeilen) {
        EXPECT_FALSE(nlohmann::json::parse(z, nullptr, false).is_discarded()) << z;
        EXPECT_EQ(z.find("andere_fenster"), std::string::npos);
    }
    // A bundle the window's client made up cannot break the line.
    const auto boese = nlohmann::json::parse(zeilen[3]);
    EXPECT_EQ(boese["bundle"], "evil\"app\\");
    EXPECT_EQ(boese["app"], "Ev il");
    EXPECT_TRUE(zeilen[4].starts_with("{\"wahl\":{\"art\":\"fenster\",\"id\":7,"));
}

TEST(FensterProbeFehler, RefusalGivesTheFehlerLineAndStatus3) {
    SimSzenario s;
    s.systemAudio.inhaltFehler = PlattformFehler("x11", 1, "kein X-Display: \"DISPLAY\" fehlt");
    SimUmgebung u = baueSimPlattform(std::move(s));
    Ausgabe ausgabe;
    Config c;
    EXPECT_EQ(fensterProbeModus(c, *u.plattform.bildschirm, ausgabe.datei()), 3);
    EXPECT_EQ(ausgabe.zeilen(),
              std::vector<std::string>{R"({"fehler":"kein X-Display: \"DISPLAY\" fehlt"})"});
}

// A window server that accepts the connection and never answers.
class StummerDienst final : public BildschirmAufnahme {
  public:
    TeilbarerInhalt teilbarerInhalt() override {
        std::this_thread::sleep_for(1h);
        return {};
    }
    std::unique_ptr<SystemAudioStrom> starteSystemAudio(const Display&,
                                                        const SystemAudioKonfiguration&,
                                                        SampleFunktion, StopFunktion) override {
        return nullptr;
    }
};

TEST(FensterProbeFehler, ASilentWindowServerEndsTheProbeWithStatus3) {
    Ausgabe ausgabe;
    StummerDienst dienst;
    Config c;
    EXPECT_EXIT(fensterProbeModus(c, dienst, ausgabe.datei(), 200ms), testing::ExitedWithCode(3),
                "");
    EXPECT_EQ(ausgabe.zeilen(),
              std::vector<std::string>{
                  R"({"fehler":"Fensterliste: keine Antwort vom Fensterdienst nach 1 s"})"});
}

class FensterWahl : public testing::Test {
  protected:
    void SetUp() override {
        std::string muster = (fs::temp_directory_path() / "fenster_wahl_XXXXXX").string();
        ASSERT_NE(mkdtemp(muster.data()), nullptr);
        ordner = muster;
    }
    void TearDown() override { fs::remove_all(ordner); }

    int wahl(const std::string& pfad) {
        Config c;
        c.fensterWahl = pfad;
        return fensterWahlModus(c, ausgabe.datei());
    }
    std::string datei(const std::string& inhalt) {
        const std::string pfad = (ordner / "fenster.json").string();
        std::ofstream(pfad, std::ios::binary) << inhalt;
        return pfad;
    }

    fs::path ordner;
    Ausgabe ausgabe;
    ZeilenMitschnitt log;
};

TEST_F(FensterWahl, PrintsTheChoiceForTheListedWindows) {
    ASSERT_EQ(wahl(datei(R"({"fenster": [
        {"id": 3, "titel": "Meet \u2013 abc-defg-hij", "bundle": "com.google.Chrome",
         "app": "Google Chrome", "x": 0, "y": 0, "breite": 1200, "hoehe": 800,
         "sichtbar": true, "ebene": 0}]})")),
              0);
    EXPECT_EQ(ausgabe.zeilen(),
              std::vector<std::string>{"{\"art\":\"fenster\",\"id\":3,\"quelle\":\"Google Chrome "
                                       "\u00b7 Meet \u2013 abc-defg-hij\",\"rang\":1,\"grund\":"
                                       "\"Meeting im Browser\"}"});
    EXPECT_TRUE(log.logZeilen().empty());

    ASSERT_EQ(wahl(datei(R"({"fenster": []})")), 0);
    EXPECT_EQ(ausgabe.zeilen().back(),
              "{\"art\":\"nichts\",\"id\":0,\"quelle\":\"\",\"rang\":0,\"grund\":\"kein "
              "Meetingfenster \u2013 kein Bild (keine Meeting-App offen)\"}");
}

TEST_F(FensterWahl, UnreadableInputGivesTheLogLineAndStatus2) {
    std::string zuGross = R"({"fenster": [], "x": ")";
    zuGross.append(MAX_EINGABE_BYTES, ' ');
    for (const std::string& pfad : {(ordner / "fehlt.json").string(), ordner.string(),
                                    datei("{\"fenster\": [{}]}"), datei(zuGross + "\"}")}) {
        EXPECT_EQ(wahl(pfad), 2) << pfad;
    }
    EXPECT_TRUE(ausgabe.zeilen().empty());
    EXPECT_EQ(log.logZeilen(),
              std::vector<std::string>(4, "[hoerspur] --fenster-wahl: JSON nicht lesbar"));
}

}  // namespace
}  // namespace hoerspur
