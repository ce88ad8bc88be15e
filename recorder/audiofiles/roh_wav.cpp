#include "recorder/audiofiles/roh_wav.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <utility>

#include "basis/ausgabe.h"
#include "basis/text.h"
#include "platform/plattform_fehler.h"

namespace hoerspur {
namespace {

constexpr std::chrono::seconds KOPF_INTERVALL{5};
// A disk that fills and frees again in a loop must not flood the log.
constexpr int MAX_MELDUNGEN = 20;

// Writes all of `daten` at `offset`, resuming after short writes and signals; false
// with errno set on failure.
bool schreibeAllesBei(int fd, const std::uint8_t* daten, std::size_t anzahl, std::uint64_t offset) {
    while (anzahl > 0) {
        const ssize_t n = ::pwrite(fd, daten, anzahl, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        daten += n;
        anzahl -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

}  // namespace

std::unique_ptr<RohWav> RohWav::oeffnen(std::string pfad, std::int64_t rateHz,
                                        std::uint64_t maxDatenBytes, Uhr uhr) {
    if (rateHz < 1 || rateHz > MAX_RATE_HZ) throw posixFehler(pfad, EINVAL);
    const int fd = ::open(pfad.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) throw posixFehler(pfad, errno);
    const WavKopf leer = wavKopf(static_cast<std::uint32_t>(rateHz), 0, maxDatenBytes);
    if (!schreibeAllesBei(fd, leer.data(), leer.size(), 0)) {
        const int fehler = errno;
        ::close(fd);
        ::unlink(pfad.c_str());
        throw posixFehler(pfad, fehler);
    }
    return std::unique_ptr<RohWav>(new RohWav(
        std::move(pfad), fd, static_cast<std::uint32_t>(rateHz), maxDatenBytes, std::move(uhr)));
}

RohWav::RohWav(std::string pfad, int fd, std::uint32_t rateHz, std::uint64_t maxDatenBytes, Uhr uhr)
    : pfad_(std::move(pfad)),
      rateHz_(rateHz),
      maxDatenBytes_(maxDatenBytes),
      uhr_(std::move(uhr)),
      fd_(fd),
      letzterKopf_(uhr_()) {}

RohWav::~RohWav() {
    schliessen();
}

WavKopf RohWav::kopf(std::int64_t rateHz, std::uint32_t bytes) {
    return wavKopf(static_cast<std::uint32_t>(rateHz), bytes);
}

void RohWav::schreiben(std::span<const float> samples) {
    if (fd_ < 0 || samples.empty()) return;
    puffer_.resize(2 * samples.size());
    std::uint8_t* ziel = puffer_.data();
    for (const float s : samples) {
        const auto wert = static_cast<std::uint16_t>(alsInt16(s));
        ziel[0] = static_cast<std::uint8_t>(wert);
        ziel[1] = static_cast<std::uint8_t>(wert >> 8);
        ziel += 2;
    }
    // Written at the counted end, not at the file's end: the bytes of a write that
    // failed half-way are overwritten, so the file stays aligned to whole samples.
    const std::uint64_t stilleVorher = ausstehend_;
    if (stilleNachtragen() &&
        schreibeAllesBei(fd_, puffer_.data(), puffer_.size(), WAV_KOPF_BYTES + bytes_)) {
        bytes_ += puffer_.size();
        if (stoerung_) {
            stoerung_ = false;
            if (++meldungen_ <= MAX_MELDUNGEN) {
                log("[hoerspur] Roh-Mikrofon schreibt wieder, " +
                    formatFest(static_cast<double>(stilleVorher) / 2.0 / rateHz_, 2) +
                    " s als Stille nachgetragen");
            }
        }
    } else {
        meldeFehler(errno);
        ausstehend_ += puffer_.size();
    }
    if (uhr_() - letzterKopf_ > KOPF_INTERVALL) kopfNachtragen();
}

bool RohWav::stilleNachtragen() {
    static constexpr std::array<std::uint8_t, 65536> NULLEN{};
    while (ausstehend_ > 0) {
        const auto stueck =
            static_cast<std::size_t>(std::min<std::uint64_t>(ausstehend_, NULLEN.size()));
        if (!schreibeAllesBei(fd_, NULLEN.data(), stueck, WAV_KOPF_BYTES + bytes_)) return false;
        bytes_ += stueck;
        ausstehend_ -= stueck;
    }
    return true;
}

void RohWav::meldeFehler(int fehlerNummer) {
    if (stoerung_) return;
    stoerung_ = true;
    if (++meldungen_ <= MAX_MELDUNGEN) {
        log("[hoerspur] Roh-Mikrofon-Schreibfehler: " +
            posixFehler(pfad_, fehlerNummer).beschreibung());
    }
}

void RohWav::schliessen() {
    if (fd_ < 0) return;
    // The last chance to keep the time of the failed blocks; if it fails, the header
    // declares what the file holds in time order and nothing more.
    if (!stilleNachtragen()) meldeFehler(errno);
    kopfNachtragen();
    // A write that failed half-way may have left bytes past the counted end; they
    // are no part of the recording, and the file ends where its header says.
    struct stat info {};
    if (::fstat(fd_, &info) == 0 &&
        static_cast<std::uint64_t>(info.st_size) > WAV_KOPF_BYTES + bytes_) {
        (void)::ftruncate(fd_, static_cast<off_t>(WAV_KOPF_BYTES + bytes_));
    }
    ::close(fd_);
    fd_ = -1;
}

void RohWav::kopfNachtragen() {
    if (fd_ < 0) return;
    letzterKopf_ = uhr_();
    const WavKopf k = wavKopf(rateHz_, bytes_, maxDatenBytes_);
    // Both fields lie inside the file: patching them needs no new space on the disk.
    (void)schreibeAllesBei(fd_, &k[WAV_OFFSET_RIFF_GROESSE], 4, WAV_OFFSET_RIFF_GROESSE);
    (void)schreibeAllesBei(fd_, &k[WAV_OFFSET_DATEN_GROESSE], 4, WAV_OFFSET_DATEN_GROESSE);
}

}  // namespace hoerspur
