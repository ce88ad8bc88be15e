// The simulated accessibility service and its JSON scenarios: what tests rely on
// when they script a client (hidden panels, failing presses, slow calls, apps
// that go away, process lists over time) and how bad scenarios are refused.
#include "platform/sim/sim_baum.h"

#include <gtest/gtest.h>

#include "platform/sim/sim_baum_szenario.h"

namespace hoerspur {
namespace {

const char* const SZENARIO = R"({
  "prozesse": [
    {"ab": 0, "ps": ["  501 /Applications/zoom.us.app/Contents/MacOS/zoom.us"]},
    {"ab": 10, "ps": []},
    {"ab": 20, "ps": null}
  ],
  "anwendungen": [{
    "pid": 501, "bis": 30,
    "baum": {"rolle": "AXApplication", "attribute": {
               "AXWindows": {"elemente": ["fenster"]}, "AXFocusedWindow": {"element": "fenster"}},
             "kinder": [{"id": "fenster", "rolle": "AXWindow", "kinder": [
               {"id": "knopf", "rolle": "AXButton", "attribute": {"AXTitle": "Teilnehmer"},
                "aktionen": {"AXPress": {"schaltet": ["panel"]}}},
               {"id": "stumm", "rolle": "AXButton", "aktionen": {"AXPress": {"gelingt": false}}},
               {"id": "panel", "rolle": "AXGroup", "versteckt": true, "kinder": [
                 {"rolle": "AXStaticText", "attribute": {"AXValue": "Anna Berg", "AXSelected": 1,
                                                         "AXEnabled": true, "AXPosition": null}}]},
               {"id": "langsam", "rolle": "AXGroup", "dauer": 2.5},
               {"id": "kaputt", "rolle": "AXGroup", "kaputt": true}]}]}
  }]
})";

struct Umgebung {
    SimUhr uhr{0.0, false};
    SimBarrierefreiheit bf{parseSimBaum(SZENARIO), uhr};

    BfElement kind(const BfElement& e, std::size_t i) {
        return std::get<std::vector<BfElement>>(bf.lies(e, "AXChildren")).at(i);
    }
    BfElement fenster() { return kind(bf.anwendung(501), 0); }
};

TEST(SimBaum, ReadsValuesOfEveryKindAndResolvesReferences) {
    Umgebung u;
    const BfElement app = u.bf.anwendung(501);
    EXPECT_EQ(std::get<std::string>(u.bf.lies(app, "AXRole")), "AXApplication");
    const auto fenster = std::get<std::vector<BfElement>>(u.bf.lies(app, "AXWindows"));
    ASSERT_EQ(fenster.size(), 1u);
    EXPECT_TRUE(u.bf.gleich(fenster[0], std::get<BfElement>(u.bf.lies(app, "AXFocusedWindow"))));
    EXPECT_TRUE(u.bf.gleich(fenster[0], u.fenster()));
    EXPECT_FALSE(u.bf.gleich(fenster[0], app));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(u.bf.lies(app, "AXMainWindow")));
    // The hidden panel is not among the window's children.
    EXPECT_EQ(std::get<std::vector<BfElement>>(u.bf.lies(u.fenster(), "AXChildren")).size(), 4u);
}

TEST(SimBaum, APressShowsThePanelAndAFailingPressChangesNothing) {
    Umgebung u;
    const BfElement knopf = u.kind(u.fenster(), 0);
    EXPECT_FALSE(u.bf.fuehreAus(u.kind(u.fenster(), 1), "AXPress"));
    EXPECT_FALSE(u.bf.fuehreAus(knopf, "AXShowMenu"));
    EXPECT_TRUE(u.bf.fuehreAus(knopf, "AXPress"));
    const BfElement panel = u.kind(u.fenster(), 2);
    const BfElement text = u.kind(panel, 0);
    EXPECT_EQ(std::get<std::string>(u.bf.lies(text, "AXValue")), "Anna Berg");
    EXPECT_EQ(std::get<double>(u.bf.lies(text, "AXSelected")), 1.0);
    EXPECT_TRUE(std::get<bool>(u.bf.lies(text, "AXEnabled")));
    EXPECT_TRUE(std::holds_alternative<BfAnderer>(u.bf.lies(text, "AXPosition")));
    EXPECT_TRUE(u.bf.fuehreAus(knopf, "AXPress"));
    EXPECT_EQ(std::get<std::vector<BfElement>>(u.bf.lies(u.fenster(), "AXChildren")).size(), 4u);
    EXPECT_EQ(u.bf.aktionen(), (std::vector<std::string>{"AXPress knopf", "AXPress knopf"}));
}

