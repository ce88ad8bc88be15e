// Test client for the window catalogue: opens the windows a JSON document (first
// argument) describes on the X display named by DISPLAY, with the classes, titles,
// pids, types and states a test asks for, including properties no well-behaved
// client would set. Prints one JSON line per window once the window manager has
// taken them all, then "bereit"; ends when its standard input closes.
//
// {"wm": true,                       wait for the window manager (default true)
//  "fenster": [{"titel": "..",       _NET_WM_NAME (UTF-8)
//               "wm_name": "..",     WM_NAME as STRING (bytes as given, Latin-1)
//               "klasse": ["instanz", "klasse"],
//               "pid": 42,           _NET_WM_PID; "eigene_pid": true for this process
//               "typ": "DOCK",       _NET_WM_WINDOW_TYPE_<typ>
//               "zustand": ["ABOVE"],  initial _NET_WM_STATE_<...>
//               "minimiert": true,   start iconic
//               "desktop": 1,        _NET_WM_DESKTOP
//               "x": 0, "y": 0, "breite": 300, "hoehe": 200,
//               "roh": [{"name": "_NET_WM_PID", "typ": "STRING", "format": 8,
//                        "werte": [1, 2]}]}],   raw property items
//  "wurzel_liste": [0, 12345]}       _NET_CLIENT_LIST on the root: window indices,
//                                    or ids for numbers >= 1000
//
// Output per window: {"index":i,"id":N,"x":X,"y":Y,"rand":[l,r,t,b]} with the
// client's position in root coordinates and its frame extents (zeros without).
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Json = nlohmann::json;

Atom atom(Display* d, const std::string& name) {
    return XInternAtom(d, name.c_str(), False);
}

void setzeAtome(Display* d, Window w, const char* name, const std::vector<Atom>& werte) {
    XChangeProperty(d, w, atom(d, name), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(werte.data()),
                    static_cast<int>(werte.size()));
}

void setzeKardinal(Display* d, Window w, const char* name, long wert) {
    XChangeProperty(d, w, atom(d, name), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&wert), 1);
}

// Items of the given format as Xlib wants them: char, short or long arrays.
void setzeRoh(Display* d, Window w, const Json& roh) {
    const Atom name = atom(d, roh.at("name").get<std::string>());
    const Atom typ = atom(d, roh.at("typ").get<std::string>());
    const int format = roh.at("format").get<int>();
    const Json& werte = roh.at("werte");
    if (format == 8) {
        std::vector<unsigned char> b;
        for (const Json& v : werte) b.push_back(static_cast<unsigned char>(v.get<int>()));
        XChangeProperty(d, w, name, typ, 8, PropModeReplace, b.data(), static_cast<int>(b.size()));
    } else if (format == 16) {
        std::vector<short> b;
        for (const Json& v : werte) b.push_back(static_cast<short>(v.get<int>()));
        XChangeProperty(d, w, name, typ, 16, PropModeReplace,
                        reinterpret_cast<unsigned char*>(b.data()), static_cast<int>(b.size()));
    } else {
        std::vector<long> b;
        for (const Json& v : werte) b.push_back(v.get<long>());
        XChangeProperty(d, w, name, typ, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(b.data()), static_cast<int>(b.size()));
    }
}

// WM_NAME's STRING type is Latin-1: the UTF-8 text of the document converted,
// as a client of the old conventions would write it.
std::string latin1(const std::string& utf8) {
    std::string aus;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        if ((b & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
            aus.push_back(static_cast<char>(((b & 0x1F) << 6) | (utf8[++i] & 0x3F)));
        } else {
            aus.push_back(static_cast<char>(b));
        }
    }
    return aus;
}

std::vector<long> fensterListe(Display* d) {
    Atom typ;
    int format;
    unsigned long anzahl, rest;
    unsigned char* daten = nullptr;
    std::vector<long> liste;
    if (XGetWindowProperty(d, DefaultRootWindow(d), atom(d, "_NET_CLIENT_LIST"), 0, 4096, False,
                           XA_WINDOW, &typ, &format, &anzahl, &rest, &daten) == Success &&
        daten != nullptr && format == 32) {
        const long* w = reinterpret_cast<const long*>(daten);
        liste.assign(w, w + anzahl);
    }
    if (daten != nullptr) XFree(daten);
    return liste;
}

