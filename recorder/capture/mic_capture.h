// The microphone, channel "me": taps the input of the platform's audio engine,
// turns every buffer into mono float at the recording rate, places it on the
// "me" timeline by its host time stamp and hands the result to `weiter`.
//
// When the engine stops by itself (device removed, sound server gone), the capture
// logs it and brings the microphone back, trying about once a second for as long as
// the recording runs; the timeline then shows the missing span as a gap.
//
// Ownership: owns the engine; `zeit` belongs to the caller and must outlive the
// capture. The tap holds the capture's working state only weakly.
// Threads: start() and stop() may run on different threads, also at the same
// time (a stop arriving during the start); stop() never waits for a start. The tap,
// and with it `weiter`, runs on the engine's delivery thread; it must not block for
// long. Reconnection attempts run on a thread of the capture ("mikro.wieder").
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio_engine.h"
#include "recorder/capture/mono_resampler.h"
#include "recorder/capture/wiederverbindung.h"
#include "recorder/capture/zeitachse.h"

namespace hoerspur {

class MicCapture {
  public:
    using Weiter = std::function<void(std::vector<float>)>;

    // Frames per buffer asked of the engine; it may deliver other sizes.
    static constexpr std::uint32_t TAP_PUFFER_FRAMES = 4096;

    // Nothing is started. Throws std::invalid_argument without an engine.
    static std::shared_ptr<MicCapture> erstelle(double rateHz, Zeitachse& zeit,
                                                std::unique_ptr<AudioEngine> engine, Weiter weiter);
    MicCapture(double rateHz, Zeitachse& zeit, std::unique_ptr<AudioEngine> engine, Weiter weiter);
    // Stops like stop().
    ~MicCapture();
    MicCapture(const MicCapture&) = delete;
    MicCapture& operator=(const MicCapture&) = delete;

    // Installs the tap (4096 frames, the engine's input format) and starts the
    // engine; logs "[hoerspur] Mikrofon-Capture gestartet". Throws the engine's
    // PlattformFehler unchanged (the tap then stays installed), or code 2 "kein
    // Mikrofon gefunden" when the engine reports no input format. After stop() it
    // starts nothing.
    void start();

    // Removes the tap and stops the engine, for good; ends reconnection attempts.
    // Does not wait for a start that still runs. When it returns, `weiter` is not
    // running and is never called again. Safe before start() and twice.
    void stop();

    // The engine, for callers that remove the tap and stop it themselves.
    AudioEngine& engine() { return *engine_; }

    // The engine stopped by itself and has not come back (yet). Any thread.
    bool ausgefallen() const { return ausgefallen_.load(); }

  private:
    // What the tap works with; shared with the tap only weakly.
    struct Kern {
        Kern(double rateHz, Zeitachse& z, Weiter w);
        void verarbeite(const PcmPuffer& puffer, const AudioZeit& zeitstempel);

        // nur auf dem Lieferthread
        MonoResampler resampler;
        Zeitachse& zeit;
        const Weiter weiter;

        std::atomic<bool> gestoppt{false};
    };

    // The engine stopped by itself: on its delivery thread.
    void gestoert(const std::string& fehlerText);
    // One attempt to bring the microphone back; on the reconnection thread.
    bool wiederverbinden();

    // fest nach dem Bau
    const std::unique_ptr<AudioEngine> engine_;
    const std::shared_ptr<Kern> kern_;

    std::atomic<bool> ausgefallen_{false};
    // Failures reported so far: a reconnection clears ausgefallen_ only when no
    // new stream failed while it started.
    std::atomic<std::uint64_t> stoerungen_{0};

    // Held while the engine is being started (start() or an attempt), never by stop().
    std::mutex startMutex_;
    bool fehlschlagGemeldet_ = false;  // unter startMutex_

    Wiederverbindung wiederverbindung_;  // last: its thread uses the members above
};

}  // namespace hoerspur
