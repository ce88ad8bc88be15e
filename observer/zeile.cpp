#include "observer/zeile.h"

#include "observer/namensregeln.h"
#include "observer/unicode_text.h"

namespace hoerspur {

std::string Zeile::beschriftung() const {
    for (const char* name : {"AXTitle", "AXDescription", "AXValue", "AXValueDescription"}) {
        const auto it = felder.find(name);
        if (it != felder.end() && !it->second.empty()) return it->second;
    }
    return {};
}

std::string Zeile::reinerName() const {
    return std::string(ohneRandLeerraum(ohneKlammerGruppen(beschriftung())));
}

}  // namespace hoerspur
