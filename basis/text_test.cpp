#include "basis/text.h"

#include <gtest/gtest.h>

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

TEST(FormatFest, NumbersUseAPoint) {
    EXPECT_EQ(formatFest(1.005, 1), "1.0");
    EXPECT_EQ(formatFest(-0.25, 2), "-0.25");
    EXPECT_EQ(formatFest(40.4, 0), "40");
}

}  // namespace
}  // namespace hoerspur
