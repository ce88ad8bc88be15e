// One connection to the sound server (PulseAudio or PipeWire's pulse server):
// a libpulse context served by its own thread (pa_threaded_mainloop).
//
// Every libpulse call on the context or its streams, and every access to state
// that libpulse callbacks touch, happens under the loop lock (Sperre); libpulse
// runs its callbacks on the loop thread with that lock held.
#pragma once

#include <pulse/context.h>
#include <pulse/thread-mainloop.h>

#include <functional>
#include <optional>
#include <string>

#include "platform/plattform_fehler.h"

namespace hoerspur {

struct PulseServerInfo {
    // Empty when the server has none.
    std::string standardQuelle;
    std::string standardSenke;
};

struct PulseGeraeteInfo {
    std::string name;
    double sampleRateHz = 0;
    std::uint32_t kanaele = 0;
    // Sources only: the sink this source monitors, if any. Sinks: their monitor source.
    std::string monitor;
};

class PulseVerbindung {
  public:
    // Connects; `threadName` names the loop thread (at most 15 characters).
    // Throws PlattformFehler when no server answers within a few seconds.
    explicit PulseVerbindung(const char* threadName);
    // Disconnects and ends the loop thread. Must not run on the loop thread.
    ~PulseVerbindung();

    PulseVerbindung(const PulseVerbindung&) = delete;
    PulseVerbindung& operator=(const PulseVerbindung&) = delete;

    // Holds the loop lock; a no-op on the loop thread, which holds it already.
    class Sperre {
      public:
        explicit Sperre(PulseVerbindung& v);
        ~Sperre();
        Sperre(const Sperre&) = delete;
        Sperre& operator=(const Sperre&) = delete;

      private:
        pa_threaded_mainloop* loop_;
    };

    pa_context* kontext() const { return kontext_; }
    pa_threaded_mainloop* loop() const { return loop_; }
    bool aufLoopThread() const;

    // Waits under the lock until `fertig()` or the context fails or the time is
    // up; returns whether `fertig()` became true.
    bool warte(const std::function<bool()>& fertig, double sekunden);

    // Wakes a thread waiting in warte(); on the loop thread only.
    void wecke();

    // Whether the context is still connected.
    bool verbunden() const;
    // The context's last error as a PlattformFehler with `was` in front.
    PlattformFehler fehler(const std::string& was) const;

    // Queries; they take the lock themselves and throw PlattformFehler on failure.
    PulseServerInfo serverInfo();
    // Nothing when the server has no source (sink) of that name.
    std::optional<PulseGeraeteInfo> quelle(const std::string& name);
    std::optional<PulseGeraeteInfo> senke(const std::string& name);

  private:
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* kontext_ = nullptr;
};

}  // namespace hoerspur
