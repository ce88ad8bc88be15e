// Test-only recorder: the shipped driver on the simulated platform. The first
// argument names a JSON scenario; the rest is the recorder's command line.
#include <cstdio>
#include <optional>
#include <vector>

#include "platform/sim/sim_plattform.h"
#include "platform/sim/sim_szenario.h"
#include "recorder/driver/aufnahme.h"
#include "recorder/driver/config.h"
#include "recorder/driver/seitenmodi.h"

int main(int argc, char** argv) {
    using namespace hoerspur;
    sperreStopSignale();
    if (argc < 2) {
        std::fprintf(stderr, "usage: hoerspur_sim SCENARIO.json [recorder options]\n");
        return 64;
    }
    SimUmgebung umgebung;
    try {
        umgebung = baueSimPlattform(ladeSzenario(argv[1]));
    } catch (const std::exception& f) {
        std::fprintf(stderr, "hoerspur_sim: %s\n", f.what());
        return 64;
    }
    std::vector<char*> rest{argv[0]};
    for (int i = 2; i < argc; ++i) rest.push_back(argv[i]);
    const Config cfg = parseArgs(static_cast<int>(rest.size()), rest.data());
    if (!istAufnahme(cfg)) gibStopSignaleFrei();
    if (const std::optional<int> status =
            fuehreSeitenmodusAus(cfg, *umgebung.plattform.bildschirm)) {
        return *status;
    }
    fuehreAufnahmeAus(cfg, umgebung.plattform);
}
