#include "basis/ausgabe.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "basis/datei_schreiben.h"

namespace hoerspur {

namespace {

std::atomic<int> gEreignisFd{1};
std::atomic<int> gLogFd{2};

// 0 or the errno of the failure.
int schreibeGanz(int fd, std::string_view text) {
    return schreibeAlles(fd, text.data(), text.size()) ? 0 : errno;
}

// Log lines carry outside text (window titles, library errors): a line feed or
// carriage return in it must not start a line of its own for the reader, so
// control characters other than tab become spaces. Event lines are escaped JSON
// and pass unchanged.
std::string mitZeilenende(std::string_view line) {
    std::string ganz;
    ganz.reserve(line.size() + 1);
    for (const char c : line) {
        const auto u = static_cast<unsigned char>(c);
        ganz.push_back((u < 0x20 && c != '\t') || u == 0x7f ? ' ' : c);
    }
    ganz.push_back('\n');
    return ganz;
}

// One stream's queue and the thread that empties it.
class Schreiber {
  public:
    Schreiber(std::atomic<int>& fd, std::size_t maxBytes, bool ereignisse)
        : fd_(fd), maxBytes_(maxBytes), ereignisse_(ereignisse) {
        thread_ = std::thread([this] { schleife(); });
    }

    ~Schreiber() {
        {
            std::lock_guard<std::mutex> l(mutex_);
            ende_ = true;
        }
        arbeit_.notify_all();
        thread_.join();
    }

    Schreiber(const Schreiber&) = delete;
    Schreiber& operator=(const Schreiber&) = delete;

    // Queues the line; false when it was dropped. `ersterVerlust` is set for the
    // first line dropped since the queue was last empty, so the loss is reported once
    // for as long as the reader lags.
    bool zeile(std::string_view line, bool& ersterVerlust) {
        ersterVerlust = false;
        {
            std::lock_guard<std::mutex> l(mutex_);
            if (tot_) return false;
            if (bytes_ + line.size() + 1 > maxBytes_) {
                ersterVerlust = !voll_;
                voll_ = true;
                return false;
            }
            zeilen_.push_back(mitZeilenende(line));
            bytes_ += zeilen_.back().size();
        }
        arbeit_.notify_one();
        return true;
    }

    bool warteLeer(std::chrono::steady_clock::time_point bis) {
        std::unique_lock<std::mutex> l(mutex_);
        return leer_.wait_until(l, bis, [this] { return zeilen_.empty() && !schreibt_; });
    }

  private:
    void schleife() {
        // SIGPIPE of a write is sent to the writing thread; blocked, it stays pending
        // here and the write returns EPIPE.
        sigset_t alle;
        sigfillset(&alle);
        pthread_sigmask(SIG_BLOCK, &alle, nullptr);
        pthread_setname_np(pthread_self(), ereignisse_ ? "ausgabe.stdout" : "ausgabe.stderr");
        std::unique_lock<std::mutex> l(mutex_);
        for (;;) {
            arbeit_.wait(l, [this] { return ende_ || !zeilen_.empty(); });
            if (zeilen_.empty()) return;  // ende_
            std::string zeile = std::move(zeilen_.front());
            zeilen_.pop_front();
            schreibt_ = true;
            l.unlock();
            const int fehler = schreibeGanz(fd_.load(), zeile);
            l.lock();
            bytes_ -= zeile.size();
            if (fehler != 0) {
                // Nobody reads this stream any more; keeping lines would only fill memory.
                tot_ = true;
                zeilen_.clear();
                bytes_ = 0;
                if (ereignisse_) {
                    // Still "writing" meanwhile, so that leereAusgabe() waits for this line.
                    l.unlock();
                    log(std::string("[hoerspur] Standardausgabe nicht schreibbar (") +
                        std::strerror(fehler) + "): Ereigniszeilen gehen verloren");
                    l.lock();
                }
            }
            schreibt_ = false;
            if (zeilen_.empty()) {
                voll_ = false;  // the reader caught up: a new loss is worth a new line
                leer_.notify_all();
            }
        }
    }

    std::atomic<int>& fd_;
    const std::size_t maxBytes_;
    const bool ereignisse_;

    // unter mutex_
    std::mutex mutex_;
    std::condition_variable arbeit_;
    std::condition_variable leer_;
    std::deque<std::string> zeilen_;
    std::size_t bytes_ = 0;
    bool schreibt_ = false;
    bool tot_ = false;
    bool voll_ = false;
    bool ende_ = false;

    std::thread thread_;  // last: runs on the members above
};

struct Hintergrund {
    std::unique_ptr<Schreiber> ereignisse;
    std::unique_ptr<Schreiber> log;
};

// Set once by starteHintergrundAusgabe(); emit() and log() read it without a lock.
std::atomic<Hintergrund*> gHintergrund{nullptr};
std::mutex gStartMutex;

}  // namespace

void emit(std::string_view line) {
    if (Hintergrund* h = gHintergrund.load(std::memory_order_acquire)) {
        bool ersterVerlust = false;
        if (!h->ereignisse->zeile(line, ersterVerlust) && ersterVerlust) {
            log("[hoerspur] Standardausgabe wird nicht gelesen: Ereigniszeilen gehen verloren");
        }
        return;
    }
    (void)schreibeGanz(gEreignisFd.load(), mitZeilenende(line));
}

void log(std::string_view line) {
    if (Hintergrund* h = gHintergrund.load(std::memory_order_acquire)) {
        bool ersterVerlust = false;
        (void)h->log->zeile(line, ersterVerlust);
        return;
    }
    // Nobody to tell when the log itself cannot be written.
    (void)schreibeGanz(gLogFd.load(), mitZeilenende(line));
}

Ausgabeziele setzeAusgabeziele(Ausgabeziele ziele) {
    Ausgabeziele alt;
    alt.ereignisFd = gEreignisFd.exchange(ziele.ereignisFd);
    alt.logFd = gLogFd.exchange(ziele.logFd);
    return alt;
}

void starteHintergrundAusgabe(std::size_t maxWartendeBytes) {
    std::lock_guard<std::mutex> l(gStartMutex);
    if (gHintergrund.load() != nullptr) return;
    auto* h = new Hintergrund;
    h->ereignisse = std::make_unique<Schreiber>(gEreignisFd, maxWartendeBytes, true);
    h->log = std::make_unique<Schreiber>(gLogFd, maxWartendeBytes, false);
    gHintergrund.store(h, std::memory_order_release);
}

bool leereAusgabe(std::chrono::milliseconds frist) {
    Hintergrund* h = gHintergrund.load(std::memory_order_acquire);
    if (h == nullptr) return true;
    const auto bis = std::chrono::steady_clock::now() + frist;
    // Events first: their writer may still add a log line about a dead stream.
    const bool ereignisse = h->ereignisse->warteLeer(bis);
    return h->log->warteLeer(bis) && ereignisse;
}

void beendeHintergrundAusgabe() {
    std::lock_guard<std::mutex> l(gStartMutex);
    Hintergrund* h = gHintergrund.exchange(nullptr, std::memory_order_acq_rel);
    // Lines queued until now are still written by the writers' last rounds.
    delete h;
}

}  // namespace hoerspur
