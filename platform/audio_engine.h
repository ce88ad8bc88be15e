// The microphone side of the operating system: an audio engine whose input node
// is the default input device, tapped for buffers in the device's own format.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/audio_puffer.h"

namespace hoerspur {

class AudioEngine {
  public:
    // Called for every captured buffer, in order, on one delivery thread of the
    // engine. It must not block for long: the device keeps recording meanwhile.
    using TapFunktion = std::function<void(const PcmPuffer&, const AudioZeit&)>;
    // Called at most once per start, on the delivery thread, when the device or the
    // service ends the running engine by itself (device gone, sound server gone);
    // the argument is the error's full text. It must not block and must not call
    // back into the engine; starte() may be called again from another thread.
    using StoerFunktion = std::function<void(const std::string& fehlerText)>;

    virtual ~AudioEngine() = default;

    // The native format of the input device (bus 0), or nothing when there is no
    // input device to ask.
    virtual std::optional<AudioFormat> eingangsFormat() = 0;

    // Installs the tap on input bus 0. `pufferFrames` is a request; the engine
    // may deliver other sizes. Replaces an earlier tap.
    virtual void installiereTap(std::uint32_t pufferFrames, const AudioFormat& format,
                                TapFunktion tap) = 0;

    // Removes the tap; when this returns, the tap function is not running and
    // will not be called again. Safe without a tap.
    virtual void entferneTap() = 0;

    // Prepares and starts the engine. Throws PlattformFehler when the device
    // cannot be opened; the tap then stays installed and the engine stopped.
    virtual void starte() = 0;

    // Stops the engine. Safe when not running and when called twice, and from
    // another thread while starte() runs: it does not wait for that start, which
    // then leaves the engine stopped.
    virtual void stoppe() = 0;

    // Sets the function told when the engine stops by itself; before starte().
    virtual void beiStoerung(StoerFunktion stoerung) = 0;
};

}  // namespace hoerspur
