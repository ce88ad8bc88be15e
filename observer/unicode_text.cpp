#include "observer/unicode_text.h"

#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>
#include <memory>

namespace hoerspur {

namespace {

// One code point at byte offset `i`; moves `i` past it. Invalid sequences give a
// negative value (and advance by at least one byte).
UChar32 naechster(std::string_view text, std::int32_t& i) {
    UChar32 c;
    U8_NEXT(text.data(), i, static_cast<std::int32_t>(text.size()), c);
    return c;
}

// Byte counts beyond this are refused by ICU's 32-bit offsets; nobody sends such
// texts through an accessibility attribute.
constexpr std::size_t MAX_BYTES = 1u << 30;

std::string_view begrenzt(std::string_view text) {
    return text.size() > MAX_BYTES ? text.substr(0, MAX_BYTES) : text;
}

icu::UnicodeString alsUnicode(std::string_view text) {
    text = begrenzt(text);
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
}

std::string alsUtf8(const icu::UnicodeString& text) {
    std::string ergebnis;
    text.toUTF8String(ergebnis);
    return ergebnis;
}

template <typename Test>
std::string_view trimme(std::string_view text, Test istRand) {
    text = begrenzt(text);
    std::int32_t anfang = 0;
    const auto n = static_cast<std::int32_t>(text.size());
    while (anfang < n) {
        std::int32_t i = anfang;
        const UChar32 c = naechster(text, i);
        if (c < 0 || !istRand(c)) break;
        anfang = i;
    }
    std::int32_t ende = n;
    while (ende > anfang) {
        std::int32_t i = ende;
        UChar32 c;
        U8_PREV(text.data(), 0, i, c);
        if (c < 0 || !istRand(c)) break;
        ende = i;
    }
    return text.substr(static_cast<std::size_t>(anfang), static_cast<std::size_t>(ende - anfang));
}

}  // namespace

std::string gueltigesUtf8(std::string_view text) {
    text = begrenzt(text);
    std::string ergebnis;
    ergebnis.reserve(text.size());
    std::int32_t i = 0;
    const auto n = static_cast<std::int32_t>(text.size());
    while (i < n) {
        const std::int32_t start = i;
        const UChar32 c = naechster(text, i);
        if (c < 0) {
            ergebnis += "\xEF\xBF\xBD";
        } else {
            ergebnis.append(
                text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
        }
    }
    return ergebnis;
}

std::string_view ohneRandLeerraum(std::string_view text) {
    return trimme(text, [](UChar32 c) { return u_isUWhiteSpace(c) != 0; });
}

std::string_view ohneRandLeerzeichen(std::string_view text) {
    return trimme(text, [](UChar32 c) { return c == ' ' || c == '\t'; });
}

std::string kleinschreibung(std::string_view text) {
    bool nurAscii = true;
    for (const char z : text) {
        if (static_cast<unsigned char>(z) >= 0x80) {
            nurAscii = false;
            break;
        }
    }
    if (nurAscii) {
        std::string ergebnis(text);
        for (char& z : ergebnis) {
            if (z >= 'A' && z <= 'Z') z = static_cast<char>(z - 'A' + 'a');
        }
        return ergebnis;
    }
    icu::UnicodeString u = alsUnicode(text);
    u.toLower(icu::Locale::getRoot());
    return alsUtf8(u);
}

std::size_t graphemAnzahl(std::string_view text, std::size_t hoechstens) {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> b(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        return U_SUCCESS(status) ? std::move(b) : nullptr;
    }();
    const icu::UnicodeString u = alsUnicode(text);
    if (!iterator)
        return std::min<std::size_t>(static_cast<std::size_t>(u.countChar32()), hoechstens);
    iterator->setText(u);
    std::size_t anzahl = 0;
    iterator->first();
    while (anzahl < hoechstens && iterator->next() != icu::BreakIterator::DONE) ++anzahl;
    // The iterator keeps a reference to its text; it must not outlive `u`.
    static thread_local const icu::UnicodeString leer;
    iterator->setText(leer);
    return anzahl;
}

bool hatDezimalziffer(std::string_view text) {
    text = begrenzt(text);
    std::int32_t i = 0;
    const auto n = static_cast<std::int32_t>(text.size());
    while (i < n) {
        const UChar32 c = naechster(text, i);
        if (c >= 0 && u_charType(c) == U_DECIMAL_DIGIT_NUMBER) return true;
    }
    return false;
}

std::string nfc(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* n = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) return gueltigesUtf8(text);
    const icu::UnicodeString u = n->normalize(alsUnicode(text), status);
    return U_SUCCESS(status) ? alsUtf8(u) : gueltigesUtf8(text);
}

}  // namespace hoerspur
