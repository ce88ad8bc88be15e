// Window titles as the meeting choice compares them: one normalised form for
// every rule, the meeting-code test, and the title as it is shown to people.
//
// Pure functions on UTF-8 text (invalid bytes count as U+FFFD); any thread.
#pragma once

#include <string>
#include <string_view>

namespace hoerspur {

// Case folded and without diacritics (German rules: "Ä" becomes "a"), EN and EM
// DASH as "-", RIGHT SINGLE QUOTATION MARK as "'", white space and line breaks
// trimmed at both ends.
std::string normalisiereTitel(std::string_view titel);

// Whether a normalised title carries a meeting code of the shape xxx-xxxx-xxx
// (ASCII lower-case letters) that does not continue a word, a number or another
// hyphenated run.
bool hatMeetCode(std::string_view t);

// The title as shown in a choice's `quelle`: white space and line breaks trimmed
// at both ends, nothing else changed.
std::string titelFuerQuelle(std::string_view titel);

}  // namespace hoerspur
