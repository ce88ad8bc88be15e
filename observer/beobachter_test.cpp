// The observer's loop on the simulated client, on a scripted clock: start-up and
// its aborts, the first scan with the participants panel, full and short lines,
// the row cap, idle reports, and every way the run ends.
#include "observer/beobachter.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "observer/beobachter_dateien.h"
#include "tests/dateien.h"
#include "tests/sim_beobachter.h"
#include "tests/zeilen_mitschnitt.h"

namespace hoerspur {
namespace {

using Json = nlohmann::json;

constexpr std::int32_t ZOOM = 501;
const std::string ZOOM_PFAD = "/Applications/zoom.us.app/Contents/MacOS/zoom.us";
const std::string CPTHOST_PFAD =
    "/Applications/zoom.us.app/Contents/Frameworks/cpthost.app/Contents/MacOS/CptHost";

// A call: three tiles (Jean-Luc speaks), the participants list collapsed behind
// its button, the client's main process and its call host.
SimBaumSzenario call() {
    std::vector<SimKnoten> inhalt = {kachel("Anna Berg, Video on"),
                                     kachel("Jean-Luc Favre, Video on, Active speaker"),
                                     kachel("\xC3\x89lodie Dubois, Video off")};
    for (SimKnoten& k : teilnehmerPanel(
             {"Anna Berg (Host, me)", "Zoe\xCC\x88 Ma", "Zo\xC3\xAB Ma", "Fireflies Notetaker"})) {
        inhalt.push_back(std::move(k));
    }
    SimBaumSzenario s;
    s.prozesse.push_back({0.0, psZeile(ZOOM, ZOOM_PFAD) + psZeile(502, CPTHOST_PFAD) +
                                   psZeile(1000, "/usr/local/bin/zoom-namenspaeher")});
    s.anwendungen.push_back(anwendungMit(ZOOM, std::move(inhalt)));
    return s;
}

// A client whose tree has no name at all.
SimBaumSzenario leererCall() {
    SimBaumSzenario s;
    s.prozesse.push_back({0.0, psZeile(ZOOM, ZOOM_PFAD)});
    s.anwendungen.push_back(anwendungMit(ZOOM, {simKnoten("AXButton", "Chat")}));
    return s;
}

class Beobachter : public ::testing::Test {
  protected:
    void SetUp() override {
        char vorlage[] = "/tmp/hs-beob-XXXXXX";
        ordner_ = mkdtemp(vorlage);
    }
    void TearDown() override { std::filesystem::remove_all(ordner_); }

    std::string datei(const char* name) const { return ordner_ + "/" + name; }
    std::vector<Json> spur() const {
        std::vector<Json> zeilen;
        for (const std::string& z : zeilenVon(liesDatei(datei(SPUR_DATEI)))) {
            zeilen.push_back(Json::parse(z));
        }
        return zeilen;
    }
    // The findings file's lines after its two header lines.
    std::vector<std::string> befund() const {
        const auto alle = ZeilenMitschnitt::zeilen(liesDatei(datei(BEFUND_DATEI)));
        return alle.size() < 2 ? alle : std::vector<std::string>(alle.begin() + 2, alle.end());
    }
    std::vector<std::string> befundMit(const std::string& anfang) const {
        std::vector<std::string> treffer;
        for (const std::string& z : befund()) {
            if (z.rfind(anfang, 0) == 0) treffer.push_back(z);
        }
        return treffer;
    }
    static std::vector<std::string> namenIn(const Json& zeile) {
        std::vector<std::string> namen;
        for (const Json& z : zeile["zeilen"]) namen.push_back(z["name"]);
        return namen;
    }

