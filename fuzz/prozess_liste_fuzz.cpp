// The process-list parser on arbitrary lister output: it must never fail, list
// only ids it read, never the observer itself, and only names that fit the filter.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "observer/unicode_text.h"
#include "observer/zoom_prozess.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* daten, std::size_t groesse) {
    const std::string_view text(reinterpret_cast<const char*>(daten), groesse);
    constexpr std::int32_t EIGENE = 4711;
    for (const auto& ersatz : {std::optional<std::string>(), std::optional<std::string>("zoom"),
                               std::optional<std::string>("")}) {
        for (const hoerspur::ZoomProzess& p : hoerspur::parseProzessListe(text, EIGENE, ersatz)) {
            if (p.pid == EIGENE || p.name.empty()) std::abort();
            if (text.find(std::to_string(p.pid < 0 ? -static_cast<std::int64_t>(p.pid) : p.pid)) ==
                std::string_view::npos) {
                std::abort();
            }
            if (hoerspur::gueltigesUtf8(p.name) != p.name) std::abort();
            if (ersatz && ersatz->empty()) std::abort();
        }
    }
    return 0;
}
