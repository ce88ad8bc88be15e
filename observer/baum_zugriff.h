// The small read operations on the accessibility tree that the walk and the
// participants panel share. Failures of the service count as missing values.
//
// Main thread only (the service is used from one thread).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/barrierefreiheit.h"

namespace hoerspur {

// A text value trimmed of white space and line breaks; a number as its shortest
// decimal text; a boolean as "1" or "0" (the service's booleans are numbers);
// nothing for other types and missing values. Invalid UTF-8 becomes U+FFFD.
std::optional<std::string> text(Barrierefreiheit& bf, const BfElement& element,
                                std::string_view name);

// The "AXChildren" value if it is a list of elements, else nothing.
std::vector<BfElement> kinder(Barrierefreiheit& bf, const BfElement& element);

// A list of elements as it is, a single element as a list of one, else nothing.
std::vector<BfElement> elemente(Barrierefreiheit& bf, const BfElement& element,
                                std::string_view name);

// The application's children, windows, focused and main window, in this order,
// each element once.
std::vector<BfElement> alleWurzeln(Barrierefreiheit& bf, const BfElement& anwendung);

// Asks the application to expose its complete tree; the answers do not matter.
void baumAnfordern(Barrierefreiheit& bf, const BfElement& anwendung);

// The shortest decimal text that reads back to `zahl` ("3", "0.5", "1e+21").
std::string zahlText(double zahl);

}  // namespace hoerspur
