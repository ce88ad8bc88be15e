// Test helper: meeting clients built as simulated accessibility trees, and the
// observer's outside world on a scripted clock (waits take no real time; a stop
// request and the parent's death happen at chosen scenario times).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "observer/beobachter.h"
#include "platform/sim/sim_baum.h"

namespace hoerspur {

inline SimKnoten statischerText(const std::string& text) {
    return simKnoten("AXStaticText").mit("AXValue", text);
}

inline SimKnoten kachel(const std::string& beschreibung) {
    return simKnoten("AXTabGroup").mit("AXDescription", beschreibung);
}

// An application whose one window "fenster" holds `inhalt`, listed as its
// child, its window, its focused and its main window.
inline SimAnwendung anwendungMit(std::int32_t pid, std::vector<SimKnoten> inhalt) {
    SimKnoten fenster = simKnoten("AXWindow", "Zoom Meeting");
    fenster.id = "fenster";
    for (SimKnoten& k : inhalt) fenster.kind(std::move(k));
    SimKnoten app = simKnoten("AXApplication", "zoom.us");
    app.mit("AXWindows", SimVerweise{{"fenster"}})
        .mit("AXFocusedWindow", SimVerweis{"fenster"})
        .mit("AXMainWindow", SimVerweis{"fenster"});
    app.kind(std::move(fenster));
    return SimAnwendung{pid, std::move(app), std::nullopt};
}

// The participants button and the panel it opens, collapsed.
inline std::vector<SimKnoten> teilnehmerPanel(const std::vector<std::string>& namen) {
    SimKnoten knopf = simKnoten("AXButton", "Teilnehmer");
    knopf.id = "teilnehmer-knopf";
    knopf.aktionen["AXPress"] = SimAktion{true, {"panel"}};
    SimKnoten panel = simKnoten("AXGroup");
    panel.id = "panel";
    panel.versteckt = true;
    for (const std::string& n : namen) panel.kind(statischerText(n));
    return {std::move(knopf), std::move(panel)};
}

inline std::string psZeile(std::int32_t pid, const std::string& pfad) {
    return std::to_string(pid) + " " + pfad + "\n";
}

// The observer's world around a SimBarrierefreiheit: its process list, a
// scripted clock starting at 0 (wall clock 1.7e12 ms plus the same seconds).
class SimWelt {
  public:
    explicit SimWelt(SimBaumSzenario szenario) : bf(std::move(szenario), uhr) {
        umgebung.bf = &bf;
        umgebung.prozessListe = [this] { return bf.prozessListe(); };
        umgebung.eigenePid = [] { return 1000; };
        umgebung.elternPid = [this] {
            return elternWegAb && uhr.jetzt() >= *elternWegAb ? 1 : 999;
        };
        umgebung.monoSekunden = [this] { return uhr.jetzt(); };
        umgebung.unixMs = [this] {
            return static_cast<std::int64_t>(1.7e12 + uhr.jetzt() * 1000.0);
        };
        umgebung.warteAufStop = [this](double sekunden) {
            wartezeiten.push_back(sekunden);
            if (stopAb && uhr.jetzt() + sekunden >= *stopAb) {
                if (*stopAb > uhr.jetzt()) uhr.setze(*stopAb);
                return true;
            }
            uhr.vorruecken(sekunden);
            if (sekunden > 0 && zwischenDenRunden) zwischenDenRunden();
            return false;
        };
        umgebung.schlafe = [this](double sekunden) { uhr.vorruecken(sekunden); };
    }

    int starte(const std::string& ordner, std::vector<std::string> optionen = {}) {
        std::vector<std::string> argumente{"Namenspaeher", ordner};
        argumente.insert(argumente.end(), optionen.begin(), optionen.end());
        return namenspaeher(argumente, umgebung);
    }

    SimUhr uhr{0.0, false};
    SimBarrierefreiheit bf;
    BeobachterUmgebung umgebung;
    std::optional<double> stopAb;       // a stop request arrives at this time
    std::optional<double> elternWegAb;  // the parent dies at this time
    // Runs after every completed wait (to change the tree between scans).
    std::function<void()> zwischenDenRunden;
    std::vector<double> wartezeiten;
};

}  // namespace hoerspur
