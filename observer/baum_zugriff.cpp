#include "observer/baum_zugriff.h"

#include <charconv>
#include <cmath>

#include "observer/unicode_text.h"

namespace hoerspur {

std::string zahlText(double zahl) {
    if (std::isnan(zahl)) return "nan";
    if (std::isinf(zahl)) return zahl > 0 ? "inf" : "-inf";
    char puffer[32];
    const auto [ende, fehler] = std::to_chars(puffer, puffer + sizeof puffer, zahl);
    return fehler == std::errc() ? std::string(puffer, ende) : std::string();
}

std::optional<std::string> text(Barrierefreiheit& bf, const BfElement& element,
                                std::string_view name) {
    const BfWert wert = bf.lies(element, name);
    if (const auto* s = std::get_if<std::string>(&wert)) {
        return std::string(ohneRandLeerraum(gueltigesUtf8(*s)));
    }
    if (const auto* z = std::get_if<double>(&wert)) return zahlText(*z);
    if (const auto* b = std::get_if<bool>(&wert)) return std::string(*b ? "1" : "0");
    return std::nullopt;
}

std::vector<BfElement> kinder(Barrierefreiheit& bf, const BfElement& element) {
    BfWert wert = bf.lies(element, "AXChildren");
    std::vector<BfElement> ergebnis;
    if (auto* liste = std::get_if<std::vector<BfElement>>(&wert)) {
        for (BfElement& e : *liste) {
            if (e) ergebnis.push_back(std::move(e));
        }
    }
    return ergebnis;
}

std::vector<BfElement> elemente(Barrierefreiheit& bf, const BfElement& element,
                                std::string_view name) {
    BfWert wert = bf.lies(element, name);
    if (auto* liste = std::get_if<std::vector<BfElement>>(&wert)) {
        std::vector<BfElement> ergebnis;
        for (BfElement& e : *liste) {
            if (e) ergebnis.push_back(std::move(e));
        }
        return ergebnis;
    }
    if (auto* einzeln = std::get_if<BfElement>(&wert)) {
        if (*einzeln) return {std::move(*einzeln)};
    }
    return {};
}

std::vector<BfElement> alleWurzeln(Barrierefreiheit& bf, const BfElement& anwendung) {
    std::vector<BfElement> wurzeln;
    for (const char* name : {"AXChildren", "AXWindows", "AXFocusedWindow", "AXMainWindow"}) {
        for (BfElement& e : elemente(bf, anwendung, name)) {
            bool schonDa = false;
            for (const BfElement& w : wurzeln) {
                if (bf.gleich(w, e)) {
                    schonDa = true;
                    break;
                }
            }
            if (!schonDa) wurzeln.push_back(std::move(e));
        }
    }
    return wurzeln;
}

void baumAnfordern(Barrierefreiheit& bf, const BfElement& anwendung) {
    bf.setze(anwendung, "AXManualAccessibility", true);
    bf.setze(anwendung, "AXEnhancedUserInterface", true);
}

}  // namespace hoerspur
