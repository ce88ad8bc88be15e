// The meeting choice on desktops as users have them: what is chosen, in which
// order, and what the recorder says when nothing is.
#include "recorder/video/meeting_wahl.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hoerspur {
namespace {

constexpr const char* ZOOM = "us.zoom.xos";
constexpr const char* CHROME = "com.google.Chrome";
constexpr const char* FIREFOX = "org.mozilla.firefox";

FensterInfo fenster(std::uint32_t id, const std::string& bundle, const std::string& app,
                    const std::string& titel, double breite = 1280, double hoehe = 800,
                    bool sichtbar = true) {
    return FensterInfo(id, titel, bundle, app, 0, 0, breite, hoehe, sichtbar, 0);
}

std::vector<std::uint32_t> ids(const std::vector<Wahl>& liste) {
    std::vector<std::uint32_t> i;
    for (const Wahl& w : liste) i.push_back(w.id);
    return i;
}

TEST(MeetingWahl, ZoomMeetingBesideItsHomeWindowToolbarsAndPanels) {
    std::vector<FensterInfo> desktop = {
        fenster(1, ZOOM, "zoom.us", "Zoom Workplace"),
        fenster(2, ZOOM, "zoom.us", "Zoom"),
        fenster(3, ZOOM, "zoom.us", "zoom share toolbar", 600, 60),
        fenster(4, ZOOM, "zoom.us", "Teilnehmer (4)", 400, 800),
        fenster(5, ZOOM, "zoom.us", "floating video", 160, 90),
        fenster(6, ZOOM, "zoom.us", "Bildschirm von Anna", 1024, 768),
        fenster(7, ZOOM, "zoom.us", " Zoom Meeting ", 1280, 800),
    };
    MeetingKandidaten k = meetingKandidaten(desktop);
    // Meeting first, then a participant's shared screen, then the floating video.
    EXPECT_EQ(ids(k.liste), (std::vector<std::uint32_t>{7, 6, 5}));
    EXPECT_EQ(wahlJSON(k.liste[0]),
              "{\"art\":\"fenster\",\"id\":7,\"quelle\":\"Zoom \u00b7 Zoom Meeting\",\"rang\":1,"
              "\"grund\":\"Zoom-Meetingfenster\"}");
    EXPECT_EQ(k.liste[1].grund, "geteilter Bildschirm eines Teilnehmers (Zoom-Fenster)");
    EXPECT_EQ(k.liste[2].rang, 3);
    // The visible share toolbar says the user shares, even while a meeting shows.
    EXPECT_EQ(k.ohne,
              "kein Meetingfenster \u2013 kein Bild (Du teilst in Zoom, kein "
              "Teilnehmerfenster sichtbar)");

    // The meeting window narrower than 320 points and the floating video one
    // point too small: the shared screen is all that is left.
    desktop[6].breite = 300;
    desktop[4].breite = 159;
    EXPECT_EQ(ids(meetingKandidaten(desktop).liste), (std::vector<std::uint32_t>{6}));

    // Sharing ends (toolbar off screen), nobody else shares: Zoom is open without a meeting.
    desktop[2].sichtbar = false;
    desktop[5].sichtbar = false;
    const Wahl nichts = waehleMeetingZiel(desktop);
    EXPECT_EQ(wahlJSON(nichts),
              "{\"art\":\"nichts\",\"id\":0,\"quelle\":\"\",\"rang\":0,\"grund\":\"kein "
              "Meetingfenster \u2013 kein Bild (Zoom offen, aber kein Meeting sichtbar)\"}");
}

TEST(MeetingWahl, ZoomWaitingRoomIsTheLastResortAndShownAsSuch) {
    for (const char* titel : {"", " \n "}) {
        const std::vector<FensterInfo> desktop = {fenster(9, ZOOM, "zoom.us", titel, 700, 500),
                                                  fenster(8, ZOOM, "zoom.us", "", 599, 500)};
        const Wahl w = waehleMeetingZiel(desktop);
        EXPECT_EQ(w.id, 9u);
        EXPECT_EQ(w.rang, 4);
        EXPECT_EQ(w.quelle, "Zoom \u00b7 Warteraum/Vorschau");
        EXPECT_EQ(w.grund, "Zoom-Warteraum/Vorschau");
    }
}

TEST(MeetingWahl, BrowserTabsCountWhenTheyNameAMeetingServiceNativeClientsFirst) {
    const std::vector<FensterInfo> desktop = {
        fenster(20, CHROME, "Google Chrome", "Meet \u2013 abc-defg-hij", 1200, 800),
        fenster(21, FIREFOX, "Firefox", "Besprechung | Microsoft Teams \u2014 Mozilla Firefox",
                1600, 900),
        fenster(22, "com.microsoft.edgemac", "Microsoft Edge", "Nachrichten - Microsoft Edge"),
        fenster(23, CHROME, "Google Chrome", "Meet - abc-defg-hij - Choose what to share"),
        fenster(24, FIREFOX, "Firefox", "Chat | Max Muster | Microsoft Teams"),
        fenster(25, "com.google.Chrome.app.kjgfgldnnfoeklkmfkjfagphfepbbdan", "Google Meet",
                "Google Meet", 1200, 800),
        fenster(26, CHROME, "Google Chrome", "Jitsi Meet \u2013 Teamrunde", 1200, 800, false),
        fenster(27, "us.zoom.videomeetings", "zoom.us", "Zoom-Meeting", 1000, 700),
    };
    const MeetingKandidaten k = meetingKandidaten(desktop);
    // The Zoom client before every tab; among tabs the larger window, equal ones
    // in desktop order. Share dialogs, chats, ordinary pages and hidden tabs never.
    EXPECT_EQ(ids(k.liste), (std::vector<std::uint32_t>{27, 21, 20, 25}));
    EXPECT_EQ(wahlJSON(k.liste[1]),
              "{\"art\":\"fenster\",\"id\":21,\"quelle\":\"Firefox \u00b7 Besprechung | "
              "Microsoft Teams \u2014 Mozilla Firefox\",\"rang\":1,\"grund\":\"Meeting im "
              "Browser\"}");
    EXPECT_EQ(k.ohne,
              "kein Meetingfenster \u2013 kein Bild (Zoom offen, aber kein Meeting "
              "sichtbar)");

    // Each web meeting the tab rules know, alone on the desktop.
    for (const char* titel : {"meet.google.com", "Google Meet", "Meet", "Zoom Webinar - Chromium",
                              "teams.live.com/meet", "Wochenrunde | around.co",
                              "Gather.town - B\u00fcro", "BigMarker Live", "Whereby \u2013 Raum"}) {
        const Wahl w = waehleMeetingZiel({fenster(30, CHROME, "Google Chrome", titel)});
        EXPECT_EQ(w.grund, "Meeting im Browser") << titel;
    }
    for (const char* titel : {"Microsoft Teams", "Kalender | Microsoft Teams", "Zoom Download",
                              "Bildschirm teilen - Meet", "meeting notes - Google Docs"}) {
        EXPECT_EQ(waehleMeetingZiel({fenster(31, CHROME, "Google Chrome", titel)}).art, "nichts")
            << titel;
    }
}

TEST(MeetingWahl, CallsInFaceTimeTeamsWebexAndSlackHuddles) {
    const std::vector<FensterInfo> desktop = {
        fenster(40, "com.apple.FaceTime", "FaceTime", "FaceTime", 320, 240),
        fenster(41, "com.apple.FaceTime", "FaceTime", "FaceTime", 319, 240),
        fenster(42, "com.microsoft.teams2", "Microsoft Teams",
                "Chat | Max Muster | Microsoft Teams"),
        fenster(43, "com.microsoft.teams2", "Microsoft Teams",
                "Besprechung mit Kunde | Microsoft Teams", 1400, 900),
        fenster(44, "Cisco-Systems.Spark", "Webex", "Cisco Webex Meetings"),
        fenster(45, "Cisco-Systems.Spark", "Webex", "Anruf mit Jana", 800, 600),
        fenster(46, "com.tinyspeck.slackmacgap", "Slack", "Slack | Allgemein"),
        fenster(47, "com.tinyspeck.slackmacgap", "Slack", "Huddle in #team", 700, 500),
    };
    const MeetingKandidaten k = meetingKandidaten(desktop);
    EXPECT_EQ(ids(k.liste), (std::vector<std::uint32_t>{43, 45, 47, 40}));
    EXPECT_EQ(k.liste[0].grund, "Teams-Meetingfenster");
    EXPECT_EQ(k.liste[1].grund, "Webex-Meetingfenster");
    EXPECT_EQ(k.liste[2].grund, "Slack-Huddle");
    EXPECT_EQ(k.liste[3].grund, "FaceTime-Anruf");
    EXPECT_EQ(k.liste[3].quelle, "FaceTime \u00b7 FaceTime");

    // FaceTime and Slack do not count as an open meeting client; Teams does.
    EXPECT_EQ(waehleMeetingZiel({desktop[1], desktop[6]}).grund,
              "kein Meetingfenster \u2013 kein Bild (keine Meeting-App offen)");
    EXPECT_EQ(waehleMeetingZiel({desktop[6], desktop[2], desktop[4]}).grund,
              "kein Meetingfenster \u2013 kein Bild (Teams offen, aber kein Meeting sichtbar)");
}

TEST(MeetingWahl, NothingToFilmOnADesktopWithoutMeetings) {
    EXPECT_EQ(wahlJSON(waehleMeetingZiel({})),
              "{\"art\":\"nichts\",\"id\":0,\"quelle\":\"\",\"rang\":0,\"grund\":\"kein "
              "Meetingfenster \u2013 kein Bild (keine Meeting-App offen)\"}");
    // The host's and the recorder's own windows are never candidates, whatever they say.
    const std::vector<FensterInfo> eigene = {
        fenster(50, "llc.tessaro.korallo", "Korallo", "Zoom Meeting Notizen"),
        fenster(51, "llc.tessaro.korallo.hoerspur", "hoerspur", "Besprechung"),
        fenster(52, "org.gnome.Terminal", "Terminal", "meeting-notes.md"),
    };
    const MeetingKandidaten k = meetingKandidaten(eigene);
    EXPECT_TRUE(k.liste.empty());
    EXPECT_EQ(k.ohne, "kein Meetingfenster \u2013 kein Bild (keine Meeting-App offen)");
}

TEST(MeetingWahl, SameTargetMeansSameKindAndWindow) {
    const Wahl a{"fenster", 7, "Zoom \u00b7 Zoom Meeting", 1, "Zoom-Meetingfenster"};
    Wahl umbenannt = a;
    umbenannt.quelle = "Zoom \u00b7 Besprechung";
    umbenannt.rang = 2;
    EXPECT_TRUE(a.gleichesZiel(umbenannt));
    EXPECT_FALSE(a.gleichesZiel(std::nullopt));
    EXPECT_FALSE(a.gleichesZiel(Wahl{"fenster", 8, "", 1, ""}));
    const Wahl nichts{"nichts", 0, "", 0, ""};
    EXPECT_FALSE(nichts.gleichesZiel(Wahl{"fenster", 0, "", 0, ""}));
}

}  // namespace
}  // namespace hoerspur
