#include "platform/linux/atspi_barrierefreiheit.h"

#include <atspi/atspi.h>
#include <dbus/dbus.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "platform/linux/atspi_fehler.h"
#include "platform/linux/atspi_rollen.h"

namespace hoerspur {

namespace {

// Calls during the trust check; the bus launcher may need a moment to start.
constexpr int PRUEF_ZEITLIMIT_MS = 5000;
constexpr int STANDARD_ZEITLIMIT_MS = 1500;
// The end of a run waits at most this long to put the desktop's switch back.
constexpr int ZURUECK_ZEITLIMIT_MS = 1000;
// More children than one walk can visit are never needed.
constexpr int MAX_KINDER = 6000;
// Longer texts are cut: a document's whole text is no participant's name.
constexpr int MAX_TEXT_ZEICHEN = 4096;

constexpr const char* A11Y_BUS_NAME = "org.a11y.Bus";
constexpr const char* A11Y_BUS_PFAD = "/org/a11y/bus";
constexpr const char* REGISTRY_NAME = "org.a11y.atspi.Registry";
constexpr const char* REGISTRY_PFAD = "/org/a11y/atspi/accessible/root";
constexpr const char* ACCESSIBLE_SCHNITTSTELLE = "org.a11y.atspi.Accessible";
constexpr const char* EIGENSCHAFTEN = "org.freedesktop.DBus.Properties";

// Names of the actions that press an element, in the order they are preferred.
constexpr const char* DRUECK_AKTIONEN[] = {"click", "press", "activate", "toggle", "jump"};

template <typename T>
struct GRef {
    T* p = nullptr;
    explicit GRef(T* q) : p(q) {}
    ~GRef() {
        if (p != nullptr) g_object_unref(p);
    }
    GRef(const GRef&) = delete;
    GRef& operator=(const GRef&) = delete;
};

struct GText {
    gchar* p = nullptr;
    explicit GText(gchar* q) : p(q) {}
    ~GText() { g_free(p); }
    GText(const GText&) = delete;
    GText& operator=(const GText&) = delete;
};

// A GError for one call: pass ziel() to the call, then ok() says whether it
// succeeded.
struct GFehler {
    GError* e = nullptr;
    GFehler() = default;
    ~GFehler() { g_clear_error(&e); }
    GFehler(const GFehler&) = delete;
    GFehler& operator=(const GFehler&) = delete;
    GError** ziel() { return &e; }
    bool ok() const { return e == nullptr; }
};

struct DFehler {
    DBusError e;
    DFehler() { dbus_error_init(&e); }
    ~DFehler() { dbus_error_free(&e); }
    DFehler(const DFehler&) = delete;
    DFehler& operator=(const DFehler&) = delete;
};

struct Nachricht {
    DBusMessage* m = nullptr;
    explicit Nachricht(DBusMessage* n) : m(n) {}
    ~Nachricht() {
        if (m != nullptr) dbus_message_unref(m);
    }
    Nachricht(const Nachricht&) = delete;
    Nachricht& operator=(const Nachricht&) = delete;
};

// A private bus connection of our own (the session bus, the trust check's
// connection to the accessibility bus).
class Verbindung {
  public:
    Verbindung() = default;
    ~Verbindung() { trenne(); }
    Verbindung(const Verbindung&) = delete;
    Verbindung& operator=(const Verbindung&) = delete;

