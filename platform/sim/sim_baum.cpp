#include "platform/sim/sim_baum.h"

#include <utility>

namespace hoerspur {

SimKnoten& SimKnoten::mit(const std::string& attribut, SimWert wert) {
    attribute[attribut] = std::move(wert);
    return *this;
}

SimKnoten& SimKnoten::kind(SimKnoten k) {
    kinder.push_back(std::move(k));
    return *this;
}

SimKnoten simKnoten(const std::string& rolle, const std::string& titel) {
    SimKnoten k;
    k.attribute["AXRole"] = rolle;
    if (!titel.empty()) k.attribute["AXTitle"] = titel;
    return k;
}

namespace {

SimKnoten* sucheId(SimKnoten& k, const std::string& id) {
    if (k.id == id) return &k;
    for (SimKnoten& kind : k.kinder) {
        if (SimKnoten* t = sucheId(kind, id)) return t;
    }
    return nullptr;
}

}  // namespace

// Application null: a process the service does not know.
struct SimBarrierefreiheit::Element : BfKnoten {
    Anwendungszustand* anwendung = nullptr;
    SimKnoten* knoten = nullptr;
};

SimBarrierefreiheit::SimBarrierefreiheit(SimBaumSzenario szenario, SimUhr& uhr)
    : uhr_(uhr),
      startSekunden_(uhr.jetzt()),
      freigabe_(std::move(szenario.freigabe)),
      prozesse_(std::move(szenario.prozesse)) {
    for (SimAnwendung& a : szenario.anwendungen) {
        anwendungen_.push_back({std::move(a), 0.0});
    }
}

double SimBarrierefreiheit::szenarioSekunden() const {
    return uhr_.jetzt() - startSekunden_;
}

BfFreigabe SimBarrierefreiheit::freigabe() {
    return freigabe_;
}

BfElement SimBarrierefreiheit::elementFuer(Anwendungszustand* a, SimKnoten* k) const {
    auto e = std::make_shared<Element>();
    e->anwendung = a;
    e->knoten = k;
    return e;
}

BfElement SimBarrierefreiheit::anwendung(std::int32_t pid) {
    for (Anwendungszustand& a : anwendungen_) {
        if (a.anwendung.pid == pid) return elementFuer(&a, &a.anwendung.wurzel);
    }
    return elementFuer(nullptr, nullptr);
}

SimKnoten* SimBarrierefreiheit::erreiche(const BfElement& element) {
    ++aufrufe_;
    const auto* e = dynamic_cast<const Element*>(element.get());
    if (e == nullptr || e->anwendung == nullptr) return nullptr;
    const SimAnwendung& app = e->anwendung->anwendung;
    if (app.bisSekunden && szenarioSekunden() >= *app.bisSekunden) return nullptr;
    SimKnoten* k = e->knoten;
    if (k->dauerSekunden > 0.0) {
        const double limit = e->anwendung->zeitlimitSekunden;
        if (limit > 0.0 && k->dauerSekunden > limit) {
            uhr_.vorruecken(limit);
            return nullptr;  // the call timed out
        }
        uhr_.vorruecken(k->dauerSekunden);
    }
    return k->kaputt ? nullptr : k;
}

BfWert SimBarrierefreiheit::lies(const BfElement& element, std::string_view attribut) {
    SimKnoten* k = erreiche(element);
    if (k == nullptr) return {};
    auto* a = static_cast<const Element*>(element.get())->anwendung;
    if (attribut == "AXChildren") {
        std::vector<BfElement> liste;
        for (SimKnoten& kind : k->kinder) {
            if (!kind.versteckt) liste.push_back(elementFuer(a, &kind));
        }
        return liste;
    }
    const auto it = k->attribute.find(std::string(attribut));
    if (it == k->attribute.end()) return {};
    return std::visit(
        [&](const auto& w) -> BfWert {
            using T = std::decay_t<decltype(w)>;
            if constexpr (std::is_same_v<T, SimVerweis>) {
                SimKnoten* ziel = sucheId(a->anwendung.wurzel, w.id);
                if (ziel == nullptr) return {};
                return elementFuer(a, ziel);
            } else if constexpr (std::is_same_v<T, SimVerweise>) {
                std::vector<BfElement> liste;
                for (const std::string& id : w.ids) {
                    if (SimKnoten* ziel = sucheId(a->anwendung.wurzel, id)) {
                        liste.push_back(elementFuer(a, ziel));
                    }
                }
                return liste;
            } else {
                return w;
            }
        },
        it->second);
}

bool SimBarrierefreiheit::setze(const BfElement& element, std::string_view attribut, bool wert) {
    SimKnoten* k = erreiche(element);
    if (k == nullptr) return false;
    k->attribute[std::string(attribut)] = wert;
    return true;
}

bool SimBarrierefreiheit::fuehreAus(const BfElement& element, std::string_view aktion) {
    SimKnoten* k = erreiche(element);
    if (k == nullptr) return false;
    const auto it = k->aktionen.find(std::string(aktion));
    if (it == k->aktionen.end() || !it->second.gelingt) return false;
    auto* a = static_cast<const Element*>(element.get())->anwendung;
    for (const std::string& id : it->second.schaltet) {
        if (SimKnoten* ziel = sucheId(a->anwendung.wurzel, id)) ziel->versteckt = !ziel->versteckt;
    }
    aktionsProtokoll_.push_back(std::string(aktion) + " " + k->id);
    return true;
}

void SimBarrierefreiheit::setzeZeitlimit(const BfElement& element, double sekunden) {
    const auto* e = dynamic_cast<const Element*>(element.get());
    if (e != nullptr && e->anwendung != nullptr) e->anwendung->zeitlimitSekunden = sekunden;
}

bool SimBarrierefreiheit::gleich(const BfElement& a, const BfElement& b) {
    const auto* x = dynamic_cast<const Element*>(a.get());
    const auto* y = dynamic_cast<const Element*>(b.get());
    return x != nullptr && y != nullptr && x->knoten == y->knoten && x->anwendung == y->anwendung;
}

std::optional<std::string> SimBarrierefreiheit::prozessListe() const {
    const double jetzt = szenarioSekunden();
    std::optional<std::string> ausgabe = std::string();
    for (const SimPsStand& s : prozesse_) {
        if (s.abSekunden <= jetzt) ausgabe = s.ausgabe;
    }
    return ausgabe;
}

SimKnoten* SimBarrierefreiheit::knoten(std::int32_t pid, const std::string& id) {
    for (Anwendungszustand& a : anwendungen_) {
        if (a.anwendung.pid == pid) return sucheId(a.anwendung.wurzel, id);
    }
    return nullptr;
}

}  // namespace hoerspur
