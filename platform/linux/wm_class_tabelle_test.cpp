#include "platform/linux/wm_class_tabelle.h"

#include <gtest/gtest.h>

#include <string>

namespace hoerspur {
namespace {

struct Fall {
    const char* instanz;
    const char* klasse;
    const char* bundle;
    const char* name;
};

TEST(WmClassTabelle, MeetingClientsBrowsersAndWebAppsGetTheIdentifiersTheChoiceKnows) {
    const Fall faelle[] = {
        {"zoom", "zoom", "us.zoom.xos", "Zoom"},
        {"zoom ", "zoom ", "us.zoom.xos", "Zoom"},
        {"slack", "Slack", "com.tinyspeck.slackmacgap", "Slack"},
        {"CiscoCollabHost", "CiscoCollabHost", "Cisco-Systems.Spark", "Webex"},
        {"teams-for-linux", "teams-for-linux", "com.microsoft.teams2", "Teams"},
        {"google-chrome", "Google-chrome", "com.google.Chrome", "Google Chrome"},
        {"chromium", "Chromium", "com.google.Chrome", "Chromium"},
        {"Navigator", "firefox", "org.mozilla.firefox", "Firefox"},
        {"Navigator", "Firefox-esr", "org.mozilla.firefox", "Firefox ESR"},
        {"microsoft-edge", "Microsoft-edge", "com.microsoft.edgemac", "Microsoft Edge"},
        {"brave-browser", "Brave-browser", "com.brave.Browser", "Brave Browser"},
        {"vivaldi-stable", "Vivaldi-stable", "com.vivaldi.Vivaldi", "Vivaldi"},
        {"opera", "Opera", "com.operasoftware.Opera", "Opera"},
        // Installed web apps: the app's id in the form the choice counts as a browser.
        {"crx_kjgfgldnnfoeklkmfkjfagphfepbbdan", "Google-chrome",
         "com.google.Chrome.app.kjgfgldnnfoeklkmfkjfagphfepbbdan", "Google Chrome"},
        {"crx_abc", "Chromium", "com.google.Chrome.app.abc", "Chromium"},
        {"msedge-_cinhimbnkkaeohfgghhklpknlkffjgod-Default", "Microsoft-edge",
         "com.microsoft.edgemac.app.cinhimbnkkaeohfgghhklpknlkffjgod", "Microsoft Edge"},
        // Not an app id: the browser itself.
        {"crx_", "Google-chrome", "com.google.Chrome", "Google Chrome"},
        {"crx_a b", "Google-chrome", "com.google.Chrome", "Google Chrome"},
        // Unknown classes stand for themselves.
        {"xterm", "XTerm", "XTerm", "XTerm"},
        {"nur-instanz", "", "nur-instanz", "nur-instanz"},
        {"zoomer", "Zoomer", "Zoomer", "Zoomer"},
    };
    for (const Fall& f : faelle) {
        const X11App app = appFuerWmKlasse(f.instanz, f.klasse);
        EXPECT_EQ(app.bundle, f.bundle) << f.instanz << " / " << f.klasse;
        EXPECT_EQ(app.name, f.name) << f.instanz << " / " << f.klasse;
    }
}

}  // namespace
}  // namespace hoerspur
