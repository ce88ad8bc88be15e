// Reading the window properties an X client sets for itself: titles, WM_CLASS,
// 32-bit lists (pids, atoms, frame extents), and the stacking layer that a
// window's type and state stand for. Any client can write any bytes into its
// properties, so every reader checks type, format and length and never trusts a
// terminator.
//
// Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hoerspur {

// One property as the server returned it.
struct X11Eigenschaft {
    std::uint32_t typ = 0;    // atom of its type; 0 (None) when the window does not have it
    std::uint8_t format = 0;  // 8, 16 or 32 bits per item
    std::string_view bytes;
};

// The atoms of the three text types a title comes in.
struct X11TextTypen {
    std::uint32_t utf8String = 0;
    std::uint32_t string = 0;  // ISO 8859-1
    std::uint32_t compoundText = 0;
};

// A title as UTF-8 (bytes that are not text become U+FFFD), cut at the first NUL.
// With `nurUtf8` only UTF8_STRING counts (EWMH names); otherwise also STRING and
// COMPOUND_TEXT (ICCCM names). Nothing for another type or a format other than 8.
std::optional<std::string> x11Text(const X11Eigenschaft& e, const X11TextTypen& typen,
                                   bool nurUtf8);

struct X11WmKlasse {
    std::string instanz;  // res_name
    std::string klasse;   // res_class
};

// WM_CLASS: two NUL-terminated strings, instance then class. A missing
// terminator ends a string at the end of the data; nothing when both are empty.
std::optional<X11WmKlasse> x11WmKlasse(const X11Eigenschaft& e, const X11TextTypen& typen);

// The items of a 32-bit property of type `typ` (CARDINAL, ATOM, WINDOW); empty
// when the type or format differs.
std::vector<std::uint32_t> x11Werte32(const X11Eigenschaft& e, std::uint32_t typ);

// Window types of _NET_WM_WINDOW_TYPE; `normal` also for windows without one.
enum class X11FensterTyp {
    normal,
    dialog,
    splash,
    utility,
    toolbar,
    dock,
    notification,
    menu,  // dropdown, popup and torn-off menus, combo box lists
    tooltip,
    dnd,
    desktop,
};

// The parts of _NET_WM_STATE that matter here.
struct X11Zustand {
    bool versteckt = false;  // _NET_WM_STATE_HIDDEN (minimised, shaded away)
    bool oben = false;       // _NET_WM_STATE_ABOVE (keep above)
    bool unten = false;      // _NET_WM_STATE_BELOW (keep below)
    bool modal = false;      // _NET_WM_STATE_MODAL
    bool klebend = false;    // _NET_WM_STATE_STICKY (on every desktop)
};

// Stacking layer for a window's type and state; see docs/fenster-katalog.md.
std::int64_t x11Ebene(X11FensterTyp typ, const X11Zustand& zustand);

}  // namespace hoerspur
