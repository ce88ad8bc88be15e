// Delivers the buffers of one scripted source, in order, on a thread of its own,
// as the real platform's device or stream thread would.
//
// Ownership: owns its thread. starte() and stoppe() may be called from any thread;
// stoppe() from the delivery thread itself only asks the thread to end. The object
// must not be destroyed on its own delivery thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/sim/sim_quelle.h"

namespace hoerspur {

class SimLieferung {
  public:
    // Hands one buffer on (stamp already absolute); false ends the delivery.
    using Ausliefern = std::function<bool(SimPuffer&)>;

    // `threadName`: at most 15 bytes. `amEnde` runs on the delivery thread once
    // the script has no more buffers.
    SimLieferung(SimQuelle quelle, std::function<double()> uhr, std::string threadName,
                 Ausliefern ausliefern, std::function<void()> amEnde);
    ~SimLieferung();
    SimLieferung(const SimLieferung&) = delete;
    SimLieferung& operator=(const SimLieferung&) = delete;

    // Starts delivering, or resumes after stoppe() with the next buffer, leaving out
    // `ueberspringen` buffers first (lost while the device was away). The base of
    // the stamps is fixed at the first start. No effect while running.
    void starte(std::uint64_t ueberspringen = 0);
    // Ends delivery: when this returns (from another thread), no buffer is being
    // handed on and none will be until the next starte(). Safe twice.
    void stoppe();

    bool aufLieferthread() const;

  private:
    void schleife();

    // fest nach dem Bau
    const SimQuelle quelle_;
    const std::function<double()> uhr_;
    const std::string threadName_;
    const Ausliefern ausliefern_;
    const std::function<void()> amEnde_;

    // nur auf dem Lieferthread, oder davor und danach in starte()
    std::uint64_t index_ = 0;
    std::optional<double> basisSekunden_;
    double letzteLieferSekunden_ = 0.0;
    std::chrono::steady_clock::time_point startMoment_;

    // unter mutex_
    mutable std::mutex mutex_;
    std::condition_variable wach_;
    bool stopp_ = false;
    std::thread thread_;
    std::thread::id threadId_;
};

}  // namespace hoerspur
