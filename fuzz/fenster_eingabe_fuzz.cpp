// The "--fenster-wahl" document on arbitrary bytes: decoding never crashes, and
// whatever decodes gives a choice whose line is valid JSON naming a listed window.
#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string_view>

#include "recorder/video/eingabe.h"
#include "recorder/video/meeting_wahl.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* daten, std::size_t groesse) {
    const std::string_view text(reinterpret_cast<const char*>(daten), groesse);
    const std::optional<hoerspur::Eingabe> eingabe = hoerspur::leseEingabe(text);
    if (!eingabe) return 0;
    std::set<std::uint32_t> ids;
    for (const auto& f : eingabe->fenster) ids.insert(f.id);

    const hoerspur::Wahl wahl = hoerspur::waehleMeetingZiel(eingabe->fenster);
    const auto zeile = nlohmann::json::parse(hoerspur::wahlJSON(wahl), nullptr, false);
    if (zeile.is_discarded() || zeile.size() != 5) std::abort();
    if (wahl.art == "fenster") {
        if (!ids.contains(wahl.id) || wahl.rang < 1 || wahl.rang > 4) std::abort();
    } else if (wahl.art != "nichts" || wahl.id != 0 ||
               !wahl.grund.starts_with(hoerspur::KEIN_BILD)) {
        std::abort();
    }
    return 0;
}
