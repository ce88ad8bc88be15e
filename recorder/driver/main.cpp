// hoerspur: records the microphone ("me") and the system audio ("them") of a call.
// main only parses the command line and hands over to the selected mode.
#include <optional>
#include <string>

#include "basis/ausgabe.h"
#include "platform/linux/linux_plattform.h"
#include "recorder/driver/aufnahme.h"
#include "recorder/driver/config.h"
#include "recorder/driver/seitenmodi.h"

int main(int argc, char** argv) {
    using namespace hoerspur;
    // First of all: from here on a stop signal ends a recording with "done".
    sperreStopSignale();
    const Config cfg = parseArgs(argc, argv);
    // The side modes end on a stop signal the ordinary way.
    if (!istAufnahme(cfg)) gibStopSignaleFrei();

    Plattform plattform = linuxPlattform();
    if (const std::optional<int> status = fuehreSeitenmodusAus(cfg, *plattform.bildschirm)) {
        return *status;
    }
    fuehreAufnahmeAus(cfg, std::move(plattform));
}
