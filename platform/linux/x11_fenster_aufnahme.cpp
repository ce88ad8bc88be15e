#include "platform/linux/x11_fenster_aufnahme.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "platform/linux/bild_skalierer.h"
#include "platform/linux/x11_fehler.h"
#include "platform/uhr.h"

namespace hoerspur {

namespace {

// Larger windows are not filmed (the shared segment would pass 256 MB).
constexpr int kMaxFensterSeite = 8192;

struct Rechteck {
    int x = 0;
    int y = 0;
    int breite = 0;
    int hoehe = 0;
};

// The filmed window and what the stream set up on it.
struct Ziel {
    Window id = 0;
    Damage schaden = 0;
    Visual* visual = nullptr;
    int tiefe = 0;
    int breite = 0;
    int hoehe = 0;
};

// Reads a window's current content (its off-screen pixmap) as BGRX rows:
// through a shared memory segment when the server takes one, otherwise through
// the connection (which allocates per picture).
class Leser {
  public:
    Leser(Display* anzeige, X11Fehlerfalle& falle, bool shm)
        : anzeige_(anzeige), falle_(falle), shm_(shm) {}
    ~Leser() {
        if (bild_ != nullptr) XDestroyImage(bild_);
        if (kopie_ != nullptr) XDestroyImage(kopie_);
        gibSegmentFrei();
    }
    Leser(const Leser&) = delete;
    Leser& operator=(const Leser&) = delete;

    // Nothing when the window cannot be read now (unviewable, resized under us, gone).
    std::optional<BgraBild> lies(const Ziel& z) {
        // The segment first: naming the pixmap of a window that is not viewable
        // fails, and that error must not be taken for a refused segment.
        const bool geteilt = shm_ && bereiteSegmentVor(z);
        const Pixmap pixmap = XCompositeNameWindowPixmap(anzeige_, z.id);
        if (geteilt) {
            const Bool gelesen = XShmGetImage(anzeige_, pixmap, bild_, 0, 0, AllPlanes);
            XFreePixmap(anzeige_, pixmap);
            if (falle_.pruefe() != 0 || !gelesen) return std::nullopt;
            return BgraBild{z.breite, z.hoehe, bild_->bytes_per_line,
                            reinterpret_cast<const std::uint8_t*>(bild_->data)};
        }
        if (kopie_ != nullptr) XDestroyImage(kopie_);
        kopie_ = XGetImage(anzeige_, pixmap, 0, 0, static_cast<unsigned>(z.breite),
                           static_cast<unsigned>(z.hoehe), AllPlanes, ZPixmap);
        XFreePixmap(anzeige_, pixmap);
        if (falle_.pruefe() != 0 || kopie_ == nullptr || kopie_->bits_per_pixel != 32 ||
            kopie_->byte_order != LSBFirst) {
            return std::nullopt;
        }
        return BgraBild{z.breite, z.hoehe, kopie_->bytes_per_line,
                        reinterpret_cast<const std::uint8_t*>(kopie_->data)};
    }

