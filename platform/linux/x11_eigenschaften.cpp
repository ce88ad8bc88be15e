#include "platform/linux/x11_eigenschaften.h"

#include <unicode/unistr.h>

#include <algorithm>
#include <cstring>

namespace hoerspur {

namespace {

// Layers, numbered like the window levels of the desktop the recorder was first
// written for, so probe lines read alike everywhere.
constexpr std::int64_t EBENE_UNTEN = -1;
constexpr std::int64_t EBENE_NORMAL = 0;
constexpr std::int64_t EBENE_SCHWEBEND = 3;  // palettes, keep-above windows
constexpr std::int64_t EBENE_MODAL = 8;
constexpr std::int64_t EBENE_DOCK = 20;
constexpr std::int64_t EBENE_MITTEILUNG = 25;
constexpr std::int64_t EBENE_MENUE = 101;
constexpr std::int64_t EBENE_HILFE = 200;
constexpr std::int64_t EBENE_ZIEHEN = 500;

std::string_view bisNul(std::string_view bytes) {
    return bytes.substr(0, std::min(bytes.find('\0'), bytes.size()));
}

// Bytes in `zeichensatz` as UTF-8; what does not convert becomes U+FFFD.
std::string nachUtf8(std::string_view bytes, const char* zeichensatz) {
    const auto laenge = static_cast<std::int32_t>(bytes.size());
    icu::UnicodeString text =
        std::strcmp(zeichensatz, "UTF-8") == 0
            ? icu::UnicodeString::fromUTF8(icu::StringPiece(bytes.data(), laenge))
            : icu::UnicodeString(bytes.data(), laenge, zeichensatz);
    if (text.isBogus()) {
        // No converter for it: the Latin-1 reading keeps every byte visible.
        text = icu::UnicodeString(bytes.data(), laenge, "ISO-8859-1");
    }
    std::string aus;
    text.toUTF8String(aus);
    return aus;
}

const char* zeichensatzFuer(std::uint32_t typ, const X11TextTypen& typen, bool nurUtf8) {
    if (typ == 0) return nullptr;
    if (typ == typen.utf8String) return "UTF-8";
    if (nurUtf8) return nullptr;
    if (typ == typen.string) return "ISO-8859-1";
    if (typ == typen.compoundText) return "COMPOUND_TEXT";
    return nullptr;
}

}  // namespace

std::optional<std::string> x11Text(const X11Eigenschaft& e, const X11TextTypen& typen,
                                   bool nurUtf8) {
    const char* zeichensatz = zeichensatzFuer(e.typ, typen, nurUtf8);
    if (zeichensatz == nullptr || e.format != 8) return std::nullopt;
    return nachUtf8(bisNul(e.bytes), zeichensatz);
}

std::optional<X11WmKlasse> x11WmKlasse(const X11Eigenschaft& e, const X11TextTypen& typen) {
    if (e.format != 8 || e.typ == 0 || (e.typ != typen.string && e.typ != typen.utf8String)) {
        return std::nullopt;
    }
    const char* zeichensatz = e.typ == typen.utf8String ? "UTF-8" : "ISO-8859-1";
    const std::string_view instanz = bisNul(e.bytes);
    const std::string_view rest =
        instanz.size() < e.bytes.size() ? e.bytes.substr(instanz.size() + 1) : std::string_view();
    X11WmKlasse k{nachUtf8(instanz, zeichensatz), nachUtf8(bisNul(rest), zeichensatz)};
    if (k.instanz.empty() && k.klasse.empty()) return std::nullopt;
    return k;
}

std::vector<std::uint32_t> x11Werte32(const X11Eigenschaft& e, std::uint32_t typ) {
    std::vector<std::uint32_t> werte;
    if (e.typ == 0 || e.typ != typ || e.format != 32) return werte;
    werte.resize(e.bytes.size() / 4);
    if (!werte.empty()) std::memcpy(werte.data(), e.bytes.data(), werte.size() * 4);
    return werte;
}

std::int64_t x11Ebene(X11FensterTyp typ, const X11Zustand& zustand) {
    std::int64_t ebene = EBENE_NORMAL;
    switch (typ) {
        case X11FensterTyp::normal:
        case X11FensterTyp::dialog:
        case X11FensterTyp::splash:
        case X11FensterTyp::desktop:
            ebene = EBENE_NORMAL;
            break;
        case X11FensterTyp::utility:
        case X11FensterTyp::toolbar:
            ebene = EBENE_SCHWEBEND;
            break;
        case X11FensterTyp::dock:
            ebene = EBENE_DOCK;
            break;
        case X11FensterTyp::notification:
            ebene = EBENE_MITTEILUNG;
            break;
        case X11FensterTyp::menu:
            ebene = EBENE_MENUE;
            break;
        case X11FensterTyp::tooltip:
            ebene = EBENE_HILFE;
            break;
        case X11FensterTyp::dnd:
            ebene = EBENE_ZIEHEN;
            break;
    }
    if (zustand.modal) ebene = std::max(ebene, EBENE_MODAL);
    if (zustand.oben) ebene = std::max(ebene, EBENE_SCHWEBEND);
    if (zustand.unten && !zustand.oben && ebene == EBENE_NORMAL) ebene = EBENE_UNTEN;
    return ebene;
}

}  // namespace hoerspur