    // Connects and says hello, both within `zeitlimitMs`. Throws PlattformFehler.
    void verbinde(const std::string& adresse, int zeitlimitMs, const std::string& was) {
        trenne();
        DFehler f;
        c_ = dbus_connection_open_private(adresse.c_str(), &f.e);
        if (c_ == nullptr) throw atspiFehler(was + " nicht erreichbar", &f.e);
        dbus_connection_set_exit_on_disconnect(c_, FALSE);
        // dbus_bus_register would wait the library's default of 25 s.
        Nachricht hallo(dbus_message_new_method_call(
            "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "Hello"));
        Nachricht antwort(
            dbus_connection_send_with_reply_and_block(c_, hallo.m, zeitlimitMs, &f.e));
        const char* name = nullptr;
        if (antwort.m == nullptr ||
            !dbus_message_get_args(antwort.m, &f.e, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID)) {
            trenne();
            throw atspiFehler(was + " antwortet nicht", &f.e);
        }
        dbus_bus_set_unique_name(c_, name);
    }

    DBusConnection* get() const { return c_; }

    void trenne() {
        if (c_ != nullptr) {
            dbus_connection_close(c_);
            dbus_connection_unref(c_);
        }
        c_ = nullptr;
    }

  private:
    DBusConnection* c_ = nullptr;
};

// Properties.Get of one property; the reply, positioned by `wert` on the value
// inside its variant. Throws PlattformFehler.
Nachricht holeEigenschaft(DBusConnection* c, const char* ziel, const char* pfad,
                          const char* schnittstelle, const char* name, int zeitlimitMs,
                          DBusMessageIter& wert, const std::string& was) {
    Nachricht frage(dbus_message_new_method_call(ziel, pfad, EIGENSCHAFTEN, "Get"));
    if (frage.m == nullptr)
        throw atspiFehler(was + ": kein Speicher", static_cast<DBusError*>(nullptr));
    dbus_message_append_args(frage.m, DBUS_TYPE_STRING, &schnittstelle, DBUS_TYPE_STRING, &name,
                             DBUS_TYPE_INVALID);
    DFehler f;
    Nachricht antwort(dbus_connection_send_with_reply_and_block(c, frage.m, zeitlimitMs, &f.e));
    if (antwort.m == nullptr) throw atspiFehler(was, &f.e);
    DBusMessageIter iter;
    if (!dbus_message_iter_init(antwort.m, &iter) ||
        dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_VARIANT) {
        throw atspiFehler(was + ": unerwartete Antwort", static_cast<DBusError*>(nullptr));
    }
    dbus_message_iter_recurse(&iter, &wert);
    return Nachricht(std::exchange(antwort.m, nullptr));
}

std::optional<std::string> sitzungsAdresse() {
    if (const char* a = std::getenv("DBUS_SESSION_BUS_ADDRESS"); a != nullptr && *a != '\0') {
        return std::string(a);
    }
    // Without the variable, a systemd session's bus is at its well-known place.
    if (const char* laufzeit = std::getenv("XDG_RUNTIME_DIR"); laufzeit != nullptr) {
        const std::string pfad = std::string(laufzeit) + "/bus";
        struct stat s {};
        if (::stat(pfad.c_str(), &s) == 0 && S_ISSOCK(s.st_mode)) return "unix:path=" + pfad;
    }
    return std::nullopt;
}

struct AtspiKnoten : BfKnoten {
    AtspiKnoten(AtspiAccessible* o, bool anwendung) : obj(o), istAnwendung(anwendung) {}
    ~AtspiKnoten() override {
        if (obj != nullptr) g_object_unref(obj);
    }
    AtspiKnoten(const AtspiKnoten&) = delete;
    AtspiKnoten& operator=(const AtspiKnoten&) = delete;

    AtspiAccessible* obj;  // one reference owned; nullptr for an unknown process
    const bool istAnwendung;
    // Read once per handle (one scan): the role never changes, and the name is
    // asked for twice on labels (title and value).
    mutable std::optional<AtspiRole> rolle;
    mutable std::optional<BfWert> name;
};

const char* busName(AtspiAccessible* obj) {
    const AtspiApplication* app = obj->parent.app;
    return app != nullptr && app->bus_name != nullptr ? app->bus_name : "";
}

class AtspiBarrierefreiheit : public Barrierefreiheit {
  public:
    BfFreigabe freigabe() override {
        if (!geprueft_) {
            geprueft_ = true;
            try {
                verbindeMitBus();
                freigabe_ = {true, ""};
            } catch (const PlattformFehler& f) {
                freigabe_ = {false, "Bedienungshilfen: " + f.beschreibung()};
            }
        }
        return freigabe_;
    }

    BfElement anwendung(std::int32_t pid) override {
        if (!verbunden_) return leer();
        atspi_set_timeout(STANDARD_ZEITLIMIT_MS, -1);
        GRef<AtspiAccessible> desktop(atspi_get_desktop(0));
        if (desktop.p == nullptr) return leer();
        GFehler f;
        const gint n = atspi_accessible_get_child_count(desktop.p, f.ziel());
        for (gint i = 0; f.ok() && i < n; ++i) {
            GFehler fk;
            AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop.p, i, fk.ziel());
            if (app == nullptr) continue;
            if (prozessVon(app) == pid) return std::make_shared<AtspiKnoten>(app, true);
            g_object_unref(app);
        }
        return leer();
    }

    BfWert lies(const BfElement& element, std::string_view attribut) override {
        const AtspiKnoten* k = knoten(element);
        if (k == nullptr) return {};
        stelleZeitlimit(k->obj);
        if (attribut == "AXChildren") return kinder(*k);
        if (k->istAnwendung) return liesAnwendung(*k, attribut);
        const std::optional<AtspiRole> r = rolle(*k);
        if (attribut == "AXRole") {
            if (!r) return {};
            return std::string(axRolle(*r).rolle);
        }
        if (attribut == "AXSubrole") {
            if (!r || axRolle(*r).unterrolle == nullptr) return {};
            return std::string(axRolle(*r).unterrolle);
        }
        if (attribut == "AXTitle") {
            if (r && istTextRolle(*r)) return {};
            return name(*k);
        }
        if (attribut == "AXDescription") {
            GFehler f;
            GText t(atspi_accessible_get_description(k->obj, f.ziel()));
            return f.ok() && t.p != nullptr ? BfWert(std::string(t.p)) : BfWert();
        }
        if (attribut == "AXHelp") return hilfe(k->obj);
        if (attribut == "AXIdentifier") {
            GFehler f;
            GText t(atspi_accessible_get_accessible_id(k->obj, f.ziel()));
            return f.ok() && t.p != nullptr ? BfWert(std::string(t.p)) : BfWert();
        }
        if (attribut == "AXRoleDescription") return rollenText(*k, r);
        if (attribut == "AXValue") return wert(*k, r);
        if (attribut == "AXValueDescription") {
            GRef<AtspiValue> v(atspi_accessible_get_value_iface(k->obj));
            if (v.p == nullptr) return {};
            GFehler f;
            GText t(atspi_value_get_text(v.p, f.ziel()));
            return f.ok() && t.p != nullptr ? BfWert(std::string(t.p)) : BfWert();
        }
        if (attribut == "AXSelected") {
            GRef<AtspiStateSet> s(atspi_accessible_get_state_set(k->obj));
            if (s.p == nullptr || !atspi_state_set_contains(s.p, ATSPI_STATE_SELECTABLE)) return {};
            return static_cast<bool>(atspi_state_set_contains(s.p, ATSPI_STATE_SELECTED));
        }
        return {};
    }

    bool setze(const BfElement& element, std::string_view attribut, bool wert) override {
        const AtspiKnoten* k = knoten(element);
        if (k == nullptr || !k->istAnwendung || !wert) return false;
        if (attribut != "AXManualAccessibility" && attribut != "AXEnhancedUserInterface") {
            return false;
        }
        return schalteBedienungshilfenEin();
    }

    bool fuehreAus(const BfElement& element, std::string_view aktion) override {
        const AtspiKnoten* k = knoten(element);
        if (k == nullptr || aktion != "AXPress") return false;
        stelleZeitlimit(k->obj);
        GRef<AtspiAction> a(atspi_accessible_get_action_iface(k->obj));
        if (a.p == nullptr) return false;
        GFehler f;
        const gint n = atspi_action_get_n_actions(a.p, f.ziel());
        if (!f.ok() || n <= 0) return false;
        gint index = 0;
        bool gefunden = false;
        for (const char* gesucht : DRUECK_AKTIONEN) {
            for (gint i = 0; i < n && !gefunden; ++i) {
                GFehler fn;
                GText name(atspi_action_get_action_name(a.p, i, fn.ziel()));
                if (fn.ok() && name.p != nullptr && g_ascii_strcasecmp(name.p, gesucht) == 0) {
                    index = i;
                    gefunden = true;
                }
            }
            if (gefunden) break;
        }
        GFehler fa;
        const gboolean ok = atspi_action_do_action(a.p, index, fa.ziel());
        return fa.ok() && ok;
    }

    void setzeZeitlimit(const BfElement& element, double sekunden) override {
        const AtspiKnoten* k = knoten(element);
        if (k == nullptr || !(sekunden > 0.0)) return;
        zeitlimitMs_[busName(k->obj)] =
            static_cast<int>(std::clamp(std::ceil(sekunden * 1000.0), 1.0, 600'000.0));
    }

    bool gleich(const BfElement& a, const BfElement& b) override {
        const AtspiKnoten* x = knoten(a);
        const AtspiKnoten* y = knoten(b);
        if (x == nullptr || y == nullptr) return false;
        if (x->obj == y->obj) return true;
        return std::strcmp(busName(x->obj), busName(y->obj)) == 0 &&
               x->obj->parent.path != nullptr && y->obj->parent.path != nullptr &&
               std::strcmp(x->obj->parent.path, y->obj->parent.path) == 0;
    }

    void stelleZurueck() override {
        if (eingeschaltet_) eingeschaltet_ = !setzeIsEnabled(false, ZURUECK_ZEITLIMIT_MS);
    }

  private:
    static BfElement leer() { return std::make_shared<AtspiKnoten>(nullptr, true); }

    static const AtspiKnoten* knoten(const BfElement& element) {
        const auto* k = dynamic_cast<const AtspiKnoten*>(element.get());
        return k != nullptr && k->obj != nullptr ? k : nullptr;
    }

    // Finds the accessibility bus, checks that its registry answers, and points
    // libatspi at exactly that bus. Throws PlattformFehler saying what is missing.
    void verbindeMitBus() {
        std::string adresse;
        if (const auto sitzung = sitzungsAdresse()) {
            try {
                sitzung_.verbinde(*sitzung, PRUEF_ZEITLIMIT_MS, "die D-Bus-Sitzung");
            } catch (const PlattformFehler&) {
                if (std::getenv("AT_SPI_BUS_ADDRESS") == nullptr) throw;
            }
        }
        if (const char* vorgegeben = std::getenv("AT_SPI_BUS_ADDRESS");
            vorgegeben != nullptr && *vorgegeben != '\0') {
            adresse = vorgegeben;
        } else if (sitzung_.get() == nullptr) {
            throw PlattformFehler(kAtspiDomain, 2,
                                  "keine D-Bus-Sitzung gefunden (DBUS_SESSION_BUS_ADDRESS ist "
                                  "nicht gesetzt)");
        } else {
            Nachricht frage(dbus_message_new_method_call(A11Y_BUS_NAME, A11Y_BUS_PFAD,
                                                         A11Y_BUS_NAME, "GetAddress"));
            DFehler f;
            Nachricht antwort(dbus_connection_send_with_reply_and_block(sitzung_.get(), frage.m,
                                                                        PRUEF_ZEITLIMIT_MS, &f.e));
            const char* text = nullptr;
            if (antwort.m == nullptr || !dbus_message_get_args(antwort.m, &f.e, DBUS_TYPE_STRING,
                                                               &text, DBUS_TYPE_INVALID)) {
                throw atspiFehler(
                    "der Bedienungshilfen-Bus (org.a11y.Bus, at-spi2-core) meldet sich nicht",
                    &f.e);
            }
            adresse = text;
        }
        Verbindung a11y;
        a11y.verbinde(adresse, PRUEF_ZEITLIMIT_MS, "der Bedienungshilfen-Bus");
        DBusMessageIter wert;
        holeEigenschaft(a11y.get(), REGISTRY_NAME, REGISTRY_PFAD, ACCESSIBLE_SCHNITTSTELLE,
                        "ChildCount", PRUEF_ZEITLIMIT_MS, wert,
                        "die Registry (at-spi2-registryd) antwortet nicht");
        a11y.trenne();
        // libatspi finds its bus through this variable before anything else.
        ::setenv("AT_SPI_BUS_ADDRESS", adresse.c_str(), 1);
        if (atspi_init() > 1) {
            throw PlattformFehler(kAtspiDomain, 3, "libatspi verbindet sich nicht mit " + adresse);
        }
        verbunden_ = true;
    }

    bool schalteBedienungshilfenEin() {
        if (sitzung_.get() == nullptr) return false;
        try {
            DBusMessageIter wert;
            Nachricht a =
                holeEigenschaft(sitzung_.get(), A11Y_BUS_NAME, A11Y_BUS_PFAD, "org.a11y.Status",
                                "IsEnabled", STANDARD_ZEITLIMIT_MS, wert, "IsEnabled");
            dbus_bool_t an = FALSE;
            if (dbus_message_iter_get_arg_type(&wert) == DBUS_TYPE_BOOLEAN) {
                dbus_message_iter_get_basic(&wert, &an);
            }
            if (an) return true;
        } catch (const PlattformFehler&) {
            return false;
        }
        // The switch is the desktop's and is kept across sessions: what this run
        // turned on, it turns off again at its end.
        if (!setzeIsEnabled(true, STANDARD_ZEITLIMIT_MS)) return false;
        eingeschaltet_ = true;
        return true;
    }

    bool setzeIsEnabled(bool an, int zeitlimitMs) {
        Nachricht frage(
            dbus_message_new_method_call(A11Y_BUS_NAME, A11Y_BUS_PFAD, EIGENSCHAFTEN, "Set"));
        if (frage.m == nullptr) return false;
        const char* schnittstelle = "org.a11y.Status";
        const char* name = "IsEnabled";
        DBusMessageIter iter;
        DBusMessageIter variante;
        dbus_bool_t wert = an ? TRUE : FALSE;
        dbus_message_iter_init_append(frage.m, &iter);
        dbus_message_iter_append_basic(&iter, DBUS_TYPE_STRING, &schnittstelle);
        dbus_message_iter_append_basic(&iter, DBUS_TYPE_STRING, &name);
        dbus_message_iter_open_container(&iter, DBUS_TYPE_VARIANT, "b", &variante);
        dbus_message_iter_append_basic(&variante, DBUS_TYPE_BOOLEAN, &wert);
        dbus_message_iter_close_container(&iter, &variante);
        DFehler f;
        Nachricht antwort(
            dbus_connection_send_with_reply_and_block(sitzung_.get(), frage.m, zeitlimitMs, &f.e));
        return antwort.m != nullptr;
    }

    int zeitlimitMs(AtspiAccessible* obj) const {
        const auto it = zeitlimitMs_.find(busName(obj));
        return it == zeitlimitMs_.end() ? STANDARD_ZEITLIMIT_MS : it->second;
    }

    // libatspi keeps one timeout for all calls; it is set before each call for
    // the application the call goes to. -1: no longer grace period for young
    // applications.
    void stelleZeitlimit(AtspiAccessible* obj) { atspi_set_timeout(zeitlimitMs(obj), -1); }

    std::int32_t prozessVon(AtspiAccessible* app) {
        const std::string bus = busName(app);
        const auto it = pids_.find(bus);
        if (it != pids_.end()) return it->second;
        GFehler f;
        const guint pid = atspi_accessible_get_process_id(app, f.ziel());
        if (!f.ok()) return -1;
        pids_[bus] = static_cast<std::int32_t>(pid);
        return static_cast<std::int32_t>(pid);
    }

    std::optional<AtspiRole> rolle(const AtspiKnoten& k) {
        if (!k.rolle) {
            GFehler f;
            const AtspiRole r = atspi_accessible_get_role(k.obj, f.ziel());
            if (!f.ok()) return std::nullopt;
            k.rolle = r;
        }
        return k.rolle;
    }

    static BfWert name(const AtspiKnoten& k) {
        if (!k.name) {
            GFehler f;
            GText t(atspi_accessible_get_name(k.obj, f.ziel()));
            k.name = f.ok() && t.p != nullptr ? BfWert(std::string(t.p)) : BfWert();
        }
        return *k.name;
    }

    // The application's word for the role, in its language. It depends on the
    // role only, so it is asked once per application and role.
    BfWert rollenText(const AtspiKnoten& k, const std::optional<AtspiRole>& r) {
        const auto schluessel =
            std::make_pair(std::string(busName(k.obj)), r.value_or(ATSPI_ROLE_INVALID));
        if (r) {
            const auto it = rollenTexte_.find(schluessel);
            if (it != rollenTexte_.end()) return it->second;
        }
        GFehler f;
        GText t(atspi_accessible_get_localized_role_name(k.obj, f.ziel()));
        if (!f.ok() || t.p == nullptr) return {};
        std::string text(t.p);
        if (r) rollenTexte_[schluessel] = text;
        return text;
    }

    static std::optional<std::string> textInhalt(AtspiAccessible* obj) {
        GRef<AtspiText> t(atspi_accessible_get_text_iface(obj));
        if (t.p == nullptr) return std::nullopt;
        GFehler f;
        const gint n = atspi_text_get_character_count(t.p, f.ziel());
        if (!f.ok() || n < 0) return std::nullopt;
        GFehler ft;
        GText s(atspi_text_get_text(t.p, 0, std::min(n, MAX_TEXT_ZEICHEN), ft.ziel()));
        if (!ft.ok() || s.p == nullptr) return std::nullopt;
        return std::string(s.p);
    }

    // Labels carry their text as value; controls with a value interface their
    // number; other text holders their text.
    BfWert wert(const AtspiKnoten& k, const std::optional<AtspiRole>& r) {
        if (r && istTextRolle(*r)) {
            BfWert n = name(k);
            if (const auto* s = std::get_if<std::string>(&n); s != nullptr && !s->empty()) return n;
            if (auto t = textInhalt(k.obj)) return std::move(*t);
            return n;
        }
        GRef<AtspiValue> v(atspi_accessible_get_value_iface(k.obj));
        if (v.p != nullptr) {
            GFehler f;
            const gdouble x = atspi_value_get_current_value(v.p, f.ziel());
            return f.ok() ? BfWert(static_cast<double>(x)) : BfWert();
        }
        if (auto t = textInhalt(k.obj)) return std::move(*t);
        return {};
    }

    // The help text is a newer property of the accessibility interface; an
    // application that refuses it once is not asked again.
    BfWert hilfe(AtspiAccessible* obj) {
        const AtspiApplication* app = obj->parent.app;
        if (app == nullptr || app->bus == nullptr || obj->parent.path == nullptr) return {};
        const std::string bus = busName(obj);
        if (ohneHilfe_.contains(bus)) return {};
        Nachricht frage(
            dbus_message_new_method_call(bus.c_str(), obj->parent.path, EIGENSCHAFTEN, "Get"));
        if (frage.m == nullptr) return {};
        const char* schnittstelle = ACCESSIBLE_SCHNITTSTELLE;
        const char* name = "HelpText";
        dbus_message_append_args(frage.m, DBUS_TYPE_STRING, &schnittstelle, DBUS_TYPE_STRING, &name,
                                 DBUS_TYPE_INVALID);
        DFehler f;
        Nachricht antwort(
            dbus_connection_send_with_reply_and_block(app->bus, frage.m, zeitlimitMs(obj), &f.e));
        if (antwort.m == nullptr) {
            // An error answer means the property does not exist there; a timeout
            // says nothing about it.
            if (!dbus_error_has_name(&f.e, DBUS_ERROR_NO_REPLY) &&
                !dbus_error_has_name(&f.e, DBUS_ERROR_TIMEOUT) &&
                !dbus_error_has_name(&f.e, DBUS_ERROR_DISCONNECTED)) {
                ohneHilfe_.insert(bus);
            }
            return {};
        }
        DBusMessageIter iter;
        DBusMessageIter wert;
        if (!dbus_message_iter_init(antwort.m, &iter) ||
            dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_VARIANT) {
            return {};
        }
        dbus_message_iter_recurse(&iter, &wert);
        if (dbus_message_iter_get_arg_type(&wert) != DBUS_TYPE_STRING) return {};
        const char* text = nullptr;
        dbus_message_iter_get_basic(&wert, &text);
        return text != nullptr ? BfWert(std::string(text)) : BfWert();
    }

    // Nothing when the children cannot be counted.
    std::optional<std::vector<BfElement>> kinderListe(const AtspiKnoten& k) {
        GFehler f;
        const gint n = std::min(atspi_accessible_get_child_count(k.obj, f.ziel()), MAX_KINDER);
        if (!f.ok()) return std::nullopt;
        std::vector<BfElement> liste;
        const auto limit = std::chrono::milliseconds(zeitlimitMs(k.obj));
        for (gint i = 0; i < n; ++i) {
            const auto start = std::chrono::steady_clock::now();
            GFehler fk;
            AtspiAccessible* kind = atspi_accessible_get_child_at_index(k.obj, i, fk.ziel());
            if (kind != nullptr && fk.ok()) {
                liste.push_back(std::make_shared<AtspiKnoten>(kind, false));
                continue;
            }
            if (kind != nullptr) g_object_unref(kind);
            // A child that went away meanwhile is skipped; an application that
            // stopped answering would cost the timeout once per child.
            if (std::chrono::steady_clock::now() - start >= limit) break;
        }
        return liste;
    }

    BfWert kinder(const AtspiKnoten& k) {
        auto liste = kinderListe(k);
        if (!liste) return {};
        return std::move(*liste);
    }

    std::vector<BfElement> fenster(const AtspiKnoten& app) {
        std::vector<BfElement> liste;
        auto alle = kinderListe(app);
        if (!alle) return liste;
        for (BfElement& e : *alle) {
            const auto* k = knoten(e);
            const auto r = k != nullptr ? rolle(*k) : std::nullopt;
            if (r && istFensterRolle(*r)) liste.push_back(std::move(e));
        }
        return liste;
    }

    BfWert liesAnwendung(const AtspiKnoten& k, std::string_view attribut) {
        if (attribut == "AXRole") return std::string("AXApplication");
        if (attribut == "AXTitle") return name(k);
        if (attribut == "AXWindows") return fenster(k);
        if (attribut == "AXFocusedWindow" || attribut == "AXMainWindow") {
            std::vector<BfElement> alle = fenster(k);
            for (BfElement& e : alle) {
                GRef<AtspiStateSet> s(atspi_accessible_get_state_set(knoten(e)->obj));
                if (s.p != nullptr && atspi_state_set_contains(s.p, ATSPI_STATE_ACTIVE)) return e;
            }
            // Without an active window the first one counts as the main window.
            if (attribut == "AXMainWindow" && !alle.empty()) return alle.front();
            return {};
        }
        return {};
    }

    bool geprueft_ = false;
    bool verbunden_ = false;
    bool eingeschaltet_ = false;  // this run turned the desktop's switch on
    BfFreigabe freigabe_;
    Verbindung sitzung_;
    std::map<std::string, int> zeitlimitMs_;    // by the application's bus name
    std::map<std::string, std::int32_t> pids_;  // bus names are never reused
    std::set<std::string> ohneHilfe_;
    std::map<std::pair<std::string, AtspiRole>, std::string> rollenTexte_;
};

}  // namespace

std::unique_ptr<Barrierefreiheit> atspiBarrierefreiheit() {
    return std::make_unique<AtspiBarrierefreiheit>();
}

}  // namespace hoerspur
