#include "recorder/video/meeting_wahl.h"

#include <algorithm>
#include <optional>

#include "recorder/video/titel.h"

namespace hoerspur {

namespace {

constexpr double MIN_BREITE = 320.0;  // points; smaller windows are toolbars or previews
constexpr double MIN_HOEHE = 240.0;
constexpr double SCHWEBEND_MIN_BREITE = 160.0;  // Zoom's floating video is small by design
constexpr double SCHWEBEND_MIN_HOEHE = 90.0;
constexpr double WARTERAUM_MIN_BREITE = 600.0;  // an untitled Zoom window this large
constexpr double WARTERAUM_MIN_HOEHE = 400.0;   // is the waiting room or the preview

struct Kandidat {
    const FensterInfo* w;
    std::int64_t rang;
    bool nativ;
    std::string_view grund;
};

bool enthaelt(std::string_view t, std::string_view teil) {
    return t.find(teil) != std::string_view::npos;
}

template <std::size_t N>
bool enthaeltEines(std::string_view t, const std::array<std::string_view, N>& teile) {
    return std::any_of(teile.begin(), teile.end(),
                       [&](std::string_view teil) { return enthaelt(t, teil); });
}

// Written as "large enough" so that a size that is not a number never qualifies.
bool grossGenug(const FensterInfo& w, double minBreite, double minHoehe) {
    return w.breite >= minBreite && w.hoehe >= minHoehe;
}

bool browserMeeting(std::string_view t) {
    if (enthaeltEines(t, TEILEN_DIALOGE)) return false;
    return enthaelt(t, GOOGLE_MEET_ADRESSE) || enthaelt(t, "google meet") || hatMeetCode(t) ||
           t == "meet" || t.starts_with("meet - ") ||
           (enthaelt(t, "zoom") && (enthaelt(t, "meeting") || enthaelt(t, "webinar"))) ||
           ((enthaelt(t, "microsoft teams") || enthaeltEines(t, TEAMS_WEB_ADRESSEN)) &&
            !teamsNie(t)) ||
           enthaeltEines(t, WEB_MEETING_DIENSTE);
}

std::optional<Kandidat> zoomKandidat(const FensterInfo& w, std::string_view t, bool meetingWort,
                                     bool& zoomTeilt) {
    if (enthaelt(t, "share toolbar") || enthaelt(t, "share statusbar")) {
        if (w.sichtbar) zoomTeilt = true;
    }
    if (t == "zoom" || t == "window" || enthaeltEines(t, ZOOM_NIE) || !w.sichtbar) {
        return std::nullopt;
    }
    const bool normalGross = grossGenug(w, MIN_BREITE, MIN_HOEHE);
    if (meetingWort && normalGross) return Kandidat{&w, 1, true, "Zoom-Meetingfenster"};
    if ((t.starts_with("bildschirm von ") || t.ends_with("'s screen") ||
         t.ends_with("s bildschirm")) &&
        normalGross) {
        return Kandidat{&w, 2, true, "geteilter Bildschirm eines Teilnehmers (Zoom-Fenster)"};
    }
    if (enthaelt(t, "floating video") && grossGenug(w, SCHWEBEND_MIN_BREITE, SCHWEBEND_MIN_HOEHE)) {
        return Kandidat{&w, 3, true, "schwebendes Zoom-Fenster"};
    }
    if (t.empty() && grossGenug(w, WARTERAUM_MIN_BREITE, WARTERAUM_MIN_HOEHE)) {
        return Kandidat{&w, 4, true, "Zoom-Warteraum/Vorschau"};
    }
    return std::nullopt;
}

double flaeche(const FensterInfo& w) {
    return w.breite * w.hoehe;
}

}  // namespace

bool teamsNie(std::string_view t) {
    return t == "microsoft teams" || enthaeltEines(t, TEAMS_NIE);
}

MeetingKandidaten meetingKandidaten(const std::vector<FensterInfo>& fenster) {
    std::vector<Kandidat> kandidaten;
    std::optional<std::string_view> ersteApp;  // the first meeting client seen open
    bool zoomTeilt = false;                    // the user shares a screen from Zoom

    for (const FensterInfo& w : fenster) {
        if (std::find(EIGENE_BUNDLES.begin(), EIGENE_BUNDLES.end(), w.bundle) !=
            EIGENE_BUNDLES.end()) {
            continue;
        }
        const std::string t = normalisiereTitel(w.titel);
        const bool meetingWort = enthaeltEines(t, MEETING_WORTE);
        const bool normalGross = grossGenug(w, MIN_BREITE, MIN_HOEHE);
        const std::optional<std::string_view> app = meetingApp(w.bundle);

        if (app == "Zoom") {
            if (!ersteApp) ersteApp = "Zoom";
            if (auto k = zoomKandidat(w, t, meetingWort, zoomTeilt)) kandidaten.push_back(*k);
        } else if (app == "Teams" || app == "Webex") {
            if (!ersteApp) ersteApp = app;
            const bool nie = *app == "Teams" ? teamsNie(t)
                                             : (t == "webex" || t == "cisco webex meetings" ||
                                                t == "webex meetings");
            const bool signal = meetingWort || enthaelt(t, "anruf") || enthaelt(t, "call");
            if (signal && !nie && w.sichtbar && normalGross) {
                kandidaten.push_back(
                    {&w, 1, true,
                     *app == "Teams" ? "Teams-Meetingfenster" : "Webex-Meetingfenster"});
            }
        } else if (app == "FaceTime") {
            if (w.sichtbar && normalGross) kandidaten.push_back({&w, 1, true, "FaceTime-Anruf"});
        } else if (app == "Slack") {
            if (enthaelt(t, "huddle") && w.sichtbar && normalGross) {
                kandidaten.push_back({&w, 1, true, "Slack-Huddle"});
            }
        } else if (!app && istBrowser(w.bundle)) {
            if (browserMeeting(t) && w.sichtbar && normalGross) {
                kandidaten.push_back({&w, 1, false, "Meeting im Browser"});
            }
        }
    }

    std::stable_sort(kandidaten.begin(), kandidaten.end(),
                     [](const Kandidat& a, const Kandidat& b) {
                         if (a.rang != b.rang) return a.rang < b.rang;
                         if (a.nativ != b.nativ) return a.nativ;
                         return flaeche(*a.w) > flaeche(*b.w);
                     });

    MeetingKandidaten ergebnis;
    ergebnis.liste.reserve(kandidaten.size());
    for (const Kandidat& k : kandidaten) {
        const std::string titel = titelFuerQuelle(k.w->titel);
        ergebnis.liste.push_back(
            Wahl{"fenster", k.w->id,
                 anzeigeName(k.w->bundle, k.w->app) + " \u00b7 " +
                     (titel.empty() ? std::string("Warteraum/Vorschau") : titel),
                 k.rang, std::string(k.grund)});
    }

    std::string grund;
    if (zoomTeilt) {
        grund = "Du teilst in Zoom, kein Teilnehmerfenster sichtbar";
    } else if (ersteApp) {
        grund = std::string(*ersteApp) + " offen, aber kein Meeting sichtbar";
    } else {
        grund = "keine Meeting-App offen";
    }
    ergebnis.ohne = std::string(KEIN_BILD) + " (" + grund + ")";
    return ergebnis;
}

Wahl waehleMeetingZiel(const std::vector<FensterInfo>& fenster) {
    MeetingKandidaten k = meetingKandidaten(fenster);
    if (!k.liste.empty()) return std::move(k.liste.front());
    return Wahl{"nichts", 0, "", 0, std::move(k.ohne)};
}

}  // namespace hoerspur
