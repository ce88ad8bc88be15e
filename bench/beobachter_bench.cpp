// Cost of one observer scan on the simulated accessibility service, for trees of
// 1000 and 6000 nodes (the node budget): the walk, the name and tile rules and
// the tree lines of a first scan, without the cost of talking to an application.
// Time per scan in milliseconds; "zeilen" rows found, "baumzeilen" tree lines.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "observer/beobachter_dateien.h"
#include "observer/durchlauf.h"
#include "tests/sim_beobachter.h"

namespace {

using namespace hoerspur;

const char* const NAMEN[] = {"Anna Berg", "Jean-Luc Favre", "\xC3\x89lodie Dubois",
                             "Zo\xC3\xAB M\xC3\xBCller", "Carla Diaz (Gast)"};

// A meeting window of `anzahl` nodes: panels of ten (a tile, a name, a button,
// seven labels of interface noise) nested four deep, the way clients group them.
SimBaumSzenario baum(int anzahl) {
    std::vector<SimKnoten> inhalt;
    int knoten = 1;  // the window
    int i = 0;
    while (knoten + 14 <= anzahl) {
        SimKnoten panel = simKnoten("AXGroup");
        panel
            .kind(kachel(std::string(NAMEN[i % 5]) +
                         (i % 3 == 0 ? ", Video on, Active speaker" : ", Video off")))
            .kind(statischerText(NAMEN[(i + 1) % 5]))
            .kind(simKnoten("AXButton", "Stummschalten").mit("AXHelp", "Mikrofon aus"));
        for (int k = 0; k < 7; ++k) {
            panel.kind(statischerText(k % 2 ? "10:4" + std::to_string(k) : "Ansicht")
                           .mit("AXRoleDescription", "text"));
        }
        SimKnoten aussen = simKnoten("AXGroup");
        SimKnoten mitte = simKnoten("AXSplitGroup");
        SimKnoten innen = simKnoten("AXScrollArea");
        innen.kind(std::move(panel));
        mitte.kind(std::move(innen));
        aussen.kind(std::move(mitte));
        // 10 in the panel, 1 panel, 3 around it
        knoten += 14;
        inhalt.push_back(std::move(aussen));
        ++i;
    }
    while (knoten < anzahl) {
        inhalt.push_back(statischerText("zeile"));
        ++knoten;
    }
    SimBaumSzenario s;
    s.anwendungen.push_back(anwendungMit(501, std::move(inhalt)));
    return s;
}

void BM_Abtastung(benchmark::State& state) {
    SimUhr uhr(0.0, false);
    SimBarrierefreiheit bf(baum(static_cast<int>(state.range(0))), uhr);
    const bool alles = state.range(1) != 0;
    const std::vector<ZoomProzess> prozesse = {{501, "zoom.us"}};
    std::size_t zeilen = 0;
    int knoten = 0;
    for (auto _ : state) {
        Abtastung a = abtasten(bf, prozesse, alles, [&] { return uhr.jetzt(); });
        // The scan's line as the loop composes it.
        std::string abdr = abdruck(a.zeilen);
        benchmark::DoNotOptimize(abdr);
        zeilen = a.zeilen.size();
        knoten = static_cast<int>(a.roh.size());
    }
    state.counters["zeilen"] = static_cast<double>(zeilen);
    state.counters["baumzeilen"] = knoten;
}
BENCHMARK(BM_Abtastung)
    ->ArgNames({"knoten", "erste"})
    ->Args({1000, 0})
    ->Args({1000, 1})
    ->Args({6000, 0})
    ->Args({6000, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
