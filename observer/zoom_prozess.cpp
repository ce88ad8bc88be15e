#include "observer/zoom_prozess.h"

#include <array>
#include <limits>

#include "observer/unicode_text.h"

namespace hoerspur {

namespace {

// Fewest bytes of a marker that must remain visible at the end of a cut name for
// the name to count as containing it: shorter remnants match too much by chance.
constexpr std::size_t MIN_SICHTBAR_BYTES = 4;

constexpr std::array<std::string_view, 3> ZOOM_MARKER = {"zoom", "cpthost", "aomhost"};
constexpr std::array<std::string_view, 2> TREIBER_MARKER = {".driver", "core audio"};

bool enthaelt(std::string_view text, std::string_view teil) {
    return text.find(teil) != std::string_view::npos;
}

// Containment on a name that the kernel may have cut: a cut that stopped inside
// the marker leaves its beginning at the end of the name.
bool enthaeltAuchGekuerzt(std::string_view name, std::string_view marker, bool gekuerzt) {
    if (marker.empty()) return false;
    if (enthaelt(name, marker)) return true;
    if (!gekuerzt) return false;
    for (std::size_t k = std::min(marker.size() - 1, name.size()); k >= MIN_SICHTBAR_BYTES; --k) {
        if (name.ends_with(marker.substr(0, k))) return true;
    }
    return false;
}

std::optional<std::int32_t> parseInt32(std::string_view text) {
    bool negativ = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negativ = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    std::int64_t wert = 0;
    for (const char z : text) {
        if (z < '0' || z > '9') return std::nullopt;
        wert = wert * 10 + (z - '0');
        if (wert > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return std::nullopt;
    }
    if (negativ) wert = -wert;
    if (wert < std::numeric_limits<std::int32_t>::min() ||
        wert > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(wert);
}

// A path gives its last non-empty component. A Linux short name is a name
// already and may itself contain "/" (kernel threads such as "kworker/0:1").
std::string nameAus(std::string_view spalte) {
    if (spalte.empty() || spalte.front() != '/') return std::string(spalte);
    std::string_view letzte;
    std::size_t i = 0;
    while (i < spalte.size()) {
        const std::size_t ende = std::min(spalte.find('/', i), spalte.size());
        if (ende > i) letzte = spalte.substr(i, ende - i);
        i = ende + 1;
    }
    return letzte.empty() ? std::string(spalte) : std::string(letzte);
}

bool passt(std::string_view klein, bool gekuerzt, const std::optional<std::string>& ersatzApp) {
    if (ersatzApp) return enthaeltAuchGekuerzt(klein, *ersatzApp, gekuerzt);
    for (const std::string_view m : TREIBER_MARKER) {
        if (enthaelt(klein, m)) return false;
    }
    for (const std::string_view m : ZOOM_MARKER) {
        if (enthaeltAuchGekuerzt(klein, m, gekuerzt)) return true;
    }
    return false;
}

}  // namespace

std::vector<ZoomProzess> parseProzessListe(std::string_view ausgabe, std::int32_t eigenePid,
                                           const std::optional<std::string>& ersatzApp) {
    std::vector<ZoomProzess> prozesse;
    std::size_t start = 0;
    while (start < ausgabe.size()) {
        const std::size_t ende = std::min(ausgabe.find('\n', start), ausgabe.size());
        const std::string_view zeile = ohneRandLeerzeichen(ausgabe.substr(start, ende - start));
        start = ende + 1;
        const std::size_t leer = zeile.find(' ');
        if (leer == std::string_view::npos) continue;
        const auto pid = parseInt32(zeile.substr(0, leer));
        if (!pid || *pid == eigenePid) continue;
        const std::string_view roh = ohneRandLeerzeichen(zeile.substr(leer + 1));
        // A short name of full length may have been cut by the kernel.
        const bool gekuerzt = roh.size() == KURZNAME_BYTES && roh.front() != '/';
        // Each line is decoded on its own: one unreadable name must not hide the
        // others.
        const std::string spalte = gueltigesUtf8(roh);
        if (!passt(kleinschreibung(spalte), gekuerzt, ersatzApp)) continue;
        prozesse.push_back({*pid, nameAus(spalte)});
    }
    return prozesse;
}

bool callLaeuft(const std::vector<ZoomProzess>& prozesse) {
    for (const ZoomProzess& p : prozesse) {
        if (enthaelt(kleinschreibung(p.name), "cpthost")) return true;
    }
    return false;
}

}  // namespace hoerspur
