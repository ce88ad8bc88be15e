// What the computer plays, channel "them": an audio stream of the first display
// from the screen-capture service (48000 Hz, 2 channels, this process's own audio
// excluded). Every sample buffer is turned into mono float at the recording rate,
// placed on the "them" timeline by its presentation time and handed to `weiter`.
//
// When the service ends the stream by itself (sound server gone, output device
// removed), the capture logs it and starts a new stream, trying about once a second
// for as long as the recording runs; the timeline then shows the missing span as a
// gap.
//
// Ownership: owns the running stream; `zeit` belongs to the caller and must
// outlive the capture.
// Threads: start() and stop() may run on different threads, also at the same
// time; stop() never waits for a start. Sample buffers, and with them `weiter`,
// arrive on the stream's serial delivery thread ("sck.audio"); `weiter` must not
// block for long and must not call setzeWeiter(). Reconnection attempts run on a
// thread of the capture ("system.wieder").
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/bildschirm_aufnahme.h"
#include "recorder/capture/mono_resampler.h"
#include "recorder/capture/wiederverbindung.h"
#include "recorder/capture/zeitachse.h"

namespace hoerspur {

// The audio of a sample buffer as a PCM buffer of its reported frame count.
// Nothing for an invalid buffer, one without a valid format, zero frames, or a
// count beyond an unsigned 32-bit frame count. Frames reported beyond the data
// the buffer holds are not made up: the result ends with the data.
std::optional<PcmPuffer> toPCMBuffer(const AudioSampleBuffer& sample);

class SystemAudioCapture {
  public:
    using Weiter = std::function<void(std::vector<float>)>;

    SystemAudioCapture(double rateHz, Zeitachse& zeit, std::shared_ptr<BildschirmAufnahme> dienst);
    // Stops like stop().
    ~SystemAudioCapture();
    SystemAudioCapture(const SystemAudioCapture&) = delete;
    SystemAudioCapture& operator=(const SystemAudioCapture&) = delete;

    // Initially a function that does nothing. Any thread, any time.
    void setzeWeiter(Weiter weiter);

    // Asks for the shareable content and starts the stream on its first display;
    // returns once it runs and logs "[hoerspur] System-Audio-Capture gestartet".
    // Throws the service's PlattformFehler, or code 1 "kein Display gefunden".
    // A stop() that arrives meanwhile wins: the new stream is stopped at once and
    // start() returns without the log line. After stop() it starts nothing.
    void start();

    // The stream ended by itself and has not come back (yet). Any thread.
    bool ausgefallen() const { return ausgefallen_.load(); }

    // Stops the stream if there is one, for good. Does not wait for a start that
    // is still running (it stops its stream itself). When it returns, `weiter` is
    // not running and is never called again. Safe before start() and twice.
    void stop();

  private:
    // Starts a stream of the first display; throws like start().
    std::unique_ptr<SystemAudioStrom> starteStrom();
    // One attempt to bring the stream back; on the reconnection thread.
    bool wiederverbinden();

    // What the stream's callbacks work with.
    struct Kern {
        Kern(double rateHz, Zeitachse& z);
        void verarbeite(const AudioSampleBuffer& sample);

        // nur auf "sck.audio"
        MonoResampler resampler;
        Zeitachse& zeit;

        // unter weiterMutex; held while `weiter` runs
        std::mutex weiterMutex;
        Weiter weiter;

        // Set by stop(): a stream that a late start brings up delivers nothing.
        std::atomic<bool> gestoppt{false};
    };

    // fest nach dem Bau
    const std::shared_ptr<BildschirmAufnahme> dienst_;
    const std::shared_ptr<Kern> kern_;

    // unter mutex_
    std::mutex mutex_;
    std::unique_ptr<SystemAudioStrom> strom_;
    bool gestoppt_ = false;

    std::atomic<bool> ausgefallen_{false};
    // Failures reported so far: a reconnection clears ausgefallen_ only when no
    // new stream failed while it started.
    std::atomic<std::uint64_t> stoerungen_{0};

    // Held while a stream is being started (start() or an attempt), never by stop().
    std::mutex startMutex_;
    bool fehlschlagGemeldet_ = false;  // unter startMutex_

    Wiederverbindung wiederverbindung_;  // last: its thread uses the members above
};

}  // namespace hoerspur
