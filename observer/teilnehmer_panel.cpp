#include "observer/teilnehmer_panel.h"

#include "observer/baum_zugriff.h"
#include "observer/durchlauf.h"
#include "observer/unicode_text.h"

namespace hoerspur {

namespace {

bool enthaelt(const std::string& text, std::string_view teil) {
    return text.find(teil) != std::string::npos;
}

}  // namespace

std::optional<BfElement> teilnehmerKnopf(Barrierefreiheit& bf, const BfElement& element, int tiefe,
                                         int& knoten) {
    if (tiefe > KNOPF_MAX_TIEFE || knoten >= KNOPF_MAX_KNOTEN) return std::nullopt;
    knoten += 1;
    // The role first: the four labels cost a call each and matter only on buttons.
    const std::string rolle = kleinschreibung(text(bf, element, "AXRole").value_or(""));
    if (enthaelt(rolle, "button") || enthaelt(rolle, "taste")) {
        std::string beschriftung;
        bool erstes = true;
        for (const char* name : {"AXTitle", "AXDescription", "AXHelp", "AXIdentifier"}) {
            if (auto t = text(bf, element, name)) {
                if (!erstes) beschriftung += ' ';
                erstes = false;
                beschriftung += *t;
            }
        }
        beschriftung = kleinschreibung(beschriftung);
        if (enthaelt(beschriftung, "teilnehmer") || enthaelt(beschriftung, "participants")) {
            return element;
        }
    }
    for (const BfElement& kind : kinder(bf, element)) {
        if (auto knopf = teilnehmerKnopf(bf, kind, tiefe + 1, knoten)) return knopf;
    }
    return std::nullopt;
}

bool teilnehmerPanelUmschalten(Barrierefreiheit& bf, const std::vector<ZoomProzess>& prozesse,
                               BfElement* gedrueckt) {
    for (const ZoomProzess& p : prozesse) {
        const BfElement app = bf.anwendung(p.pid);
        bf.setzeZeitlimit(app, ZEITLIMIT_SEKUNDEN);
        baumAnfordern(bf, app);
        for (const BfElement& wurzel : alleWurzeln(bf, app)) {
            int knoten = 0;
            const auto knopf = teilnehmerKnopf(bf, wurzel, 0, knoten);
            if (knopf && bf.fuehreAus(*knopf, "AXPress")) {
                if (gedrueckt != nullptr) *gedrueckt = *knopf;
                return true;
            }
        }
    }
    return false;
}

}  // namespace hoerspur
