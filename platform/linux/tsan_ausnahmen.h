// Exemptions for the thread sanitizer from libraries whose own synchronisation
// it cannot see (libpulse) or whose recovery paths it flags (libX11). A program
// gets them only when this file's object is linked in: each backend that uses
// such a library calls tsanAusnahmenEinbinden() once. Does nothing otherwise.
#pragma once

namespace hoerspur {

void tsanAusnahmenEinbinden();

}  // namespace hoerspur
