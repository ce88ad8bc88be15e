#include "observer/beobachter.h"

#include <locale.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "basis/ausgabe.h"
#include "observer/beobachter_dateien.h"
#include "observer/durchlauf.h"
#include "observer/teilnehmer_panel.h"
#include "observer/unicode_text.h"
#include "observer/zoom_prozess.h"

namespace hoerspur {

namespace {

constexpr std::size_t MAX_ZEILEN = 250;
constexpr double PANEL_PAUSE_SEKUNDEN = 0.8;
constexpr double LEERLAUF_MELDUNG_SEKUNDEN = 30.0;

// strtod in the C locale, whatever the process locale is; the whole text must be
// the number.
std::optional<double> cZahl(const std::string& text) {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    if (text.empty() || c == static_cast<locale_t>(nullptr)) return std::nullopt;
    const unsigned char erstes = static_cast<unsigned char>(text.front());
    if (erstes == ' ' || (erstes >= '\t' && erstes <= '\r')) return std::nullopt;
    char* ende = nullptr;
    const double wert = strtod_l(text.c_str(), &ende, c);
    if (ende != text.c_str() + text.size()) return std::nullopt;
    return wert;
}

std::string absoluterOrdner(const std::string& pfad) {
    std::error_code fehler;
    std::filesystem::path p = pfad.empty() ? std::filesystem::current_path(fehler)
                                           : std::filesystem::absolute(pfad, fehler);
    if (fehler) p = pfad;
    std::string text = p.string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

std::string imOrdner(const std::string& ordner, const char* datei) {
    return ordner == "/" ? ordner + datei : ordner + "/" + datei;
}

const char* const ABBRUCH_FREIGABE[] = {
    "ABBRUCH: keine Bedienungshilfen-Freigabe fuer diesen Prozess.",
    "",
    "  Das ist der wahrscheinlichste Grund, wenn hier nie Namen ankommen.",
    "  KORAL selbst HAT die Freigabe (sonst wuerde das Einfuegen nach dem",
    "  Diktieren nicht funktionieren) \u2014 dieser Beobachter laeuft aber als eigener",
    "  Prozess und bekommt sie nur vererbt. Wurde er von Hand im Terminal",
    "  gestartet, braucht das TERMINAL die Freigabe.",
    "  Systemeinstellungen -> Datenschutz & Sicherheit -> Bedienungshilfen.",
};

class Beobachter {
  public:
    Beobachter(const BeobachterConfig& config, BeobachterUmgebung& u)
        : config_(config),
          u_(u),
          bf_(*u.bf),
          befund_(imOrdner(config.ordner, BEFUND_DATEI), u.unixMs),
          spur_(imOrdner(config.ordner, SPUR_DATEI)),
          baumPfad_(imOrdner(config.ordner, BAUM_DATEI)),
          leerlaufTakte_(static_cast<std::int64_t>(
              std::max(LEERLAUF_MELDUNG_SEKUNDEN / config.taktSekunden, 1.0))) {}

    int lauf() {
        befund("Ordner: " + config_.ordner);
        befund("Takt: " + taktText(config_.taktSekunden) + " s" +
               (config_.nurEinmal ? " (einmalig)" : ""));
        const BfFreigabe freigabe = bf_.freigabe();
        if (!freigabe.vorhanden) {
            for (const char* zeile : ABBRUCH_FREIGABE) befund(zeile);
            if (!freigabe.fehlt.empty()) log(LOG_PRAEFIX + freigabe.fehlt);
            return 3;
        }
        befund("Bedienungshilfen: vorhanden");
        if (config_.ersatzApp) {
            befund("SELBSTTEST gegen App: " + *config_.ersatzApp + " (nicht Zoom)");
        }
        prozesse_ = zoomProzesse();
        if (prozesse_.empty()) {
            if (config_.ersatzApp) {
                befund("ABBRUCH: kein Prozess passt auf \"" + *config_.ersatzApp + "\".");
            } else {
                befund(
                    "ABBRUCH: kein Zoom-Prozess gefunden \u2014 dieses Gespraech lief nicht "
                    "ueber Zoom.");
            }
            return 0;
        }
        std::string liste;
        for (const ZoomProzess& p : prozesse_) {
            if (!liste.empty()) liste += ", ";
            liste += p.name + "[" + std::to_string(p.pid) + "]";
        }
        befund("Prozesse: " + liste);
        if (!config_.ersatzApp) {
            befund(std::string("Echter Call (CptHost): ") +
                   (callLaeuft(prozesse_) ? "ja" : "nein"));
        }
        elternPid_ = u_.elternPid();

        if (!u_.warteAufStop(0)) schleife();
        return abschluss();
    }

  private:
    // The file is saved with every line, so that a run that is killed leaves
    // its findings so far.
    void befund(const std::string& text) {
        befund_.befund(text);
        befund_.sichern();
    }

    std::vector<ZoomProzess> zoomProzesse() {
        const auto ausgabe = u_.prozessListe();
        if (!ausgabe) return {};
        return parseProzessListe(*ausgabe, u_.eigenePid(), config_.ersatzApp);
    }

    Abtastung abtaste(bool allesMitschreiben) {
        return abtasten(bf_, prozesse_, allesMitschreiben, u_.monoSekunden);
    }

    void schleife() {
        while (true) {
            runde_ += 1;
            Abtastung a = abtaste(ersteRunde_);
            if (ersteRunde_ && !config_.ersatzApp) panelAbtasten(a);
            if (ersteRunde_) {
                schreibeBaumDatei(baumPfad_, a.roh);
                befund("Voller Baum abgelegt: zoom-baum.txt (" + std::to_string(a.roh.size()) +
                       " Zeilen)");
                ersteRunde_ = false;
            }
            for (const Zeile& z : a.zeilen) {
                std::string name = z.reinerName();
                jeGesehen_.try_emplace(nfc(name), std::move(name));
            }
            schreibeZeile(a);
            leerlaufZaehlen(a);

            if (config_.nurEinmal) return;
            if (u_.elternPid() != elternPid_) {
                befund("Elternprozess weg \u2014 Ende.");
                return;
            }
            if (u_.warteAufStop(config_.taktSekunden)) return;
            if (runde_ % leerlaufTakte_ == 0) {
                prozesse_ = zoomProzesse();
                if (prozesse_.empty()) {
                    befund("Beobachtete App ist weg \u2014 Ende.");
                    return;
                }
            }
            if (u_.warteAufStop(0)) return;
        }
    }

    // The participants list is often collapsed, and then its names are not in
    // the tree: open it, scan again, and put it back as it was.
    void panelAbtasten(Abtastung& a) {
        BfElement knopf;
        if (!teilnehmerPanelUmschalten(bf_, prozesse_, &knopf)) return;
        u_.schlafe(PANEL_PAUSE_SEKUNDEN);
        Abtastung b = abtaste(true);
        a.zeilen.insert(a.zeilen.end(), std::make_move_iterator(b.zeilen.begin()),
                        std::make_move_iterator(b.zeilen.end()));
        a.roh.push_back("### Teilnehmer-Panel, umgeschalteter Zustand");
        a.roh.insert(a.roh.end(), std::make_move_iterator(b.roh.begin()),
                     std::make_move_iterator(b.roh.end()));
        a.gekappt = a.gekappt || b.gekappt;
        // The same button again: a new search could meet another "participants"
        // button inside the opened list. Only when that press fails is it looked for
        // anew, and the file says so when the panel could not be put back.
        if (bf_.fuehreAus(knopf, "AXPress") || teilnehmerPanelUmschalten(bf_, prozesse_)) {
            befund("Teilnehmer-Panel kurz abgetastet und Ausgangszustand wiederhergestellt.");
        } else {
            befund(
                "Teilnehmer-Panel kurz abgetastet; Ausgangszustand nicht wiederhergestellt "
                "(erneutes Druecken schlug fehl).");
        }
    }

    void schreibeZeile(const Abtastung& a) {
        const bool gedeckelt = a.zeilen.size() > MAX_ZEILEN;
        const std::vector<Zeile> behalten(
            a.zeilen.begin(),
            a.zeilen.begin() + static_cast<std::ptrdiff_t>(std::min(a.zeilen.size(), MAX_ZEILEN)));
        std::string neuerAbdruck = abdruck(behalten);
        nlohmann::ordered_json zeile;
        zeile["t_ms"] = u_.unixMs();
        zeile["runde"] = runde_;
        if (neuerAbdruck == letzterAbdruck_ && runde_ >= 2) {
            zeile["gleich"] = true;
        } else {
            letzterAbdruck_ = std::move(neuerAbdruck);
            nlohmann::ordered_json objekte = nlohmann::ordered_json::array();
            for (const Zeile& z : behalten) objekte.push_back(zeileAlsJson(z));
            zeile["zeilen"] = std::move(objekte);
            zeile["gekappt"] = a.gekappt;
            if (gedeckelt) zeile["gedeckelt"] = true;
        }
        spur_.schreibe(zeile);
    }

    void leerlaufZaehlen(const Abtastung& a) {
        if (!a.zeilen.empty()) {
            leerlauf_ = 0;
            return;
        }
        leerlauf_ += 1;
        if (leerlauf_ % leerlaufTakte_ != 0) return;
        const auto sekunden =
            static_cast<std::int64_t>(config_.taktSekunden * static_cast<double>(leerlauf_));
        std::string text = "Runde " + std::to_string(runde_) + ": seit " +
                           std::to_string(sekunden) +
                           " s kein Name im Baum. Haeufigste Ursache: die Teilnehmerliste ist in "
                           "Zoom zugeklappt.";
        if (a.gekappt) {
            text += " (Durchlauf wurde gekappt \u2014 Baum groesser als das Kontingent.)";
        }
        befund(text);
    }

    int abschluss() {
        befund("Ende nach " + std::to_string(runde_) +
               " Abtastungen. Verschiedene Namen gesehen: " + std::to_string(jeGesehen_.size()));
        if (!jeGesehen_.empty()) {
            std::string namen;
            for (const auto& [schluessel, name] : jeGesehen_) {
                if (!namen.empty()) namen += ", ";
                namen += name;
            }
            befund("Namen: " + namen);
        } else {
            befund("KEIN EINZIGER NAME. Das ist der Befund, auf den es ankommt \u2014");
            befund("in zoom-baum.txt steht, was die Oberflaeche stattdessen hergegeben hat.");
        }
        spur_.schliesse();
        return 0;
    }

    const BeobachterConfig config_;
    BeobachterUmgebung& u_;
    Barrierefreiheit& bf_;
    Befund befund_;
    Spur spur_;
    const std::string baumPfad_;
    const std::int64_t leerlaufTakte_;  // scans per idle report and per process refresh

    std::vector<ZoomProzess> prozesse_;
    bool ersteRunde_ = true;
    std::int64_t runde_ = 0;
    // Every cleaned name seen, keyed by its composed form (names that differ only
    // in their Unicode composition are one name), ordered by code points.
    std::map<std::string, std::string> jeGesehen_;
    std::string letzterAbdruck_;
    std::int64_t leerlauf_ = 0;
    std::int32_t elternPid_ = 0;
};

}  // namespace

std::optional<BeobachterConfig> parseBeobachterArgs(const std::vector<std::string>& argumente) {
    if (argumente.size() < 2) return std::nullopt;
    BeobachterConfig config;
    config.ordner = absoluterOrdner(argumente[1]);
    bool taktGesehen = false;
    bool appGesehen = false;
    for (std::size_t i = 1; i < argumente.size(); ++i) {
        const std::string& a = argumente[i];
        const bool hatWert = i + 1 < argumente.size();
        if (a == "--einmal") {
            config.nurEinmal = true;
        } else if (a == "--takt" && !taktGesehen) {
            taktGesehen = true;
            if (!hatWert) continue;
            const auto wert = cZahl(argumente[i + 1]);
            if (wert && std::isfinite(*wert) && *wert >= MIN_TAKT_SEKUNDEN &&
                *wert <= MAX_TAKT_SEKUNDEN) {
                config.taktSekunden = *wert;
            }
        } else if (a == "--app" && !appGesehen) {
            appGesehen = true;
            if (hatWert) config.ersatzApp = kleinschreibung(gueltigesUtf8(argumente[i + 1]));
        }
    }
    return config;
}

std::string taktText(double taktSekunden) {
    char puffer[64];
    const auto [ende, fehler] =
        std::to_chars(puffer, puffer + sizeof puffer, taktSekunden, std::chars_format::fixed);
    std::string text = fehler == std::errc() ? std::string(puffer, ende) : std::string("?");
    if (text.find('.') == std::string::npos) text += ".0";
    return text;
}

int namenspaeher(const std::vector<std::string>& argumente, BeobachterUmgebung& umgebung) {
    const auto config = parseBeobachterArgs(argumente);
    if (!config) {
        log(AUFRUF);
        return 2;
    }
    Beobachter beobachter(*config, umgebung);
    return beobachter.lauf();
}

}  // namespace hoerspur
