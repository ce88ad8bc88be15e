#include "basis/text.h"

#include <locale.h>

#include <cstdint>
#include <cstdio>

namespace hoerspur {

namespace {

// Length of a valid UTF-8 sequence starting at p (1..4), or 0 when invalid.
size_t utf8Laenge(const unsigned char* p, size_t rest) {
    const unsigned char b = p[0];
    size_t n;
    std::uint32_t cp;
    if (b < 0x80) return 1;
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        cp = b & 0x07;
    } else {
        return 0;
    }
    if (rest < n) return 0;
    for (size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
    if (cp >= 0xD800 && cp <= 0xDFFF) return 0;  // surrogates are not scalars
    return n;
}

}  // namespace

std::string jsonEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char b = p[i];
        if (b == '\\') {
            out.append("\\\\");
        } else if (b == '"') {
            out.append("\\\"");
        } else if (b == '\t' || b == '\n' || b == '\r') {
            out.push_back(' ');
        } else if (b < 0x20) {
            // Raw control characters make the host's JSON parser reject the whole line.
            char puffer[8];
            std::snprintf(puffer, sizeof puffer, "\\u%04x", static_cast<unsigned>(b));
            out.append(puffer);
        } else if (b < 0x80) {
            out.push_back(static_cast<char>(b));
        } else {
            const size_t n = utf8Laenge(p + i, text.size() - i);
            if (n == 0) {
                out.append("\xEF\xBF\xBD");  // U+FFFD for a byte that is not UTF-8
                ++i;
                continue;
            }
            out.append(text.substr(i, n));
            i += n;
            continue;
        }
        ++i;
    }
    return out;
}

std::string formatFest(double wert, int nachkommastellen) {
    // snprintf follows LC_NUMERIC; the program never changes it from "C", but a
    // library might, and the host parses a point. The C locale is set for this
    // thread only, for the one call.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    const locale_t vorher =
        cLocale != static_cast<locale_t>(0) ? uselocale(cLocale) : static_cast<locale_t>(0);
    char puffer[512];
    std::snprintf(puffer, sizeof puffer, "%.*f", nachkommastellen, wert);
    if (vorher != static_cast<locale_t>(0)) uselocale(vorher);
    return puffer;
}

}  // namespace hoerspur