  private:
    // An image of the window's size on a segment large enough; allocates only
    // when the window grows. False (and no shared memory from then on) when the
    // server refuses the segment, as a remote server does.
    bool bereiteSegmentVor(const Ziel& z) {
        if (bild_ != nullptr && bild_->width == z.breite && bild_->height == z.hoehe &&
            bild_->depth == z.tiefe) {
            return true;
        }
        if (bild_ != nullptr) XDestroyImage(bild_);
        bild_ = XShmCreateImage(anzeige_, z.visual, static_cast<unsigned>(z.tiefe), ZPixmap,
                                nullptr, &segment_, static_cast<unsigned>(z.breite),
                                static_cast<unsigned>(z.hoehe));
        if (bild_ == nullptr || bild_->bits_per_pixel != 32 || bild_->byte_order != LSBFirst) {
            return verzichte();
        }
        const std::size_t bytes =
            static_cast<std::size_t>(bild_->bytes_per_line) * static_cast<std::size_t>(z.hoehe);
        if (bytes > kapazitaetBytes_) {
            gibSegmentFrei();
            const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
            if (id < 0) return verzichte();
            void* adresse = shmat(id, nullptr, 0);
            if (adresse == reinterpret_cast<void*>(-1)) {
                shmctl(id, IPC_RMID, nullptr);
                return verzichte();
            }
            segment_.shmid = id;
            segment_.shmaddr = static_cast<char*>(adresse);
            segment_.readOnly = False;
            falle_.pruefe();  // earlier requests' errors are not the attach's
            XShmAttach(anzeige_, &segment_);
            const int fehler = falle_.pruefe();
            // Marked for removal now: the kernel frees it once both sides detach,
            // also when this process dies.
            shmctl(id, IPC_RMID, nullptr);
            if (fehler != 0) {
                shmdt(segment_.shmaddr);
                segment_.shmaddr = nullptr;
                return verzichte();
            }
            angehaengt_ = true;
            kapazitaetBytes_ = bytes;
        }
        bild_->data = segment_.shmaddr;
        return true;
    }

    bool verzichte() {
        if (bild_ != nullptr) XDestroyImage(bild_);
        bild_ = nullptr;
        shm_ = false;
        return false;
    }

    void gibSegmentFrei() {
        if (!angehaengt_) return;
        if (!falle_.verbindungVerloren()) {
            XShmDetach(anzeige_, &segment_);
            falle_.pruefe();
        }
        shmdt(segment_.shmaddr);
        segment_.shmaddr = nullptr;
        angehaengt_ = false;
        kapazitaetBytes_ = 0;
    }

    Display* const anzeige_;
    X11Fehlerfalle& falle_;
    bool shm_;
    XShmSegmentInfo segment_{};
    bool angehaengt_ = false;
    std::size_t kapazitaetBytes_ = 0;
    XImage* bild_ = nullptr;   // on the segment, of the window's current size
    XImage* kopie_ = nullptr;  // without shared memory: the last picture read
};

// Puts the window's picture into the output picture: scaled to fit with the
// aspect ratio kept and black bars, stretched, or at its own size.
class Skalierer {
  public:
    explicit Skalierer(const FensterStromKonfiguration& k) : k_(k) {
        ausgabe_.setzeGroesse(k.breite, k.hoehe);
        ausgabe_.fuelle(0, 0, 0, 255);
    }
    void zeichne(const BgraBild& fenster) {
        passeAn(fenster.breite, fenster.hoehe);
        if (skaliert_) {
            bildSkalierer_.skaliere(fenster, ausgabe_, inhalt_.x, inhalt_.y, inhalt_.breite,
                                    inhalt_.hoehe);
            return;
        }
        // At its own size (cut where larger); the pad byte of the server's
        // pixels becomes an opaque alpha.
        for (int y = 0; y < inhalt_.hoehe; ++y) {
            auto* z = reinterpret_cast<std::uint32_t*>(ausgabe_.zeile(inhalt_.y + y) +
                                                       static_cast<std::ptrdiff_t>(inhalt_.x) * 4);
            const std::uint8_t* q = fenster.zeile(y);
            for (int x = 0; x < inhalt_.breite; ++x) {
                std::uint32_t p;
                std::memcpy(&p, q + 4 * x, 4);
                z[x] = p | 0xff000000u;
            }
        }
    }

    // Where a point of the window lands in the output picture.
    std::pair<int, int> abbilde(int x, int y) const {
        if (!k_.skaliertPassend || quellBreite_ <= 0 || quellHoehe_ <= 0) return {x, y};
        return {inhalt_.x +
                    static_cast<int>(static_cast<std::int64_t>(x) * inhalt_.breite / quellBreite_),
                inhalt_.y +
                    static_cast<int>(static_cast<std::int64_t>(y) * inhalt_.hoehe / quellHoehe_)};
    }
    const Rechteck& inhalt() const { return inhalt_; }
    BgraPuffer& ausgabe() { return ausgabe_; }

