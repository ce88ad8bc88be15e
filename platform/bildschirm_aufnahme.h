// The screen-capture service: what can be shared (displays, windows) and the
// streams that capture it. The recorder uses it for the system audio, the window
// probe and the video side.
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

// The application a window belongs to.
struct FensterApp {
    // Identifies the application across versions ("us.zoom.xos"); the platform's
    // own form, or a class name where the platform has no such identifier.
    std::string bundleId;
    // The name the system shows for it ("Zoom").
    std::string name;
    std::optional<std::int32_t> pid;
};

// The frame of a window in screen points, decorations included; origin at the
// top left of the screen.
struct FensterRahmen {
    double x = 0.0;
    double y = 0.0;
    double breite = 0.0;
    double hoehe = 0.0;
};

struct TeilbaresFenster {
    std::uint32_t id = 0;              // the window server's identifier
    std::optional<std::string> titel;  // UTF-8; absent when the window has no title
    std::optional<FensterApp> app;     // absent when no application can be named
    FensterRahmen rahmen;
    bool aufBildschirm = false;  // shown now: not minimised, hidden or on another desktop
    // Stacking layer: 0 for ordinary windows, above 0 for windows that float over
    // them (panels, docks, menus), below 0 for windows kept below.
    std::int64_t ebene = 0;
};

// Displays and windows, front-most window first. Desktop windows (the background,
// desktop icons) are never listed; windows off screen are.
struct TeilbarerInhalt {
    std::vector<Display> displays;
    std::vector<TeilbaresFenster> fenster;
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

    // Asks the window server for what can be shared now. Throws PlattformFehler
    // when the service refuses or cannot be reached. Blocking; any thread.
    virtual TeilbarerInhalt teilbarerInhalt() = 0;

    // The displays whose sound a system-audio stream can capture. Needs no window
    // list, so a platform whose sound does not depend on a window server answers
    // without one. Throws PlattformFehler when the service refuses.
    virtual std::vector<Display> systemAudioDisplays() { return teilbarerInhalt().displays; }

    // Creates and starts an audio capture of `display` and waits until it runs.
    // Throws PlattformFehler when the stream cannot be set up or started.
    virtual std::unique_ptr<SystemAudioStrom> starteSystemAudio(
        const Display& display, const SystemAudioKonfiguration& konfiguration,
        SampleFunktion proSample, StopFunktion beiStop) = 0;
};

}  // namespace hoerspur
