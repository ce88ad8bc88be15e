// The simulated screen-capture service: scripted displays, a window list that
// changes on a scripted timeline, and the system audio, a scripted source that
// plays on while streams come and go (a new stream continues where the last one
// stopped), delivered on its own thread ("sck.audio").
//
// Thread safety: every member may be called from any thread. A stream must not
// be stopped for good (destroyed) from inside its own sample callback.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/bildschirm_aufnahme.h"
#include "platform/plattform_fehler.h"
#include "platform/sim/sim_protokoll.h"
#include "platform/sim/sim_quelle.h"

namespace hoerspur {

// One step of the scripted window list: from `abSekunden` (seconds after the
// simulated clock's start value) until the next step the service lists
// `fenster`, or refuses with `fehler` when that is set.
struct SimFensterSchritt {
    double abSekunden = 0.0;
    std::vector<TeilbaresFenster> fenster;
    std::optional<PlattformFehler> fehler;
};

// Steps in ascending `abSekunden`; before the first step the list is empty.
using SimFensterplan = std::vector<SimFensterSchritt>;

// How the simulated service behaves.
struct SimSystemAudio {
    SimQuelle quelle;
    std::vector<Display> displays{Display{1, 1920, 1080}};
    // The windows teilbarerInhalt() lists, by the simulated clock.
    SimFensterplan fenster;
    // teilbarerInhalt() and systemAudioDisplays() are refused with this error.
    std::optional<PlattformFehler> inhaltFehler;
    // Every stream start is refused with this error.
    std::optional<PlattformFehler> startFehler;
    // The service ends the running stream by itself once, after so many buffers of
    // the source, reporting this text.
    std::optional<std::uint64_t> stopptSelbstNach;
    std::string stopFehlerText =
        PlattformFehler("sim", -3821, "Stream vom System beendet").vollText();
    // Buffers lost while the stream is away, the one at which it stopped included.
    std::uint64_t ausfallPuffer = 1;
    // So many stream starts after that stop are refused: the service is not back yet.
    int neustartsVerweigert = 0;
    // A stream start takes this long before it returns or throws.
    double startVerzoegerungSekunden = 0.0;
};

struct SimSystemAudioAufrufe {
    int inhaltAbfragen = 0;   // teilbarerInhalt() and systemAudioDisplays(), refused ones included
    int fensterAbfragen = 0;  // teilbarerInhalt() alone
    int starts = 0;           // refused ones included
    std::vector<Display> displays;                          // asked for, per start
    std::vector<SystemAudioKonfiguration> konfigurationen;  // asked for, per start
    int stopps = 0;                                         // calls of stoppe()
    int laufend = 0;                                        // streams started and not stopped
    std::uint64_t geliefert = 0;                            // sample callbacks made
    int selbstGestoppt = 0;                                 // streams the service ended
    bool erschoepft = false;                                // the source's script has ended
};

using SimSystemAudioProtokoll = SimProtokoll<SimSystemAudioAufrufe>;

class SimBildschirmAufnahme final : public BildschirmAufnahme {
  public:
    // `uhr` gives host clock seconds; the window plan counts from `uhrStartSekunden`.
    SimBildschirmAufnahme(SimSystemAudio systemAudio, std::function<double()> uhr,
                          double uhrStartSekunden,
                          std::shared_ptr<SimSystemAudioProtokoll> protokoll);

    TeilbarerInhalt teilbarerInhalt() override;
    std::vector<Display> systemAudioDisplays() override;
    std::unique_ptr<SystemAudioStrom> starteSystemAudio(
        const Display& display, const SystemAudioKonfiguration& konfiguration,
        SampleFunktion proSample, StopFunktion beiStop) override;

    class Geraet;  // the source the streams attach to

  private:
    // fest nach dem Bau
    const SimSystemAudio systemAudio_;
    const std::function<double()> uhr_;
    const double uhrStartSekunden_;
    const std::shared_ptr<SimSystemAudioProtokoll> protokoll_;
    const std::shared_ptr<Geraet> geraet_;
};

}  // namespace hoerspur
