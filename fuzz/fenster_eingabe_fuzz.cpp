// The "--fenster-wahl" document on arbitrary bytes: decoding never crashes, and
// whatever decodes gives a choice whose line is valid JSON naming a listed window.
// The bytes are read twice: as the whole document, and as the JSON text of one
// value (chosen by the first byte) inside an otherwise valid window, so that the
// strict per-key checks are reached from an empty corpus.
#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "recorder/video/eingabe.h"
#include "recorder/video/meeting_wahl.h"

namespace {

void pruefe(std::string_view text) {
    const std::optional<hoerspur::Eingabe> eingabe = hoerspur::leseEingabe(text);
    if (!eingabe) return;
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
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* daten, std::size_t groesse) {
    const std::string_view text(reinterpret_cast<const char*>(daten), groesse);
    pruefe(text);
    if (groesse == 0) return 0;

    const char* const schluessel[] = {"id", "titel",  "bundle", "app",      "x",
                                      "y",  "breite", "hoehe",  "sichtbar", "ebene"};
    const std::string werte[] = {
        "7", "\"Zoom Meeting\"", "\"us.zoom.xos\"", "\"zoom.us\"", "0", "0", "1280", "800", "true",
        "0"};
    const std::size_t ersetzt = daten[0] % 10;
    std::string dokument = "{\"fenster\":[{";
    for (std::size_t i = 0; i < 10; ++i) {
        if (i > 0) dokument += ",";
        dokument += "\"" + std::string(schluessel[i]) + "\":";
        dokument += i == ersetzt ? std::string(text.substr(1)) : werte[i];
    }
    dokument += "}]}";
    pruefe(dokument);
    return 0;
}
