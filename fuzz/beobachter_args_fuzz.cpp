// The observer's command line from arbitrary argument vectors (separated by NUL
// bytes): parsing never fails and keeps the period within its limits.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "observer/beobachter.h"
#include "observer/unicode_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* daten, std::size_t groesse) {
    std::vector<std::string> argumente{"Namenspaeher"};
    std::string aktuell;
    for (std::size_t i = 0; i < groesse; ++i) {
        if (daten[i] == 0) {
            argumente.push_back(aktuell);
            aktuell.clear();
        } else {
            aktuell.push_back(static_cast<char>(daten[i]));
        }
    }
    argumente.push_back(aktuell);
    const auto config = hoerspur::parseBeobachterArgs(argumente);
    if (!config) std::abort();
    if (!std::isfinite(config->taktSekunden) ||
        config->taktSekunden < hoerspur::MIN_TAKT_SEKUNDEN ||
        config->taktSekunden > hoerspur::MAX_TAKT_SEKUNDEN) {
        std::abort();
    }
    if (config->ersatzApp && hoerspur::gueltigesUtf8(*config->ersatzApp) != *config->ersatzApp) {
        std::abort();
    }
    const std::string text = hoerspur::taktText(config->taktSekunden);
    if (std::strtod(text.c_str(), nullptr) != config->taktSekunden) std::abort();
    return 0;
}
