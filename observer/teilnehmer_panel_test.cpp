// Finding and pressing the participants button in the simulated client.
#include "observer/teilnehmer_panel.h"

#include <gtest/gtest.h>

#include "tests/sim_beobachter.h"

namespace hoerspur {
namespace {

constexpr std::int32_t PID = 501;

SimKnoten knopf(const std::string& id, const std::string& rolle, const std::string& attribut,
                const std::string& text, bool gelingt = true) {
    SimKnoten k = simKnoten(rolle).mit(attribut, text);
    k.id = id;
    k.aktionen["AXPress"] = SimAktion{gelingt, {}};
    return k;
}

SimKnoten tief(int ebenen, SimKnoten unten) {
    for (int i = 0; i < ebenen; ++i) {
        SimKnoten g = simKnoten("AXGroup");
        g.kind(std::move(unten));
        unten = std::move(g);
    }
    return unten;
}

// An application with one root window per entry.
struct Client {
    explicit Client(std::vector<SimKnoten> fenster) {
        SimKnoten app = simKnoten("AXApplication");
        for (SimKnoten& f : fenster) app.kind(std::move(f));
        SimBaumSzenario s;
        s.anwendungen.push_back({PID, std::move(app), std::nullopt});
        bf = std::make_unique<SimBarrierefreiheit>(std::move(s), uhr);
    }
    bool drueckeKnopf() { return teilnehmerPanelUmschalten(*bf, {{PID, "zoom"}}); }
    SimUhr uhr{0.0, false};
    std::unique_ptr<SimBarrierefreiheit> bf;
};

SimKnoten fenster(std::vector<SimKnoten> inhalt) {
    SimKnoten f = simKnoten("AXWindow");
    for (SimKnoten& k : inhalt) f.kind(std::move(k));
    return f;
}

TEST(TeilnehmerPanel, ButtonsAreFoundByAnyLabelInAnyCase) {
    for (const auto& [attribut, text] : std::vector<std::pair<std::string, std::string>>{
             {"AXTitle", "Teilnehmer"},
             {"AXDescription", "Manage Participants (3)"},
             {"AXHelp", "Teilnehmerliste anzeigen"},
             {"AXIdentifier", "btnPARTICIPANTS"}}) {
        Client c(
            {fenster({simKnoten("AXButton", "Chat"), knopf("k", "AXButton", attribut, text)})});
        EXPECT_TRUE(c.drueckeKnopf()) << text;
        EXPECT_EQ(c.bf->aktionen(), std::vector<std::string>{"AXPress k"});
    }
    // A role that says "Taste" counts as a button too.
    Client taste({fenster({knopf("t", "Teilnehmer-Taste", "AXTitle", "Teilnehmer")})});
    EXPECT_TRUE(taste.drueckeKnopf());
}

TEST(TeilnehmerPanel, ALabelWithoutAButtonRoleIsPassedIntoItsChildren) {
    SimKnoten text = statischerText("Teilnehmer");
    text.mit("AXTitle", "Teilnehmer");
    text.kind(knopf("innen", "AXButton", "AXTitle", "Participants"));
    Client c({fenster({std::move(text)})});
    EXPECT_TRUE(c.drueckeKnopf());
    EXPECT_EQ(c.bf->aktionen(), std::vector<std::string>{"AXPress innen"});
}

TEST(TeilnehmerPanel, TheSearchStopsAtDepth50And6000ElementsPerRoot) {
    // The root is level 0: a button at level 50 is found, at 51 not.
    Client flach({fenster({tief(49, knopf("k50", "AXButton", "AXTitle", "Teilnehmer"))})});
    EXPECT_TRUE(flach.drueckeKnopf());
    Client zuTief({fenster({tief(50, knopf("k51", "AXButton", "AXTitle", "Teilnehmer"))})});
    EXPECT_FALSE(zuTief.drueckeKnopf());

    // 6000 elements in the first root (itself included), the button after them;
    // the second root is searched with a fresh count.
    std::vector<SimKnoten> viele(5999, simKnoten("AXGroup"));
    viele.push_back(knopf("spaet", "AXButton", "AXTitle", "Teilnehmer"));
    Client c({fenster(std::move(viele)),
              fenster({knopf("zweiter", "AXButton", "AXTitle", "Teilnehmer")})});
    EXPECT_TRUE(c.drueckeKnopf());
    EXPECT_EQ(c.bf->aktionen(), std::vector<std::string>{"AXPress zweiter"});
}

TEST(TeilnehmerPanel, AFailingPressMovesToTheNextRoot) {
    Client c({fenster({knopf("defekt", "AXButton", "AXTitle", "Teilnehmer", false)}),
              fenster({knopf("gut", "AXButton", "AXTitle", "Teilnehmer")})});
    EXPECT_TRUE(c.drueckeKnopf());
    EXPECT_EQ(c.bf->aktionen(), std::vector<std::string>{"AXPress gut"});

    Client ohne(
        {fenster({simKnoten("AXButton", "Chat"), simKnoten("AXStaticText", "Teilnehmer")})});
    EXPECT_FALSE(ohne.drueckeKnopf());
    EXPECT_TRUE(ohne.bf->aktionen().empty());
}

}  // namespace
}  // namespace hoerspur
