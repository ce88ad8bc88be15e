// Any byte string, escaped and put between quotes, must parse as a JSON string
// and stay on one line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "basis/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string escaped = hoerspur::jsonEscape(text);
    if (escaped.find('\n') != std::string::npos) std::abort();
    const auto wert = nlohmann::json::parse("\"" + escaped + "\"", nullptr, false);
    if (wert.is_discarded() || !wert.is_string()) std::abort();
    // Valid UTF-8 without control characters comes back unchanged.
    bool einfach = true;
    for (unsigned char c : text) {
        if (c < 0x20 || c >= 0x80) einfach = false;
    }
    if (einfach && wert.get<std::string>() != text) std::abort();
    return 0;
}
