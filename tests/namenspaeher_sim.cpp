// Test-only observer: the shipped loop with real signals, clocks and parent, on a
// simulated accessibility service. The first argument names a JSON scenario
// (docs/sim-baum.md); the rest is the observer's command line. Calls that the
// scenario makes slow, and the pause after opening the participants panel, move
// the walk's clock instead of taking real time.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "observer/beobachter.h"
#include "observer/stop_signale.h"
#include "observer/system_umgebung.h"
#include "platform/sim/sim_baum_szenario.h"

int main(int argc, char** argv) {
    using namespace hoerspur;
    StopSignale signale;
    if (argc < 2) {
        std::fprintf(stderr, "usage: namenspaeher_sim SCENARIO.json [observer arguments]\n");
        return 64;
    }
    SimBaumSzenario szenario;
    try {
        szenario = ladeSimBaum(argv[1]);
    } catch (const SzenarioFehler& f) {
        std::fprintf(stderr, "namenspaeher_sim: %s\n", f.what());
        return 64;
    }
    SimUhr uhr(0.0, true);
    SimBarrierefreiheit bf(std::move(szenario), uhr);
    BeobachterUmgebung umgebung = systemUmgebung(bf, signale);
    umgebung.prozessListe = [&bf] { return bf.prozessListe(); };
    umgebung.monoSekunden = [&uhr] { return uhr.jetzt(); };
    umgebung.schlafe = [&uhr](double sekunden) { uhr.vorruecken(sekunden); };
    std::vector<std::string> argumente{argv[0]};
    argumente.insert(argumente.end(), argv + 2, argv + argc);
    std::_Exit(namenspaeher(argumente, umgebung));
}
