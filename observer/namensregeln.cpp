#include "observer/namensregeln.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdint>
#include <vector>

#include "observer/unicode_text.h"

namespace hoerspur {

namespace {

constexpr std::size_t MIN_ZEICHEN = 3;
constexpr std::size_t MAX_ZEICHEN = 48;
constexpr std::size_t MAX_WOERTER = 4;

bool enthaelt(std::string_view text, std::string_view teil) {
    return text.find(teil) != std::string_view::npos;
}

template <std::size_t N>
bool enthaeltEines(std::string_view text, const std::array<std::string_view, N>& liste) {
    for (const std::string_view teil : liste) {
        if (enthaelt(text, teil)) return true;
    }
    return false;
}

bool istVerbinder(UChar32 c) {
    return c == '&' || c == '+' || c == '-' || c == '/' || c == 0x00B7;
}

// A word passes when it is made of connectors only, or when its first character
// is an upper-case letter or a letter outside ASCII.
bool wortPasst(std::string_view wort) {
    const auto n = static_cast<std::int32_t>(wort.size());
    bool nurVerbinder = true;
    std::int32_t i = 0;
    while (i < n) {
        UChar32 c;
        U8_NEXT(wort.data(), i, n, c);
        if (c < 0 || !istVerbinder(c)) {
            nurVerbinder = false;
            break;
        }
    }
    if (nurVerbinder) return true;
    i = 0;
    UChar32 erstes;
    U8_NEXT(wort.data(), i, n, erstes);
    if (erstes < 0) return false;
    if (u_hasBinaryProperty(erstes, UCHAR_UPPERCASE)) return true;
    return erstes > 0x7F && u_hasBinaryProperty(erstes, UCHAR_ALPHABETIC);
}

bool wortePassen(std::string_view text) {
    std::size_t woerter = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ') ++i;
        if (i == text.size()) break;
        const std::size_t ende = std::min(text.find(' ', i), text.size());
        if (++woerter > MAX_WOERTER) return false;
        if (!wortPasst(text.substr(i, ende - i))) return false;
        i = ende;
    }
    return woerter >= 1;
}

}  // namespace

std::string ohneKlammerGruppen(std::string_view text) {
    // The string is kept as `links` followed by the pieces of `rechts` (stored
    // right to left). What follows the last ")" holds no parenthesis, so every
    // removal happens in `links` and every pass costs only what it removes.
    std::string_view links = text;
    std::vector<std::string_view> rechts;
    const auto istRand = [](char z) { return z == ' ' || z == '\t'; };
    std::size_t rechtsLeer = 0;  // pieces emptied at the right end stay empty
    bool veraendert = false;
    while (true) {
        const std::size_t auf = links.rfind('(');
        if (auf == std::string_view::npos) break;
        const std::size_t zu = links.rfind(')');
        if (zu == std::string_view::npos || zu < auf) break;
        veraendert = true;
        rechts.push_back(links.substr(zu + 1));
        links = links.substr(0, auf);
        // Trim spaces and tabs at both ends of the whole string.
        while (!links.empty() && istRand(links.front())) links.remove_prefix(1);
        for (auto it = rechts.rbegin(); links.empty() && it != rechts.rend(); ++it) {
            while (!it->empty() && istRand(it->front())) it->remove_prefix(1);
            if (!it->empty()) break;
        }
        for (; rechtsLeer < rechts.size(); ++rechtsLeer) {
            std::string_view& stueck = rechts[rechtsLeer];
            while (!stueck.empty() && istRand(stueck.back())) stueck.remove_suffix(1);
            if (!stueck.empty()) break;
        }
        if (rechtsLeer == rechts.size()) {
            while (!links.empty() && istRand(links.back())) links.remove_suffix(1);
        }
    }
    if (!veraendert) return std::string(text);
    std::string ergebnis(links);
    for (auto it = rechts.rbegin(); it != rechts.rend(); ++it) ergebnis.append(*it);
    return ergebnis;
}

bool istMeetingBot(std::string_view text) {
    return enthaeltEines(kleinschreibung(text), BOT_MARKER);
}

bool siehtWieNameAus(std::string_view text) {
    const std::string t = ohneKlammerGruppen(ohneRandLeerraum(text));
    const std::size_t zeichen = graphemAnzahl(t, MAX_ZEICHEN + 1);
    if (zeichen < MIN_ZEICHEN || zeichen > MAX_ZEICHEN) return false;
    if (hatDezimalziffer(t)) return false;
    const std::string klein = kleinschreibung(t);
    if (enthaeltEines(klein, BOT_MARKER)) return false;
    if (enthaeltEines(klein, UNWORTE)) return false;
    return wortePassen(t);
}

std::optional<Kachel> kachelName(std::string_view rolle, const Felder& felder) {
    if (rolle != "AXTabGroup") return std::nullopt;
    const auto d = felder.find("AXDescription");
    if (d == felder.end() || d->second.empty()) return std::nullopt;
    const auto rd = felder.find("AXRoleDescription");
    const std::string rollenText = rd == felder.end() ? std::string() : kleinschreibung(rd->second);
    const std::string beschreibung = kleinschreibung(d->second);
    const bool istKachel =
        enthaelt(rollenText, "video") || enthaelt(rollenText, "render") ||
        enthaelt(beschreibung, "video on") || enthaelt(beschreibung, "video off") ||
        enthaelt(beschreibung, "stummschaltung") || enthaelt(beschreibung, "muted");
    if (!istKachel) return std::nullopt;
    const bool spricht =
        enthaelt(beschreibung, "active speaker") || enthaelt(beschreibung, "aktiver sprecher");
    const std::string_view ganz = d->second;
    const std::string name(ohneRandLeerraum(ganz.substr(0, ganz.find(','))));
    if (!siehtWieNameAus(name)) return std::nullopt;
    return Kachel{name, spricht};
}

}  // namespace hoerspur
