#include "recorder/driver/fenster_modi.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "basis/ausgabe.h"
#include "basis/text.h"
#include "platform/plattform_fehler.h"
#include "recorder/video/eingabe.h"
#include "recorder/video/fenster_info.h"
#include "recorder/video/meeting_wahl.h"

namespace hoerspur {

namespace {

void drucke(std::FILE* ergebnis, std::string zeile) {
    zeile.push_back('\n');
    std::fputs(zeile.c_str(), ergebnis);
}

// The whole file, or nothing when it cannot be read or exceeds what a window
// list can be.
std::optional<std::string> liesDatei(const std::string& pfad) {
    std::FILE* datei = std::fopen(pfad.c_str(), "rb");
    if (datei == nullptr) return std::nullopt;
    std::string text;
    char puffer[65536];
    std::size_t n;
    while ((n = std::fread(puffer, 1, sizeof puffer, datei)) > 0) {
        text.append(puffer, n);
        if (text.size() > MAX_EINGABE_BYTES) break;
    }
    const bool fehler = std::ferror(datei) != 0;
    std::fclose(datei);
    if (fehler || text.size() > MAX_EINGABE_BYTES) return std::nullopt;
    return text;
}

// A frame value as a whole number, cut toward zero; values beyond any screen are
// held at the 32-bit limits rather than overflowing.
long long abgeschnitten(double wert) {
    if (std::isnan(wert)) return 0;
    return static_cast<long long>(
        std::trunc(std::fmax(-2147483648.0, std::fmin(wert, 2147483647.0))));
}

std::string zeileFenster(const FensterInfo& f) {
    char zahlen[160];
    std::snprintf(zahlen, sizeof zahlen, ",\"breite\":%lld,\"hoehe\":%lld,\"x\":%lld,\"y\":%lld",
                  abgeschnitten(f.breite), abgeschnitten(f.hoehe), abgeschnitten(f.x),
                  abgeschnitten(f.y));
    // The bundle comes from the window's own client on some platforms, so it is
    // escaped like every other text.
    return "{\"fenster\":" + std::to_string(f.id) + ",\"app\":\"" + jsonEscape(f.app) +
           "\",\"bundle\":\"" + jsonEscape(f.bundle) + "\",\"titel\":\"" + jsonEscape(f.titel) +
           "\"" + zahlen + ",\"sichtbar\":" + (f.sichtbar ? "true" : "false") +
           ",\"ebene\":" + std::to_string(f.ebene) + "}";
}

std::string zeileFehler(const std::string& beschreibung) {
    return "{\"fehler\":\"" + jsonEscape(beschreibung) + "\"}";
}

}  // namespace

int fensterWahlModus(const Config& konfig, std::FILE* ergebnis) {
    const std::optional<std::string> text =
        konfig.fensterWahl ? liesDatei(*konfig.fensterWahl) : std::nullopt;
    const std::optional<Eingabe> eingabe = text ? leseEingabe(*text) : std::nullopt;
    if (!eingabe) {
        log("[hoerspur] --fenster-wahl: JSON nicht lesbar");
        return 2;
    }
    drucke(ergebnis, wahlJSON(waehleMeetingZiel(eingabe->fenster)));
    std::fflush(ergebnis);
    return 0;
}

int fensterProbeModus(const Config& konfig, BildschirmAufnahme& dienst, std::FILE* ergebnis,
                      std::chrono::milliseconds frist) {
    std::future<TeilbarerInhalt> antwort =
        std::async(std::launch::async, [&dienst] { return dienst.teilbarerInhalt(); });
    if (antwort.wait_for(frist) != std::future_status::ready) {
        drucke(ergebnis, zeileFehler("Fensterliste: keine Antwort vom Fensterdienst nach " +
                                     std::to_string((frist.count() + 999) / 1000) + " s"));
        std::fflush(ergebnis);
        std::_Exit(3);
    }
    TeilbarerInhalt inhalt;
    try {
        inhalt = antwort.get();
    } catch (const PlattformFehler& f) {
        drucke(ergebnis, zeileFehler(f.beschreibung()));
        std::fflush(ergebnis);
        return 3;
    } catch (const std::exception& f) {
        drucke(ergebnis, zeileFehler(std::string("Fensterliste: ") + f.what()));
        std::fflush(ergebnis);
        return 3;
    }

    const std::vector<FensterInfo> fenster = metadaten(inhalt);
    long long andere = 0;
    for (const FensterInfo& f : fenster) {
        if (konfig.alleFenster || meetingApp(f.bundle) || istBrowser(f.bundle)) {
            drucke(ergebnis, zeileFenster(f));
        } else {
            ++andere;
        }
    }
    if (andere > 0) drucke(ergebnis, "{\"andere_fenster\":" + std::to_string(andere) + "}");
    drucke(ergebnis, "{\"wahl\":" + wahlJSON(waehleMeetingZiel(fenster)) + "}");
    std::fflush(ergebnis);
    return 0;
}

}  // namespace hoerspur
