#include "platform/sim/sim_video_schreiber.h"

#include <cmath>
#include <cstdio>
#include <utility>

namespace hoerspur {

SimVideoSchreiber::SimVideoSchreiber(std::string pfad, SimVideoSchreiberSkript skript,
                                     std::shared_ptr<SimVideoSchreiberProtokoll> protokoll)
    : pfad_(std::move(pfad)), skript_(std::move(skript)), protokoll_(std::move(protokoll)) {}

void SimVideoSchreiber::setzeStatus(SchreiberStatus s) {
    status_ = s;
    protokoll_->aendere([s](SimVideoSchreiberAufrufe& a) { a.status = s; });
}

bool SimVideoSchreiber::fuegeEingangHinzu(const H264Einstellungen& einstellungen) {
    std::lock_guard lock(mutex_);
    protokoll_->aendere([&](SimVideoSchreiberAufrufe& a) { a.eingaenge.push_back(einstellungen); });
    if (skript_.eingangAbgelehnt || eingang_ || status_ != SchreiberStatus::unbekannt) return false;
    eingang_ = einstellungen;
    return true;
}

bool SimVideoSchreiber::starteSchreiben() {
    std::lock_guard lock(mutex_);
    protokoll_->aendere([](SimVideoSchreiberAufrufe& a) { ++a.starts; });
    if (status_ != SchreiberStatus::unbekannt || !eingang_) return false;
    if (skript_.startFehler) {
        fehlerText_ = *skript_.startFehler;
        setzeStatus(SchreiberStatus::fehlgeschlagen);
        return false;
    }
    if (std::FILE* f = std::fopen(pfad_.c_str(), "wb")) std::fclose(f);
    setzeStatus(SchreiberStatus::schreibt);
    return true;
}

void SimVideoSchreiber::starteSitzung(double quellSekunden) {
    std::lock_guard lock(mutex_);
    if (status_ != SchreiberStatus::schreibt || sitzungStart_) return;
    sitzungStart_ = quellSekunden;
    protokoll_->aendere([&](SimVideoSchreiberAufrufe& a) { a.sitzungStart = quellSekunden; });
}

bool SimVideoSchreiber::bereitFuerMehr() const {
    std::lock_guard lock(mutex_);
    const bool beschaeftigt = skript_.beschaeftigtBeiAbfrage.count(abfragen_++) != 0;
    return status_ == SchreiberStatus::schreibt && !fertigMarkiert_ && sitzungStart_ &&
           skript_.nichtBereitBei.count(versuche_) == 0 && !beschaeftigt;
}

bool SimVideoSchreiber::haengeAn(const BgraBild& bild, double praesentationSekunden) {
    std::lock_guard lock(mutex_);
    const std::uint64_t versuch = versuche_++;
    const bool genommen =
        status_ == SchreiberStatus::schreibt && !fertigMarkiert_ && sitzungStart_ && eingang_ &&
        !bild.leer() && bild.breite == eingang_->breite && bild.hoehe == eingang_->hoehe &&
        std::isfinite(praesentationSekunden) && praesentationSekunden >= *sitzungStart_ &&
        (!letzteZeit_ || praesentationSekunden > *letzteZeit_) &&
        skript_.nichtBereitBei.count(versuch) == 0;
    if (genommen) letzteZeit_ = praesentationSekunden;
    protokoll_->aendere([&](SimVideoSchreiberAufrufe& a) {
        ++a.versuche;
        if (genommen) {
            ++a.angehaengt;
            a.zeiten.push_back(praesentationSekunden);
        } else {
            ++a.abgelehnt;
        }
    });
    if (genommen && skript_.fehlerNachBildern &&
        ++genommenZahl_ >= skript_.fehlerNachBildern->first) {
        fehlerText_ = skript_.fehlerNachBildern->second;
        setzeStatus(SchreiberStatus::fehlgeschlagen);
    }
    return genommen;
}

void SimVideoSchreiber::markiereFertig() {
    std::lock_guard lock(mutex_);
    if (!fertigMarkiert_)
        protokoll_->aendere([](SimVideoSchreiberAufrufe& a) { ++a.fertigMarkiert; });
    fertigMarkiert_ = true;
}

void SimVideoSchreiber::beendeSitzung(double quellSekunden) {
    protokoll_->aendere([&](SimVideoSchreiberAufrufe& a) { a.sitzungEnde = quellSekunden; });
}

void SimVideoSchreiber::beende() {
    std::lock_guard lock(mutex_);
    if (status_ != SchreiberStatus::schreibt) return;
    fertigMarkiert_ = true;
    protokoll_->aendere([](SimVideoSchreiberAufrufe& a) { ++a.beendet; });
    if (skript_.abschlussFehler) {
        fehlerText_ = *skript_.abschlussFehler;
        setzeStatus(SchreiberStatus::fehlgeschlagen);
    } else {
        setzeStatus(SchreiberStatus::fertig);
    }
}

void SimVideoSchreiber::brecheAb() {
    std::lock_guard lock(mutex_);
    if (status_ == SchreiberStatus::fertig || status_ == SchreiberStatus::abgebrochen) return;
    if (status_ != SchreiberStatus::unbekannt) std::remove(pfad_.c_str());
    protokoll_->aendere([](SimVideoSchreiberAufrufe& a) { ++a.abgebrochen; });
    setzeStatus(SchreiberStatus::abgebrochen);
}

SchreiberStatus SimVideoSchreiber::status() const {
    std::lock_guard lock(mutex_);
    return status_;
}

std::string SimVideoSchreiber::fehlerText() const {
    std::lock_guard lock(mutex_);
    return fehlerText_;
}

std::function<std::unique_ptr<VideoSchreiber>(const std::string& pfad)> simVideoSchreiberFabrik(
    SimVideoSchreiberSkript skript, std::shared_ptr<SimVideoSchreiberProtokoll> protokoll) {
    return [skript = std::move(skript), protokoll = std::move(protokoll)](
               const std::string& pfad) -> std::unique_ptr<VideoSchreiber> {
        protokoll->aendere([&](SimVideoSchreiberAufrufe& a) {
            a.pfade.push_back(pfad);
            a.status = SchreiberStatus::unbekannt;
        });
        if (skript.anlegenFehler) throw *skript.anlegenFehler;
        return std::make_unique<SimVideoSchreiber>(pfad, skript, protokoll);
    };
}

}  // namespace hoerspur
