// The name and tile rules on arbitrary accessibility texts: every function must
// answer without crashing, the trailing-group removal must agree with its
// step-by-step definition, and a name must keep the limits the rules promise.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "observer/namensregeln.h"
#include "observer/unicode_text.h"
#include "tests/klammern_schritt_fuer_schritt.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* daten, std::size_t groesse) {
    const std::string_view text(reinterpret_cast<const char*>(daten), groesse);
    const std::string ohne = hoerspur::ohneKlammerGruppen(text);
    if (groesse <= 512 && ohne != hoerspur::klammernSchrittFuerSchritt(std::string(text)))
        std::abort();

    if (hoerspur::siehtWieNameAus(text)) {
        const std::string name = hoerspur::ohneKlammerGruppen(hoerspur::ohneRandLeerraum(text));
        const std::size_t zeichen = hoerspur::graphemAnzahl(name, 100);
        if (zeichen < 3 || zeichen > 48 || hoerspur::hatDezimalziffer(name) ||
            hoerspur::istMeetingBot(name)) {
            std::abort();
        }
    }

    // The first byte picks the role; the rest splits into description and role text.
    const std::string_view rolle = groesse > 0 && (daten[0] & 1) ? "AXTabGroup" : "AXGroup";
    const std::size_t mitte = text.size() / 2;
    hoerspur::Felder felder{{"AXDescription", std::string(text.substr(0, mitte))},
                            {"AXRoleDescription", std::string(text.substr(mitte))}};
    if (const auto kachel = hoerspur::kachelName(rolle, felder)) {
        if (rolle != "AXTabGroup" || !hoerspur::siehtWieNameAus(kachel->name)) std::abort();
    }
    const hoerspur::Zeile zeile{"AXStaticText", felder};
    (void)zeile.reinerName();
    (void)hoerspur::nfc(text);
    if (hoerspur::gueltigesUtf8(hoerspur::gueltigesUtf8(text)) != hoerspur::gueltigesUtf8(text)) {
        std::abort();
    }
    return 0;
}
