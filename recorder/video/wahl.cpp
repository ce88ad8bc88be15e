#include "recorder/video/wahl.h"

#include "basis/text.h"

namespace hoerspur {

bool Wahl::gleichesZiel(const std::optional<Wahl>& andere) const {
    return andere && andere->art == art && andere->id == id;
}

std::string wahlJSON(const Wahl& wahl) {
    // "art" is one of the program's own words; escaping it anyway keeps the line
    // whole should a caller ever put something else there.
    return "{\"art\":\"" + jsonEscape(wahl.art) + "\",\"id\":" + std::to_string(wahl.id) +
           ",\"quelle\":\"" + jsonEscape(wahl.quelle) + "\",\"rang\":" + std::to_string(wahl.rang) +
           ",\"grund\":\"" + jsonEscape(wahl.grund) + "\"}";
}

}  // namespace hoerspur
