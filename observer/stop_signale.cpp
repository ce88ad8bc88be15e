#include "observer/stop_signale.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>

namespace hoerspur {

StopSignale::StopSignale() {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    // A closed pipe or a file-size limit must fail the write, not end the program
    // before the closing report.
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    fd_ = ::signalfd(-1, &stop, SFD_CLOEXEC | SFD_NONBLOCK);
}

StopSignale::~StopSignale() {
    if (fd_ >= 0) ::close(fd_);
}

bool StopSignale::warte(double sekunden) {
    using Uhr = std::chrono::steady_clock;
    const auto ende = Uhr::now() + std::chrono::duration_cast<Uhr::duration>(
                                       std::chrono::duration<double>(std::max(sekunden, 0.0)));
    while (!angefordert_) {
        signalfd_siginfo info;
        const ssize_t n = ::read(fd_, &info, sizeof info);
        if (n == static_cast<ssize_t>(sizeof info)) {
            angefordert_ = true;
            break;
        }
        const auto restMs = std::chrono::ceil<std::chrono::milliseconds>(ende - Uhr::now()).count();
        if (restMs <= 0) break;
        pollfd p{fd_, POLLIN, 0};
        // Without a signalfd (it could not be made) this is a plain sleep.
        ::poll(fd_ >= 0 ? &p : nullptr, fd_ >= 0 ? 1 : 0,
               static_cast<int>(std::min<long long>(restMs, 200)));
    }
    return angefordert_;
}

}  // namespace hoerspur
