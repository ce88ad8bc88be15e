// The windows of an X session as shareable content: the top-level client windows
// the window manager lists, front-most first, with title, owning application,
// frame, visibility and layer, and the server's screens as displays. Works the
// same on an X11 desktop and for the X windows of a Wayland desktop (XWayland).
// docs/fenster-katalog.md describes order, layers and the WM_CLASS table.
//
// Thread: any; each call opens and closes its own connection.
#pragma once

#include <string>

#include "platform/bildschirm_aufnahme.h"

namespace hoerspur {

// Asks the X server `displayName` (DISPLAY's value). Throws PlattformFehler when
// the name is empty, the server cannot be reached, or the connection breaks.
// Windows that vanish while they are asked about are left out.
TeilbarerInhalt x11TeilbarerInhalt(const std::string& displayName);

}  // namespace hoerspur
