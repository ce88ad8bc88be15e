// Test-only recorder: the shipped driver on the simulated platform. The first
// argument names a JSON scenario; the rest is the recorder's command line.
#include <cstdio>
#include <vector>

#include "platform/sim/sim_plattform.h"
#include "platform/sim/sim_szenario.h"
#include "recorder/driver/aufnahme.h"
#include "recorder/driver/config.h"

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
    fuehreAufnahmeAus(parseArgs(static_cast<int>(rest.size()), rest.data()), umgebung.plattform);
}
