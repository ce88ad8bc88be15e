// The flat record of one desktop window that the meeting choice, the window probe
// and the video supervision work on, the fixed tables of meeting clients,
// browsers and the system's own applications, and the lookups on them.
//
// Value types and pure functions; any thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bildschirm_aufnahme.h"

namespace hoerspur {

struct FensterInfo {
    std::uint32_t id = 0;  // the window server's identifier
    std::string titel;     // empty when the window has no title
    std::string bundle;    // the owning application's bundle identifier
    std::string app;       // the owning application's name as the system reports it
    double x = 0.0;        // frame origin, screen points
    double y = 0.0;
    double breite = 0.0;  // frame size, points
    double hoehe = 0.0;
    bool sichtbar = false;   // on screen
    std::int64_t ebene = 0;  // stacking layer as the window server reports it

    FensterInfo() = default;
    FensterInfo(std::uint32_t id, std::string titel, std::string bundle, std::string app, double x,
                double y, double breite, double hoehe, bool sichtbar, std::int64_t ebene);

    friend bool operator==(const FensterInfo&, const FensterInfo&) = default;
};

struct MeetingBundle {
    std::string_view id;
    std::string_view name;
};

// Desktop meeting clients: bundle identifier and the name they go by. The names
// "Zoom", "Teams", "Webex", "FaceTime" and "Slack" are all meetingApp() returns.
inline constexpr std::array<MeetingBundle, 9> MEETING_BUNDLES{{
    {"us.zoom.xos", "Zoom"},
    {"us.zoom.videomeetings", "Zoom"},
    {"com.microsoft.teams2", "Teams"},
    {"com.microsoft.teams", "Teams"},
    {"Cisco-Systems.Spark", "Webex"},
    {"com.cisco.webexmeetingsapp", "Webex"},
    {"com.webex.meetingmanager", "Webex"},
    {"com.apple.FaceTime", "FaceTime"},
    {"com.tinyspeck.slackmacgap", "Slack"},
}};

inline constexpr std::array<std::string_view, 10> BROWSER_BUNDLES{
    "com.google.Chrome",     "com.apple.Safari",        "company.thebrowser.Browser",
    "org.mozilla.firefox",   "com.microsoft.edgemac",   "com.brave.Browser",
    "com.vivaldi.Vivaldi",   "com.operasoftware.Opera", "com.google.Chrome.canary",
    "company.thebrowser.dia"};

// The host application and the recorder: their windows are never the meeting.
inline constexpr std::array<std::string_view, 2> EIGENE_BUNDLES{"llc.tessaro.korallo",
                                                                "llc.tessaro.korallo.hoerspur"};

// Words that mark a meeting in a normalised title.
inline constexpr std::array<std::string_view, 4> MEETING_WORTE{"meeting", "besprechung", "webinar",
                                                               "konferenz"};

// Browser app windows (installed web apps) carry the browser's identifier, a
// dot and the app's own id after these prefixes.
inline constexpr std::string_view CHROME_APP_PRAEFIX = "com.google.Chrome.app.";
inline constexpr std::string_view EDGE_APP_PRAEFIX = "com.microsoft.edgemac.app.";

// The platform's windows as records, in the platform's order (front-most first).
// Windows without an owning application are left out; nothing else is.
std::vector<FensterInfo> metadaten(const TeilbarerInhalt& inhalt);

// The meeting client's name for an exact bundle identifier, or nothing.
std::optional<std::string_view> meetingApp(std::string_view bundle);

// A web browser's window: one of BROWSER_BUNDLES, or a Chrome or Edge app window.
bool istBrowser(std::string_view bundle);

// The name a window's application is shown under: the meeting client's name,
// else `app`, else `bundle`.
std::string anzeigeName(std::string_view bundle, std::string_view app);

}  // namespace hoerspur
