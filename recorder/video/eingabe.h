// The window list document that "--fenster-wahl" reads: {"fenster": [...]}, each
// window an object with exactly the keys of FensterInfo.
//
// Decoding is strict: every key is required with its exact JSON type; "id" an
// integer that fits 32 bits unsigned, "ebene" a 64-bit integer, the frame values
// finite numbers, "sichtbar" a boolean. Keys the record does not know are
// ignored. Pure functions; any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "recorder/video/fenster_info.h"

namespace hoerspur {

struct Eingabe {
    std::vector<FensterInfo> fenster;
};

// Larger documents are refused unread: a desktop's window list is a few
// kilobytes, and the decoded form needs several times the text's size.
inline constexpr std::size_t MAX_EINGABE_BYTES = 8u << 20;

// The document, or nothing when `text` is not one (bad JSON, a missing key, a
// value of the wrong type, nesting deeper than a window list has, too large).
std::optional<Eingabe> leseEingabe(std::string_view text);

}  // namespace hoerspur
