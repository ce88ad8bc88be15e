// The host clock of the simulated platform: scripted (it moves only when a test
// moves it) or running with real time from a chosen start value.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <chrono>
#include <mutex>

namespace hoerspur {

class SimUhr {
  public:
    explicit SimUhr(double startSekunden = 1000.0, bool laeuft = false);

    // Current host clock seconds.
    double jetzt() const;
    // Jumps to `sekunden` (a running clock goes on from there).
    void setze(double sekunden);
    void vorruecken(double sekunden);
    bool laeuft() const { return laeuft_; }

  private:
    // fest nach dem Bau
    const bool laeuft_;

    // unter mutex_
    mutable std::mutex mutex_;
    double basisSekunden_;
    std::chrono::steady_clock::time_point basisMoment_;
};

}  // namespace hoerspur
