// Test helper: the removal of trailing bracket groups exactly as written, for
// the unit test and the fuzz target to check ohneKlammerGruppen() against: find
// the last "(" and the last ")", cut, trim blanks and tabs, again.
#pragma once

#include <string>

namespace hoerspur {

inline std::string klammernSchrittFuerSchritt(std::string t) {
    while (true) {
        const auto auf = t.rfind('(');
        if (auf == std::string::npos) return t;
        const auto zu = t.rfind(')');
        if (zu == std::string::npos || zu < auf) return t;
        t = t.substr(0, auf) + t.substr(zu + 1);
        const auto anfang = t.find_first_not_of(" \t");
        if (anfang == std::string::npos) {
            t.clear();
        } else {
            t = t.substr(anfang, t.find_last_not_of(" \t") - anfang + 1);
        }
    }
}

}  // namespace hoerspur
