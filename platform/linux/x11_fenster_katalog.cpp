#include "platform/linux/x11_fenster_katalog.h"

#include <xcb/xcb.h>
#include <xcb/xproto.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <optional>
#include <unordered_set>
#include <utility>

#include "platform/linux/wm_class_tabelle.h"
#include "platform/linux/x11_eigenschaften.h"
#include "platform/linux/x11_verbindung.h"

namespace hoerspur {

namespace {

// Property lengths asked for, in 32-bit units. Titles up to 64 KiB; anything
// longer is cut, not refused.
constexpr std::uint32_t LAENGE_TITEL = 16384;
constexpr std::uint32_t LAENGE_KLASSE = 256;
constexpr std::uint32_t LAENGE_ATOMLISTE = 64;
constexpr std::uint32_t LAENGE_FENSTERLISTE = 65536;
// Larger frame extents are not decorations.
constexpr std::uint32_t MAX_RAND = 10000;
constexpr std::uint32_t ALLE_DESKTOPS = 0xFFFFFFFF;

enum Atom : std::size_t {
    CLIENT_LIST,
    CLIENT_LIST_STACKING,
    CURRENT_DESKTOP,
    NET_WM_NAME,
    UTF8_STRING,
    COMPOUND_TEXT,
    NET_WM_PID,
    FRAME_EXTENTS,
    NET_WM_STATE,
    STATE_HIDDEN,
    STATE_ABOVE,
    STATE_BELOW,
    STATE_MODAL,
    STATE_STICKY,
    NET_WM_DESKTOP,
    WINDOW_TYPE,
    TYP_NORMAL,
    TYP_DIALOG,
    TYP_SPLASH,
    TYP_UTILITY,
    TYP_TOOLBAR,
    TYP_DOCK,
    TYP_NOTIFICATION,
    TYP_MENU,
    TYP_DROPDOWN_MENU,
    TYP_POPUP_MENU,
    TYP_COMBO,
    TYP_TOOLTIP,
    TYP_DND,
    TYP_DESKTOP,
    ANZAHL_ATOME,
};

constexpr std::array<std::string_view, ANZAHL_ATOME> ATOM_NAMEN = {
    "_NET_CLIENT_LIST",
    "_NET_CLIENT_LIST_STACKING",
    "_NET_CURRENT_DESKTOP",
    "_NET_WM_NAME",
    "UTF8_STRING",
    "COMPOUND_TEXT",
    "_NET_WM_PID",
    "_NET_FRAME_EXTENTS",
    "_NET_WM_STATE",
    "_NET_WM_STATE_HIDDEN",
    "_NET_WM_STATE_ABOVE",
    "_NET_WM_STATE_BELOW",
    "_NET_WM_STATE_MODAL",
    "_NET_WM_STATE_STICKY",
    "_NET_WM_DESKTOP",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_NORMAL",
    "_NET_WM_WINDOW_TYPE_DIALOG",
    "_NET_WM_WINDOW_TYPE_SPLASH",
    "_NET_WM_WINDOW_TYPE_UTILITY",
    "_NET_WM_WINDOW_TYPE_TOOLBAR",
    "_NET_WM_WINDOW_TYPE_DOCK",
    "_NET_WM_WINDOW_TYPE_NOTIFICATION",
    "_NET_WM_WINDOW_TYPE_MENU",
    "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
    "_NET_WM_WINDOW_TYPE_POPUP_MENU",
    "_NET_WM_WINDOW_TYPE_COMBO",
    "_NET_WM_WINDOW_TYPE_TOOLTIP",
    "_NET_WM_WINDOW_TYPE_DND",
    "_NET_WM_WINDOW_TYPE_DESKTOP",
};

// A property request that may not have been sent (its atom is unknown to the
// server), and its reply.
class EigenschaftsFrage {
  public:
    EigenschaftsFrage() = default;
    EigenschaftsFrage(xcb_connection_t* c, xcb_window_t fenster, xcb_atom_t name,
                      std::uint32_t laenge) {
        if (name == XCB_ATOM_NONE) return;
        frage_ = xcb_get_property(c, 0, fenster, name, XCB_GET_PROPERTY_TYPE_ANY, 0, laenge);
        gesendet_ = true;
    }

