#include "recorder/capture/wiederverbindung.h"

#include <pthread.h>

#include <system_error>
#include <utility>

#include "basis/ausgabe.h"

namespace hoerspur {

Wiederverbindung::Wiederverbindung(std::string threadName, Versuch versuch,
                                   std::chrono::milliseconds abstand)
    : threadName_(std::move(threadName)), versuch_(std::move(versuch)), abstand_(abstand) {}

Wiederverbindung::~Wiederverbindung() {
    beende();
    std::thread t;
    {
        std::lock_guard<std::mutex> l(mutex_);
        t = std::move(thread_);
    }
    if (t.joinable()) t.join();
}

void Wiederverbindung::ausgefallen() {
    {
        std::lock_guard<std::mutex> l(mutex_);
        if (beendet_) return;
        ausgefallen_ = true;
        if (!thread_.joinable()) {
            try {
                thread_ = std::thread([this] { schleife(); });
            } catch (const std::system_error& f) {
                log(std::string("[hoerspur] Wiederverbindung nicht moeglich: ") + f.what());
                return;
            }
        }
    }
    wach_.notify_all();
}

void Wiederverbindung::beende() {
    {
        std::lock_guard<std::mutex> l(mutex_);
        beendet_ = true;
    }
    wach_.notify_all();
}

void Wiederverbindung::schleife() {
    pthread_setname_np(pthread_self(), threadName_.substr(0, 15).c_str());
    std::unique_lock<std::mutex> l(mutex_);
    for (;;) {
        wach_.wait(l, [this] { return beendet_ || ausgefallen_; });
        if (beendet_) return;
        ausgefallen_ = false;
        l.unlock();
        const bool wieder = versuch_();
        l.lock();
        if (!wieder) {
            // Try again after the pause, unless the capture is stopped meanwhile.
            ausgefallen_ = true;
            wach_.wait_for(l, abstand_, [this] { return beendet_; });
        }
    }
}

}  // namespace hoerspur
