// One found name: a node of the accessibility tree that carries a participant's
// name, or a video tile with its person and speaking flag. A plain value.
#pragma once

#include <map>
#include <string>

namespace hoerspur {

// A node's non-empty attribute texts by attribute name ("AXTitle" -> "Anna Berg").
using Felder = std::map<std::string, std::string>;

struct Zeile {
    // The node's "AXRole" value, "?" when it could not be read.
    std::string rolle;
    // The node's attributes; on tile rows "AXTitle" holds the cleaned name and
    // "KORALQuelle" / "KORALSpricht" say that it is a tile and whether it speaks.
    Felder felder;

    // The first non-empty of "AXTitle", "AXDescription", "AXValue",
    // "AXValueDescription"; empty when none is.
    std::string beschriftung() const;
    // The label without trailing parenthesised groups and surrounding white space.
    std::string reinerName() const;
};

}  // namespace hoerspur
