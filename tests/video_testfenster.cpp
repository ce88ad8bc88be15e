// A window with known content for the video tests: four coloured quadrants
// (or one colour), optionally a square that moves 60 times a second, an own
// cursor in a chosen colour. It prints "fenster <id>" once the window is shown
// and then takes commands on standard input, one per line, answering "ok":
//
//   farbe RRGGBB   paint the whole window in one colour
//   quadranten     paint the four quadrants again
//   groesse BxH    resize the window (and paint it anew)
//   unmap | map    hide or show the window
//   zerstoere      destroy the window (the process stays)
//   ende           exit
//
// Options: --groesse BxH, --position X,Y, --bewegt, --kachel (a 480 × 270 tile of
// 16-pixel blocks in changing colours, as a participant's video), --cursor RRGGBB,
// --ueberdecken RRGGBB (a window without frame over the whole screen, in one
// colour), --klasse NAME, --titel TEXT.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Quadrants top left, top right, bottom left, bottom right.
constexpr unsigned long kQuadranten[4] = {0xd03020, 0x20b040, 0x2040d0, 0xe0c020};
constexpr unsigned long kQuadratFarbe = 0xffffff;
constexpr int kQuadratSeite = 60;

struct Optionen {
    int breite = 640;
    int hoehe = 400;
    int x = 50;
    int y = 50;
    bool bewegt = false;
    bool kachel = false;
    bool ueberdecken = false;
    long cursorFarbe = -1;
    unsigned long einfarbig = 0;
    std::string klasse = "hs-video-testfenster";
    std::string titel = "Testfenster";
};

unsigned long farbe(const char* text) {
    return std::strtoul(text, nullptr, 16) & 0xffffff;
}

struct Fenster {
    Display* d = nullptr;
    Window w = 0;
    GC gc = nullptr;
    Optionen o;
    bool einfarbig = false;
    unsigned long farbeJetzt = 0;
    int quadratX = 0;
    unsigned schritt = 0;
    bool lebt = true;

    void rechteck(unsigned long pixel, int x, int y, int b, int h) {
        XSetForeground(d, gc, pixel);
        XFillRectangle(d, w, gc, x, y, static_cast<unsigned>(b), static_cast<unsigned>(h));
    }

    void male() {
        if (!lebt) return;
        if (einfarbig) {
            rechteck(farbeJetzt, 0, 0, o.breite, o.hoehe);
        } else {
            const int hb = o.breite / 2, hh = o.hoehe / 2;
            rechteck(kQuadranten[0], 0, 0, hb, hh);
            rechteck(kQuadranten[1], hb, 0, o.breite - hb, hh);
            rechteck(kQuadranten[2], 0, hh, hb, o.hoehe - hh);
            rechteck(kQuadranten[3], hb, hh, o.breite - hb, o.hoehe - hh);
        }
        if (o.bewegt) {
            rechteck(kQuadratFarbe, quadratX, (o.hoehe - kQuadratSeite) / 2, kQuadratSeite,
                     kQuadratSeite);
        }
        if (o.kachel) {
            // Blocks whose colours drift from step to step, like a camera picture.
            for (int by = 0; by < 270 / 16 + 1; ++by) {
                for (int bx = 0; bx < 480 / 16; ++bx) {
                    const unsigned r = (static_cast<unsigned>(bx) * 8u + schritt * 3u) & 0xffu;
                    const unsigned g = (static_cast<unsigned>(by) * 12u + schritt * 2u) & 0xffu;
                    const unsigned b = (static_cast<unsigned>(bx + by) * 6u + schritt) & 0xffu;
                    rechteck(r << 16 | g << 8 | b, 16 * bx, 16 * by, 16, 16);
                }
            }
        }
    }
};

// The window manager keeps the window at exactly this size and place.
void setzeGroesse(Fenster& f) {
    XSizeHints* groesse = XAllocSizeHints();
    groesse->flags = USPosition | USSize | PMinSize | PMaxSize;
    groesse->x = f.o.x;
    groesse->y = f.o.y;
    groesse->width = groesse->min_width = groesse->max_width = f.o.breite;
    groesse->height = groesse->min_height = groesse->max_height = f.o.hoehe;
    XSetWMNormalHints(f.d, f.w, groesse);
    XFree(groesse);
}

