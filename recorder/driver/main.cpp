// hoerspur: records the microphone ("me") and the system audio ("them") of a call.
// main only parses the command line and hands over to the selected mode.
#include "basis/ausgabe.h"
#include "platform/linux/linux_plattform.h"
#include "recorder/capture/zeitachsen_selbsttest.h"
#include "recorder/driver/aufnahme.h"
#include "recorder/driver/config.h"
#include "recorder/driver/echo_datei_modus.h"
#include "recorder/driver/ereignisse.h"

int main(int argc, char** argv) {
    using namespace hoerspur;
    // First of all: from here on a stop signal ends a recording with "done".
    sperreStopSignale();
    const Config cfg = parseArgs(argc, argv);
    // The side modes end on a stop signal the ordinary way.
    if (!istAufnahme(cfg)) gibStopSignaleFrei();

    // Mode selection: the first matching rule decides.
    if (cfg.echoDatei.size() == 3) return echoDateiModus(cfg);
    if (cfg.zeitachseTest) return zeitachsenSelbsttest();
    if (cfg.fensterWahl) {
        log("[hoerspur] --fenster-wahl: in diesem Build noch nicht verfuegbar");
        return 2;
    }
    if (cfg.fensterProbe) {
        log("[hoerspur] --fenster-probe: in diesem Build noch nicht verfuegbar");
        return 2;
    }
    fuehreAufnahmeAus(cfg, linuxPlattform());
}
