#include "platform/sim/sim_lieferung.h"

#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace hoerspur {

SimLieferung::SimLieferung(SimQuelle quelle, std::function<double()> uhr, std::string threadName,
                           Ausliefern ausliefern, std::function<void()> amEnde)
    : quelle_(std::move(quelle)),
      uhr_(std::move(uhr)),
      threadName_(std::move(threadName)),
      ausliefern_(std::move(ausliefern)),
      amEnde_(std::move(amEnde)) {}

SimLieferung::~SimLieferung() {
    if (aufLieferthread()) {
        // Joining itself is impossible and leaving the thread running is not allowed.
        std::fputs("SimLieferung auf dem eigenen Lieferthread zerstoert\n", stderr);
        std::abort();
    }
    stoppe();
}

bool SimLieferung::aufLieferthread() const {
    std::lock_guard lock(mutex_);
    return thread_.joinable() && std::this_thread::get_id() == threadId_;
}

void SimLieferung::starte(std::uint64_t ueberspringen) {
    std::unique_lock lock(mutex_);
    if (thread_.joinable()) {
        if (!stopp_) return;  // running
        // Asked to end from its own thread; it is ending or has ended.
        std::thread alt = std::move(thread_);
        lock.unlock();
        alt.join();
        lock.lock();
    }
    index_ += ueberspringen;
    if (!basisSekunden_) basisSekunden_ = quelle_.basisSekunden().value_or(uhr_());
    // Real-time pacing resumes where it left off.
    startMoment_ = std::chrono::steady_clock::now() -
                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double>(letzteLieferSekunden_ / quelle_.zeitraffer));
    stopp_ = false;
    thread_ = std::thread([this] { schleife(); });
    threadId_ = thread_.get_id();
}

void SimLieferung::stoppe() {
    std::thread alt;
    {
        std::lock_guard lock(mutex_);
        stopp_ = true;
        if (!thread_.joinable() || std::this_thread::get_id() == threadId_) {
            wach_.notify_all();
            return;
        }
        alt = std::move(thread_);
    }
    wach_.notify_all();
    alt.join();
}

void SimLieferung::schleife() {
    pthread_setname_np(pthread_self(), threadName_.substr(0, 15).c_str());
    for (;; ++index_) {
        if (quelle_.amEnde(index_)) {
            if (amEnde_) amEnde_();
            return;
        }
        std::optional<SimPuffer> puffer = quelle_.puffer(index_);
        if (!puffer) continue;  // dropped by the device
        {
            std::unique_lock lock(mutex_);
            if (quelle_.tempo == SimTempo::echtzeit) {
                const auto faellig =
                    startMoment_ +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(puffer->lieferSekunden / quelle_.zeitraffer));
                wach_.wait_until(lock, faellig, [this] { return stopp_; });
            }
            if (stopp_) return;  // this buffer comes first after a restart
        }
        if (puffer->stempelSekunden) *puffer->stempelSekunden += *basisSekunden_;
        letzteLieferSekunden_ = puffer->lieferSekunden;
        if (!ausliefern_(*puffer)) {
            ++index_;
            std::lock_guard lock(mutex_);
            stopp_ = true;
            return;
        }
    }
}

}  // namespace hoerspur
