// The simulated microphone: an audio engine whose input device plays a scripted
// source. The tap is called on the engine's own delivery thread ("audio.tap").
//
// Thread safety: every member may be called from any thread, also while the tap
// runs; entferneTap() and stoppe() from inside the tap function do not wait for
// it. Must not be destroyed on its own delivery thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio_engine.h"
#include "platform/plattform_fehler.h"
#include "platform/sim/sim_lieferung.h"
#include "platform/sim/sim_protokoll.h"
#include "platform/sim/sim_quelle.h"

namespace hoerspur {

// How the simulated microphone behaves.
struct SimMikrofon {
    SimQuelle quelle;
    // The native format eingangsFormat() reports; nothing means the format of the
    // source's first buffer (48000 Hz mono float when it has none).
    std::optional<AudioFormat> eingangsFormat;
    // No input device: eingangsFormat() reports nothing.
    bool keinGeraet = false;
    // Every start is refused with this error.
    std::optional<PlattformFehler> startFehler;
    // A start takes this long before it returns or throws.
    double startVerzoegerungSekunden = 0.0;
    // The device stops by itself once, after so many buffers (unplugged, sound
    // server gone); the engine reports it with this text.
    std::optional<std::uint64_t> stopptSelbstNach;
    std::string stopFehlerText =
        PlattformFehler("sim", 560557684, "Eingabegeraet entfernt").vollText();
    // Buffers lost while the device is away, the one at which it stopped included.
    std::uint64_t ausfallPuffer = 1;
    // So many starts after it stopped are refused: the device is not back yet.
    int neustartsVerweigert = 0;
};

struct SimMikrofonAufrufe {
    int engines = 0;  // engines made on this record
    int formatAbfragen = 0;
    std::vector<std::uint32_t> tapPufferFrames;  // requested size of each installed tap
    std::vector<AudioFormat> tapFormate;
    int tapsEntfernt = 0;
    int starts = 0;  // refused ones included
    int stopps = 0;
    bool laeuft = false;
    std::uint64_t geliefert = 0;  // buffers handed to a tap
    bool erschoepft = false;      // the script of an engine has ended
    int selbstGestoppt = 0;       // times the device stopped by itself
};

using SimMikrofonProtokoll = SimProtokoll<SimMikrofonAufrufe>;

class SimAudioEngine final : public AudioEngine {
  public:
    SimAudioEngine(SimMikrofon mikrofon, std::function<double()> uhr,
                   std::shared_ptr<SimMikrofonProtokoll> protokoll);
    ~SimAudioEngine() override;

    std::optional<AudioFormat> eingangsFormat() override;
    void installiereTap(std::uint32_t pufferFrames, const AudioFormat& format,
                        TapFunktion tap) override;
    void entferneTap() override;
    void starte() override;
    void stoppe() override;
    void beiStoerung(StoerFunktion stoerung) override;

  private:
    bool liefere(SimPuffer& puffer);

    // fest nach dem Bau
    const SimMikrofon mikrofon_;
    const std::shared_ptr<SimMikrofonProtokoll> protokoll_;

    // unter zustandMutex_
    std::mutex zustandMutex_;
    StoerFunktion stoerung_;
    std::uint64_t stopps_ = 0;         // calls of stoppe(), so a start sees one that came meanwhile
    bool ausgefallen_ = false;         // the device has stopped by itself (once)
    std::uint64_t ueberspringen_ = 0;  // buffers the next start leaves out
    int verweigert_ = 0;               // restarts refused so far

    // nur auf dem Lieferthread
    std::uint64_t geliefertGesamt_ = 0;
    bool ausfallGeschehen_ = false;

    // unter tapMutex_; held by the delivery thread while the tap runs
    std::mutex tapMutex_;
    std::shared_ptr<TapFunktion> tap_;

    SimLieferung lieferung_;  // last: its thread uses the members above
};

}  // namespace hoerspur
