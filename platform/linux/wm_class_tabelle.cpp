#include "platform/linux/wm_class_tabelle.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace hoerspur {

namespace {

struct Eintrag {
    std::string_view klasse;  // lower case; compared without regard to ASCII case
    std::string_view bundle;
    std::string_view name;
};

// Class names as the Linux builds set them (res_class, or res_name where the
// class is generic).
constexpr std::array<Eintrag, 21> WM_CLASS_TABELLE{{
    {"zoom", "us.zoom.xos", "Zoom"},
    {"slack", "com.tinyspeck.slackmacgap", "Slack"},
    {"ciscocollabhost", "Cisco-Systems.Spark", "Webex"},
    {"webex", "Cisco-Systems.Spark", "Webex"},
    {"microsoft teams - preview", "com.microsoft.teams", "Teams"},
    {"teams-for-linux", "com.microsoft.teams2", "Teams"},
    {"google-chrome", "com.google.Chrome", "Google Chrome"},
    {"google-chrome-beta", "com.google.Chrome", "Google Chrome Beta"},
    {"google-chrome-unstable", "com.google.Chrome.canary", "Google Chrome Dev"},
    {"chromium", "com.google.Chrome", "Chromium"},
    {"chromium-browser", "com.google.Chrome", "Chromium"},
    {"firefox", "org.mozilla.firefox", "Firefox"},
    {"firefox-esr", "org.mozilla.firefox", "Firefox ESR"},
    {"microsoft-edge", "com.microsoft.edgemac", "Microsoft Edge"},
    {"microsoft-edge-beta", "com.microsoft.edgemac", "Microsoft Edge Beta"},
    {"microsoft-edge-dev", "com.microsoft.edgemac", "Microsoft Edge Dev"},
    {"brave-browser", "com.brave.Browser", "Brave Browser"},
    {"brave-browser-beta", "com.brave.Browser", "Brave Browser Beta"},
    {"vivaldi-stable", "com.vivaldi.Vivaldi", "Vivaldi"},
    {"vivaldi-snapshot", "com.vivaldi.Vivaldi", "Vivaldi Snapshot"},
    {"opera", "com.operasoftware.Opera", "Opera"},
}};

// Installed web apps: Chromium-family browsers name their windows "crx_<id>",
// Edge "msedge-_<id>-<profile>".
constexpr std::string_view CRX_PRAEFIX = "crx_";
constexpr std::string_view EDGE_APP_PRAEFIX = "msedge-_";

std::string_view ohneRand(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool gleichOhneGross(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == y;
           });
}

const Eintrag* suche(std::string_view name) {
    name = ohneRand(name);
    for (const Eintrag& e : WM_CLASS_TABELLE) {
        if (gleichOhneGross(name, e.klasse)) return &e;
    }
    return nullptr;
}

// An app id as the browsers make them: letters and digits only.
bool istAppId(std::string_view id) {
    return !id.empty() && id.size() <= 128 && std::all_of(id.begin(), id.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0;
    });
}

std::string browserName(std::string_view klasse, std::string_view standard) {
    const Eintrag* e = suche(klasse);
    return std::string(e != nullptr ? e->name : standard);
}

}  // namespace

X11App appFuerWmKlasse(std::string_view instanz, std::string_view klasse) {
    if (instanz.starts_with(CRX_PRAEFIX)) {
        const std::string_view id = instanz.substr(CRX_PRAEFIX.size());
        if (istAppId(id)) {
            return {"com.google.Chrome.app." + std::string(id),
                    browserName(klasse, "Google Chrome")};
        }
    }
    if (instanz.starts_with(EDGE_APP_PRAEFIX)) {
        std::string_view id = instanz.substr(EDGE_APP_PRAEFIX.size());
        id = id.substr(0, std::min(id.find('-'), id.size()));
        if (istAppId(id)) {
            return {"com.microsoft.edgemac.app." + std::string(id),
                    browserName(klasse, "Microsoft Edge")};
        }
    }
    const Eintrag* e = suche(klasse);
    if (e == nullptr) e = suche(instanz);
    if (e != nullptr) return {std::string(e->bundle), std::string(e->name)};
    const std::string eigener(klasse.empty() ? instanz : klasse);
    return {eigener, eigener};
}

}  // namespace hoerspur
