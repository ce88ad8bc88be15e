#include "platform/linux/x11_verbindung.h"

#include "platform/linux/x11_fehler.h"

namespace hoerspur {

X11Verbindung::X11Verbindung(const std::string& displayName) : name_(displayName) {
    if (displayName.empty()) {
        throw PlattformFehler(kX11Domain, kX11KeinDisplay,
                              "kein X-Display: DISPLAY ist nicht gesetzt");
    }
    int bildschirm = 0;
    c_ = xcb_connect(displayName.c_str(), &bildschirm);
    if (const int fehler = xcb_connection_has_error(c_)) {
        xcb_disconnect(c_);
        c_ = nullptr;
        throw x11VerbindungsFehler("X-Display \"" + displayName + "\" nicht erreichbar", fehler);
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c_));
    for (int i = 0; it.rem > 0 && i < bildschirm; ++i) xcb_screen_next(&it);
    if (it.rem == 0) {
        xcb_disconnect(c_);
        c_ = nullptr;
        throw x11VerbindungsFehler("X-Display \"" + displayName + "\"",
                                   XCB_CONN_CLOSED_INVALID_SCREEN);
    }
    wurzel_ = it.data->root;
}

X11Verbindung::~X11Verbindung() {
    if (c_ != nullptr) xcb_disconnect(c_);
}

std::vector<const xcb_screen_t*> X11Verbindung::bildschirme() const {
    std::vector<const xcb_screen_t*> liste;
    for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c_)); it.rem > 0;
         xcb_screen_next(&it)) {
        liste.push_back(it.data);
    }
    return liste;
}

std::vector<xcb_atom_t> X11Verbindung::atome(const std::vector<std::string_view>& namen) {
    std::vector<xcb_intern_atom_cookie_t> fragen;
    fragen.reserve(namen.size());
    for (std::string_view n : namen) {
        // Only asks: a recorder must not leave names behind on the user's server.
        fragen.push_back(xcb_intern_atom(c_, 1, static_cast<std::uint16_t>(n.size()), n.data()));
    }
    std::vector<xcb_atom_t> atome;
    atome.reserve(namen.size());
    for (const xcb_intern_atom_cookie_t& frage : fragen) {
        xcb_generic_error_t* fehler = nullptr;
        XcbAntwort<xcb_intern_atom_reply_t> antwort(xcb_intern_atom_reply(c_, frage, &fehler));
        std::free(fehler);
        atome.push_back(antwort ? antwort->atom : xcb_atom_t{XCB_ATOM_NONE});
    }
    pruefe("X-Atome");
    return atome;
}

void X11Verbindung::pruefe(const std::string& was) const {
    if (const int fehler = xcb_connection_has_error(c_)) {
        throw x11VerbindungsFehler(was + ": Verbindung zu \"" + name_ + "\" abgebrochen", fehler);
    }
}

}  // namespace hoerspur
