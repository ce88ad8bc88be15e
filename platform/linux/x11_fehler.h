// X11 failures as PlattformFehler, and a trap that keeps X errors from ending
// the process.
//
// The window catalogue talks to the server through xcb, which reports errors as
// values; the window stream uses Xlib, which reports protocol errors (a window
// that vanished between two requests) to one process-wide handler whose default
// prints and exits, and a lost connection to another that always exits.
// X11Fehlerfalle installs handlers once that record both for the connections
// registered with a trap and pass every other connection's errors on to the
// handlers that were there before.
//
// Codes: X protocol errors keep their own code (1 to 255); broken xcb
// connections are 2000 + the connection state (XCB_CONN_*); conditions the
// backends name themselves are the constants below.
#pragma once

#include <cstdint>
#include <string>

#include "platform/plattform_fehler.h"

// Xlib's display type, without pulling Xlib's macros into every includer.
typedef struct _XDisplay Display;

namespace hoerspur {

// Domain of every error the X11 backends raise.
inline constexpr const char* kX11Domain = "x11";

inline constexpr long kX11KeinDisplay = 1000;
inline constexpr long kX11VerbindungVerloren = 1001;
inline constexpr long kX11FensterGeschlossen = 1002;
inline constexpr long kX11FensterVerborgen = 1003;
inline constexpr long kX11NichtUnterstuetzt = 1004;
inline constexpr long kX11StromBeendet = 1005;
inline constexpr long kX11XcbVerbindung = 2000;

// `was` is the German description. For an X protocol error code (1 to 255) and
// a display, the server's name of the error is appended (XGetErrorText).
PlattformFehler x11Fehler(const std::string& was, long code, Display* anzeige = nullptr);

// `verbindungsFehler` is an xcb connection's state (xcb_connection_has_error).
PlattformFehler x11VerbindungsFehler(const std::string& was, int verbindungsFehler);

// A protocol error an xcb request came back with (Bad*).
PlattformFehler x11ProtokollFehler(const std::string& was, std::uint8_t fehlerCode);

// Records the errors of one Xlib connection while it lives. Construct it right
// after XOpenDisplay and destroy it right before XCloseDisplay (it waits for the
// requests still under way).
//
// Thread safety: one trap per connection; use it on the thread that uses the
// connection.
class X11Fehlerfalle {
  public:
    explicit X11Fehlerfalle(Display* anzeige);
    ~X11Fehlerfalle();
    X11Fehlerfalle(const X11Fehlerfalle&) = delete;
    X11Fehlerfalle& operator=(const X11Fehlerfalle&) = delete;

    // Waits until the server has handled every request sent so far (XSync) and
    // returns the code of the first error since the last call, 0 when none.
    int pruefe();
    // The same without waiting for the server: errors of replies already read.
    int abholen();
    // The connection broke; every later call on it returns at once.
    bool verbindungVerloren() const;

  private:
    Display* const anzeige_;
};

}  // namespace hoerspur
