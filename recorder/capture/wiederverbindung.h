// Brings a capture back after its stream stopped by itself (sound server gone,
// device removed): one attempt at once, then one about every second, on a thread
// of its own, until an attempt succeeds or the capture is stopped for good.
//
// Threads: ausgefallen() may be called from any thread, a capture's delivery thread
// included; it never waits. beende() never waits for an attempt that runs. The
// attempts run one at a time on the object's own thread, started at the first
// ausgefallen(). The destructor ends it and waits for a running attempt.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace hoerspur {

class Wiederverbindung {
  public:
    // One attempt; true when the capture runs again (or has nothing left to do).
    using Versuch = std::function<bool()>;

    static constexpr std::chrono::milliseconds ABSTAND{1000};

    // `threadName`: at most 15 bytes.
    Wiederverbindung(std::string threadName, Versuch versuch,
                     std::chrono::milliseconds abstand = ABSTAND);
    ~Wiederverbindung();
    Wiederverbindung(const Wiederverbindung&) = delete;
    Wiederverbindung& operator=(const Wiederverbindung&) = delete;

    // The stream stopped: start attempting. A second call while attempts run
    // changes nothing.
    void ausgefallen();

    // No further attempts; an attempt that runs is left to finish.
    void beende();

  private:
    void schleife();

    // fest nach dem Bau
    const std::string threadName_;
    const Versuch versuch_;
    const std::chrono::milliseconds abstand_;

    // unter mutex_
    std::mutex mutex_;
    std::condition_variable wach_;
    bool ausgefallen_ = false;
    bool beendet_ = false;
    std::thread thread_;
};

}  // namespace hoerspur
