#include "platform/sim/sim_bildschirm_aufnahme.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>

#include "platform/sim/sim_lieferung.h"

namespace hoerspur {

namespace {

class SimSystemAudioStrom final : public SystemAudioStrom {
  public:
    SimSystemAudioStrom(const SimSystemAudio& systemAudio, std::function<double()> uhr,
                        std::shared_ptr<SimSystemAudioProtokoll> protokoll,
                        BildschirmAufnahme::SampleFunktion proSample,
                        BildschirmAufnahme::StopFunktion beiStop)
        : protokoll_(std::move(protokoll)),
          proSample_(std::move(proSample)),
          beiStop_(std::move(beiStop)),
          stopptSelbstNach_(systemAudio.stopptSelbstNach),
          stopFehlerText_(systemAudio.stopFehlerText),
          lieferung_(
              systemAudio.quelle, std::move(uhr), "sck.audio",
              [this](SimPuffer& p) { return liefere(p); },
              [this] {
                  protokoll_->aendere([](SimSystemAudioAufrufe& a) { a.erschoepft = true; });
              }) {
        protokoll_->aendere([](SimSystemAudioAufrufe& a) { ++a.laufend; });
        lieferung_.starte();
    }

    ~SimSystemAudioStrom() override { beende(); }

    void stoppe() override {
        protokoll_->aendere([](SimSystemAudioAufrufe& a) { ++a.stopps; });
        beende();
    }

  private:
    void beende() {
        lieferung_.stoppe();
        if (!gestoppt_.exchange(true)) {
            protokoll_->aendere([](SimSystemAudioAufrufe& a) { --a.laufend; });
        }
    }

    bool liefere(SimPuffer& p) {
        if (selbstGestoppt()) return false;
        AudioSampleBuffer puffer{p.gueltig, std::move(p.pcm), p.frames, p.stempelSekunden};
        proSample_(puffer);
        ++geliefert_;
        protokoll_->aendere([](SimSystemAudioAufrufe& a) { ++a.geliefert; });
        return !selbstGestoppt();
    }

    bool selbstGestoppt() {
        if (!stopptSelbstNach_ || geliefert_ < *stopptSelbstNach_) return false;
        beiStop_(stopFehlerText_);
        protokoll_->aendere([](SimSystemAudioAufrufe& a) {
            ++a.selbstGestoppt;
            a.erschoepft = true;
        });
        return true;
    }

    // fest nach dem Bau
    const std::shared_ptr<SimSystemAudioProtokoll> protokoll_;
    const BildschirmAufnahme::SampleFunktion proSample_;
    const BildschirmAufnahme::StopFunktion beiStop_;
    const std::optional<std::uint64_t> stopptSelbstNach_;
    const std::string stopFehlerText_;

    // nur auf dem Lieferthread
    std::uint64_t geliefert_ = 0;

    std::atomic<bool> gestoppt_{false};

    SimLieferung lieferung_;  // last: its thread uses the members above
};

}  // namespace

SimBildschirmAufnahme::SimBildschirmAufnahme(SimSystemAudio systemAudio,
                                             std::function<double()> uhr, double uhrStartSekunden,
                                             std::shared_ptr<SimSystemAudioProtokoll> protokoll)
    : systemAudio_(std::move(systemAudio)),
      uhr_(std::move(uhr)),
      uhrStartSekunden_(uhrStartSekunden),
      protokoll_(std::move(protokoll)) {}

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
    return std::make_unique<SimSystemAudioStrom>(systemAudio_, uhr_, protokoll_,
                                                 std::move(proSample), std::move(beiStop));
}

}  // namespace hoerspur
