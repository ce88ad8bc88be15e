#include "platform/sim/sim_bildschirm_aufnahme.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/sim/sim_lieferung.h"

namespace hoerspur {

// Where a stream's buffers go.
struct SimSystemAudioEmpfaenger {
    BildschirmAufnahme::SampleFunktion proSample;
    BildschirmAufnahme::StopFunktion beiStop;
};

class SimBildschirmAufnahme::Geraet {
  public:
    Geraet(const SimSystemAudio& systemAudio, std::function<double()> uhr,
           std::shared_ptr<SimSystemAudioProtokoll> protokoll)
        : systemAudio_(systemAudio),
          protokoll_(std::move(protokoll)),
          lieferung_(
              systemAudio.quelle, std::move(uhr), "sck.audio",
              [this](SimPuffer& p) { return liefere(p); },
              [this] {
                  protokoll_->aendere([](SimSystemAudioAufrufe& a) { a.erschoepft = true; });
              }) {}

    ~Geraet() { lieferung_.stoppe(); }

    // Attaches a stream and plays on to it. Throws while a restart is refused.
    std::uint64_t verbinde(SimSystemAudioEmpfaenger empfaenger) {
        std::uint64_t ueberspringen = 0;
        std::uint64_t id = 0;
        {
            std::lock_guard lock(mutex_);
            if (ausgefallen_ && verweigert_ < systemAudio_.neustartsVerweigert) {
                ++verweigert_;
                throw PlattformFehler("sim", -3805, "System-Audio noch nicht wieder da");
            }
            id = ++letzteId_;
            aktuell_ = id;
            empfaenger_ = std::make_shared<const SimSystemAudioEmpfaenger>(std::move(empfaenger));
            ueberspringen = std::exchange(ueberspringen_, 0);
        }
        lieferung_.starte(ueberspringen);
        return id;
    }

    // Detaches stream `id`; when it was the one playing, the source pauses and no
    // callback of it runs any more when this returns.
    void trenne(std::uint64_t id) {
        {
            std::lock_guard lock(mutex_);
            if (aktuell_ != id) return;
            aktuell_ = 0;
        }
        lieferung_.stoppe();
        std::lock_guard lock(mutex_);
        if (aktuell_ == 0) empfaenger_.reset();
    }

  private:
    bool liefere(SimPuffer& p) {
        std::shared_ptr<const SimSystemAudioEmpfaenger> empfaenger;
        bool ausfall = false;
        {
            std::lock_guard lock(mutex_);
            empfaenger = empfaenger_;
            if (systemAudio_.stopptSelbstNach && !ausgefallen_ &&
                geliefert_ >= *systemAudio_.stopptSelbstNach) {
                ausgefallen_ = true;
                ausfall = true;
                // This buffer is lost with the stream, and so many after it.
                ueberspringen_ =
                    systemAudio_.ausfallPuffer > 0 ? systemAudio_.ausfallPuffer - 1 : 0;
            }
        }
        if (!empfaenger) return false;
        if (ausfall) {
            empfaenger->beiStop(systemAudio_.stopFehlerText);
            protokoll_->aendere([](SimSystemAudioAufrufe& a) { ++a.selbstGestoppt; });
            return false;
        }
        AudioSampleBuffer puffer{p.gueltig, std::move(p.pcm), p.frames, p.stempelSekunden};
        empfaenger->proSample(puffer);
        {
            std::lock_guard lock(mutex_);
            ++geliefert_;
        }
        protokoll_->aendere([](SimSystemAudioAufrufe& a) { ++a.geliefert; });
        return true;
    }

    // fest nach dem Bau
    const SimSystemAudio systemAudio_;
    const std::shared_ptr<SimSystemAudioProtokoll> protokoll_;

    // unter mutex_
    std::mutex mutex_;
    std::shared_ptr<const SimSystemAudioEmpfaenger> empfaenger_;
    std::uint64_t aktuell_ = 0;  // id of the stream that plays, 0 for none
    std::uint64_t letzteId_ = 0;
    std::uint64_t geliefert_ = 0;
    bool ausgefallen_ = false;
    std::uint64_t ueberspringen_ = 0;
    int verweigert_ = 0;

