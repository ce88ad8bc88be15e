// The simulated video writer: keeps the rules of a real writer (one input, a
// session before pictures, times that increase, the input's size) and records
// what was asked of it instead of encoding. It can be scripted to refuse its
// creation, its input, its start or its finish, and to be busy for chosen
// pictures. On start it creates the file at its path (empty) as a real writer
// would; a cancel removes it.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/plattform_fehler.h"
#include "platform/sim/sim_protokoll.h"
#include "platform/video_schreiber.h"

namespace hoerspur {

struct SimVideoSchreiberSkript {
    // Creating a writer throws this error.
    std::optional<PlattformFehler> anlegenFehler;
    // fuegeEingangHinzu() says no.
    bool eingangAbgelehnt = false;
    // starteSchreiben() fails with this text as the writer's error.
    std::optional<std::string> startFehler;
    // beende() ends failed with this text.
    std::optional<std::string> abschlussFehler;
    // Writing fails with this text once so many pictures were taken (a full
    // disk): the status turns fehlgeschlagen and no picture is taken after.
    std::optional<std::pair<std::uint64_t, std::string>> fehlerNachBildern;
    // Append attempts (0 is a writer's first haengeAn) that find the writer busy:
    // bereitFuerMehr() is false before them and they are refused.
    std::set<std::uint64_t> nichtBereitBei;
    // Calls of bereitFuerMehr() (0 is a writer's first) that answer false, as an
    // encoder still busy with earlier pictures; a caller that asks first then
    // skips the picture.
    std::set<std::uint64_t> beschaeftigtBeiAbfrage;
};

struct SimVideoSchreiberAufrufe {
    std::vector<std::string> pfade;  // one per writer created (refused ones included)
    std::vector<H264Einstellungen> eingaenge;
    int starts = 0;
    std::optional<double> sitzungStart;
    std::optional<double> sitzungEnde;
    std::uint64_t versuche = 0;    // calls of haengeAn
    std::uint64_t angehaengt = 0;  // pictures taken
    std::vector<double> zeiten;    // presentation times of the pictures taken
    std::uint64_t abgelehnt = 0;   // pictures refused
    int fertigMarkiert = 0;
    int beendet = 0;  // calls of beende() on a started writer
    int abgebrochen = 0;
    SchreiberStatus status = SchreiberStatus::unbekannt;  // of the writer made last
};

using SimVideoSchreiberProtokoll = SimProtokoll<SimVideoSchreiberAufrufe>;

class SimVideoSchreiber final : public VideoSchreiber {
  public:
    SimVideoSchreiber(std::string pfad, SimVideoSchreiberSkript skript,
                      std::shared_ptr<SimVideoSchreiberProtokoll> protokoll);

    bool fuegeEingangHinzu(const H264Einstellungen& einstellungen) override;
    bool starteSchreiben() override;
    void starteSitzung(double quellSekunden) override;
    bool bereitFuerMehr() const override;
    bool haengeAn(const BgraBild& bild, double praesentationSekunden) override;
    void markiereFertig() override;
    void beendeSitzung(double quellSekunden) override;
    void beende() override;
    void brecheAb() override;
    SchreiberStatus status() const override;
    std::string fehlerText() const override;

  private:
    // unter mutex_
    void setzeStatus(SchreiberStatus s);

    // fest nach dem Bau
    const std::string pfad_;
    const SimVideoSchreiberSkript skript_;
    const std::shared_ptr<SimVideoSchreiberProtokoll> protokoll_;

    // unter mutex_
    mutable std::mutex mutex_;
    SchreiberStatus status_ = SchreiberStatus::unbekannt;
    std::string fehlerText_;
    std::optional<H264Einstellungen> eingang_;
    std::optional<double> sitzungStart_;
    std::optional<double> letzteZeit_;
    bool fertigMarkiert_ = false;
    std::uint64_t versuche_ = 0;
    mutable std::uint64_t abfragen_ = 0;
    std::uint64_t genommenZahl_ = 0;
};

// A writer factory for the Plattform; throws the script's anlegenFehler.
std::function<std::unique_ptr<VideoSchreiber>(const std::string& pfad)> simVideoSchreiberFabrik(
    SimVideoSchreiberSkript skript, std::shared_ptr<SimVideoSchreiberProtokoll> protokoll);

}  // namespace hoerspur