  private:
    // A new window size gives a new layout, with the bars painted black once.
    void passeAn(int breite, int hoehe) {
        if (breite == quellBreite_ && hoehe == quellHoehe_) return;
        Rechteck r;
        if (!k_.skaliertPassend) {
            r = Rechteck{0, 0, std::min(breite, k_.breite), std::min(hoehe, k_.hoehe)};
        } else if (!k_.seitenverhaeltnisBehalten) {
            r = Rechteck{0, 0, k_.breite, k_.hoehe};
        } else {
            const double s = std::min(static_cast<double>(k_.breite) / breite,
                                      static_cast<double>(k_.hoehe) / hoehe);
            r.breite = std::clamp(static_cast<int>(std::lround(breite * s)), 1, k_.breite);
            r.hoehe = std::clamp(static_cast<int>(std::lround(hoehe * s)), 1, k_.hoehe);
            r.x = (k_.breite - r.breite) / 2;
            r.y = (k_.hoehe - r.hoehe) / 2;
        }
        skaliert_ = k_.skaliertPassend && (r.breite != breite || r.hoehe != hoehe);
        inhalt_ = r;
        quellBreite_ = breite;
        quellHoehe_ = hoehe;
        ausgabe_.fuelle(0, 0, 0, 255);
    }

    const FensterStromKonfiguration k_;
    BgraPuffer ausgabe_;
    BildSkalierer bildSkalierer_;
    bool skaliert_ = false;
    Rechteck inhalt_;
    int quellBreite_ = 0;
    int quellHoehe_ = 0;
};

// The pointer's cursor over the window: its image (read again only when the
// server reports a new shape), its place, and the pixels it covers in the
// output picture so that the next picture can take it away again.
class Zeiger {
  public:
    void formGeaendert() { formVeraltet_ = true; }

    // Asks the server where the pointer is; true when the drawn cursor changes.
    bool aktualisiere(Display* anzeige, const Ziel& z) {
        Window wurzel = 0, kind = 0;
        int wurzelX = 0, wurzelY = 0, x = 0, y = 0;
        unsigned maske = 0;
        const bool gleicherSchirm =
            XQueryPointer(anzeige, z.id, &wurzel, &kind, &wurzelX, &wurzelY, &x, &y, &maske);
        const bool drin = gleicherSchirm && x >= 0 && y >= 0 && x < z.breite && y < z.hoehe;
        bool neueForm = false;
        if (drin && formVeraltet_) neueForm = ladeForm(anzeige);
        const bool geaendert = drin != drin_ || (drin && (x != x_ || y != y_ || neueForm));
        drin_ = drin;
        x_ = x;
        y_ = y;
        return geaendert;
    }

    // Blends the cursor over the output picture, inside the window's part only.
    void zeichne(Skalierer& s) {
        unter_ = Rechteck{};
        if (!drin_ || formBreite_ <= 0) return;
        const auto [hx, hy] = s.abbilde(x_, y_);
        const Rechteck& inhalt = s.inhalt();
        const int x0 = std::max(hx - hotX_, inhalt.x);
        const int y0 = std::max(hy - hotY_, inhalt.y);
        const int x1 = std::min(hx - hotX_ + formBreite_, inhalt.x + inhalt.breite);
        const int y1 = std::min(hy - hotY_ + formHoehe_, inhalt.y + inhalt.hoehe);
        if (x0 >= x1 || y0 >= y1) return;
        unter_ = Rechteck{x0, y0, x1 - x0, y1 - y0};
        BgraPuffer& aus = s.ausgabe();
        for (int y = y0; y < y1; ++y) {
            std::uint8_t* z = aus.zeile(y) + static_cast<std::ptrdiff_t>(x0) * 4;
            std::memcpy(&gesichert_[static_cast<std::size_t>((y - y0) * unter_.breite) * 4], z,
                        static_cast<std::size_t>(unter_.breite) * 4);
            const std::uint8_t* f =
                &form_[static_cast<std::size_t>((y - (hy - hotY_)) * formBreite_ +
                                                (x0 - (hx - hotX_))) *
                       4];
            for (int x = 0; x < unter_.breite; ++x, z += 4, f += 4) {
                // Premultiplied: out = cursor + picture × (1 − alpha).
                const int rest = 255 - f[3];
                for (int c = 0; c < 3; ++c)
                    z[c] = static_cast<std::uint8_t>(f[c] + (z[c] * rest + 127) / 255);
            }
        }
    }

