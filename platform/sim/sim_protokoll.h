// What was asked of a simulated backend and what it delivered, kept so that tests
// can assert on it and wait for it.
//
// Thread safety: every member may be called from any thread. The backends update
// the record from their own threads.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace hoerspur {

template <typename Aufrufe>
class SimProtokoll {
  public:
    // A copy of the record as it is now.
    Aufrufe stand() const {
        std::lock_guard lock(mutex_);
        return aufrufe_;
    }

    // Changes the record and wakes every waiter.
    template <typename Aenderung>
    void aendere(Aenderung aenderung) {
        {
            std::lock_guard lock(mutex_);
            aenderung(aufrufe_);
        }
        geaendert_.notify_all();
    }

    // Waits until `bedingung(record)` holds; false when `frist` ran out first.
    template <typename Bedingung>
    bool warte(Bedingung bedingung, std::chrono::milliseconds frist) const {
        std::unique_lock lock(mutex_);
        return geaendert_.wait_for(lock, frist, [&] { return bedingung(aufrufe_); });
    }

  private:
    // unter mutex_
    mutable std::mutex mutex_;
    mutable std::condition_variable geaendert_;
    Aufrufe aufrufe_;
};

}  // namespace hoerspur
