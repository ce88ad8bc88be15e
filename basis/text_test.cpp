#include "basis/text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

namespace hoerspur {
namespace {

std::string alsJsonString(const std::string& inhalt) {
    return nlohmann::json::parse("\"" + inhalt + "\"").get<std::string>();
}

TEST(JsonEscape, QuoteBackslashAndLineBreaks) {
    EXPECT_EQ(jsonEscape(""), "");
    EXPECT_EQ(jsonEscape("a\"b\\c\td\ne\rf"), "a\\\"b\\\\c d e f");
    EXPECT_EQ(alsJsonString(jsonEscape("Ger\xC3\xA4t \xE2\x80\x94 \"x\"")),
              "Ger\xC3\xA4t \xE2\x80\x94 \"x\"");  // umlaut and dash copied as UTF-8
}

TEST(JsonEscape, OtherControlCharactersAreEscapedSoTheLineStillParses) {
    std::string alle;
    for (int c = 1; c < 0x20; ++c) alle.push_back(static_cast<char>(c));
    alle.push_back('\0');
    const std::string escaped = jsonEscape(alle);
    EXPECT_EQ(escaped.find_first_of(std::string("\x01\x1f\x0b\x00", 4)), std::string::npos);
    EXPECT_EQ(jsonEscape("\x01"), "\\u0001");
    EXPECT_EQ(jsonEscape("\x1f"), "\\u001f");
    const std::string zurueck = alsJsonString(escaped);
    ASSERT_EQ(zurueck.size(), alle.size());
    EXPECT_EQ(zurueck[0], '\x01');
    EXPECT_EQ(zurueck[8], ' ');  // tab
}

TEST(JsonEscape, InvalidUtf8BecomesReplacementCharacter) {
    EXPECT_EQ(jsonEscape("a\xFF"
                         "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(jsonEscape("\xC3"), "\xEF\xBF\xBD");  // truncated sequence
    EXPECT_EQ(jsonEscape("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // surrogate
    EXPECT_EQ(alsJsonString(jsonEscape("\xC0\xAF\xF5\x80")).size(), 12u);
}

TEST(JsonEscape, OverlongSequencesAreNotPassedOn) {
    // "/" and NUL spelt with more bytes than they need: each byte becomes U+FFFD.
    const std::string ersatz = "\xEF\xBF\xBD";
    EXPECT_EQ(jsonEscape("\xE0\x80\xAF"), ersatz + ersatz + ersatz);
    EXPECT_EQ(jsonEscape("\xF0\x80\x80\xAF"), ersatz + ersatz + ersatz + ersatz);
    EXPECT_EQ(jsonEscape("\xE0\xA0\x80\xF0\x90\x80\x80"),
              "\xE0\xA0\x80\xF0\x90\x80\x80");  // the shortest forms pass
}

TEST(FormatFest, NumbersUseAPoint) {
    EXPECT_EQ(formatFest(1.005, 1), "1.0");
    EXPECT_EQ(formatFest(-0.25, 2), "-0.25");
    EXPECT_EQ(formatFest(40.4, 0), "40");
}

// A library that switches the process to a German locale must not change the lines.
TEST(FormatFest, NumbersUseAPointUnderALocaleWithADecimalComma) {
    char vorlage[] = "/tmp/hs-locale-XXXXXX";
    ASSERT_NE(mkdtemp(vorlage), nullptr);
    const std::string ordner = vorlage;
    ASSERT_EQ(std::system(("localedef -i de_DE -f UTF-8 " + ordner + "/de_DE.UTF-8").c_str()), 0)
        << "the locales package provides localedef and its sources";
    setenv("LOCPATH", ordner.c_str(), 1);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.2f", 1.5);
    const std::string mitKomma = probe;
    const std::string a = formatFest(1.5, 2);
    const std::string b = formatFest(-1234.5, 1);
    std::setlocale(LC_ALL, "C");
    unsetenv("LOCPATH");
    std::filesystem::remove_all(ordner);

    ASSERT_EQ(mitKomma, "1,50");  // the locale is really in force
    EXPECT_EQ(a, "1.50");
    EXPECT_EQ(b, "-1234.5");
}

}  // namespace
}  // namespace hoerspur
