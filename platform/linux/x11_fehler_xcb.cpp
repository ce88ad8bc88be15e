// The xcb half of the X11 errors, apart from the Xlib half so that neither
// library's headers meet the other's.
#include "platform/linux/x11_fehler.h"

#include <xcb/xcb.h>
#include <xcb/xproto.h>

namespace hoerspur {

namespace {

const char* verbindungsText(int fehler) {
    switch (fehler) {
        case XCB_CONN_ERROR:
            return "keine Verbindung zum X-Server (Socket- oder Protokollfehler)";
        case XCB_CONN_CLOSED_EXT_NOTSUPPORTED:
            return "eine noetige X-Erweiterung fehlt";
        case XCB_CONN_CLOSED_MEM_INSUFFICIENT:
            return "kein Speicher fuer die X-Verbindung";
        case XCB_CONN_CLOSED_REQ_LEN_EXCEED:
            return "Anfrage zu lang fuer den X-Server";
        case XCB_CONN_CLOSED_PARSE_ERR:
            return "DISPLAY ist nicht lesbar";
        case XCB_CONN_CLOSED_INVALID_SCREEN:
            return "der X-Server hat den Bildschirm aus DISPLAY nicht";
        default:
            return "X-Verbindung gestoert";
    }
}

const char* protokollText(std::uint8_t code) {
    switch (code) {
        case XCB_WINDOW:
            return "BadWindow (Fenster gibt es nicht mehr)";
        case XCB_ATOM:
            return "BadAtom";
        case XCB_VALUE:
            return "BadValue";
        case XCB_MATCH:
            return "BadMatch";
        case XCB_ACCESS:
            return "BadAccess";
        case XCB_ALLOC:
            return "BadAlloc (X-Server ohne Speicher)";
        case XCB_IMPLEMENTATION:
            return "BadImplementation";
        default:
            return "X-Protokollfehler";
    }
}

}  // namespace

PlattformFehler x11VerbindungsFehler(const std::string& was, int verbindungsFehler) {
    return PlattformFehler(kX11Domain, kX11XcbVerbindung + verbindungsFehler,
                           was + ": " + verbindungsText(verbindungsFehler));
}

PlattformFehler x11ProtokollFehler(const std::string& was, std::uint8_t fehlerCode) {
    return PlattformFehler(
        kX11Domain, fehlerCode,
        was + ": " + protokollText(fehlerCode) + " (" + std::to_string(fehlerCode) + ")");
}

}  // namespace hoerspur
