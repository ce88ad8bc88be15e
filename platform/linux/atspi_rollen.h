// The fixed table from AT-SPI roles to the role names the observer reads
// ("AXButton", "AXStaticText", ...), with a subrole where the role alone loses
// something (a toggle button, a dialog window). docs/atspi-rollen.md lists it.
//
// Pure functions; any thread.
#pragma once

#include <atspi/atspi-constants.h>

namespace hoerspur {

struct AxRolle {
    const char* rolle;                 // "AXButton"
    const char* unterrolle = nullptr;  // "AXToggle", or none
};

// Roles without an entry of their own become "AXGroup", the generic container.
AxRolle axRolle(AtspiRole rolle);

// Top-level windows: what an application lists as its windows.
bool istFensterRolle(AtspiRole rolle);

// Labels: their text is the accessible name, which becomes "AXValue" (the text
// role carries its text as its value, not as a title).
bool istTextRolle(AtspiRole rolle);

}  // namespace hoerspur
