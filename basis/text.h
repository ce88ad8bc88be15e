// Text for lines that other programs parse: JSON string contents and numbers with
// a decimal point whatever the process locale.
#pragma once

#include <string>
#include <string_view>

namespace hoerspur {

// Text to place between the double quotes of a JSON string value. Quote and
// backslash are escaped, tab, line feed and carriage return become a space (the
// line stays one line), other control characters become \u00XX. Invalid UTF-8
// bytes become U+FFFD so the line always parses.
std::string jsonEscape(std::string_view text);

// "%.Nf" in the C locale, whatever the process locale is.
std::string formatFest(double wert, int nachkommastellen);

}  // namespace hoerspur
