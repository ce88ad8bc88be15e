// The process list: which lines of "/bin/ps -A -ww -o pid= -o comm=" belong to
// the meeting client, on Linux (short names, cut at 15 bytes) and with paths.
#include "observer/zoom_prozess.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "observer/system_umgebung.h"

namespace hoerspur {
namespace {

constexpr std::int32_t EIGENE_PID = 777;

std::vector<ZoomProzess> zoom(const std::string& ausgabe) {
    return parseProzessListe(ausgabe, EIGENE_PID, std::nullopt);
}
std::vector<ZoomProzess> app(const std::string& ausgabe, const std::string& wert) {
    return parseProzessListe(ausgabe, EIGENE_PID, wert);
}

const char* const LINUX_LISTE =
    "      1 systemd\n"
    "      2 kthreadd\n"
    "     12 kworker/0:1-events\n"
    "    777 zoom-helper\n"
    "   4711 zoom\n"
    "   4712 ZoomWebviewHost\n"
    "   4713 aomhost\n"
    "   4800 gnome-calculato\n"
    "   4801 pulseaudio\n"
    "   4802 zoom-testclient\n";

TEST(ZoomProzess, LinuxShortNamesOfTheClientAreFoundInListOrder) {
    const std::vector<ZoomProzess> erwartet = {
        {4711, "zoom"}, {4712, "ZoomWebviewHost"}, {4713, "aomhost"}, {4802, "zoom-testclient"}};
    EXPECT_EQ(zoom(LINUX_LISTE), erwartet);  // the observer's own entry (777) is left out
}

TEST(ZoomProzess, PathsGiveTheirLastComponentAndDriversStayOut) {
    const std::string ausgabe =
        "  501 /Applications/zoom.us.app/Contents/MacOS/zoom.us\n"
        "  502 /opt/a b/CptHost\n"
        "  503 /Library/Audio/Plug-Ins/HAL/ZoomAudioDevice.driver/Contents/MacOS/ZoomAudioDevice\n"
        "  504 /usr/sbin/Core Audio Driver (Zoom)\n"
        "  505 /opt/zoom/\n"
        "  506 /usr/bin/bash\n";
    const std::vector<ZoomProzess> erwartet = {{501, "zoom.us"}, {502, "CptHost"}, {505, "zoom"}};
    EXPECT_EQ(zoom(ausgabe), erwartet);
    EXPECT_TRUE(callLaeuft(zoom(ausgabe)));
    EXPECT_FALSE(callLaeuft(zoom(LINUX_LISTE)));
}

TEST(ZoomProzess, MalformedLinesAreSkippedAndTheRestStillCounts) {
    const std::string ausgabe =
        "PID COMMAND\n"
        "abc zoom\n"
        "4711\n"
        "4712\tzoom\n"
        "99999999999 zoom\n"
        "\n"
        "   \t  \n"
        "4800 \xC3\x28kaputt\n"  // invalid UTF-8 in another process's name
        "+4713 zoom\n"
        "\t4714 zoom \t\n";
    const std::vector<ZoomProzess> erwartet = {{4713, "zoom"}, {4714, "zoom"}};
    EXPECT_EQ(zoom(ausgabe), erwartet);
}

TEST(ZoomProzess, AppValueMatchesAnywhereInTheNameWithoutCase) {
    EXPECT_EQ(app("42 /usr/bin/Editor\n43 /usr/bin/editor.bak\n", "editor"),
              (std::vector<ZoomProzess>{{42, "Editor"}, {43, "editor.bak"}}));
    // The driver exclusions are for the client only.
    EXPECT_EQ(app("44 /x/My.driver/Contents/editor\n", "editor").size(), 1u);
    // The observer never lists itself, even when the value fits it.
    EXPECT_TRUE(app("777 Namenspaeher\n", "namenspaeher").empty());
    // An empty value matches nothing rather than every process.
    EXPECT_TRUE(app(LINUX_LISTE, "").empty());
    // A short name is a name, even with "/" in it.
    EXPECT_EQ(app(LINUX_LISTE, "kworker"), (std::vector<ZoomProzess>{{12, "kworker/0:1-events"}}));
}

TEST(ZoomProzess, NamesCutByTheKernelStillMatchTheirMarker) {
    // "gnome-calculator" appears as its first 15 bytes.
    EXPECT_EQ(app(LINUX_LISTE, "gnome-calculator"),
              (std::vector<ZoomProzess>{{4800, "gnome-calculato"}}));
    EXPECT_EQ(app(LINUX_LISTE, "calculator").size(), 1u);
    // A name shorter than 15 bytes is whole: no partial match.
    EXPECT_TRUE(app("50 gnome-calculat\n", "gnome-calculator").empty());
    // Too little of the marker left to tell.
    EXPECT_TRUE(app("51 abcdefghijklcal\n", "calculator").empty());
    // The client's helper whose marker the cut shortened.
    EXPECT_EQ(zoom("52 videoconf-aomho\n"), (std::vector<ZoomProzess>{{52, "videoconf-aomho"}}));
    EXPECT_TRUE(zoom("53 conf-aomho\n").empty());
}

TEST(ZoomProzess, TheRealListerShowsThisProcessUnderItsCutName) {
    const auto ausgabe = psAusgabe();
    ASSERT_TRUE(ausgabe.has_value());
    // This test program's name is longer than 15 bytes; the kernel keeps its start.
    const auto gefunden = parseProzessListe(*ausgabe, 0, std::string("hs_beobachter_test"));
    bool selbst = false;
    for (const ZoomProzess& p : gefunden) {
        if (p.pid == ::getpid()) {
            selbst = true;
            EXPECT_EQ(p.name, "hs_beobachter_t");
        }
    }
    EXPECT_TRUE(selbst) << *ausgabe;
    // With its own id the observer leaves itself out.
    for (const ZoomProzess& p :
         parseProzessListe(*ausgabe, ::getpid(), std::string("hs_beobachter_test"))) {
        EXPECT_NE(p.pid, ::getpid());
    }
}

}  // namespace
}  // namespace hoerspur
