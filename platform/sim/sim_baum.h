// The simulated accessibility service: application trees built in code or read
// from JSON (sim_baum_szenario.h), with scripted behaviour — actions that show
// or hide nodes (a participants button opening its panel), calls that cost time
// on a scripted clock or fail, applications that go away — and the process list
// that "/bin/ps" would print at each moment.
//
// Thread safety: one thread at a time. Change a tree's structure only between
// scans: element handles point into it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/barrierefreiheit.h"
#include "platform/sim/sim_uhr.h"

namespace hoerspur {

// An attribute value naming another node of the same application by its id.
struct SimVerweis {
    std::string id;
};
struct SimVerweise {
    std::vector<std::string> ids;
};

using SimWert = std::variant<std::string, double, bool, SimVerweis, SimVerweise, BfAnderer>;

struct SimAktion {
    bool gelingt = true;
    // Ids of nodes whose `versteckt` flips when the action succeeds.
    std::vector<std::string> schaltet;
};

struct SimKnoten {
    std::string id;  // empty, or unique within its application
    std::map<std::string, SimWert>
        attribute;  // "AXRole" among them; "AXChildren" comes from kinder
    std::vector<SimKnoten> kinder;
    bool versteckt = false;      // left out of its parent's "AXChildren"
    double dauerSekunden = 0.0;  // every call on this node costs this much clock time
    bool kaputt = false;         // every call on this node fails
    std::map<std::string, SimAktion> aktionen;

    // Builder helpers for tests.
    SimKnoten& mit(const std::string& attribut, SimWert wert);
    SimKnoten& kind(SimKnoten k);
};

// A node with role and optional title, for building trees in code.
SimKnoten simKnoten(const std::string& rolle, const std::string& titel = "");

struct SimAnwendung {
    std::int32_t pid = 0;
    SimKnoten wurzel;                   // the application element ("AXApplication")
    std::optional<double> bisSekunden;  // gone from this scenario time on
};

// What the process lister prints from `abSekunden` on; nothing: it cannot start.
struct SimPsStand {
    double abSekunden = 0.0;
    std::optional<std::string> ausgabe;
};

struct SimBaumSzenario {
    BfFreigabe freigabe{true, ""};
    std::vector<SimPsStand> prozesse;  // ordered by abSekunden
    std::vector<SimAnwendung> anwendungen;
};

class SimBarrierefreiheit : public Barrierefreiheit {
  public:
    // Scenario times count from the clock's reading now. `uhr` must outlive this.
    SimBarrierefreiheit(SimBaumSzenario szenario, SimUhr& uhr);

    BfFreigabe freigabe() override;
    BfElement anwendung(std::int32_t pid) override;
    BfWert lies(const BfElement& element, std::string_view attribut) override;
    bool setze(const BfElement& element, std::string_view attribut, bool wert) override;
    bool fuehreAus(const BfElement& element, std::string_view aktion) override;
    void setzeZeitlimit(const BfElement& element, double sekunden) override;
    bool gleich(const BfElement& a, const BfElement& b) override;

    // The lister's output at the current scenario time.
    std::optional<std::string> prozessListe() const;
    // Seconds since construction on the clock.
    double szenarioSekunden() const;

    // The node with `id` of the application `pid`, to look at or change between
    // scans; nullptr when there is none.
    SimKnoten* knoten(std::int32_t pid, const std::string& id);

    // Every call so far, and every successful action as "AXPress <id>".
    std::int64_t aufrufe() const { return aufrufe_; }
    const std::vector<std::string>& aktionen() const { return aktionsProtokoll_; }

  private:
    struct Anwendungszustand {
        SimAnwendung anwendung;
        double zeitlimitSekunden = 0.0;  // 0: no limit set
    };
    struct Element;

    // Charges the call's time; nullptr when the call fails.
    SimKnoten* erreiche(const BfElement& element);
    BfElement elementFuer(Anwendungszustand* a, SimKnoten* k) const;

    SimUhr& uhr_;
    const double startSekunden_;
    const BfFreigabe freigabe_;
    const std::vector<SimPsStand> prozesse_;
    std::vector<Anwendungszustand> anwendungen_;
    std::int64_t aufrufe_ = 0;
    std::vector<std::string> aktionsProtokoll_;
};

}  // namespace hoerspur
