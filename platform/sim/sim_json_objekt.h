// Strict reading of the JSON files that script the simulated platform (scenarios,
// accessibility trees): each key of an object is read once, keys nobody read are
// errors, so a misspelt key never passes silently; values out of range name the
// key that holds them.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "platform/sim/sim_szenario.h"

namespace hoerspur {

// Throws SzenarioFehler "<art>: <wo>: <was>".
[[noreturn]] void simJsonFehler(const std::string& art, const std::string& wo,
                                const std::string& was);

class SimJsonObjekt {
  public:
    using Json = nlohmann::json;

    // `j` must outlive the object; `wo` names it in errors ("szenario.mikrofon"),
    // `art` the kind of file ("Szenario", "Baum").
    SimJsonObjekt(const Json& j, std::string wo, std::string art);

    // Marks the key as read; nullptr when it is missing.
    const Json* hole(const std::string& schluessel);
    bool hat(const std::string& schluessel) const { return j_.contains(schluessel); }
    std::string wo(const std::string& schluessel) const { return wo_ + "." + schluessel; }
    const std::string& wo() const { return wo_; }

    // Missing keys give nothing; present ones of the wrong type or range are errors.
    std::optional<double> zahl(const std::string& s, double min, double max);
    std::optional<std::int64_t> ganz(const std::string& s, std::int64_t min, std::int64_t max);
    std::optional<bool> wahr(const std::string& s);
    std::optional<std::string> text(const std::string& s);

    // Throws for the first key that was never read.
    void pruefeRest() const;

    // A whole number in [min, max]: an integer, or a number with no fraction.
    static std::int64_t ganzAus(const Json& w, const std::string& wo, std::int64_t min,
                                std::int64_t max, const std::string& art);

  private:
    [[noreturn]] void fehler(const std::string& wo, const std::string& was) const {
        simJsonFehler(art_, wo, was);
    }

    const Json& j_;
    const std::string wo_;
    const std::string art_;
    std::set<std::string> gelesen_;
};

}  // namespace hoerspur
