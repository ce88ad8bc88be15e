#include "recorder/driver/seitenmodi.h"

#include "recorder/capture/zeitachsen_selbsttest.h"
#include "recorder/driver/echo_datei_modus.h"
#include "recorder/driver/fenster_modi.h"

namespace hoerspur {

std::optional<int> fuehreSeitenmodusAus(const Config& konfig, BildschirmAufnahme& bildschirm) {
    if (konfig.echoDatei.size() == 3) return echoDateiModus(konfig);
    if (konfig.zeitachseTest) return zeitachsenSelbsttest();
    if (konfig.fensterWahl) return fensterWahlModus(konfig);
    if (konfig.fensterProbe) return fensterProbeModus(konfig, bildschirm);
    return std::nullopt;
}

}  // namespace hoerspur