TEST(SimBaum, SlowCallsCostClockTimeUpToTheMessagingTimeout) {
    Umgebung u;
    const BfElement langsam = u.kind(u.fenster(), 2);
    EXPECT_EQ(std::get<std::string>(u.bf.lies(langsam, "AXRole")), "AXGroup");
    EXPECT_DOUBLE_EQ(u.uhr.jetzt(), 2.5);
    u.bf.setzeZeitlimit(u.bf.anwendung(501), 1.5);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(u.bf.lies(langsam, "AXRole")));
    EXPECT_DOUBLE_EQ(u.uhr.jetzt(), 4.0);
    EXPECT_TRUE(
        std::holds_alternative<std::monostate>(u.bf.lies(u.kind(u.fenster(), 3), "AXRole")));
}

TEST(SimBaum, ProcessListsAndApplicationsFollowTheScenarioClock) {
    Umgebung u;
    EXPECT_EQ(u.bf.prozessListe(), "  501 /Applications/zoom.us.app/Contents/MacOS/zoom.us\n");
    u.uhr.setze(10);
    EXPECT_EQ(u.bf.prozessListe(), "");
    u.uhr.setze(25);
    EXPECT_FALSE(u.bf.prozessListe().has_value());
    const BfElement app = u.bf.anwendung(501);
    EXPECT_TRUE(std::holds_alternative<std::string>(u.bf.lies(app, "AXRole")));
    u.uhr.setze(30);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(u.bf.lies(app, "AXRole")));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(u.bf.lies(u.bf.anwendung(502), "AXRole")));
    EXPECT_TRUE(u.bf.freigabe().vorhanden);
}

TEST(SimBaum, BadScenariosAreRefusedWithWhereAndWhat) {
    const std::vector<std::pair<std::string, std::string>> faelle = {
        {"[", "kein gueltiges JSON"},
        {R"({"freigabe": 1})", "baum.freigabe"},
        {R"({"prozess": []})", "unbekannter Schluessel"},
        {R"({"prozesse": [{"ab": 5, "ps": []}, {"ab": 1, "ps": []}]})", "aufsteigen"},
        {R"({"prozesse": [{"ab": 0}]})", "ps: fehlt"},
        {R"({"anwendungen": [{"pid": 1.5, "baum": {}}]})", "pid"},
        {R"({"anwendungen": [{"pid": 1}]})", "baum: fehlt"},
        {R"({"anwendungen": [{"pid": 1, "baum": {"attribute": {"AXChildren": []}}}]})",
         "AXChildren"},
        {R"({"anwendungen": [{"pid": 1, "baum": {"attribute": {"AXWindows": {"element": "x"}}}}]})",
         "unbekannte Id \"x\""},
        {R"({"anwendungen": [{"pid": 1, "baum": {"id": "a", "kinder": [{"id": "a"}]}}]})",
         "doppelt"},
        {R"({"anwendungen": [{"pid": 1, "baum": {"aktionen": {"AXPress": {"schaltet": ["y"]}}}}]})",
         "unbekannte Id"},
        {R"({"anwendungen": [{"pid": 1, "baum": {"attribute": {"AXTitle": [1]}}}]})",
         "kein Attributwert"},
        {R"({"anwendungen": [{"pid": 1, "baum": {"dauer": -1}}]})", "dauer"},
    };
    for (const auto& [text, teil] : faelle) {
        try {
            parseSimBaum(text);
            ADD_FAILURE() << "angenommen: " << text;
        } catch (const SzenarioFehler& f) {
            EXPECT_NE(std::string(f.what()).find(teil), std::string::npos) << f.what();
        }
    }
    std::string tief = R"({"anwendungen": [{"pid": 1, "baum": )";
    for (int i = 0; i < 300; ++i) tief += R"({"kinder": [)";
    tief += "{}";
    for (int i = 0; i < 300; ++i) tief += "]}";
    tief += "}]}";
    EXPECT_THROW(parseSimBaum(tief), SzenarioFehler);
}

}  // namespace
}  // namespace hoerspur