    SimLieferung lieferung_;  // last: its thread uses the members above
};

namespace {

class SimSystemAudioStrom final : public SystemAudioStrom {
  public:
    SimSystemAudioStrom(std::shared_ptr<SimBildschirmAufnahme::Geraet> geraet, std::uint64_t id,
                        std::shared_ptr<SimSystemAudioProtokoll> protokoll)
        : geraet_(std::move(geraet)), id_(id), protokoll_(std::move(protokoll)) {
        protokoll_->aendere([](SimSystemAudioAufrufe& a) { ++a.laufend; });
    }

    ~SimSystemAudioStrom() override { beende(); }

    void stoppe() override {
        protokoll_->aendere([](SimSystemAudioAufrufe& a) { ++a.stopps; });
        beende();
    }

  private:
    void beende() {
        geraet_->trenne(id_);
        if (!gestoppt_.exchange(true)) {
            protokoll_->aendere([](SimSystemAudioAufrufe& a) { --a.laufend; });
        }
    }

    const std::shared_ptr<SimBildschirmAufnahme::Geraet> geraet_;
    const std::uint64_t id_;
    const std::shared_ptr<SimSystemAudioProtokoll> protokoll_;
    std::atomic<bool> gestoppt_{false};
};

}  // namespace

SimBildschirmAufnahme::SimBildschirmAufnahme(SimSystemAudio systemAudio,
                                             std::function<double()> uhr, double uhrStartSekunden,
                                             std::shared_ptr<SimSystemAudioProtokoll> protokoll)
    : systemAudio_(std::move(systemAudio)),
      uhr_(std::move(uhr)),
      uhrStartSekunden_(uhrStartSekunden),
      protokoll_(std::move(protokoll)),
      geraet_(std::make_shared<Geraet>(systemAudio_, uhr_, protokoll_)) {}

TeilbarerInhalt SimBildschirmAufnahme::teilbarerInhalt() {
    protokoll_->aendere([](SimSystemAudioAufrufe& a) {
        ++a.inhaltAbfragen;
        ++a.fensterAbfragen;
    });
    if (systemAudio_.inhaltFehler) throw *systemAudio_.inhaltFehler;
    TeilbarerInhalt inhalt{systemAudio_.displays, {}};
    const double seitStart = uhr_() - uhrStartSekunden_;
    const SimFensterSchritt* gilt = nullptr;
    for (const SimFensterSchritt& schritt : systemAudio_.fenster) {
        if (schritt.abSekunden > seitStart) break;
        gilt = &schritt;
    }
    if (gilt != nullptr) {
        if (gilt->fehler) throw *gilt->fehler;
        inhalt.fenster = gilt->fenster;
    }
    return inhalt;
}

std::vector<Display> SimBildschirmAufnahme::systemAudioDisplays() {
    protokoll_->aendere([](SimSystemAudioAufrufe& a) { ++a.inhaltAbfragen; });
    if (systemAudio_.inhaltFehler) throw *systemAudio_.inhaltFehler;
    return systemAudio_.displays;
}

std::unique_ptr<SystemAudioStrom> SimBildschirmAufnahme::starteSystemAudio(
    const Display& display, const SystemAudioKonfiguration& konfiguration, SampleFunktion proSample,
    StopFunktion beiStop) {
    protokoll_->aendere([&](SimSystemAudioAufrufe& a) {
        ++a.starts;
        a.displays.push_back(display);
        a.konfigurationen.push_back(konfiguration);
    });
    if (systemAudio_.startVerzoegerungSekunden > 0.0) {
        std::this_thread::sleep_for(
            std::chrono::duration<double>(systemAudio_.startVerzoegerungSekunden));
    }
    if (systemAudio_.startFehler) throw *systemAudio_.startFehler;
    const std::uint64_t id =
        geraet_->verbinde(SimSystemAudioEmpfaenger{std::move(proSample), std::move(beiStop)});
    return std::make_unique<SimSystemAudioStrom>(geraet_, id, protokoll_);
}

}  // namespace hoerspur
