// Window properties as any X client may write them: the readers must never read
// past the data and must always give valid UTF-8. The first byte picks the type,
// the second the format, the rest is the value.
#include <unicode/unistr.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/linux/wm_class_tabelle.h"
#include "platform/linux/x11_eigenschaften.h"

namespace {

void pruefeUtf8(const std::string& text) {
    const icu::UnicodeString u = icu::UnicodeString::fromUTF8(text);
    std::string zurueck;
    u.toUTF8String(zurueck);
    if (zurueck != text) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* daten, std::size_t groesse) {
    if (groesse < 2) return 0;
    const hoerspur::X11TextTypen typen{301, 31, 302};
    const std::uint32_t typAuswahl[] = {0, 301, 31, 302, 6, 4};
    const std::uint8_t formate[] = {0, 8, 16, 32};
    const hoerspur::X11Eigenschaft e{
        typAuswahl[daten[0] % 6], formate[daten[1] % 4],
        std::string_view(reinterpret_cast<const char*>(daten + 2), groesse - 2)};
    for (const bool nurUtf8 : {true, false}) {
        if (const auto t = hoerspur::x11Text(e, typen, nurUtf8)) pruefeUtf8(*t);
    }
    if (const auto k = hoerspur::x11WmKlasse(e, typen)) {
        pruefeUtf8(k->instanz);
        pruefeUtf8(k->klasse);
        const hoerspur::X11App app = hoerspur::appFuerWmKlasse(k->instanz, k->klasse);
        if (app.bundle.empty() && !(k->instanz.empty() && k->klasse.empty())) std::abort();
    }
    if (hoerspur::x11Werte32(e, 6).size() * 4 > e.bytes.size()) std::abort();
    return 0;
}