    // Collects the reply; a window that has gone or a refused request reads as
    // a missing property.
    void hole(xcb_connection_t* c) {
        if (!gesendet_) return;
        xcb_generic_error_t* fehler = nullptr;
        antwort_.reset(xcb_get_property_reply(c, frage_, &fehler));
        std::free(fehler);
    }

    X11Eigenschaft wert() const {
        if (!antwort_ || antwort_->type == XCB_ATOM_NONE) return {};
        const auto* daten = static_cast<const char*>(xcb_get_property_value(antwort_.get()));
        // Never beyond what actually arrived, whatever the length fields claim.
        const std::size_t angekommen = static_cast<std::size_t>(antwort_->length) * 4;
        const std::size_t laenge = std::min<std::size_t>(
            static_cast<std::size_t>(std::max(0, xcb_get_property_value_length(antwort_.get()))),
            angekommen);
        return {antwort_->type, antwort_->format, std::string_view(daten, laenge)};
    }

  private:
    xcb_get_property_cookie_t frage_{};
    bool gesendet_ = false;
    XcbAntwort<xcb_get_property_reply_t> antwort_;
};

enum Eigenschaft : std::size_t {
    E_NET_WM_NAME,
    E_WM_NAME,
    E_WM_CLASS,
    E_PID,
    E_RAND,
    E_ZUSTAND,
    E_TYP,
    E_DESKTOP,
    ANZAHL_EIGENSCHAFTEN,
};

// Everything asked about one window, sent before any reply is read.
struct FensterFragen {
    xcb_window_t id = 0;
    xcb_get_window_attributes_cookie_t attribute{};
    xcb_get_geometry_cookie_t geometrie{};
    xcb_translate_coordinates_cookie_t lage{};
    std::array<EigenschaftsFrage, ANZAHL_EIGENSCHAFTEN> eigenschaften;
};

template <typename Antwort, typename Cookie, typename Holen>
XcbAntwort<Antwort> hole(xcb_connection_t* c, Cookie cookie, Holen holen) {
    xcb_generic_error_t* fehler = nullptr;
    XcbAntwort<Antwort> antwort(holen(c, cookie, &fehler));
    std::free(fehler);
    return antwort;
}

X11Eigenschaft wurzelEigenschaft(X11Verbindung& v, xcb_atom_t name, std::uint32_t laenge,
                                 EigenschaftsFrage& frage) {
    frage = EigenschaftsFrage(v.c(), v.wurzel(), name, laenge);
    frage.hole(v.c());
    return frage.wert();
}

// Front-most first: the stacking list runs bottom to top. Windows the client
// list has and the stacking list lacks follow, newest first.
std::vector<xcb_window_t> fensterReihenfolge(const std::vector<std::uint32_t>& stapel,
                                             const std::vector<std::uint32_t>& liste) {
    std::vector<xcb_window_t> reihenfolge;
    std::unordered_set<xcb_window_t> gesehen;
    const auto nimm = [&](xcb_window_t f) {
        if (f != XCB_WINDOW_NONE && gesehen.insert(f).second) reihenfolge.push_back(f);
    };
    std::for_each(stapel.rbegin(), stapel.rend(), nimm);
    std::for_each(liste.rbegin(), liste.rend(), nimm);
    return reihenfolge;
}

X11FensterTyp typAus(const std::vector<std::uint32_t>& typen, const std::vector<xcb_atom_t>& a) {
    // The list is in order of preference; the first type known here counts.
    const std::pair<Atom, X11FensterTyp> bekannte[] = {
        {TYP_NORMAL, X11FensterTyp::normal},
        {TYP_DIALOG, X11FensterTyp::dialog},
        {TYP_SPLASH, X11FensterTyp::splash},
        {TYP_UTILITY, X11FensterTyp::utility},
        {TYP_TOOLBAR, X11FensterTyp::toolbar},
        {TYP_DOCK, X11FensterTyp::dock},
        {TYP_NOTIFICATION, X11FensterTyp::notification},
        {TYP_MENU, X11FensterTyp::menu},
        {TYP_DROPDOWN_MENU, X11FensterTyp::menu},
        {TYP_POPUP_MENU, X11FensterTyp::menu},
        {TYP_COMBO, X11FensterTyp::menu},
        {TYP_TOOLTIP, X11FensterTyp::tooltip},
        {TYP_DND, X11FensterTyp::dnd},
        {TYP_DESKTOP, X11FensterTyp::desktop},
    };
    for (const std::uint32_t t : typen) {
        if (t == XCB_ATOM_NONE) continue;
        for (const auto& [atom, typ] : bekannte) {
            if (a[atom] == t) return typ;
        }
    }
    return X11FensterTyp::normal;
}

X11Zustand zustandAus(const std::vector<std::uint32_t>& zustaende,
                      const std::vector<xcb_atom_t>& a) {
    X11Zustand z;
    for (const std::uint32_t s : zustaende) {
        if (s == XCB_ATOM_NONE) continue;
        z.versteckt |= s == a[STATE_HIDDEN];
        z.oben |= s == a[STATE_ABOVE];
        z.unten |= s == a[STATE_BELOW];
        z.modal |= s == a[STATE_MODAL];
        z.klebend |= s == a[STATE_STICKY];
    }
    return z;
}

// The name of a process on this machine, for windows that give only a pid.
std::string prozessName(std::int32_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

}  // namespace

TeilbarerInhalt x11TeilbarerInhalt(const std::string& displayName) {
    X11Verbindung v(displayName);
    xcb_connection_t* c = v.c();
    const std::vector<xcb_atom_t> a = v.atome({ATOM_NAMEN.begin(), ATOM_NAMEN.end()});
    const X11TextTypen textTypen{a[UTF8_STRING], XCB_ATOM_STRING, a[COMPOUND_TEXT]};

    TeilbarerInhalt inhalt;
    const std::vector<const xcb_screen_t*> bildschirme = v.bildschirme();
    for (std::size_t i = 0; i < bildschirme.size(); ++i) {
        inhalt.displays.push_back(Display{static_cast<std::uint32_t>(i),
                                          bildschirme[i]->width_in_pixels,
                                          bildschirme[i]->height_in_pixels});
    }

    EigenschaftsFrage f1, f2, f3;
    const std::vector<std::uint32_t> stapel = x11Werte32(
        wurzelEigenschaft(v, a[CLIENT_LIST_STACKING], LAENGE_FENSTERLISTE, f1), XCB_ATOM_WINDOW);
    const std::vector<std::uint32_t> liste =
        x11Werte32(wurzelEigenschaft(v, a[CLIENT_LIST], LAENGE_FENSTERLISTE, f2), XCB_ATOM_WINDOW);
    const std::vector<std::uint32_t> aktuellerDesktop =
        x11Werte32(wurzelEigenschaft(v, a[CURRENT_DESKTOP], 1, f3), XCB_ATOM_CARDINAL);
    v.pruefe("Fensterliste");

    // Every question about every window goes out first: one round trip in all.
    const std::vector<xcb_window_t> reihenfolge = fensterReihenfolge(stapel, liste);
    std::vector<FensterFragen> fragen(reihenfolge.size());
    for (std::size_t i = 0; i < reihenfolge.size(); ++i) {
        const xcb_window_t w = reihenfolge[i];
        FensterFragen& f = fragen[i];
        f.id = w;
        f.attribute = xcb_get_window_attributes(c, w);
        f.geometrie = xcb_get_geometry(c, w);
        f.lage = xcb_translate_coordinates(c, w, v.wurzel(), 0, 0);
        f.eigenschaften[E_NET_WM_NAME] = EigenschaftsFrage(c, w, a[NET_WM_NAME], LAENGE_TITEL);
        f.eigenschaften[E_WM_NAME] = EigenschaftsFrage(c, w, XCB_ATOM_WM_NAME, LAENGE_TITEL);
        f.eigenschaften[E_WM_CLASS] = EigenschaftsFrage(c, w, XCB_ATOM_WM_CLASS, LAENGE_KLASSE);
        f.eigenschaften[E_PID] = EigenschaftsFrage(c, w, a[NET_WM_PID], 1);
        f.eigenschaften[E_RAND] = EigenschaftsFrage(c, w, a[FRAME_EXTENTS], 4);
        f.eigenschaften[E_ZUSTAND] = EigenschaftsFrage(c, w, a[NET_WM_STATE], LAENGE_ATOMLISTE);
        f.eigenschaften[E_TYP] = EigenschaftsFrage(c, w, a[WINDOW_TYPE], LAENGE_ATOMLISTE);
        f.eigenschaften[E_DESKTOP] = EigenschaftsFrage(c, w, a[NET_WM_DESKTOP], 1);
    }
    xcb_flush(c);

    for (FensterFragen& f : fragen) {
        // Every reply is collected, also for windows that have gone, so that none
        // stays queued in the connection.
        const auto attribute = hole<xcb_get_window_attributes_reply_t>(
            c, f.attribute, xcb_get_window_attributes_reply);
        const auto geometrie =
            hole<xcb_get_geometry_reply_t>(c, f.geometrie, xcb_get_geometry_reply);
        const auto lage =
            hole<xcb_translate_coordinates_reply_t>(c, f.lage, xcb_translate_coordinates_reply);
        for (EigenschaftsFrage& e : f.eigenschaften) e.hole(c);
        if (!attribute || !geometrie || !lage) continue;  // closed since the list was read

        const X11FensterTyp typ =
            typAus(x11Werte32(f.eigenschaften[E_TYP].wert(), XCB_ATOM_ATOM), a);
        if (typ == X11FensterTyp::desktop) continue;  // the background is never shared content
        const X11Zustand zustand =
            zustandAus(x11Werte32(f.eigenschaften[E_ZUSTAND].wert(), XCB_ATOM_ATOM), a);

        TeilbaresFenster fenster;
        fenster.id = f.id;
        fenster.titel = x11Text(f.eigenschaften[E_NET_WM_NAME].wert(), textTypen, true);
        if (!fenster.titel)
            fenster.titel = x11Text(f.eigenschaften[E_WM_NAME].wert(), textTypen, false);

        const std::vector<std::uint32_t> pid =
            x11Werte32(f.eigenschaften[E_PID].wert(), XCB_ATOM_CARDINAL);
        std::optional<std::int32_t> prozess;
        if (pid.size() == 1 && pid[0] > 0 && pid[0] <= 0x7FFFFFFF) {
            prozess = static_cast<std::int32_t>(pid[0]);
        }
        if (const auto klasse = x11WmKlasse(f.eigenschaften[E_WM_CLASS].wert(), textTypen)) {
            X11App app = appFuerWmKlasse(klasse->instanz, klasse->klasse);
            fenster.app = FensterApp{std::move(app.bundle), std::move(app.name), prozess};
        } else if (prozess) {
            const std::string name = prozessName(*prozess);
            fenster.app = FensterApp{name, name, prozess};
        }

        // The frame in root coordinates, with the border and the decorations the
        // window manager draws around the client.
        std::uint32_t links = 0, rechts = 0, oben = 0, unten = 0;
        const std::vector<std::uint32_t> rand =
            x11Werte32(f.eigenschaften[E_RAND].wert(), XCB_ATOM_CARDINAL);
        if (rand.size() == 4 &&
            std::all_of(rand.begin(), rand.end(), [](std::uint32_t r) { return r <= MAX_RAND; })) {
            links = rand[0];
            rechts = rand[1];
            oben = rand[2];
            unten = rand[3];
        }
        const double rahmenBreite = geometrie->border_width;
        fenster.rahmen.x = lage->dst_x - rahmenBreite - links;
        fenster.rahmen.y = lage->dst_y - rahmenBreite - oben;
        fenster.rahmen.breite = geometrie->width + 2 * rahmenBreite + links + rechts;
        fenster.rahmen.hoehe = geometrie->height + 2 * rahmenBreite + oben + unten;

        const std::vector<std::uint32_t> desktop =
            x11Werte32(f.eigenschaften[E_DESKTOP].wert(), XCB_ATOM_CARDINAL);
        const bool aufDiesemDesktop = desktop.size() != 1 || aktuellerDesktop.size() != 1 ||
                                      desktop[0] == ALLE_DESKTOPS ||
                                      desktop[0] == aktuellerDesktop[0] || zustand.klebend;
        fenster.aufBildschirm = attribute->map_state == XCB_MAP_STATE_VIEWABLE &&
                                !zustand.versteckt && aufDiesemDesktop;
        fenster.ebene = x11Ebene(typ, zustand);
        inhalt.fenster.push_back(std::move(fenster));
    }
    v.pruefe("Fensterliste");
    return inhalt;
}

}  // namespace hoerspur
