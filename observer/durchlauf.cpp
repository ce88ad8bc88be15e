#include "observer/durchlauf.h"

#include <algorithm>
#include <utility>

#include "observer/baum_zugriff.h"
#include "observer/namensregeln.h"

namespace hoerspur {

namespace {

bool istKnopfrolle(std::string_view rolle) {
    return std::find(KNOPFROLLEN.begin(), KNOPFROLLEN.end(), rolle) != KNOPFROLLEN.end();
}

std::string baumZeile(int tiefe, const std::string& rolle, const Felder& felder) {
    std::string zeile(static_cast<std::size_t>(tiefe) * 2, ' ');
    zeile += "[" + rolle + "] ";
    bool erstes = true;
    for (const auto& [name, wert] : felder) {
        if (!erstes) zeile += " \u00B7 ";
        erstes = false;
        zeile += name + "=" + wert;
    }
    return zeile;
}

}  // namespace

Durchlauf::Durchlauf(MonoUhr uhr, int knotenBudget, int tiefenBudget, double sekundenBudget)
    : maxKnoten(knotenBudget),
      maxTiefe(tiefenBudget),
      maxSekunden(sekundenBudget),
      uhr_(std::move(uhr)),
      startSekunden_(uhr_()) {}

bool Durchlauf::amEnde() {
    if (knoten >= maxKnoten || uhr_() - startSekunden_ > maxSekunden) {
        gekappt = true;
        return true;
    }
    return false;
}

void gehe(Barrierefreiheit& bf, const BfElement& element, int tiefe, Durchlauf& d,
          bool allesMitschreiben, std::vector<std::string>& roh) {
    if (tiefe > d.maxTiefe) return;
    if (d.amEnde()) return;
    const std::string rolle = text(bf, element, "AXRole").value_or("?");
    // The menu bar's subtree holds only menu words; it is skipped whole.
    if (rolle == "AXMenuBar") return;
    d.knoten += 1;

    Felder felder;
    for (const std::string_view name : ATTRIBUTE) {
        auto wert = text(bf, element, name);
        if (wert && !wert->empty()) felder.emplace(std::string(name), std::move(*wert));
    }
    if (allesMitschreiben && !felder.empty()) roh.push_back(baumZeile(tiefe, rolle, felder));

    Zeile zeile{rolle, felder};
    if (!istKnopfrolle(rolle) && siehtWieNameAus(zeile.beschriftung()) &&
        !zeile.reinerName().empty()) {
        d.zeilen.push_back(std::move(zeile));
    } else if (auto kachel = kachelName(rolle, felder)) {
        zeile.felder["AXTitle"] = kachel->name;
        zeile.felder["KORALQuelle"] = "zoom-kachel";
        zeile.felder["KORALSpricht"] = kachel->spricht ? "1" : "0";
        d.zeilen.push_back(std::move(zeile));
    }

    for (const BfElement& kind : kinder(bf, element)) {
        gehe(bf, kind, tiefe + 1, d, allesMitschreiben, roh);
    }
}

Abtastung abtasten(Barrierefreiheit& bf, const std::vector<ZoomProzess>& prozesse,
                   bool allesMitschreiben, const MonoUhr& uhr) {
    Abtastung a;
    for (const ZoomProzess& p : prozesse) {
        const BfElement app = bf.anwendung(p.pid);
        bf.setzeZeitlimit(app, ZEITLIMIT_SEKUNDEN);
        baumAnfordern(bf, app);
        Durchlauf d(uhr);
        if (allesMitschreiben) {
            a.roh.push_back("### " + p.name + " [pid " + std::to_string(p.pid) + "]");
        }
        for (const BfElement& wurzel : alleWurzeln(bf, app)) {
            gehe(bf, wurzel, 1, d, allesMitschreiben, a.roh);
        }
        a.zeilen.insert(a.zeilen.end(), std::make_move_iterator(d.zeilen.begin()),
                        std::make_move_iterator(d.zeilen.end()));
        a.gekappt = a.gekappt || d.gekappt;
        a.knoten += d.knoten;
    }
    return a;
}

}  // namespace hoerspur