    ZeilenMitschnitt mitschnitt_;
    std::string ordner_;
};

TEST_F(Beobachter, WithoutPermissionOnlyTheFindingsFileIsWrittenAndTheExitIs3) {
    SimBaumSzenario s = call();
    s.freigabe = {false, "Bedienungshilfen: der Bedienungshilfen-Bus antwortet nicht"};
    SimWelt welt(std::move(s));
    EXPECT_EQ(welt.starte(ordner_), 3);
    const std::vector<std::string> erwartet = {
        "Ordner: " + ordner_,
        "Takt: 2.0 s",
        "ABBRUCH: keine Bedienungshilfen-Freigabe fuer diesen Prozess.",
        "",
        "  Das ist der wahrscheinlichste Grund, wenn hier nie Namen ankommen.",
        "  KORAL selbst HAT die Freigabe (sonst wuerde das Einfuegen nach dem",
        "  Diktieren nicht funktionieren) \xE2\x80\x94 dieser Beobachter laeuft aber als eigener",
        "  Prozess und bekommt sie nur vererbt. Wurde er von Hand im Terminal",
        "  gestartet, braucht das TERMINAL die Freigabe.",
        "  Systemeinstellungen -> Datenschutz & Sicherheit -> Bedienungshilfen.",
    };
    EXPECT_EQ(befund(), erwartet);
    EXPECT_FALSE(std::filesystem::exists(datei(SPUR_DATEI)));
    EXPECT_FALSE(std::filesystem::exists(datei(BAUM_DATEI)));
    // Standard error says what is missing on this desktop, after the findings.
    const auto log = mitschnitt_.logZeilen();
    EXPECT_EQ(log.back(),
              "[zoom-namen] Bedienungshilfen: der Bedienungshilfen-Bus antwortet nicht");
    EXPECT_EQ(log.front(), "[zoom-namen] Ordner: " + ordner_);
}

TEST_F(Beobachter, NoProcessToObserveEndsWithStatus0AndSaysWhy) {
    SimBaumSzenario s = call();
    s.prozesse = {{0.0, psZeile(77, "/usr/bin/bash")}};
    SimWelt ohneZoom(std::move(s));
    EXPECT_EQ(ohneZoom.starte(ordner_), 0);
    EXPECT_EQ(befund().back(),
              "ABBRUCH: kein Zoom-Prozess gefunden \xE2\x80\x94 dieses Gespraech lief nicht ueber "
              "Zoom.");

    SimBaumSzenario t = call();
    t.prozesse = {{0.0, std::nullopt}};  // the lister cannot even start
    SimWelt ohneLister(std::move(t));
    EXPECT_EQ(ohneLister.starte(ordner_, {"--app", "Editor"}), 0);
    EXPECT_EQ(befund(), (std::vector<std::string>{"Ordner: " + ordner_, "Takt: 2.0 s",
                                                  "Bedienungshilfen: vorhanden",
                                                  "SELBSTTEST gegen App: editor (nicht Zoom)",
                                                  "ABBRUCH: kein Prozess passt auf \"editor\"."}));
    EXPECT_FALSE(std::filesystem::exists(datei(SPUR_DATEI)));
}

TEST_F(Beobachter, OneScanOpensThePanelScansAgainRestoresItAndReports) {
    SimWelt welt(call());
    EXPECT_EQ(welt.starte(ordner_, {"--einmal", "--takt", "0.75"}), 0);

    const auto zeilen = spur();
    ASSERT_EQ(zeilen.size(), 1u);
    const Json& z = zeilen[0];
    EXPECT_EQ(z["runde"], 1);
    EXPECT_EQ(z["gekappt"], false);
    EXPECT_FALSE(z.contains("gedeckelt"));
    EXPECT_EQ(z["t_ms"], 1700000000000 + 800);  // after the panel's 0.8 s
    // Tiles of the first scan, then everything of the scan with the panel open.
    EXPECT_EQ(namenIn(z),
              (std::vector<std::string>{"Anna Berg", "Jean-Luc Favre", "\xC3\x89lodie Dubois",
                                        "Anna Berg", "Jean-Luc Favre", "\xC3\x89lodie Dubois",
                                        "Anna Berg", "Zoe\xCC\x88 Ma", "Zo\xC3\xAB Ma"}));
    EXPECT_EQ(z["zeilen"][1]["KORALSpricht"], "1");
    EXPECT_EQ(z["zeilen"][6]["roh"], "Anna Berg (Host, me)");

    // Pressed twice: the panel is collapsed again, as the user left it.
    EXPECT_EQ(welt.bf.aktionen(),
              (std::vector<std::string>{"AXPress teilnehmer-knopf", "AXPress teilnehmer-knopf"}));
    EXPECT_TRUE(welt.bf.knoten(ZOOM, "panel")->versteckt);

    const std::string baum = liesDatei(datei(BAUM_DATEI));
    EXPECT_NE(baum.find("### zoom.us [pid 501]\n  [AXWindow] AXTitle=Zoom Meeting\n"),
              std::string::npos);
    const auto umgeschaltet =
        baum.find("### Teilnehmer-Panel, umgeschalteter Zustand\n### zoom.us");
    ASSERT_NE(umgeschaltet, std::string::npos);
    EXPECT_EQ(baum.find("Fireflies Notetaker"), baum.rfind("Fireflies Notetaker"));
    EXPECT_GT(baum.find("Fireflies Notetaker"), umgeschaltet);

    const std::vector<std::string> erwartet = {
        "Ordner: " + ordner_,
        "Takt: 0.75 s (einmalig)",
        "Bedienungshilfen: vorhanden",
        "Prozesse: zoom.us[501], CptHost[502]",
        "Echter Call (CptHost): ja",
        "Teilnehmer-Panel kurz abgetastet und Ausgangszustand wiederhergestellt.",
        "Voller Baum abgelegt: zoom-baum.txt (19 Zeilen)",
        "Ende nach 1 Abtastungen. Verschiedene Namen gesehen: 4",
        // Sorted by code points; "Zoë" composed and decomposed is one name.
        "Namen: Anna Berg, Jean-Luc Favre, Zoe\xCC\x88 Ma, \xC3\x89lodie Dubois",
    };
    EXPECT_EQ(befund(), erwartet);
    // "--einmal": no wait, no parent check, no second process list.
    for (const double w : welt.wartezeiten) EXPECT_EQ(w, 0.0);
}

TEST_F(Beobachter, UnchangedRowsGiveShortLinesAndASpeakerChangeAFullOne) {
    SimWelt welt(call());
    int runden = 0;
    welt.zwischenDenRunden = [&] {
        // After the third scan Anna starts speaking.
        if (++runden == 3) {
            welt.bf.knoten(ZOOM, "fenster")
                ->kinder[0]
                .mit("AXDescription", "Anna Berg, Video on, Active speaker");
            welt.bf.knoten(ZOOM, "fenster")
                ->kinder[1]
                .mit("AXDescription", "Jean-Luc Favre, Video on");
        }
    };
    welt.stopAb = 9.9;  // during the fifth wait
    EXPECT_EQ(welt.starte(ordner_), 0);
    const auto zeilen = spur();
    ASSERT_EQ(zeilen.size(), 5u);
    // The first line also holds the names of the opened panel; from the second
    // scan on the picture stays the same until the speaker changes.
    EXPECT_EQ(zeilen[0]["zeilen"].size(), 9u);
    EXPECT_EQ(zeilen[1]["zeilen"].size(), 3u);
    EXPECT_EQ(zeilen[2], (Json{{"t_ms", zeilen[2]["t_ms"]}, {"runde", 3}, {"gleich", true}}));
    ASSERT_TRUE(zeilen[3].contains("zeilen"));
    EXPECT_EQ(zeilen[3]["zeilen"][0]["KORALSpricht"], "1");
    EXPECT_EQ(zeilen[3]["zeilen"][1]["KORALSpricht"], "0");
    EXPECT_GT(zeilen[3]["t_ms"], zeilen[2]["t_ms"]);
    EXPECT_TRUE(zeilen[4].contains("gleich"));
    EXPECT_EQ(befundMit("Ende nach ").front(),
              "Ende nach 5 Abtastungen. Verschiedene Namen gesehen: 4");
}

TEST_F(Beobachter, EmptyScansGiveAFullLineFirstAndThenShortOnes) {
    SimWelt welt(leererCall());
    welt.stopAb = 5.0;
    EXPECT_EQ(welt.starte(ordner_), 0);
    const auto zeilen = spur();
    ASSERT_EQ(zeilen.size(), 3u);
    EXPECT_EQ(zeilen[0]["zeilen"], Json::array());
    EXPECT_TRUE(zeilen[1]["gleich"]);
    EXPECT_TRUE(zeilen[2]["gleich"]);
    const auto ende = befund();
    EXPECT_EQ(std::vector<std::string>(ende.end() - 3, ende.end()),
              (std::vector<std::string>{
                  "Ende nach 3 Abtastungen. Verschiedene Namen gesehen: 0",
                  "KEIN EINZIGER NAME. Das ist der Befund, auf den es ankommt \xE2\x80\x94",
                  "in zoom-baum.txt steht, was die Oberflaeche stattdessen hergegeben hat."}));
}

// Two letters per index: 300 distinct names without digits.
std::string name(int i) {
    return std::string("Person ") + static_cast<char>('A' + i / 26) +
           static_cast<char>('a' + i % 26) + "x";
}

TEST_F(Beobachter, ThreeHundredRowsAreCappedAt250AndOnlyThoseCount) {
    std::vector<SimKnoten> inhalt;
    for (int i = 0; i < 300; ++i) inhalt.push_back(statischerText(name(i)));
    SimBaumSzenario s;
    s.prozesse.push_back({0.0, psZeile(ZOOM, ZOOM_PFAD)});
    s.anwendungen.push_back(anwendungMit(ZOOM, std::move(inhalt)));
    SimWelt welt(std::move(s));
    int runden = 0;
    welt.zwischenDenRunden = [&] {
        auto& kinder = welt.bf.knoten(ZOOM, "fenster")->kinder;
        ++runden;
        if (runden == 1) kinder[299].mit("AXValue", std::string("Spaeter Dazu"));  // beyond the cap
        if (runden == 2) kinder[249].mit("AXValue", std::string("Noch Drin"));  // the last kept row
    };
    welt.stopAb = 5.0;
    EXPECT_EQ(welt.starte(ordner_, {"--app", "zoom"}), 0);
    const auto zeilen = spur();
    ASSERT_EQ(zeilen.size(), 3u);
    EXPECT_EQ(zeilen[0]["zeilen"].size(), 250u);
    EXPECT_EQ(zeilen[0]["gedeckelt"], true);
    EXPECT_EQ(zeilen[0]["zeilen"][249]["name"], name(249));
    EXPECT_TRUE(zeilen[1]["gleich"]);
    EXPECT_EQ(zeilen[2]["zeilen"][249]["name"], "Noch Drin");
    // Every row counts as seen, also those beyond the cap.
    EXPECT_EQ(befundMit("Ende nach ").front(),
              "Ende nach 3 Abtastungen. Verschiedene Namen gesehen: 302");
}

struct Leerlauf {
    std::string takt;
    double stopAb;
    std::vector<std::string> meldungen;
    int listenAbrufe;  // process list runs: start-up plus one every n scans
};

TEST_F(Beobachter, IdleReportsComeEveryThirtySecondsWhateverThePeriod) {
    const std::string ursache =
        " s kein Name im Baum. Haeufigste Ursache: die Teilnehmerliste ist in Zoom zugeklappt.";
    const std::vector<Leerlauf> faelle = {
        {"2", 61.0, {"Runde 15: seit 30" + ursache, "Runde 30: seit 60" + ursache}, 3},
        {"7",
         85.0,
         {"Runde 4: seit 28" + ursache, "Runde 8: seit 56" + ursache,
          "Runde 12: seit 84" + ursache},
         4},
        {"45",
         136.0,
         {"Runde 1: seit 45" + ursache, "Runde 2: seit 90" + ursache, "Runde 3: seit 135" + ursache,
          "Runde 4: seit 180" + ursache},
         4},
    };
    for (const Leerlauf& f : faelle) {
        SimWelt welt(leererCall());
        int abrufe = 0;
        welt.umgebung.prozessListe = [&] {
            ++abrufe;
            return welt.bf.prozessListe();
        };
        std::vector<std::string> gespeichert;
        welt.zwischenDenRunden = [&] {
            if (gespeichert.empty()) gespeichert = befund();
        };
        welt.stopAb = f.stopAb;
        EXPECT_EQ(welt.starte(ordner_, {"--takt", f.takt}), 0);
        EXPECT_EQ(befundMit("Runde "), f.meldungen) << f.takt;
        EXPECT_EQ(abrufe, f.listenAbrufe) << f.takt;
        if (f.takt == "45") {
            // The report after the first scan was saved with the start-up lines.
            ASSERT_FALSE(gespeichert.empty());
            EXPECT_EQ(gespeichert.front(), "Ordner: " + ordner_);
            EXPECT_EQ(gespeichert.back(), f.meldungen.front());
        }
    }
}

TEST_F(Beobachter, AnIdleReportSaysWhenTheWalkWasCut) {
    std::vector<SimKnoten> inhalt(6100, simKnoten("AXGroup"));
    SimBaumSzenario s;
    s.prozesse.push_back({0.0, psZeile(ZOOM, ZOOM_PFAD)});
    s.anwendungen.push_back(anwendungMit(ZOOM, std::move(inhalt)));
    SimWelt welt(std::move(s));
    welt.stopAb = 1.0;
    EXPECT_EQ(welt.starte(ordner_, {"--takt", "45"}), 0);
    EXPECT_EQ(spur()[0]["gekappt"], true);
    EXPECT_EQ(befundMit("Runde 1:"),
              std::vector<std::string>{
                  "Runde 1: seit 45 s kein Name im Baum. Haeufigste Ursache: die "
                  "Teilnehmerliste ist in Zoom zugeklappt. (Durchlauf wurde gekappt \xE2\x80\x94 "
                  "Baum groesser als das Kontingent.)"});
}

TEST_F(Beobachter, TheRunEndsWhenTheClientIsGoneAtARefresh) {
    SimBaumSzenario s = call();
    s.prozesse.push_back({20.0, psZeile(77, "/usr/bin/bash")});
    s.anwendungen[0].bisSekunden = 20.0;
    SimWelt welt(std::move(s));
    EXPECT_EQ(welt.starte(ordner_), 0);
    // Scans 11 to 15 find nothing; the list is asked again after scan 15.
    const auto zeilen = spur();
    ASSERT_EQ(zeilen.size(), 15u);
    EXPECT_EQ(zeilen[10]["zeilen"], Json::array());
    const auto ende = befund();
    EXPECT_EQ(ende[ende.size() - 3], "Beobachtete App ist weg \xE2\x80\x94 Ende.");
    EXPECT_EQ(ende[ende.size() - 2], "Ende nach 15 Abtastungen. Verschiedene Namen gesehen: 4");
}

TEST_F(Beobachter, TheRunEndsAfterTheScanInWhichTheParentDied) {
    SimWelt welt(call());
    welt.elternWegAb = 2.0;  // between the first and the second scan
    EXPECT_EQ(welt.starte(ordner_), 0);
    EXPECT_EQ(spur().size(), 2u);
    EXPECT_EQ(befundMit("Elternprozess"),
              std::vector<std::string>{"Elternprozess weg \xE2\x80\x94 Ende."});
    EXPECT_EQ(befundMit("Ende nach ").front(),
              "Ende nach 2 Abtastungen. Verschiedene Namen gesehen: 4");
}

TEST_F(Beobachter, AStopDuringTheWaitEndsAtOnceWithTheClosingReport) {
    SimWelt welt(call());
    welt.stopAb = 2.9;  // 0.8 s panel pause, then waiting from 0.8 to 2.8, then ...
    EXPECT_EQ(welt.starte(ordner_), 0);
    EXPECT_EQ(spur().size(), 2u);
    EXPECT_DOUBLE_EQ(welt.uhr.jetzt(), 2.9);
    EXPECT_EQ(befund().back(),
              "Namen: Anna Berg, Jean-Luc Favre, Zoe\xCC\x88 Ma, \xC3\x89lodie Dubois");

    // A stop that came during start-up: no scan at all, still a closing report.
    SimWelt frueh(call());
    frueh.stopAb = 0.0;
    EXPECT_EQ(frueh.starte(ordner_), 0);
    EXPECT_EQ(befundMit("Ende nach "),
              std::vector<std::string>{"Ende nach 0 Abtastungen. Verschiedene Namen gesehen: 0"});
    EXPECT_TRUE(frueh.bf.aktionen().empty());
}

// Putting the panel back presses the button that opened it, even when the opened
// list (here ahead of it in the tree) holds another "participants" button; and the
// findings say so when the panel could not be put back.
TEST_F(Beobachter, ThePanelIsPutBackWithTheButtonThatOpenedIt) {
    auto szenario = [](std::optional<double> clientBis) {
        std::vector<SimKnoten> knopfUndPanel = teilnehmerPanel({"Anna Berg", "Carla Diaz"});
        SimKnoten einladen = simKnoten("AXButton", "Invite participants");
        einladen.id = "einladen";
        einladen.aktionen["AXPress"] = SimAktion{true, {}};
        knopfUndPanel[1].kind(std::move(einladen));
        SimBaumSzenario s;
        s.prozesse.push_back({0.0, psZeile(ZOOM, ZOOM_PFAD)});
        s.anwendungen.push_back(
            anwendungMit(ZOOM, {kachel("Anna Berg, Video on"), std::move(knopfUndPanel[1]),
                                std::move(knopfUndPanel[0])}));
        s.anwendungen.back().bisSekunden = clientBis;
        return s;
    };
    auto panelBefund = [this] {
        for (const std::string& z : befund()) {
            if (z.rfind("Teilnehmer-Panel", 0) == 0) return z;
        }
        return std::string("<keiner>");
    };

    SimWelt welt(szenario(std::nullopt));
    EXPECT_EQ(welt.starte(ordner_, {"--einmal"}), 0);
    EXPECT_EQ(welt.bf.aktionen(),
              (std::vector<std::string>{"AXPress teilnehmer-knopf", "AXPress teilnehmer-knopf"}));
    EXPECT_TRUE(welt.bf.knoten(ZOOM, "panel")->versteckt);
    EXPECT_EQ(panelBefund(),
              "Teilnehmer-Panel kurz abgetastet und Ausgangszustand wiederhergestellt.");

    // The client goes away while the panel is open: nothing can be pressed.
    std::filesystem::remove_all(ordner_);
    std::filesystem::create_directory(ordner_);
    SimWelt weg(szenario(0.5));
    EXPECT_EQ(weg.starte(ordner_, {"--einmal"}), 0);
    EXPECT_EQ(weg.bf.aktionen(), (std::vector<std::string>{"AXPress teilnehmer-knopf"}));
    EXPECT_EQ(panelBefund(),
              "Teilnehmer-Panel kurz abgetastet; Ausgangszustand nicht wiederhergestellt "
              "(erneutes Druecken schlug fehl).");
}

TEST_F(Beobachter, TheSelfTestLeavesThePanelAloneButDumpsTheTree) {
    SimWelt welt(call());
    EXPECT_EQ(welt.starte(ordner_, {"--app", "CPTHOST", "--einmal"}), 0);
    EXPECT_TRUE(welt.bf.aktionen().empty());
    EXPECT_TRUE(befundMit("Echter Call").empty());
    EXPECT_EQ(befundMit("SELBSTTEST"),
              std::vector<std::string>{"SELBSTTEST gegen App: cpthost (nicht Zoom)"});
    EXPECT_EQ(befundMit("Prozesse: "), std::vector<std::string>{"Prozesse: CptHost[502]"});
    EXPECT_EQ(befundMit("Voller Baum"),
              std::vector<std::string>{"Voller Baum abgelegt: zoom-baum.txt (1 Zeilen)"});
    EXPECT_EQ(ZeilenMitschnitt::zeilen(liesDatei(datei(BAUM_DATEI))).back(),
              "### CptHost [pid 502]");
}

TEST(BeobachterAufruf, UnusablePeriodsAreIgnoredAndTheFirstOptionCounts) {
    const auto takt = [](std::vector<std::string> optionen) {
        optionen.insert(optionen.begin(), {"Namenspaeher", "/tmp/call"});
        return parseBeobachterArgs(optionen)->taktSekunden;
    };
    EXPECT_EQ(takt({}), 2.0);
    for (const char* schlecht : {"0.3", "abc", "0,75", " 1", "1 ", "nan", "inf", "1e9", "", "-1"}) {
        EXPECT_EQ(takt({"--takt", schlecht}), 2.0) << schlecht;
    }
    EXPECT_EQ(takt({"--takt"}), 2.0);
    EXPECT_EQ(takt({"--takt", "0.5"}), 0.5);
    EXPECT_EQ(takt({"--einmal", "--takt", "7", "--takt", "9"}), 7.0);
    EXPECT_EQ(takt({"--takt", "0.3", "--takt", "9"}), 2.0);
    EXPECT_EQ(takt({"--takt", "1e1"}), 10.0);

    const auto c = parseBeobachterArgs(
        {"Namenspaeher", "/tmp/call/", "--app", "Zoom.US", "x", "--einmal", "--app", "andere"});
    EXPECT_EQ(c->ordner, "/tmp/call");
    EXPECT_EQ(c->ersatzApp, "zoom.us");
    EXPECT_TRUE(c->nurEinmal);
    EXPECT_FALSE(parseBeobachterArgs({"Namenspaeher", "/tmp/call", "--app"})->ersatzApp);
    EXPECT_FALSE(parseBeobachterArgs({"Namenspaeher"}).has_value());
    EXPECT_EQ(parseBeobachterArgs({"Namenspaeher", "calls/a"})->ordner,
              (std::filesystem::current_path() / "calls/a").string());

    EXPECT_EQ(taktText(2.0), "2.0");
    EXPECT_EQ(taktText(0.75), "0.75");
    EXPECT_EQ(taktText(0.1 + 0.5), "0.6");
    EXPECT_EQ(taktText(86400), "86400.0");
}

TEST(BeobachterAufruf, WithoutAFolderTheUsageGoesToStandardErrorWithStatus2) {
    ZeilenMitschnitt mitschnitt;
    BeobachterUmgebung leer;
    EXPECT_EQ(namenspaeher({"Namenspaeher"}, leer), 2);
    EXPECT_EQ(mitschnitt.logText(), "Aufruf: Namenspaeher <call-ordner> [--takt n] [--einmal]\n");
}

}  // namespace
}  // namespace hoerspur
