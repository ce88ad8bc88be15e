#include "platform/sim/sim_json_objekt.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

namespace hoerspur {

namespace {

// Shortest form that reads back exactly, whatever the process locale is.
std::string zahlText(double x) {
    char text[32];
    const auto [ende, fehlerCode] = std::to_chars(text, text + sizeof text, x);
    return fehlerCode == std::errc() ? std::string(text, ende) : std::string("?");
}

// One JSON object whose keys are read once each; keys nobody read are errors,
// so a misspelt key never passes silently.

}  // namespace

void simJsonFehler(const std::string& art, const std::string& wo, const std::string& was) {
    throw SzenarioFehler(art + ": " + wo + ": " + was);
}

SimJsonObjekt::SimJsonObjekt(const Json& j, std::string wo, std::string art)
    : j_(j), wo_(std::move(wo)), art_(std::move(art)) {
    if (!j_.is_object()) fehler(wo_, "muss ein Objekt sein");
}

const SimJsonObjekt::Json* SimJsonObjekt::hole(const std::string& schluessel) {
    gelesen_.insert(schluessel);
    const auto it = j_.find(schluessel);
    return it == j_.end() ? nullptr : &*it;
}

std::optional<double> SimJsonObjekt::zahl(const std::string& s, double min, double max) {
    const Json* w = hole(s);
    if (w == nullptr) return std::nullopt;
    if (!w->is_number()) fehler(wo(s), "muss eine Zahl sein");
    const double x = w->get<double>();
    if (!std::isfinite(x) || x < min || x > max) {
        fehler(wo(s), "muss zwischen " + zahlText(min) + " und " + zahlText(max) + " liegen");
    }
    return x;
}

std::optional<std::int64_t> SimJsonObjekt::ganz(const std::string& s, std::int64_t min,
                                                std::int64_t max) {
    const Json* w = hole(s);
    if (w == nullptr) return std::nullopt;
    return ganzAus(*w, wo(s), min, max, art_);
}

std::optional<bool> SimJsonObjekt::wahr(const std::string& s) {
    const Json* w = hole(s);
    if (w == nullptr) return std::nullopt;
    if (!w->is_boolean()) fehler(wo(s), "muss true oder false sein");
    return w->get<bool>();
}

std::optional<std::string> SimJsonObjekt::text(const std::string& s) {
    const Json* w = hole(s);
    if (w == nullptr) return std::nullopt;
    if (!w->is_string()) fehler(wo(s), "muss ein Text sein");
    return w->get<std::string>();
}

void SimJsonObjekt::pruefeRest() const {
    for (const auto& [schluessel, wert] : j_.items()) {
        if (!gelesen_.contains(schluessel)) fehler(wo(schluessel), "unbekannter Schluessel");
    }
}

std::int64_t SimJsonObjekt::ganzAus(const Json& w, const std::string& wo, std::int64_t min,
                                    std::int64_t max, const std::string& art) {
    std::optional<std::int64_t> x;
    if (w.is_number_unsigned()) {
        const auto u = w.get<std::uint64_t>();
        if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            x = static_cast<std::int64_t>(u);
        }
    } else if (w.is_number_integer()) {
        x = w.get<std::int64_t>();
    } else if (w.is_number_float()) {
        const double d = w.get<double>();
        // 2^62 keeps the conversion exact and in range.
        if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 4.6e18) {
            x = static_cast<std::int64_t>(d);
        }
    } else {
        simJsonFehler(art, wo, "muss eine ganze Zahl sein");
    }
    if (!x || *x < min || *x > max) {
        simJsonFehler(art, wo,
                      "muss eine ganze Zahl zwischen " + std::to_string(min) + " und " +
                          std::to_string(max) + " sein");
    }
    return *x;
}

}  // namespace hoerspur
