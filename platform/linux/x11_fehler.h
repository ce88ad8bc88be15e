// Turns X11 failures into PlattformFehler: a German description of the failed
// step followed by what went wrong (connection state or protocol error).
#pragma once

#include <cstdint>
#include <string>

#include "platform/plattform_fehler.h"

namespace hoerspur {

// Domain of every error the X11 backend raises.
inline constexpr const char* kX11Domain = "x11";

// `was` is the German description of the failed step; `verbindungsFehler` is the
// connection's state (xcb_connection_has_error, XCB_CONN_*), which becomes the code.
PlattformFehler x11VerbindungsFehler(const std::string& was, int verbindungsFehler);

// A protocol error a request came back with (Bad*): its code becomes the error's
// code, offset by 1000 to keep it apart from connection states.
PlattformFehler x11ProtokollFehler(const std::string& was, std::uint8_t fehlerCode);

}  // namespace hoerspur
