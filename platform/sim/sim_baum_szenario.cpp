#include "platform/sim/sim_baum_szenario.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <set>
#include <sstream>

#include "platform/sim/sim_json_objekt.h"

namespace hoerspur {

namespace {

using Json = nlohmann::json;

[[noreturn]] void fehler(const std::string& wo, const std::string& was) {
    simJsonFehler("Baum", wo, was);
}

// A tree file's objects: errors say "Baum: ...".
class Objekt : public SimJsonObjekt {
  public:
    Objekt(const Json& j, std::string wo) : SimJsonObjekt(j, std::move(wo), "Baum") {}
};

std::vector<std::string> textListe(const Json& j, const std::string& wo) {
    if (!j.is_array()) fehler(wo, "muss eine Liste von Texten sein");
    std::vector<std::string> liste;
    for (const Json& e : j) {
        if (!e.is_string()) fehler(wo, "muss eine Liste von Texten sein");
        liste.push_back(e.get<std::string>());
    }
    return liste;
}

SimWert leseWert(const Json& j, const std::string& wo) {
    if (j.is_string()) return j.get<std::string>();
    if (j.is_boolean()) return j.get<bool>();
    if (j.is_number()) {
        const double x = j.get<double>();
        if (!std::isfinite(x)) fehler(wo, "muss endlich sein");
        return x;
    }
    if (j.is_null()) return BfAnderer{};
    if (j.is_object()) {
        Objekt o(j, wo);
        SimWert wert;
        bool gesetzt = false;
        if (const auto id = o.text("element")) {
            wert = SimVerweis{*id};
            gesetzt = true;
        }
        if (const Json* ids = o.hole("elemente")) {
            if (gesetzt) fehler(wo, "entweder \"element\" oder \"elemente\"");
            wert = SimVerweise{textListe(*ids, o.wo("elemente"))};
            gesetzt = true;
        }
        if (!gesetzt) fehler(wo, "braucht \"element\" oder \"elemente\"");
        o.pruefeRest();
        return wert;
    }
    fehler(wo, "ist kein Attributwert (Text, Zahl, true/false, null, Verweis)");
}

SimKnoten leseKnoten(const Json& j, const std::string& wo, int tiefe) {
    if (tiefe > SIM_BAUM_MAX_TIEFE)
        fehler(wo, "Baum tiefer als " + std::to_string(SIM_BAUM_MAX_TIEFE));
    Objekt o(j, wo);
    SimKnoten k;
    k.id = o.text("id").value_or("");
    if (const auto rolle = o.text("rolle")) k.attribute["AXRole"] = *rolle;
    if (const Json* attribute = o.hole("attribute")) {
        if (!attribute->is_object()) fehler(o.wo("attribute"), "muss ein Objekt sein");
        for (const auto& [name, wert] : attribute->items()) {
            if (name == "AXChildren") fehler(o.wo("attribute.AXChildren"), "kommt aus \"kinder\"");
            if (name == "AXRole" && k.attribute.contains("AXRole")) {
                fehler(o.wo("attribute.AXRole"), "doppelt zu \"rolle\"");
            }
            k.attribute[name] = leseWert(wert, o.wo("attribute." + name));
        }
    }
    if (const Json* kinder = o.hole("kinder")) {
        if (!kinder->is_array()) fehler(o.wo("kinder"), "muss eine Liste sein");
        for (std::size_t i = 0; i < kinder->size(); ++i) {
            k.kinder.push_back(
                leseKnoten((*kinder)[i], o.wo("kinder[" + std::to_string(i) + "]"), tiefe + 1));
        }
    }
    k.versteckt = o.wahr("versteckt").value_or(false);
    k.dauerSekunden = o.zahl("dauer", 0.0, 3600.0).value_or(0.0);
    k.kaputt = o.wahr("kaputt").value_or(false);
    if (const Json* aktionen = o.hole("aktionen")) {
        if (!aktionen->is_object()) fehler(o.wo("aktionen"), "muss ein Objekt sein");
        for (const auto& [name, wert] : aktionen->items()) {
            Objekt a(wert, o.wo("aktionen." + name));
            SimAktion aktion;
            aktion.gelingt = a.wahr("gelingt").value_or(true);
            if (const Json* schaltet = a.hole("schaltet")) {
                aktion.schaltet = textListe(*schaltet, a.wo("schaltet"));
            }
            a.pruefeRest();
            k.aktionen[name] = std::move(aktion);
        }
    }
    o.pruefeRest();
    return k;
}

void sammleIds(const SimKnoten& k, std::set<std::string>& ids, const std::string& wo) {
    if (!k.id.empty() && !ids.insert(k.id).second) fehler(wo, "Id \"" + k.id + "\" doppelt");
    for (const SimKnoten& kind : k.kinder) sammleIds(kind, ids, wo);
}

// Every reference must name a node of the same application.
void pruefeVerweise(const SimKnoten& k, const std::set<std::string>& ids, const std::string& wo) {
    const auto pruefe = [&](const std::string& id) {
        if (!ids.contains(id)) fehler(wo, "Verweis auf unbekannte Id \"" + id + "\"");
    };
    for (const auto& [name, wert] : k.attribute) {
        if (const auto* v = std::get_if<SimVerweis>(&wert)) pruefe(v->id);
        if (const auto* v = std::get_if<SimVerweise>(&wert)) {
            for (const std::string& id : v->ids) pruefe(id);
        }
    }
    for (const auto& [name, aktion] : k.aktionen) {
        for (const std::string& id : aktion.schaltet) pruefe(id);
    }
    for (const SimKnoten& kind : k.kinder) pruefeVerweise(kind, ids, wo);
}

}  // namespace

SimBaumSzenario parseSimBaum(std::string_view text) {
    const Json j = Json::parse(text.begin(), text.end(), nullptr, false);
    if (j.is_discarded()) throw SzenarioFehler("Baum: kein gueltiges JSON");
    Objekt o(j, "baum");
    SimBaumSzenario s;
    s.freigabe.vorhanden = o.wahr("freigabe").value_or(true);
    s.freigabe.fehlt = o.text("fehlt").value_or("");
    if (const Json* prozesse = o.hole("prozesse")) {
        if (!prozesse->is_array()) fehler("baum.prozesse", "muss eine Liste sein");
        double vorher = -std::numeric_limits<double>::infinity();
        for (std::size_t i = 0; i < prozesse->size(); ++i) {
            Objekt p((*prozesse)[i], "baum.prozesse[" + std::to_string(i) + "]");
            SimPsStand stand;
            stand.abSekunden = p.zahl("ab", 0.0, 1e9).value_or(0.0);
            if (stand.abSekunden < vorher) fehler(p.wo("ab"), "muss aufsteigen");
            vorher = stand.abSekunden;
            const Json* ps = p.hole("ps");
            if (ps == nullptr) fehler(p.wo("ps"), "fehlt");
            if (!ps->is_null()) {
                std::string ausgabe;
                for (const std::string& zeile : textListe(*ps, p.wo("ps"))) ausgabe += zeile + "\n";
                stand.ausgabe = std::move(ausgabe);
            }
            p.pruefeRest();
            s.prozesse.push_back(std::move(stand));
        }
    }
    if (const Json* anwendungen = o.hole("anwendungen")) {
        if (!anwendungen->is_array()) fehler("baum.anwendungen", "muss eine Liste sein");
        for (std::size_t i = 0; i < anwendungen->size(); ++i) {
            const std::string wo = "baum.anwendungen[" + std::to_string(i) + "]";
            Objekt a((*anwendungen)[i], wo);
            SimAnwendung app;
            const auto pid = a.zahl("pid", std::numeric_limits<std::int32_t>::min(),
                                    std::numeric_limits<std::int32_t>::max());
            if (!pid || *pid != std::trunc(*pid)) fehler(a.wo("pid"), "fehlt oder ist nicht ganz");
            app.pid = static_cast<std::int32_t>(*pid);
            app.bisSekunden = a.zahl("bis", 0.0, 1e9);
            const Json* baum = a.hole("baum");
            if (baum == nullptr) fehler(a.wo("baum"), "fehlt");
            app.wurzel = leseKnoten(*baum, a.wo("baum"), 1);
            a.pruefeRest();
            std::set<std::string> ids;
            sammleIds(app.wurzel, ids, wo);
            pruefeVerweise(app.wurzel, ids, wo);
            s.anwendungen.push_back(std::move(app));
        }
    }
    o.pruefeRest();
    return s;
}

SimBaumSzenario ladeSimBaum(const std::string& pfad) {
    std::ifstream ein(pfad, std::ios::binary);
    if (!ein) throw SzenarioFehler("Baum: Datei " + pfad + " nicht lesbar");
    std::ostringstream inhalt;
    inhalt << ein.rdbuf();
    return parseSimBaum(inhalt.str());
}

}  // namespace hoerspur
