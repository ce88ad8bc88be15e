#include "basis/ausgabe.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

namespace hoerspur {

namespace {

std::atomic<int> gEreignisFd{1};
std::atomic<int> gLogFd{2};

// One write(2) for the whole line; only a short write (pipe full, signal) is
// continued, so a line is never split by another thread's line in the normal case.
void schreibeZeile(int fd, std::string_view line) {
    std::string ganz;
    ganz.reserve(line.size() + 1);
    ganz.append(line);
    ganz.push_back('\n');
    const char* p = ganz.data();
    size_t rest = ganz.size();
    while (rest > 0) {
        const ssize_t n = ::write(fd, p, rest);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;  // nobody to tell: the stream itself is gone
        }
        p += n;
        rest -= static_cast<size_t>(n);
    }
}

}  // namespace

void emit(std::string_view line) {
    schreibeZeile(gEreignisFd.load(), line);
}

void log(std::string_view line) {
    schreibeZeile(gLogFd.load(), line);
}

Ausgabeziele setzeAusgabeziele(Ausgabeziele ziele) {
    Ausgabeziele alt;
    alt.ereignisFd = gEreignisFd.exchange(ziele.ereignisFd);
    alt.logFd = gLogFd.exchange(ziele.logFd);
    return alt;
}

}  // namespace hoerspur