void antworte(const char* text) {
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    Fenster f;
    Optionen& o = f.o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* wert = i + 1 < argc ? argv[i + 1] : "";
        if (a == "--groesse" && i + 1 < argc) {
            std::sscanf(wert, "%dx%d", &o.breite, &o.hoehe);
            ++i;
        } else if (a == "--position" && i + 1 < argc) {
            std::sscanf(wert, "%d,%d", &o.x, &o.y);
            ++i;
        } else if (a == "--bewegt") {
            o.bewegt = true;
        } else if (a == "--kachel") {
            o.kachel = true;
        } else if (a == "--cursor" && i + 1 < argc) {
            o.cursorFarbe = static_cast<long>(farbe(wert));
            ++i;
        } else if (a == "--ueberdecken" && i + 1 < argc) {
            o.ueberdecken = true;
            f.einfarbig = true;
            f.farbeJetzt = farbe(wert);
            ++i;
        } else if (a == "--klasse" && i + 1 < argc) {
            o.klasse = wert;
            ++i;
        } else if (a == "--titel" && i + 1 < argc) {
            o.titel = wert;
            ++i;
        } else {
            std::fprintf(stderr, "video_testfenster: unbekannte Option %s\n", a.c_str());
            return 2;
        }
    }

    f.d = XOpenDisplay(nullptr);
    if (f.d == nullptr) {
        std::fprintf(stderr, "video_testfenster: kein X-Display\n");
        return 1;
    }
    Display* d = f.d;
    const int schirm = DefaultScreen(d);
    if (o.ueberdecken) {
        o.x = 0;
        o.y = 0;
        o.breite = DisplayWidth(d, schirm);
        o.hoehe = DisplayHeight(d, schirm);
    }
    XSetWindowAttributes attr{};
    attr.override_redirect = o.ueberdecken ? True : False;
    attr.background_pixel = BlackPixel(d, schirm);
    attr.event_mask = ExposureMask | StructureNotifyMask;
    f.w = XCreateWindow(d, RootWindow(d, schirm), o.x, o.y, static_cast<unsigned>(o.breite),
                        static_cast<unsigned>(o.hoehe), 0, CopyFromParent, InputOutput,
                        CopyFromParent, CWOverrideRedirect | CWBackPixel | CWEventMask, &attr);
    setzeGroesse(f);
    XClassHint klasse{o.klasse.data(), o.klasse.data()};
    XSetClassHint(d, f.w, &klasse);
    XStoreName(d, f.w, o.titel.c_str());
    XChangeProperty(d, f.w, XInternAtom(d, "_NET_WM_NAME", False),
                    XInternAtom(d, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(o.titel.data()),
                    static_cast<int>(o.titel.size()));
    const long pid = getpid();
    XChangeProperty(d, f.w, XInternAtom(d, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
    if (o.cursorFarbe >= 0) {
        // A solid 16 × 16 cursor with its hot spot at the top left.
        char bits[32];
        std::memset(bits, 0xff, sizeof bits);
        Pixmap form = XCreateBitmapFromData(d, f.w, bits, 16, 16);
        XColor vorne{}, hinten{};
        vorne.red = static_cast<unsigned short>(((o.cursorFarbe >> 16) & 0xff) * 257);
        vorne.green = static_cast<unsigned short>(((o.cursorFarbe >> 8) & 0xff) * 257);
        vorne.blue = static_cast<unsigned short>((o.cursorFarbe & 0xff) * 257);
        vorne.flags = DoRed | DoGreen | DoBlue;
        hinten = vorne;
        Cursor c = XCreatePixmapCursor(d, form, form, &vorne, &hinten, 0, 0);
        XDefineCursor(d, f.w, c);
        XFreePixmap(d, form);
    }
    f.gc = XCreateGC(d, f.w, 0, nullptr);
    XMapRaised(d, f.w);

    // Shown once mapped (a covered window gets no Expose until uncovered).
    for (bool gezeigt = false; !gezeigt;) {
        XEvent e;
        XNextEvent(d, &e);
        if (e.type == Expose || e.type == MapNotify) {
            f.male();
            XSync(d, False);
            gezeigt = e.type == MapNotify;
        }
    }
    std::printf("fenster %lu\n", f.w);
    std::fflush(stdout);

    using Uhr = std::chrono::steady_clock;
    auto naechsterSchritt = Uhr::now();
    std::string zeile;
    for (bool schluss = false; !schluss;) {
        while (XPending(d) > 0) {
            XEvent e;
            XNextEvent(d, &e);
            if (e.type == Expose && e.xexpose.count == 0) f.male();
        }
        int warteMs = -1;
        if ((f.o.bewegt || f.o.kachel) && f.lebt) {
            const auto jetzt = Uhr::now();
            if (jetzt >= naechsterSchritt) {
                f.quadratX = (f.quadratX + 7) % std::max(1, o.breite - kQuadratSeite);
                ++f.schritt;
                f.male();
                XFlush(d);
                naechsterSchritt = jetzt + std::chrono::milliseconds(16);
            }
            warteMs = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(naechsterSchritt - Uhr::now())
                    .count());
            if (warteMs < 0) warteMs = 0;
        }
        pollfd fds[2] = {{ConnectionNumber(d), POLLIN, 0}, {0, POLLIN, 0}};
        poll(fds, 2, warteMs);
        if (!(fds[1].revents & (POLLIN | POLLHUP))) continue;
        char puffer[256];
        const ssize_t n = read(0, puffer, sizeof puffer);
        if (n <= 0) break;  // the test is gone
        zeile.append(puffer, static_cast<std::size_t>(n));
        std::size_t ende = 0;
        while ((ende = zeile.find('\n')) != std::string::npos) {
            const std::string befehl = zeile.substr(0, ende);
            zeile.erase(0, ende + 1);
            if (befehl == "ende") {
                schluss = true;
                break;
            }
            if (befehl.rfind("farbe ", 0) == 0) {
                f.einfarbig = true;
                f.farbeJetzt = farbe(befehl.c_str() + 6);
                f.male();
            } else if (befehl == "quadranten") {
                f.einfarbig = false;
                f.male();
            } else if (befehl.rfind("groesse ", 0) == 0) {
                std::sscanf(befehl.c_str() + 8, "%dx%d", &o.breite, &o.hoehe);
                setzeGroesse(f);
                XResizeWindow(d, f.w, static_cast<unsigned>(o.breite),
                              static_cast<unsigned>(o.hoehe));
                // Painted once the window has its new size.
                for (bool fertig = false; !fertig;) {
                    XEvent e;
                    XNextEvent(d, &e);
                    fertig = e.type == ConfigureNotify && e.xconfigure.width == o.breite &&
                             e.xconfigure.height == o.hoehe;
                }
                f.male();
            } else if (befehl == "unmap") {
                XUnmapWindow(d, f.w);
            } else if (befehl == "map") {
                XMapRaised(d, f.w);
            } else if (befehl == "zerstoere") {
                XDestroyWindow(d, f.w);
                f.lebt = false;
            }
            XSync(d, False);
            antworte("ok");
        }
    }
    XFreeGC(d, f.gc);
    XCloseDisplay(d);
    return 0;
}
