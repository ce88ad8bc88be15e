#include "basis/datei_schreiben.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace hoerspur {

bool schreibeAlles(int fd, const void* daten, std::size_t anzahl) {
    const char* p = static_cast<const char*>(daten);
    while (anzahl > 0) {
        const ssize_t n = ::write(fd, p, anzahl);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd warte{fd, POLLOUT, 0};
                (void)::poll(&warte, 1, -1);
                continue;
            }
            return false;
        }
        p += n;
        anzahl -= static_cast<std::size_t>(n);
    }
    return true;
}

namespace {

std::string ordnerVon(const std::string& pfad) {
    const std::size_t schnitt = pfad.find_last_of('/');
    if (schnitt == std::string::npos) return ".";
    if (schnitt == 0) return "/";
    return pfad.substr(0, schnitt);
}

// A name beside `pfad` that no other writer of this process or another one picks.
std::string hilfsName(const std::string& pfad) {
    static std::atomic<unsigned> zaehler{0};
    const std::size_t schnitt = pfad.find_last_of('/');
    const std::string ordner = schnitt == std::string::npos ? "" : pfad.substr(0, schnitt + 1);
    const std::string name = schnitt == std::string::npos ? pfad : pfad.substr(schnitt + 1);
    return ordner + "." + name + "." + std::to_string(::getpid()) + "." +
           std::to_string(zaehler.fetch_add(1)) + ".tmp";
}

// Gives the unnamed file `fd` the name `pfad`, replacing a file of that name.
// False with errno set when it cannot be named.
bool benenne(int fd, const std::string& pfad) {
    const std::string quelle = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, quelle.c_str(), AT_FDCWD, pfad.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return true;
    }
    if (errno != EEXIST) return false;
    // Linking never replaces; a second name and a rename do, in one step.
    const std::string hilf = hilfsName(pfad);
    if (::linkat(AT_FDCWD, quelle.c_str(), AT_FDCWD, hilf.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        return false;
    }
    if (::rename(hilf.c_str(), pfad.c_str()) != 0) {
        const int fehler = errno;
        ::unlink(hilf.c_str());
        errno = fehler;
        return false;
    }
    return true;
}

// The bytes on the disk before the file gets its name: otherwise a power cut
// after the naming can leave the named file empty. File systems that cannot
// sync have nothing to wait for.
bool aufDiePlatte(int fd) {
    while (::fdatasync(fd) != 0) {
        if (errno == EINTR) continue;
        return errno == EINVAL || errno == EROFS;
    }
    return true;
}

// For file systems without unnamed files: a hidden name, renamed once complete.
bool schreibeUeberHilfsnamen(const std::string& pfad, std::span<const std::uint8_t> inhalt) {
    const std::string hilf = hilfsName(pfad);
    const int fd = ::open(hilf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = schreibeAlles(fd, inhalt.data(), inhalt.size()) && aufDiePlatte(fd);
    int fehler = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        fehler = errno;
    }
    if (ok && ::rename(hilf.c_str(), pfad.c_str()) != 0) {
        ok = false;
        fehler = errno;
    }
    if (!ok) {
        ::unlink(hilf.c_str());
        errno = fehler;
    }
    return ok;
}

}  // namespace

bool schreibeGanzeDatei(const std::string& pfad, std::span<const std::uint8_t> inhalt) {
    const int fd = ::open(ordnerVon(pfad).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) {
            return schreibeUeberHilfsnamen(pfad, inhalt);
        }
        return false;
    }
    if (!schreibeAlles(fd, inhalt.data(), inhalt.size()) || !aufDiePlatte(fd)) {
        const int fehler = errno;
        ::close(fd);  // the unnamed file goes with it
        errno = fehler;
        return false;
    }
    if (!benenne(fd, pfad)) {
        const int fehler = errno;
        ::close(fd);
        // Without /proc the file cannot be named; write it the other way.
        if (fehler == ENOENT) return schreibeUeberHilfsnamen(pfad, inhalt);
        errno = fehler;
        return false;
    }
    // The bytes are on the disk already: a failing close loses nothing.
    ::close(fd);
    return true;
}

}  // namespace hoerspur
