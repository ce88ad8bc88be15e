#include "observer/beobachter_dateien.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <utility>

#include "basis/ausgabe.h"
#include "basis/datei_schreiben.h"

namespace hoerspur {

namespace {

const std::string TRENNLINIE(72, '-');

using Json = nlohmann::json;

template <typename J>
J zeileAls(const Zeile& zeile) {
    J objekt = J::object();
    objekt["rolle"] = zeile.rolle;
    objekt["name"] = zeile.reinerName();
    objekt["roh"] = zeile.beschriftung();
    for (const auto& [name, wert] : zeile.felder) objekt[name] = wert;
    return objekt;
}

// Compact JSON; invalid UTF-8 becomes U+FFFD instead of failing the whole line.
template <typename J>
std::string kompakt(const J& wert) {
    return wert.dump(-1, ' ', false, J::error_handler_t::replace);
}

}  // namespace

nlohmann::ordered_json zeileAlsJson(const Zeile& zeile) {
    return zeileAls<nlohmann::ordered_json>(zeile);
}

std::string abdruck(const std::vector<Zeile>& zeilen) {
    Json liste = Json::array();
    for (const Zeile& z : zeilen) liste.push_back(zeileAls<Json>(z));
    return kompakt(liste);
}

std::string isoZeit(std::int64_t unixMs) {
    const std::time_t sekunden = static_cast<std::time_t>(unixMs / 1000);
    std::tm t{};
    gmtime_r(&sekunden, &t);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

bool schreibeAtomar(const std::string& pfad, const std::string& inhalt) {
    return schreibeGanzeDatei(
        pfad, {reinterpret_cast<const std::uint8_t*>(inhalt.data()), inhalt.size()});
}

Befund::Befund(std::string pfad, std::function<std::int64_t()> unixMs)
    : pfad_(std::move(pfad)), unixMs_(std::move(unixMs)) {}

void Befund::befund(const std::string& text) {
    zeilen_.push_back(text);
    log(LOG_PRAEFIX + text);
}

void Befund::sichern() {
    std::string inhalt = "ZOOM-NAMEN \u00B7 BEFUND \u00B7 " + isoZeit(unixMs_()) + "\n";
    inhalt += TRENNLINIE + "\n";
    for (const std::string& z : zeilen_) inhalt += z + "\n";
    schreibeAtomar(pfad_, inhalt);
}

Spur::Spur(std::string pfad) : pfad_(std::move(pfad)) {}

Spur::~Spur() {
    schliesse();
}

void Spur::schreibe(const nlohmann::ordered_json& zeile) {
    const std::string text = kompakt(zeile) + "\n";
    if (fd_ < 0) {
        fd_ = ::open(pfad_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
        if (fd_ < 0) return;
        laengeBytes_ = 0;
    }
    if (schreibeAlles(fd_, text.data(), text.size())) {
        laengeBytes_ += static_cast<std::int64_t>(text.size());
    } else {
        // A full disk may have taken part of the line: cut it off again.
        while (::ftruncate(fd_, laengeBytes_) != 0 && errno == EINTR) {
        }
    }
}

void Spur::schliesse() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void schreibeBaumDatei(const std::string& pfad, const std::vector<std::string>& roh) {
    std::string inhalt =
        "ZOOM \u00B7 VOLLER BEDIENUNGSHILFEN-BAUM, erste Abtastung\n"
        "Hier steht, WELCHES Attribut den Namen traegt und welches sich aendert,\n"
        "waehrend jemand redet. Daraus wird der Sprech-Marker \u2014 ohne Raten.\n";
    inhalt += TRENNLINIE + "\n";
    for (const std::string& z : roh) inhalt += z + "\n";
    schreibeAtomar(pfad, inhalt);
}

}  // namespace hoerspur
