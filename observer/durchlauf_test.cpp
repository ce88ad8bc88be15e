// One scan of the simulated client: which nodes become rows, what the tree dump
// says, and how the node, depth and time budgets cut the walk.
#include "observer/durchlauf.h"

#include <gtest/gtest.h>

#include "tests/sim_beobachter.h"

namespace hoerspur {
namespace {

constexpr std::int32_t PID = 501;
const std::vector<ZoomProzess> PROZESSE = {{PID, "zoom.us"}};

struct Scan {
    explicit Scan(std::vector<SimKnoten> inhalt) {
        SimBaumSzenario s;
        s.anwendungen.push_back(anwendungMit(PID, std::move(inhalt)));
        bf = std::make_unique<SimBarrierefreiheit>(std::move(s), uhr);
    }
    Abtastung lauf(bool alles = true) {
        return abtasten(*bf, PROZESSE, alles, [this] { return uhr.jetzt(); });
    }
    SimUhr uhr{0.0, false};
    std::unique_ptr<SimBarrierefreiheit> bf;
};

std::vector<std::string> namen(const Abtastung& a) {
    std::vector<std::string> n;
    for (const Zeile& z : a.zeilen) n.push_back(z.reinerName());
    return n;
}

TEST(Durchlauf, NamesAndTilesBecomeRowsInTreeOrder) {
    SimKnoten menue = simKnoten("AXMenuBar");
    menue.kind(simKnoten("AXMenuBarItem", "Hanna Menue"));
    SimKnoten liste = simKnoten("AXList");
    liste.kind(statischerText("Anna Berg (Host, me)"))
        .kind(simKnoten("AXRow").mit("AXDescription", "Carla Diaz"))
        .kind(statischerText("10:45"));
    Scan s({std::move(menue), kachel("Jean-Luc Favre, Video on, Active speaker"),
            kachel("Zo\xC3\xAB Ma, Video off"), simKnoten("AXButton", "Bernd Ott"),
            simKnoten("AXCheckBox", "Hanna Ott"), std::move(liste)});
    const Abtastung a = s.lauf();
    EXPECT_EQ(namen(a), (std::vector<std::string>{"Jean-Luc Favre", "Zo\xC3\xAB Ma", "Bernd Ott",
                                                  "Anna Berg", "Carla Diaz"}));
    const Zeile& sprecher = a.zeilen[0];
    EXPECT_EQ(sprecher.rolle, "AXTabGroup");
    EXPECT_EQ(sprecher.felder.at("AXTitle"), "Jean-Luc Favre");
    EXPECT_EQ(sprecher.felder.at("KORALQuelle"), "zoom-kachel");
    EXPECT_EQ(sprecher.felder.at("KORALSpricht"), "1");
    EXPECT_EQ(a.zeilen[1].felder.at("KORALSpricht"), "0");
    EXPECT_EQ(a.zeilen[3].beschriftung(), "Anna Berg (Host, me)");
    EXPECT_FALSE(a.gekappt);
}

TEST(Durchlauf, TheTreeDumpShowsEveryNodeWithAttributesOnce) {
    SimKnoten gruppe = simKnoten("AXGroup");  // no attribute but its role
    SimKnoten ohneRolle;                      // the role cannot be read
    ohneRolle.mit("AXTitle", "  Anna  ").mit("AXSelected", 1.0).mit("AXEnabled", true);
    gruppe.kind(statischerText("Anna Berg").mit("AXRoleDescription", "text"))
        .kind(std::move(ohneRolle))
        .kind(simKnoten("AXImage").mit("AXValue", 0.5).mit("AXHelp", "zeile 1\nzeile 2"));
    Scan s({std::move(gruppe)});
    const Abtastung a = s.lauf();
    // The window is root, child and focused and main window: walked once.
    const std::vector<std::string> erwartet = {
        "### zoom.us [pid 501]",
        "  [AXWindow] AXTitle=Zoom Meeting",
        "      [AXStaticText] AXRoleDescription=text \xC2\xB7 AXValue=Anna Berg",
        "      [?] AXSelected=1 \xC2\xB7 AXTitle=Anna",
        "      [AXImage] AXHelp=zeile 1\nzeile 2 \xC2\xB7 AXValue=0.5",
    };
    EXPECT_EQ(a.roh, erwartet);
    EXPECT_TRUE(s.lauf(false).roh.empty());
}

// A chain of `tiefe` groups with a name at the bottom.
SimKnoten kette(int tiefe, const std::string& name) {
    SimKnoten unten = statischerText(name);
    for (int i = 0; i < tiefe; ++i) {
        SimKnoten g = simKnoten("AXGroup");
        g.kind(std::move(unten));
        unten = std::move(g);
    }
    return unten;
}

TEST(Durchlauf, NodesBeyondLevel60AreNotVisitedAndDoNotCutTheScan) {
    // The window is level 1; the chain's text lands at level 2 + tiefe.
    Scan s({kette(58, "Anna Berg"), kette(59, "Bernd Ott")});
    const Abtastung a = s.lauf();
    EXPECT_EQ(namen(a), std::vector<std::string>{"Anna Berg"});
    EXPECT_FALSE(a.gekappt);
}

TEST(Durchlauf, TheNodeBudgetStopsAt6000CountedNodes) {
    SimKnoten menue = simKnoten("AXMenuBar");
    for (int i = 0; i < 50; ++i) menue.kind(simKnoten("AXMenuItem", "Anna Berg"));
    std::vector<SimKnoten> inhalt{std::move(menue)};
    for (int i = 0; i < 7000; ++i) {
        inhalt.push_back(statischerText(i == 5998   ? "Letzte Gezaehlte"
                                        : i == 5999 ? "Zu Spaet"
                                                    : "x"));
    }
    Scan s(std::move(inhalt));
    const Abtastung a = s.lauf(false);
    // Window + 5999 texts = 6000 nodes; the menu bar is not counted.
    EXPECT_EQ(namen(a), std::vector<std::string>{"Letzte Gezaehlte"});
    EXPECT_TRUE(a.gekappt);
}

TEST(Durchlauf, TheTimeBudgetCutsASlowTreeAfterFourSeconds) {
    std::vector<SimKnoten> inhalt;
    for (int i = 0; i < 100; ++i) {
        SimKnoten t = statischerText("Anna Berg");
        t.dauerSekunden = 0.01;  // 11 reads: 0.11 s per node
        inhalt.push_back(std::move(t));
    }
    Scan s(std::move(inhalt));
    const Abtastung a = s.lauf(false);
    EXPECT_TRUE(a.gekappt);
    // 4.0 s / 0.11 s: the node being visited when time runs out completes.
    EXPECT_EQ(a.zeilen.size(), 37u);
    EXPECT_LT(s.uhr.jetzt(), 4.2);
}

TEST(Durchlauf, AHungOrUnknownProcessYieldsNoRows) {
    Scan s({statischerText("Anna Berg")});
    s.bf->knoten(PID, "fenster")->dauerSekunden = 100.0;
    const Abtastung a = s.lauf();
    EXPECT_TRUE(a.zeilen.empty());
    EXPECT_FALSE(a.gekappt);
    const Abtastung b = abtasten(*s.bf, {{4242, "zoom"}}, true, [&] { return s.uhr.jetzt(); });
    EXPECT_TRUE(b.zeilen.empty());
    EXPECT_EQ(b.roh, std::vector<std::string>{"### zoom [pid 4242]"});
}

}  // namespace
}  // namespace hoerspur
