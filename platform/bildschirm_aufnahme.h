// The screen-capture service: what can be shared (displays, windows) and the
// streams that capture it. The recorder uses it for the system audio; the video
// side adds window streams.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio_puffer.h"

namespace hoerspur {

struct Display {
    std::uint32_t id = 0;
    std::int32_t breite = 0;
    std::int32_t hoehe = 0;
};

struct TeilbarerInhalt {
    std::vector<Display> displays;
};

// One audio sample buffer of a stream, as the service hands it over.
struct AudioSampleBuffer {
    bool gueltig = true;
    // The audio, with its format when the service could describe it. The frame
    // count is kept apart because the service may report more frames than a
    // buffer can hold.
    PcmPuffer pcm;
    std::uint64_t frames = 0;
    // Presentation time on the host clock (hostSekunden()), when valid.
    std::optional<double> praesentationSekunden;
};

struct SystemAudioKonfiguration {
    double sampleRateHz = 48000;
    std::uint32_t kanaele = 2;
    bool eigenenProzessAusschliessen = true;
};

// A running capture of what a display plays.
class SystemAudioStrom {
  public:
    virtual ~SystemAudioStrom() = default;
    // Stops the capture and waits for it; errors are swallowed. When this
    // returns, no sample callback is running or will run. Safe twice.
    virtual void stoppe() = 0;
};

class BildschirmAufnahme {
  public:
    // Sample buffers arrive one at a time, in order, on the stream's own serial
    // delivery thread ("sck.audio").
    using SampleFunktion = std::function<void(const AudioSampleBuffer&)>;
    // Called at most once when the service ends a running stream by itself;
    // the argument is the error's full textual form.
    using StopFunktion = std::function<void(const std::string& fehlerText)>;

    virtual ~BildschirmAufnahme() = default;

    // Throws PlattformFehler when the service refuses.
    virtual TeilbarerInhalt teilbarerInhalt() = 0;

    // Creates and starts an audio capture of `display` and waits until it runs.
    // Throws PlattformFehler when the stream cannot be set up or started.
    virtual std::unique_ptr<SystemAudioStrom> starteSystemAudio(
        const Display& display, const SystemAudioKonfiguration& konfiguration,
        SampleFunktion proSample, StopFunktion beiStop) = 0;
};

}  // namespace hoerspur
