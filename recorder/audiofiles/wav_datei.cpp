#include "recorder/audiofiles/wav_datei.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "basis/datei_schreiben.h"
#include "platform/plattform_fehler.h"

namespace hoerspur {
namespace {

void setzeU16(std::uint8_t* ziel, std::uint16_t wert) {
    ziel[0] = static_cast<std::uint8_t>(wert);
    ziel[1] = static_cast<std::uint8_t>(wert >> 8);
}

void setzeU32(std::uint8_t* ziel, std::uint32_t wert) {
    for (int i = 0; i < 4; ++i) ziel[i] = static_cast<std::uint8_t>(wert >> (8 * i));
}

std::uint16_t leseU16(const std::uint8_t* quelle) {
    return static_cast<std::uint16_t>(quelle[0] | (quelle[1] << 8));
}

std::uint32_t leseU32(const std::uint8_t* quelle) {
    std::uint32_t wert = 0;
    for (int i = 3; i >= 0; --i) wert = (wert << 8) | quelle[i];
    return wert;
}

std::uint64_t leseU64(const std::uint8_t* quelle) {
    std::uint64_t wert = 0;
    for (int i = 7; i >= 0; --i) wert = (wert << 8) | quelle[i];
    return wert;
}

bool istKennung(const std::uint8_t* quelle, const char (&kennung)[5]) {
    return std::memcmp(quelle, kennung, 4) == 0;
}

std::optional<std::vector<std::uint8_t>> leseDatei(const std::string& pfad) {
    const int fd = ::open(pfad.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::vector<std::uint8_t> daten;
    struct stat info {};
    std::size_t groesse = 64 * 1024;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        groesse = static_cast<std::size_t>(info.st_size) + 1;  // +1 sees the end at once
    }
    daten.resize(groesse);
    std::size_t gelesen = 0;
    for (;;) {
        if (gelesen == daten.size()) daten.resize(daten.size() * 2);
        const ssize_t n = ::read(fd, daten.data() + gelesen, daten.size() - gelesen);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        gelesen += static_cast<std::size_t>(n);
    }
    ::close(fd);
    daten.resize(gelesen);
    return daten;
}

// KSDATAFORMAT_SUBTYPE_PCM, the subformat of integer PCM in an extensible format chunk.
constexpr std::uint8_t PCM_SUBFORMAT[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                            0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr std::uint16_t FORMAT_PCM = 1;
constexpr std::uint16_t FORMAT_EXTENSIBLE = 0xFFFE;

// Only 16-bit integer samples can be read as such; anything else would come back
// as noise. `inhalt` is the chunk body, `groesse` its declared size.
bool ist16BitPcm(std::span<const std::uint8_t> inhalt, std::uint32_t groesse) {
    if (groesse < 16 || inhalt.size() < 16) return false;
    const std::uint16_t formatTag = leseU16(&inhalt[0]);
    const std::uint16_t bitsProSample = leseU16(&inhalt[14]);
    if (bitsProSample != 16) return false;
    if (formatTag == FORMAT_PCM) return true;
    if (formatTag != FORMAT_EXTENSIBLE) return false;
    // cbSize 22: valid bits, channel mask, subformat GUID at body offset 24.
    if (groesse < 40 || inhalt.size() < 40) return false;
    return std::memcmp(&inhalt[24], PCM_SUBFORMAT, sizeof PCM_SUBFORMAT) == 0;
}

}  // namespace

WavKopf wavKopf(std::uint32_t rateHz, std::uint64_t datenBytes, std::uint64_t maxDatenBytes) {
    const bool passt = datenBytes <= std::min(maxDatenBytes, MAX_DATEN_BYTES);
    const std::uint32_t datenFeld =
        passt ? static_cast<std::uint32_t>(datenBytes) : WAV_GROESSE_GESAETTIGT;
    const std::uint32_t riffFeld =
        passt ? static_cast<std::uint32_t>(datenBytes + 36) : WAV_GROESSE_GESAETTIGT;

    WavKopf k{};
    std::memcpy(&k[0], "RIFF", 4);
    setzeU32(&k[WAV_OFFSET_RIFF_GROESSE], riffFeld);
    std::memcpy(&k[8], "WAVE", 4);
    std::memcpy(&k[12], "fmt ", 4);
    setzeU32(&k[16], 16);
    setzeU16(&k[20], FORMAT_PCM);
    setzeU16(&k[22], 1);
    setzeU32(&k[WAV_OFFSET_RATE], rateHz);
    setzeU32(&k[28], rateHz * 2);
    setzeU16(&k[32], 2);
    setzeU16(&k[34], 16);
    std::memcpy(&k[36], "data", 4);
    setzeU32(&k[WAV_OFFSET_DATEN_GROESSE], datenFeld);
    return k;
}

std::int16_t alsInt16(float sample) {
    if (!(sample < 1.0f)) return 32767;
    const float begrenzt = sample < -1.0f ? -1.0f : sample;
    return static_cast<std::int16_t>(begrenzt * 32767.0f);
}

void writeWav(std::span<const float> samples, double rate, const std::string& pfad) {
    if (!(rate >= 1.0 && rate < static_cast<double>(MAX_RATE_HZ) + 1.0)) {
        throw posixFehler(pfad, EINVAL);
    }
    const auto rateHz = static_cast<std::uint32_t>(rate);
    const std::uint64_t datenBytes = 2 * static_cast<std::uint64_t>(samples.size());

    std::vector<std::uint8_t> puffer(WAV_KOPF_BYTES + 2 * samples.size());
    const WavKopf kopf = wavKopf(rateHz, datenBytes);
    std::copy(kopf.begin(), kopf.end(), puffer.begin());
    std::uint8_t* ziel = puffer.data() + WAV_KOPF_BYTES;
    for (const float s : samples) {
        setzeU16(ziel, static_cast<std::uint16_t>(alsInt16(s)));
        ziel += 2;
    }

    if (!schreibeGanzeDatei(pfad, puffer)) throw posixFehler(pfad, errno);
}

std::optional<std::vector<float>> liesWavAusBytes(std::span<const std::uint8_t> datei) {
    const std::uint64_t laenge = datei.size();
    if (laenge < 45) return std::nullopt;
    const std::uint8_t* const b = datei.data();

    // Positions are 64-bit: a size field near 2^32 must not wrap the walk back.
    std::uint64_t p = 12;
    std::uint16_t kanaele = 1;
    bool formatLesbar = true;
    std::optional<std::uint64_t> ds64DatenBytes;
    for (;;) {
        // Here p + 8 <= laenge always holds.
        const std::uint32_t groesse = leseU32(b + p + 4);
        if (istKennung(b + p, "data")) break;
        if (istKennung(b + p, "fmt ")) {
            if (p + 12 <= laenge) {
                kanaele = leseU16(b + p + 10);
                if (kanaele == 0) kanaele = 1;
            }
            formatLesbar = ist16BitPcm(datei.subspan(p + 8), groesse);
        } else if (istKennung(b + p, "ds64") && groesse >= 24 && p + 8 + 24 <= laenge) {
            // RF64: the 64-bit RIFF size, then the 64-bit data size.
            ds64DatenBytes = leseU64(b + p + 16);
        }
        const std::uint64_t naechste = p + 8 + groesse + (groesse & 1u);
        if (laenge < naechste + 8) return std::nullopt;
        p = naechste;
    }
    if (!formatLesbar) return std::nullopt;

    const std::uint32_t datenFeld = leseU32(b + p + 4);
    const std::uint64_t anfang = p + 8;
    std::uint64_t datenBytes = datenFeld;
    if (datenFeld == WAV_GROESSE_GESAETTIGT && ds64DatenBytes) datenBytes = *ds64DatenBytes;
    const std::uint64_t ende = anfang + std::min(datenBytes, laenge - anfang);

    const std::uint64_t schritt = 2 * static_cast<std::uint64_t>(kanaele);
    const std::uint64_t frames = (ende - anfang) / schritt;
    std::vector<float> samples(static_cast<std::size_t>(frames));
    const std::uint8_t* quelle = b + anfang;
    for (float& s : samples) {
        s = static_cast<float>(static_cast<std::int16_t>(leseU16(quelle))) * (1.0f / 32768.0f);
        quelle += schritt;
    }
    return samples;
}

std::optional<std::vector<float>> liesWav(const std::string& pfad) {
    const auto daten = leseDatei(pfad);
    if (!daten) return std::nullopt;
    return liesWavAusBytes(*daten);
}

}  // namespace hoerspur
