// Which application an X window belongs to, from its WM_CLASS: the meeting
// clients and browsers that exist on Linux get the bundle identifiers the
// meeting choice knows; every other class stands for itself. The table is
// documented in docs/fenster-katalog.md.
//
// Pure function; any thread.
#pragma once

#include <string>
#include <string_view>

namespace hoerspur {

struct X11App {
    std::string bundle;
    std::string name;
};

// `instanz` and `klasse` are WM_CLASS's two strings (res_name, res_class).
X11App appFuerWmKlasse(std::string_view instanz, std::string_view klasse);

}  // namespace hoerspur
