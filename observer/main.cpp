// Namenspaeher: writes the participant names and the active speaker of the
// running meeting client, read from its accessibility tree, into the call folder.
// main only wires the desktop's accessibility service to the observer.
#include <cstdlib>
#include <string>
#include <vector>

#include "observer/beobachter.h"
#include "observer/stop_signale.h"
#include "observer/system_umgebung.h"
#include "platform/linux/atspi_barrierefreiheit.h"

int main(int argc, char** argv) {
    using namespace hoerspur;
    // First of all: libraries may start threads, and those must inherit the mask.
    StopSignale signale;
    const auto bf = atspiBarrierefreiheit();
    BeobachterUmgebung umgebung = systemUmgebung(*bf, signale);
    const int status = namenspaeher(std::vector<std::string>(argv, argv + argc), umgebung);
    bf->stelleZurueck();
    // Every file is closed and every line written; library teardown may block on
    // a bus that went away, so nothing of it runs.
    std::_Exit(status);
}