    // Puts back what the last drawn cursor covered.
    void nimmWeg(BgraPuffer& aus) {
        for (int y = 0; y < unter_.hoehe; ++y) {
            std::memcpy(aus.zeile(unter_.y + y) + static_cast<std::ptrdiff_t>(unter_.x) * 4,
                        &gesichert_[static_cast<std::size_t>(y * unter_.breite) * 4],
                        static_cast<std::size_t>(unter_.breite) * 4);
        }
        unter_ = Rechteck{};
    }

  private:
    bool ladeForm(Display* anzeige) {
        XFixesCursorImage* bild = XFixesGetCursorImage(anzeige);
        if (bild == nullptr) return false;
        formVeraltet_ = false;
        formBreite_ = bild->width;
        formHoehe_ = bild->height;
        hotX_ = bild->xhot;
        hotY_ = bild->yhot;
        const std::size_t n =
            static_cast<std::size_t>(formBreite_) * static_cast<std::size_t>(formHoehe_);
        form_.resize(n * 4);
        // Never shrinks: what the last cursor covered is put back after this,
        // with that cursor's size.
        if (gesichert_.size() < n * 4) gesichert_.resize(n * 4);
        for (std::size_t i = 0; i < n; ++i) {
            // ARGB in the low 32 bits of each long, alpha premultiplied.
            const auto p = static_cast<std::uint32_t>(bild->pixels[i]);
            form_[4 * i] = static_cast<std::uint8_t>(p & 0xff);
            form_[4 * i + 1] = static_cast<std::uint8_t>((p >> 8) & 0xff);
            form_[4 * i + 2] = static_cast<std::uint8_t>((p >> 16) & 0xff);
            form_[4 * i + 3] = static_cast<std::uint8_t>(p >> 24);
        }
        XFree(bild);
        return true;
    }

    bool formVeraltet_ = true;
    std::vector<std::uint8_t> form_;
    int formBreite_ = 0;
    int formHoehe_ = 0;
    int hotX_ = 0;
    int hotY_ = 0;
    bool drin_ = false;
    int x_ = 0;
    int y_ = 0;
    Rechteck unter_;
    std::vector<std::uint8_t> gesichert_;
};

// Whether a window's pixels can be read as BGRX: 24 or 32 bits deep, 8 bits a
// colour, 32 bits a pixel, least significant byte first.
bool bgrxLesbar(Display* anzeige, Visual* visual, int tiefe) {
    if (visual == nullptr || (tiefe != 24 && tiefe != 32)) return false;
    if (visual->red_mask != 0xff0000 || visual->green_mask != 0xff00 || visual->blue_mask != 0xff) {
        return false;
    }
    if (ImageByteOrder(anzeige) != LSBFirst) return false;
    int anzahl = 0;
    XPixmapFormatValues* formate = XListPixmapFormats(anzeige, &anzahl);
    bool passt = false;
    for (int i = 0; i < anzahl; ++i) {
        if (formate[i].depth == tiefe) passt = formate[i].bits_per_pixel == 32;
    }
    if (formate != nullptr) XFree(formate);
    return passt;
}

class X11FensterStrom final : public FensterStrom {
  public:
    X11FensterStrom(const FensterStromKonfiguration& k, FensterAufnahme::BildFunktion proBild,
                    FensterAufnahme::StopFunktion beiStop)
        : k_(k), proBild_(std::move(proBild)), beiStop_(std::move(beiStop)), skalierer_(k) {}

    ~X11FensterStrom() override {
        stoppe();
        trenne();
    }

