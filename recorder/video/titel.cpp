#include "recorder/video/titel.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <memory>
#include <vector>

namespace hoerspur {

namespace {

icu::UnicodeString ausUtf8(std::string_view text) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
}

std::string nachUtf8(const icu::UnicodeString& text) {
    std::string aus;
    text.toUTF8String(aus);
    return aus;
}

bool istWeissraum(UChar32 c) {
    return u_hasBinaryProperty(c, UCHAR_WHITE_SPACE);
}

icu::UnicodeString getrimmt(const icu::UnicodeString& text) {
    std::int32_t anfang = 0;
    std::int32_t ende = text.length();
    while (anfang < ende && istWeissraum(text.char32At(anfang))) {
        anfang = text.moveIndex32(anfang, 1);
    }
    while (ende > anfang) {
        const std::int32_t vor = text.moveIndex32(ende, -1);
        if (!istWeissraum(text.char32At(vor))) break;
        ende = vor;
    }
    return icu::UnicodeString(text, anfang, ende - anfang);
}

// One user-perceived character of a title: its first code point, and whether it
// is that code point alone.
struct Zeichen {
    UChar32 erster;
    bool allein;
};

std::vector<Zeichen> zeichenVon(const icu::UnicodeString& text) {
    std::vector<Zeichen> zeichen;
    UErrorCode status = U_ZERO_ERROR;
    thread_local std::unique_ptr<icu::BreakIterator> grenzen(
        icu::BreakIterator::createCharacterInstance(icu::Locale("de_DE"), status));
    if (!grenzen) {
        // Without break data every code point counts as a character of its own.
        for (std::int32_t i = 0; i < text.length(); i = text.moveIndex32(i, 1)) {
            zeichen.push_back({text.char32At(i), true});
        }
        return zeichen;
    }
    grenzen->setText(text);
    std::int32_t anfang = grenzen->first();
    for (std::int32_t ende = grenzen->next(); ende != icu::BreakIterator::DONE;
         anfang = ende, ende = grenzen->next()) {
        zeichen.push_back({text.char32At(anfang), text.moveIndex32(anfang, 1) == ende});
    }
    return zeichen;
}

bool istKleinbuchstabe(const Zeichen& z) {
    return z.allein && z.erster >= 'a' && z.erster <= 'z';
}

bool istBindestrich(const Zeichen& z) {
    return z.allein && z.erster == '-';
}

}  // namespace

std::string normalisiereTitel(std::string_view titel) {
    icu::UnicodeString text = ausUtf8(titel);
    text.foldCase(U_FOLD_CASE_DEFAULT);

    // Diacritics are the non-spacing marks of the canonical decomposition.
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_SUCCESS(status)) text = nfd->normalize(text, status);
    icu::UnicodeString ohneZeichen;
    for (std::int32_t i = 0; i < text.length(); i = text.moveIndex32(i, 1)) {
        UChar32 c = text.char32At(i);
        if (u_charType(c) == U_NON_SPACING_MARK) continue;
        if (c == 0x2013 || c == 0x2014) c = '-';
        if (c == 0x2019) c = '\'';
        ohneZeichen.append(c);
    }
    if (U_SUCCESS(status)) ohneZeichen = nfc->normalize(ohneZeichen, status);
    return nachUtf8(getrimmt(ohneZeichen));
}

bool hatMeetCode(std::string_view t) {
    const std::vector<Zeichen> z = zeichenVon(ausUtf8(t));
    for (std::size_t start = 0; start < z.size(); ++start) {
        if (start > 0) {
            const Zeichen& vor = z[start - 1];
            if (u_isUAlphabetic(vor.erster) || u_isdigit(vor.erster) || istBindestrich(vor)) {
                continue;
            }
        }
        std::vector<std::size_t> laengen;
        std::size_t lauf = 0;
        for (std::size_t i = start;; ++i) {
            if (i < z.size() && istKleinbuchstabe(z[i])) {
                ++lauf;
                continue;
            }
            if (i < z.size() && istBindestrich(z[i])) {
                if (lauf == 0) break;
                laengen.push_back(lauf);
                if (laengen.size() > 3) break;  // four runs are no code
                lauf = 0;
                continue;
            }
            if (lauf > 0) laengen.push_back(lauf);
            break;
        }
        if (laengen == std::vector<std::size_t>{3, 4, 3}) return true;
    }
    return false;
}

std::string titelFuerQuelle(std::string_view titel) {
    return nachUtf8(getrimmt(ausUtf8(titel)));
}

}  // namespace hoerspur
