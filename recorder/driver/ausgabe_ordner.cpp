#include "recorder/driver/ausgabe_ordner.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

#include "basis/datei_schreiben.h"
#include "platform/plattform_fehler.h"

namespace hoerspur {

namespace {

// Enough to prove that the disk takes data, not only names.
constexpr std::size_t PROBE_BYTES = 4096;

std::string genannt(const std::string& pfad) {
    return "Ausgabeordner \"" + pfad + "\"";
}

// Writes a few kilobytes into the folder and leaves nothing behind; errno on failure.
int probiereSchreiben(const std::string& ordner) {
    const std::vector<char> probe(PROBE_BYTES, 0);
    int fd = ::open(ordner.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    std::string name;
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // No unnamed files on this file system: a hidden one, removed at once.
        name = ordner + "/.hoerspur-probe-" + std::to_string(::getpid());
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    }
    if (fd < 0) return errno;
    int fehler = schreibeAlles(fd, probe.data(), probe.size()) ? 0 : errno;
    if (::close(fd) != 0 && fehler == 0) fehler = errno;
    if (!name.empty()) ::unlink(name.c_str());
    return fehler;
}

}  // namespace

AusgabeOrdner AusgabeOrdner::oeffne(const std::string& pfad) {
    const std::string ordner = pfad.empty() ? "." : pfad;
    std::error_code fehler;
    std::filesystem::create_directories(ordner, fehler);
    if (fehler) throw posixFehler(genannt(pfad) + " nicht anlegbar", fehler.value());

    const int fd = ::open(ordner.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) throw posixFehler(genannt(pfad) + " nicht nutzbar", errno);
    AusgabeOrdner gehalten(fd);  // closes the folder on every way out below

    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            throw PlattformFehler(kPosixDomain, EWOULDBLOCK,
                                  genannt(pfad) + " wird schon von einer anderen Aufnahme benutzt");
        }
        throw posixFehler(genannt(pfad) + " nicht sperrbar", errno);
    }

    // Every file goes in as folder + "/" + name, so that path must fit.
    const long nameMax = ::fpathconf(fd, _PC_NAME_MAX);
    if (ordner.size() + 1 + LAENGSTER_NAME >= PATH_MAX ||
        (nameMax >= 0 && static_cast<std::size_t>(nameMax) < LAENGSTER_NAME)) {
        throw posixFehler(genannt(pfad) + ": Pfad zu lang fuer die Chunk-Dateien", ENAMETOOLONG);
    }

    if (const int schreibFehler = probiereSchreiben(ordner); schreibFehler != 0) {
        throw posixFehler(genannt(pfad) + " nicht beschreibbar", schreibFehler);
    }
    return gehalten;
}

AusgabeOrdner::AusgabeOrdner(AusgabeOrdner&& anderer) noexcept : fd_(anderer.fd_) {
    anderer.fd_ = -1;
}

AusgabeOrdner::~AusgabeOrdner() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace hoerspur