    // Connects, sets the window up and starts the thread; throws PlattformFehler.
    void starte(std::uint32_t fensterId) {
        weckFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (weckFd_ < 0)
            throw x11Fehler("Fensterstrom laesst sich nicht anlegen", kX11NichtUnterstuetzt);
        try {
            verbinde();
            ziel_ = richteEin(fensterId);
        } catch (const PlattformFehler&) {
            trenne();
            throw;
        }
        thread_ = std::thread([this] { schleife(); });
    }

    void wechsleFenster(std::uint32_t fensterId) override {
        std::lock_guard einer(anfragen_);
        std::unique_lock lock(mutex_);
        if (beendet_ || stopp_) {
            throw x11Fehler("Fensterstrom laeuft nicht mehr", kX11StromBeendet);
        }
        anfrage_ = fensterId;
        antwort_.reset();
        beantwortet_ = false;
        wecke();
        antwortDa_.wait(lock, [this] { return beantwortet_ || beendet_; });
        anfrage_.reset();
        if (!beantwortet_) throw x11Fehler("Fensterstrom laeuft nicht mehr", kX11StromBeendet);
        if (antwort_) throw *antwort_;
    }

    void stoppe() override {
        {
            std::lock_guard lock(mutex_);
            stopp_ = true;
        }
        wecke();
        if (thread_.joinable() && std::this_thread::get_id() != thread_.get_id()) thread_.join();
    }

  private:
    void verbinde() {
        anzeige_ = XOpenDisplay(nullptr);
        if (anzeige_ == nullptr) {
            throw x11Fehler("Kein X-Display erreichbar (DISPLAY pruefen)", kX11KeinDisplay);
        }
        falle_ = std::make_unique<X11Fehlerfalle>(anzeige_);
        int ereignis = 0, fehler = 0, major = 0, minor = 0;
        if (!XCompositeQueryExtension(anzeige_, &ereignis, &fehler) ||
            !XCompositeQueryVersion(anzeige_, &major, &minor) || (major == 0 && minor < 2)) {
            throw x11Fehler("X-Server ohne Composite 0.2", kX11NichtUnterstuetzt);
        }
        if (!XDamageQueryExtension(anzeige_, &damageEreignis_, &fehler) ||
            !XDamageQueryVersion(anzeige_, &major, &minor)) {
            throw x11Fehler("X-Server ohne DAMAGE", kX11NichtUnterstuetzt);
        }
        if (!XFixesQueryExtension(anzeige_, &fixesEreignis_, &fehler) ||
            !XFixesQueryVersion(anzeige_, &major, &minor)) {
            throw x11Fehler("X-Server ohne XFIXES", kX11NichtUnterstuetzt);
        }
        if (k_.cursorZeigen) {
            XFixesSelectCursorInput(anzeige_, DefaultRootWindow(anzeige_),
                                    XFixesDisplayCursorNotifyMask);
        }
        leser_ = std::make_unique<Leser>(anzeige_, *falle_, XShmQueryExtension(anzeige_) == True);
        if (const int f = falle_->pruefe(); f != 0) {
            throw x11Fehler("X-Server lehnt die Fensteraufnahme ab", f, anzeige_);
        }
    }

    // Redirects the window off screen and watches it. Throws PlattformFehler;
    // nothing stays set up on the window then.
    Ziel richteEin(std::uint32_t fensterId) {
        Ziel z;
        z.id = fensterId;
        XWindowAttributes a{};
        falle_->pruefe();
        if (!XGetWindowAttributes(anzeige_, z.id, &a) || falle_->pruefe() != 0) {
            throw x11Fehler("Fenster nicht gefunden", kX11FensterGeschlossen);
        }
        if (a.c_class == InputOnly) {
            throw x11Fehler("Fenster hat keinen Inhalt", kX11NichtUnterstuetzt);
        }
        if (a.map_state == IsUnmapped) {
            throw x11Fehler("Fenster ist nicht sichtbar", kX11FensterVerborgen);
        }
        if (!bgrxLesbar(anzeige_, a.visual, a.depth)) {
            throw x11Fehler("Farbformat des Fensters wird nicht unterstuetzt",
                            kX11NichtUnterstuetzt);
        }
        z.visual = a.visual;
        z.tiefe = a.depth;
        z.breite = a.width;
        z.hoehe = a.height;
        XSelectInput(anzeige_, z.id, StructureNotifyMask);
        XCompositeRedirectWindow(anzeige_, z.id, CompositeRedirectAutomatic);
        z.schaden = XDamageCreate(anzeige_, z.id, XDamageReportNonEmpty);
        if (const int f = falle_->pruefe(); f != 0) {
            gibFrei(z);
            throw x11Fehler("Fenster laesst sich nicht aufnehmen", f, anzeige_);
        }
        // It may have been unmapped before the watch began.
        if (!XGetWindowAttributes(anzeige_, z.id, &a) || falle_->pruefe() != 0 ||
            a.map_state == IsUnmapped) {
            gibFrei(z);
            throw x11Fehler("Fenster ist nicht sichtbar", kX11FensterVerborgen);
        }
        return z;
    }

