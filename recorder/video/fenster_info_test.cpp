#include "recorder/video/fenster_info.h"

#include <gtest/gtest.h>

namespace hoerspur {
namespace {

TEST(Metadaten, KeepsThePlatformOrderAndDropsOnlyWindowsWithoutApplication) {
    TeilbarerInhalt inhalt;
    inhalt.fenster.push_back({11,
                              std::nullopt,
                              FensterApp{"us.zoom.xos", "zoom.us", 4711},
                              {10, 20, 1280, 800},
                              true,
                              0});
    inhalt.fenster.push_back({12, "Desktop", std::nullopt, {0, 0, 1920, 1080}, true, 0});
    // Off screen, small, another layer: still listed; the choice filters.
    inhalt.fenster.push_back({13,
                              "Zoom",
                              FensterApp{"us.zoom.xos", "zoom.us", std::nullopt},
                              {-5, -6, 40, 30},
                              false,
                              101});
    // A frame given right to left still has a positive width.
    inhalt.fenster.push_back(
        {14, "x", FensterApp{"b", "", std::nullopt}, {0, 0, -200, 100}, true, 0});

    const std::vector<FensterInfo> liste = metadaten(inhalt);
    ASSERT_EQ(liste.size(), 3u);
    EXPECT_EQ(liste[0], FensterInfo(11, "", "us.zoom.xos", "zoom.us", 10, 20, 1280, 800, true, 0));
    EXPECT_EQ(liste[1],
              FensterInfo(13, "Zoom", "us.zoom.xos", "zoom.us", -5, -6, 40, 30, false, 101));
    EXPECT_EQ(liste[2].breite, 200.0);
}

TEST(BundleTabellen, LookupsAreExactAndKnowBrowserAppWindows) {
    EXPECT_EQ(meetingApp("us.zoom.xos"), "Zoom");
    EXPECT_EQ(meetingApp("us.zoom.videomeetings"), "Zoom");
    EXPECT_EQ(meetingApp("com.microsoft.teams2"), "Teams");
    EXPECT_EQ(meetingApp("com.webex.meetingmanager"), "Webex");
    EXPECT_EQ(meetingApp("com.tinyspeck.slackmacgap"), "Slack");
    EXPECT_FALSE(meetingApp("US.ZOOM.XOS"));
    EXPECT_FALSE(meetingApp("us.zoom.xos "));
    EXPECT_FALSE(meetingApp(""));

    EXPECT_TRUE(istBrowser("org.mozilla.firefox"));
    EXPECT_TRUE(istBrowser("com.google.Chrome.canary"));
    EXPECT_TRUE(istBrowser("com.google.Chrome.app.kjgfgldnnfoeklkmfkjfagphfepbbdan"));
    EXPECT_TRUE(istBrowser("com.microsoft.edgemac.app.x"));
    EXPECT_FALSE(istBrowser("com.google.Chrome.app"));
    EXPECT_FALSE(istBrowser("com.google.chrome"));
    EXPECT_FALSE(istBrowser("us.zoom.xos"));

    EXPECT_EQ(anzeigeName("com.microsoft.teams2", "Microsoft Teams (work or school)"), "Teams");
    EXPECT_EQ(anzeigeName("org.mozilla.firefox", "Firefox"), "Firefox");
    EXPECT_EQ(anzeigeName("org.example.tool", ""), "org.example.tool");
}

}  // namespace
}  // namespace hoerspur
