// Unicode text operations on UTF-8 strings, through ICU: trimming, lower case,
// grapheme counts and repair of invalid byte sequences. Accessibility texts and
// process names come from other programs, so every function takes any bytes.
//
// Reentrant; the grapheme counter keeps one ICU iterator per thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace hoerspur {

// The text with every invalid UTF-8 sequence replaced by U+FFFD.
std::string gueltigesUtf8(std::string_view text);

// The text without white space and line breaks (Unicode White_Space) at both ends.
std::string_view ohneRandLeerraum(std::string_view text);

// The text without spaces and tabs at both ends.
std::string_view ohneRandLeerzeichen(std::string_view text);

// Full Unicode lower case (root locale).
std::string kleinschreibung(std::string_view text);

// The number of user-perceived characters (extended grapheme clusters), counted
// up to `hoechstens` at most: a longer text answers `hoechstens`.
std::size_t graphemAnzahl(std::string_view text, std::size_t hoechstens);

// Whether any code point is a decimal digit of any script (category Nd).
bool hatDezimalziffer(std::string_view text);

// The canonically composed form (NFC).
std::string nfc(std::string_view text);

}  // namespace hoerspur