    // Errors ignored: the window may be gone.
    void gibFrei(Ziel& z) {
        if (z.id == 0 || falle_ == nullptr || falle_->verbindungVerloren()) return;
        XSelectInput(anzeige_, z.id, NoEventMask);
        if (z.schaden != 0) XDamageDestroy(anzeige_, z.schaden);
        XCompositeUnredirectWindow(anzeige_, z.id, CompositeRedirectAutomatic);
        falle_->pruefe();
        z = Ziel{};
    }

    // Everything of the connection; on the stream thread at its end, or in
    // starte() and the destructor when no thread runs.
    void trenne() {
        if (anzeige_ != nullptr) {
            gibFrei(ziel_);
            leser_.reset();
            falle_.reset();
            XCloseDisplay(anzeige_);
            anzeige_ = nullptr;
        }
        if (weckFd_ >= 0) close(weckFd_);
        weckFd_ = -1;
    }

    void wecke() {
        if (weckFd_ < 0) return;
        const std::uint64_t eins = 1;
        [[maybe_unused]] const ssize_t n = write(weckFd_, &eins, sizeof eins);
    }

    bool gestopptWorden() {
        std::lock_guard lock(mutex_);
        return stopp_;
    }

    void schleife() {
        pthread_setname_np(pthread_self(), "sck.video");
        double naechster = hostSekunden();
        for (;;) {
            if (!verarbeiteEreignisse()) break;
            if (gestopptWorden()) break;
            bearbeiteAnfrage();
            const double jetzt = hostSekunden();
            if (jetzt >= naechster) {
                if (!liefereBild()) break;
                // Ticks keep their pace, but two pictures are never closer than
                // the interval: a late tick moves the next one.
                naechster = std::max(naechster, letzterStempel_) + k_.minBildabstandSekunden;
                if (naechster <= jetzt) naechster = jetzt + k_.minBildabstandSekunden;
                continue;
            }
            pollfd fds[2] = {{ConnectionNumber(anzeige_), POLLIN, 0}, {weckFd_, POLLIN, 0}};
            const int ms = static_cast<int>(std::ceil((naechster - jetzt) * 1000.0));
            poll(fds, 2, std::max(ms, 1));
            std::uint64_t zaehler = 0;
            [[maybe_unused]] const ssize_t n = read(weckFd_, &zaehler, sizeof zaehler);
        }
        gibFrei(ziel_);
        leser_.reset();
        falle_.reset();
        XCloseDisplay(anzeige_);
        anzeige_ = nullptr;
        {
            std::lock_guard lock(mutex_);
            beendet_ = true;
        }
        antwortDa_.notify_all();
    }

