#include "platform/linux/x11_fehler.h"

#include <X11/Xlib.h>

#include <map>
#include <mutex>

#include "platform/linux/tsan_ausnahmen.h"

namespace hoerspur {

namespace {

struct Eintrag {
    int ersterFehler = 0;
    bool verloren = false;
};

// unter fallenMutex
std::mutex fallenMutex;
std::map<Display*, Eintrag>* fallen = nullptr;
XErrorHandler vorherigerFehler = nullptr;
XIOErrorHandler vorherigerIoFehler = nullptr;

int beiFehler(Display* anzeige, XErrorEvent* ereignis) {
    {
        std::lock_guard lock(fallenMutex);
        auto it = fallen->find(anzeige);
        if (it != fallen->end()) {
            if (it->second.ersterFehler == 0) it->second.ersterFehler = ereignis->error_code;
            return 0;
        }
    }
    return vorherigerFehler != nullptr ? vorherigerFehler(anzeige, ereignis) : 0;
}

int beiIoFehler(Display* anzeige) {
    {
        std::lock_guard lock(fallenMutex);
        auto it = fallen->find(anzeige);
        if (it != fallen->end()) {
            it->second.verloren = true;
            return 0;
        }
    }
    return vorherigerIoFehler != nullptr ? vorherigerIoFehler(anzeige) : 0;
}

// Returning from here leaves the connection dead instead of ending the process.
void nachIoFehler(Display*, void*) {}

}  // namespace

PlattformFehler x11Fehler(const std::string& was, long code, Display* anzeige) {
    std::string beschreibung = was;
    if (anzeige != nullptr && code > 0 && code < 256) {
        char text[256] = {};
        XGetErrorText(anzeige, static_cast<int>(code), text, sizeof text);
        if (text[0] != '\0') beschreibung += std::string(": ") + text;
    }
    return PlattformFehler(kX11Domain, code, beschreibung);
}

X11Fehlerfalle::X11Fehlerfalle(Display* anzeige) : anzeige_(anzeige) {
    tsanAusnahmenEinbinden();
    static std::once_flag einmal;
    std::call_once(einmal, [] {
        std::lock_guard lock(fallenMutex);
        fallen = new std::map<Display*, Eintrag>();  // lives as long as the handlers
        vorherigerFehler = XSetErrorHandler(beiFehler);
        vorherigerIoFehler = XSetIOErrorHandler(beiIoFehler);
    });
    {
        std::lock_guard lock(fallenMutex);
        (*fallen)[anzeige_] = Eintrag{};
    }
    XSetIOErrorExitHandler(anzeige_, nachIoFehler, nullptr);
}

X11Fehlerfalle::~X11Fehlerfalle() {
    // Errors of requests still under way arrive here, not at the next owner of
    // this address.
    if (!verbindungVerloren()) XSync(anzeige_, False);
    std::lock_guard lock(fallenMutex);
    fallen->erase(anzeige_);
}

int X11Fehlerfalle::pruefe() {
    if (!verbindungVerloren()) XSync(anzeige_, False);
    return abholen();
}

int X11Fehlerfalle::abholen() {
    std::lock_guard lock(fallenMutex);
    Eintrag& e = (*fallen)[anzeige_];
    const int code = e.ersterFehler;
    e.ersterFehler = 0;
    return code;
}

bool X11Fehlerfalle::verbindungVerloren() const {
    std::lock_guard lock(fallenMutex);
    auto it = fallen->find(anzeige_);
    return it != fallen->end() && it->second.verloren;
}

}  // namespace hoerspur
