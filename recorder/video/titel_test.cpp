#include "recorder/video/titel.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace hoerspur {
namespace {

TEST(Titel, NormalFormFoldsCaseDropsDiacriticsAndUnifiesDashes) {
    const std::pair<std::string, std::string> faelle[] = {
        {"Konferenz \u2013 Zoom", "konferenz - zoom"},
        {"  BESPRECHUNG mit J\u00fcrgen\t\n", "besprechung mit jurgen"},
        {"Aktivit\u00e4t | Microsoft Teams", "aktivitat | microsoft teams"},
        {"Anna M\u00fcller\u2019s Screen", "anna muller's screen"},
        {"Cr\u00e8me Br\u00fbl\u00e9e \u2014 Meeting", "creme brulee - meeting"},
        {"A\u0308rger", "arger"},  // decomposed umlaut
        {"Stra\u00dfe", "strasse"},
        {"\u00c9QUIPE\u00a0", "equipe"},  // no-break space is white space too
        {"", ""},
        {"Caf\xE9", "caf\uFFFD"},  // a byte that is not UTF-8 stays visible as U+FFFD
    };
    for (const auto& [titel, erwartet] : faelle) EXPECT_EQ(normalisiereTitel(titel), erwartet);

    EXPECT_EQ(titelFuerQuelle("  Zoom Meeting \n"), "Zoom Meeting");
    EXPECT_EQ(titelFuerQuelle("Aktivit\u00e4t \u2013 Teams"), "Aktivit\u00e4t \u2013 Teams");
    EXPECT_EQ(titelFuerQuelle(" \n\t "), "");
}

TEST(Titel, MeetingCodeIsThreeFourThreeLettersNotContinuingAWord) {
    for (const char* mit :
         {"abc-defg-hij", "meet - abc-defg-hij", "meet.google.com/abc-defg-hij", "(abc-defg-hij)",
          "abc-defg-hij9", "x abc-defg-hij - chrome", "abc-defg-hij-", "\u00e9 abc-defg-hij"}) {
        EXPECT_TRUE(hatMeetCode(mit)) << mit;
    }
    for (const char* ohne : {"abc-defg-hij-klm", "xabc-defg-hij", "1abc-defg-hij", "-abc-defg-hij",
                             "\u00e9abc-defg-hij", "ab-defg-hij", "abc-defg-hi", "abc--defg-hij",
                             "abc-def1-hij", "abc-defg", "", "meet"}) {
        EXPECT_FALSE(hatMeetCode(ohne)) << ohne;
    }
    // A letter with an enclosing mark is one character, and not an ASCII letter.
    EXPECT_FALSE(hatMeetCode("abc-defg-hi\u0078\u20dd"));
}

}  // namespace
}  // namespace hoerspur