    // False when the stream has ended (with the error reported).
    bool verarbeiteEreignisse() {
        bool ausgeblendet = false;
        for (int runde = 0; runde < 2; ++runde) {
            while (!falle_->verbindungVerloren() && XPending(anzeige_) > 0) {
                XEvent e;
                XNextEvent(anzeige_, &e);
                if (e.type == DestroyNotify && e.xdestroywindow.window == ziel_.id) {
                    return endeMitFehler(
                        x11Fehler("Fenster wurde geschlossen", kX11FensterGeschlossen));
                }
                bearbeite(e, ausgeblendet);
            }
            // A window being destroyed is unmapped first: one round trip brings
            // the destruction too, if that is what happened.
            if (!ausgeblendet || falle_->verbindungVerloren()) break;
            XSync(anzeige_, False);
        }
        if (falle_->verbindungVerloren()) {
            return endeMitFehler(
                x11Fehler("Verbindung zum X-Server verloren", kX11VerbindungVerloren));
        }
        if (ausgeblendet) {
            return endeMitFehler(
                x11Fehler("Fenster ist nicht mehr sichtbar", kX11FensterVerborgen));
        }
        return true;
    }

    void bearbeite(XEvent& e, bool& ausgeblendet) {
        if (e.type == UnmapNotify && e.xunmap.window == ziel_.id) {
            ausgeblendet = true;
        } else if (e.type == ConfigureNotify && e.xconfigure.window == ziel_.id) {
            if (e.xconfigure.width != ziel_.breite || e.xconfigure.height != ziel_.hoehe) {
                ziel_.breite = e.xconfigure.width;
                ziel_.hoehe = e.xconfigure.height;
                inhaltNeu_ = true;
            }
        } else if (e.type == damageEreignis_ + XDamageNotify) {
            if (reinterpret_cast<XDamageNotifyEvent*>(&e)->damage == ziel_.schaden) {
                inhaltNeu_ = true;
            }
        } else if (e.type == fixesEreignis_ + XFixesCursorNotify) {
            zeiger_.formGeaendert();
        }
    }

    void bearbeiteAnfrage() {
        std::optional<std::uint32_t> id;
        {
            std::lock_guard lock(mutex_);
            if (anfrage_ && !beantwortet_) id = anfrage_;
        }
        if (!id) return;
        std::optional<PlattformFehler> fehler;
        if (*id != ziel_.id) {
            try {
                Ziel neu = richteEin(*id);
                gibFrei(ziel_);
                ziel_ = neu;
                inhaltNeu_ = true;
                hatBild_ = false;
            } catch (const PlattformFehler& f) {
                fehler = f;
            }
        }
        {
            std::lock_guard lock(mutex_);
            antwort_ = fehler;
            beantwortet_ = true;
        }
        antwortDa_.notify_all();
    }

    // One tick: a new picture when the window or the cursor over it changed.
    // False when the stream has ended.
    bool liefereBild() {
        FensterBild b;
        const bool zeigerNeu = k_.cursorZeigen && zeiger_.aktualisiere(anzeige_, ziel_);
        falle_->abholen();  // a pointer query on a vanishing window; its events say more
        if (!inhaltNeu_ && !(zeigerNeu && hatBild_)) {
            b.status = hatBild_ ? BildStatus::unveraendert : BildStatus::leer;
            b.praesentationSekunden = hostSekunden();
            proBild_(b);
            return true;
        }
        BgraPuffer& aus = skalierer_.ausgabe();
        b.praesentationSekunden = hostSekunden();
        if (inhaltNeu_) {
            // Reset before reading: whatever is drawn from now on damages anew.
            XDamageSubtract(anzeige_, ziel_.schaden, None, None);
            std::optional<BgraBild> fenster;
            if (ziel_.breite > 0 && ziel_.hoehe > 0 && ziel_.breite <= kMaxFensterSeite &&
                ziel_.hoehe <= kMaxFensterSeite) {
                fenster = leser_->lies(ziel_);
            }
            if (!fenster) return liefereLeer();
            zeiger_.nimmWeg(aus);
            skalierer_.zeichne(*fenster);
            inhaltNeu_ = false;
        } else {
            zeiger_.nimmWeg(aus);
        }
        if (k_.cursorZeigen) zeiger_.zeichne(skalierer_);
        b.status = BildStatus::vollstaendig;
        b.bild = aus.bild();
        hatBild_ = true;
        letzterStempel_ = b.praesentationSekunden;
        proBild_(b);
        return true;
    }

