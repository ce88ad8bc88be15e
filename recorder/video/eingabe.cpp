#include "recorder/video/eingabe.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <string>

namespace hoerspur {

namespace {

using Json = nlohmann::json;

// A window list is three levels deep; anything much deeper is not one, and the
// parser keeps deeper levels out of memory altogether.
constexpr int MAX_TIEFE = 8;

// An integer in [min, max]: an integer literal, or a number literal with an exact
// integral value ("3.0", "1e2"); fractions and values out of range are refused.
std::optional<std::int64_t> ganzeZahl(const Json& w, std::int64_t min, std::int64_t max) {
    if (w.is_number_unsigned()) {
        const auto u = w.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(max)) return std::nullopt;
        return static_cast<std::int64_t>(u);
    }
    if (w.is_number_integer()) {
        const auto i = w.get<std::int64_t>();
        if (i < min || i > max) return std::nullopt;
        return i;
    }
    if (w.is_number_float()) {
        const double d = w.get<double>();
        // 2^63 is the first double past the int64 range.
        if (!std::isfinite(d) || d != std::trunc(d) || d < -9223372036854775808.0 ||
            d >= 9223372036854775808.0) {
            return std::nullopt;
        }
        const auto i = static_cast<std::int64_t>(d);
        if (i < min || i > max) return std::nullopt;
        return i;
    }
    return std::nullopt;
}

std::optional<double> endlicheZahl(const Json& w) {
    if (!w.is_number()) return std::nullopt;
    const double d = w.get<double>();
    if (!std::isfinite(d)) return std::nullopt;
    return d;
}

std::optional<FensterInfo> fensterAus(const Json& j) {
    if (!j.is_object()) return std::nullopt;
    const auto feld = [&](const char* name) -> const Json* {
        const auto it = j.find(name);
        return it == j.end() ? nullptr : &*it;
    };
    const Json* id = feld("id");
    const Json* titel = feld("titel");
    const Json* bundle = feld("bundle");
    const Json* app = feld("app");
    const Json* sichtbar = feld("sichtbar");
    const Json* ebene = feld("ebene");
    if (!id || !titel || !bundle || !app || !sichtbar || !ebene) return std::nullopt;
    if (!titel->is_string() || !bundle->is_string() || !app->is_string() ||
        !sichtbar->is_boolean()) {
        return std::nullopt;
    }
    const auto idWert = ganzeZahl(*id, 0, std::numeric_limits<std::uint32_t>::max());
    const auto ebeneWert = ganzeZahl(*ebene, std::numeric_limits<std::int64_t>::min(),
                                     std::numeric_limits<std::int64_t>::max());
    if (!idWert || !ebeneWert) return std::nullopt;
    double rahmen[4];
    const char* const namen[4] = {"x", "y", "breite", "hoehe"};
    for (int i = 0; i < 4; ++i) {
        const Json* w = feld(namen[i]);
        const auto zahl = w ? endlicheZahl(*w) : std::nullopt;
        if (!zahl) return std::nullopt;
        rahmen[i] = *zahl;
    }
    return FensterInfo(static_cast<std::uint32_t>(*idWert), titel->get<std::string>(),
                       bundle->get<std::string>(), app->get<std::string>(), rahmen[0], rahmen[1],
                       rahmen[2], rahmen[3], sichtbar->get<bool>(), *ebeneWert);
}

}  // namespace

std::optional<Eingabe> leseEingabe(std::string_view text) {
    if (text.size() > MAX_EINGABE_BYTES) return std::nullopt;
    bool zuTief = false;
    const Json::parser_callback_t tiefe = [&zuTief](int ebene, Json::parse_event_t, Json&) {
        if (ebene > MAX_TIEFE) {
            zuTief = true;
            return false;  // not kept in memory
        }
        return true;
    };
    const Json j = Json::parse(text.begin(), text.end(), tiefe, false);
    if (zuTief || j.is_discarded() || !j.is_object()) return std::nullopt;
    const auto liste = j.find("fenster");
    if (liste == j.end() || !liste->is_array()) return std::nullopt;
    Eingabe eingabe;
    eingabe.fenster.reserve(liste->size());
    for (const Json& f : *liste) {
        std::optional<FensterInfo> info = fensterAus(f);
        if (!info) return std::nullopt;
        eingabe.fenster.push_back(std::move(*info));
    }
    return eingabe;
}

}  // namespace hoerspur