std::vector<long> rand(Display* d, Window w) {
    Atom typ;
    int format;
    unsigned long anzahl, rest;
    unsigned char* daten = nullptr;
    std::vector<long> r{0, 0, 0, 0};
    if (XGetWindowProperty(d, w, atom(d, "_NET_FRAME_EXTENTS"), 0, 4, False, XA_CARDINAL, &typ,
                           &format, &anzahl, &rest, &daten) == Success &&
        daten != nullptr && format == 32 && anzahl == 4) {
        const long* werte = reinterpret_cast<const long*>(daten);
        r.assign(werte, werte + 4);
    }
    if (daten != nullptr) XFree(daten);
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: x11_testfenster JSON\n");
        return 64;
    }
    const Json plan = Json::parse(argv[1]);
    Display* d = XOpenDisplay(nullptr);
    if (d == nullptr) {
        std::fprintf(stderr, "x11_testfenster: kein Display\n");
        return 1;
    }
    const bool mitWm = plan.value("wm", true);
    std::vector<Window> fenster;
    for (const Json& f : plan.at("fenster")) {
        const Window w =
            XCreateSimpleWindow(d, DefaultRootWindow(d), f.value("x", 0), f.value("y", 0),
                                f.value("breite", 300), f.value("hoehe", 200), 0, 0, 0xFFFFFF);
        // Ask the manager to keep the requested position.
        XSizeHints lage{};
        lage.flags = USPosition | USSize;
        lage.x = f.value("x", 0);
        lage.y = f.value("y", 0);
        XSetWMNormalHints(d, w, &lage);
        if (f.contains("titel")) {
            const std::string t = f["titel"].get<std::string>();
            XChangeProperty(d, w, atom(d, "_NET_WM_NAME"), atom(d, "UTF8_STRING"), 8,
                            PropModeReplace, reinterpret_cast<const unsigned char*>(t.data()),
                            static_cast<int>(t.size()));
        }
        if (f.contains("wm_name")) {
            const std::string t = latin1(f["wm_name"].get<std::string>());
            XChangeProperty(d, w, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(t.data()),
                            static_cast<int>(t.size()));
        }
        if (f.contains("klasse")) {
            std::string instanz = f["klasse"][0].get<std::string>();
            std::string klasse = f["klasse"][1].get<std::string>();
            XClassHint hinweis{instanz.data(), klasse.data()};
            XSetClassHint(d, w, &hinweis);
        }
        if (f.value("eigene_pid", false)) setzeKardinal(d, w, "_NET_WM_PID", getpid());
        if (f.contains("pid")) setzeKardinal(d, w, "_NET_WM_PID", f["pid"].get<long>());
        if (f.contains("typ")) {
            setzeAtome(d, w, "_NET_WM_WINDOW_TYPE",
                       {atom(d, "_NET_WM_WINDOW_TYPE_" + f["typ"].get<std::string>())});
        }
        if (f.contains("zustand")) {
            std::vector<Atom> zustaende;
            for (const Json& z : f["zustand"]) {
                zustaende.push_back(atom(d, "_NET_WM_STATE_" + z.get<std::string>()));
            }
            setzeAtome(d, w, "_NET_WM_STATE", zustaende);
        }
        if (f.contains("desktop")) setzeKardinal(d, w, "_NET_WM_DESKTOP", f["desktop"].get<long>());
        if (f.value("minimiert", false)) {
            XWMHints hinweise{};
            hinweise.flags = StateHint;
            hinweise.initial_state = IconicState;
            XSetWMHints(d, w, &hinweise);
        }
        if (f.contains("roh")) {
            for (const Json& roh : f["roh"]) setzeRoh(d, w, roh);
        }
        XMapWindow(d, w);
        fenster.push_back(w);
    }
    if (plan.contains("wurzel_liste")) {
        std::vector<long> liste;
        for (const Json& e : plan["wurzel_liste"]) {
            const long v = e.get<long>();
            liste.push_back(v < 1000 ? static_cast<long>(fenster.at(static_cast<size_t>(v))) : v);
        }
        XChangeProperty(d, DefaultRootWindow(d), atom(d, "_NET_CLIENT_LIST"), XA_WINDOW, 32,
                        PropModeReplace, reinterpret_cast<unsigned char*>(liste.data()),
                        static_cast<int>(liste.size()));
    }
    XSync(d, False);

    // The manager has taken a window once it lists it and has framed it.
    const auto frist = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (mitWm && std::chrono::steady_clock::now() < frist) {
        const std::vector<long> liste = fensterListe(d);
        bool alle = true;
        for (const Window w : fenster) {
            bool drin = false;
            for (const long l : liste) drin |= static_cast<Window>(l) == w;
            alle &= drin;
        }
        if (alle) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Decorations and placement settle a moment after the manager lists a window.
    if (mitWm) std::this_thread::sleep_for(std::chrono::milliseconds(300));

    for (size_t i = 0; i < fenster.size(); ++i) {
        int x = 0, y = 0;
        Window kind;
        XTranslateCoordinates(d, fenster[i], DefaultRootWindow(d), 0, 0, &x, &y, &kind);
        std::cout << Json{{"index", i},
                          {"id", fenster[i]},
                          {"x", x},
                          {"y", y},
                          {"rand", rand(d, fenster[i])}}
                         .dump()
                  << "\n";
    }
    std::cout << "bereit" << std::endl;

    std::string zeile;
    while (std::getline(std::cin, zeile)) {
    }
    XCloseDisplay(d);
    return 0;
}