    // The window could not be read: gone or unmapped ends the stream, anything
    // else (hidden frame, a size change under way) is tried again next tick.
    bool liefereLeer() {
        XWindowAttributes a{};
        if (!XGetWindowAttributes(anzeige_, ziel_.id, &a) || falle_->pruefe() != 0) {
            if (falle_->verbindungVerloren()) {
                return endeMitFehler(
                    x11Fehler("Verbindung zum X-Server verloren", kX11VerbindungVerloren));
            }
            return endeMitFehler(x11Fehler("Fenster wurde geschlossen", kX11FensterGeschlossen));
        }
        if (a.map_state == IsUnmapped) {
            return endeMitFehler(
                x11Fehler("Fenster ist nicht mehr sichtbar", kX11FensterVerborgen));
        }
        if (a.width != ziel_.breite || a.height != ziel_.hoehe) {
            ziel_.breite = a.width;
            ziel_.hoehe = a.height;
        }
        FensterBild b;
        b.status = BildStatus::leer;
        b.praesentationSekunden = hostSekunden();
        proBild_(b);
        return true;
    }

    // Always false: the stream ends. A stop that was asked for is no error.
    bool endeMitFehler(const PlattformFehler& f) {
        if (!gestopptWorden() && beiStop_) beiStop_(f.vollText());
        return false;
    }

    // fest nach dem Bau
    const FensterStromKonfiguration k_;
    const FensterAufnahme::BildFunktion proBild_;
    const FensterAufnahme::StopFunktion beiStop_;

    // nur auf dem Strom-Thread (davor in starte(), danach im Destruktor)
    Display* anzeige_ = nullptr;
    std::unique_ptr<X11Fehlerfalle> falle_;
    std::unique_ptr<Leser> leser_;
    int damageEreignis_ = 0;
    int fixesEreignis_ = 0;
    Ziel ziel_;
    Skalierer skalierer_;
    Zeiger zeiger_;
    bool inhaltNeu_ = true;        // damage (or a new window) since the last picture
    bool hatBild_ = false;         // the output holds this window's picture
    double letzterStempel_ = 0.0;  // of the last complete picture

    int weckFd_ = -1;
    std::thread thread_;

    // One window change at a time.
    std::mutex anfragen_;

    // unter mutex_
    std::mutex mutex_;
    std::condition_variable antwortDa_;
    bool stopp_ = false;
    bool beendet_ = false;
    std::optional<std::uint32_t> anfrage_;
    bool beantwortet_ = false;
    std::optional<PlattformFehler> antwort_;
};

class X11FensterAufnahme final : public FensterAufnahme {
  public:
    std::unique_ptr<FensterStrom> starteFensterStrom(std::uint32_t fensterId,
                                                     const FensterStromKonfiguration& k,
                                                     BildFunktion proBild,
                                                     StopFunktion beiStop) override {
        if (!proBild) throw std::invalid_argument("starteFensterStrom ohne Bildfunktion");
        if (k.tonAufnehmen) {
            throw x11Fehler("Fensterstroeme nehmen keinen Ton auf", kX11NichtUnterstuetzt);
        }
        if (k.breite <= 0 || k.hoehe <= 0 || k.breite > kMaxFensterSeite ||
            k.hoehe > kMaxFensterSeite || !(k.minBildabstandSekunden > 0.0) ||
            !std::isfinite(k.minBildabstandSekunden) || k.warteschlangenTiefe < 1) {
            throw x11Fehler("Ungueltige Einstellungen des Fensterstroms", kX11NichtUnterstuetzt);
        }
        static std::once_flag einmal;
        std::call_once(einmal, [] { XInitThreads(); });
        auto strom = std::make_unique<X11FensterStrom>(k, std::move(proBild), std::move(beiStop));
        strom->starte(fensterId);
        return strom;
    }
};

}  // namespace

std::shared_ptr<FensterAufnahme> neueX11FensterAufnahme() {
    return std::make_shared<X11FensterAufnahme>();
}

}  // namespace hoerspur
