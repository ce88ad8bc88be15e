#include "platform/linux/pulse_fehler.h"

#include <pulse/error.h>

namespace hoerspur {

PlattformFehler pulseFehler(const std::string& was, int paFehler) {
    const char* text = pa_strerror(paFehler);
    std::string beschreibung = was;
    if (text != nullptr && *text != '\0') beschreibung += std::string(": ") + text;
    return PlattformFehler(kPulseDomain, paFehler, beschreibung);
}

}  // namespace hoerspur
