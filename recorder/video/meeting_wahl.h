// The meeting choice: which of the desktop's windows show a running meeting, in
// which order, and one German sentence saying why there is none when there is
// none. It works on titles, bundle identifiers and sizes only, never on pixels.
//
// Pure functions; any thread. One call is a linear pass over the windows with
// substring tests and one stable sort.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "recorder/video/fenster_info.h"
#include "recorder/video/wahl.h"

namespace hoerspur {

// Word lists, lower case and without diacritics: they are matched against
// normalised titles.

// Zoom windows that are never the meeting: toolbars, panels, pop-ups, settings.
inline constexpr std::array<std::string_view, 20> ZOOM_NIE{
    "workplace",  "zm_hud",     "toast",       "toolbar",       "statusbar",
    "annotation", "annotaion",  "reactions",   "number window", "padding window",
    "gift panel", "teilnehmer", "participant", "chat",          "einstellungen",
    "settings",   "verbinden",  "connecting",  "umfrage",       "poll"};

// Teams views that are never the meeting.
inline constexpr std::array<std::string_view, 16> TEAMS_NIE{
    "chat |",     "chat|",     "aktivitat |",      "activity |",  "kalender |", "calendar |",
    "teams |",    "dateien |", "files |",          "apps |",      "anrufe |",   "calls |",
    "onedrive |", "planner |", "benachrichtigung", "notification"};

// Browser windows that show a screen-sharing dialog rather than the meeting.
inline constexpr std::array<std::string_view, 10> TEILEN_DIALOGE{
    "auswahlen",         "choose what to share", "teilen mit",  "zum teilen", "freigeben",
    "share your screen", "teilt ihren",          "teilt einen", "is sharing", "bildschirm teilen"};

// Web meeting services named in tab titles.
inline constexpr std::array<std::string_view, 10> WEB_MEETING_DIENSTE{
    "webex",     "whereby",    "jitsi",     "around.co", "gather.town",
    "riverside", "streamyard", "livestorm", "demio",     "bigmarker"};

inline constexpr std::string_view GOOGLE_MEET_ADRESSE = "meet.google.com";
inline constexpr std::array<std::string_view, 2> TEAMS_WEB_ADRESSEN{"teams.microsoft.com",
                                                                    "teams.live.com"};

struct MeetingKandidaten {
    std::vector<Wahl> liste;  // best first; may be empty
    std::string ohne;         // why there is no meeting window; always filled
};

MeetingKandidaten meetingKandidaten(const std::vector<FensterInfo>& fenster);

// The best candidate, or the choice "nichts" whose `grund` is the explanation.
Wahl waehleMeetingZiel(const std::vector<FensterInfo>& fenster);

// A normalised Teams title that is a view (chat, calendar, ...) and never a meeting.
bool teamsNie(std::string_view t);

}  // namespace hoerspur
