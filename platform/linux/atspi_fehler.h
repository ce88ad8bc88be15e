// Turns failures of the accessibility bus (libdbus, libatspi) into PlattformFehler:
// the German description says what failed, followed by the bus's own message.
#pragma once

#include <dbus/dbus.h>
#include <glib.h>

#include <string>

#include "platform/plattform_fehler.h"

namespace hoerspur {

// Domain of every error the AT-SPI backend raises.
inline constexpr const char* kAtspiDomain = "atspi";

// `fehler` may be unset (then only `was` is said); it is left as it was.
PlattformFehler atspiFehler(const std::string& was, const DBusError* fehler);
PlattformFehler atspiFehler(const std::string& was, const GError* fehler);

}  // namespace hoerspur
