#include "platform/sim/sim_signal.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <stdexcept>
#include <string>
#include <utility>

namespace hoerspur {

namespace {

std::uint64_t mische(std::uint64_t x) {
    // splitmix64's finaliser: every input bit reaches every output bit.
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

void kopiereAb(const std::vector<float>& quelle, std::uint64_t abFrame, std::span<float> ziel) {
    std::fill(ziel.begin(), ziel.end(), 0.0f);
    if (abFrame >= quelle.size()) return;
    const std::size_t n = std::min<std::uint64_t>(ziel.size(), quelle.size() - abFrame);
    std::copy_n(quelle.begin() + static_cast<std::ptrdiff_t>(abFrame), n, ziel.begin());
}

}  // namespace

SimSignal::SimSignal()
    : SimSignal(1, std::nullopt, [](std::uint32_t, std::uint64_t, std::span<float> ziel) {
          std::fill(ziel.begin(), ziel.end(), 0.0f);
      }) {}

SimSignal::SimSignal(std::uint32_t kanaele, std::optional<std::uint64_t> frames, Fuellung fuellung)
    : kanaele_(kanaele), frames_(frames), fuellung_(std::move(fuellung)) {}

SimSignal SimSignal::mono(std::vector<float> samples) {
    const std::uint64_t frames = samples.size();
    auto daten = std::make_shared<const std::vector<float>>(std::move(samples));
    return SimSignal(1, frames, [daten](std::uint32_t, std::uint64_t ab, std::span<float> ziel) {
        kopiereAb(*daten, ab, ziel);
    });
}

SimSignal SimSignal::proKanal(std::vector<std::vector<float>> kanaele) {
    if (kanaele.empty()) throw std::invalid_argument("Signal ohne Kanaele");
    std::uint64_t frames = 0;
    for (const auto& k : kanaele) frames = std::max<std::uint64_t>(frames, k.size());
    const auto anzahl = static_cast<std::uint32_t>(kanaele.size());
    auto daten = std::make_shared<const std::vector<std::vector<float>>>(std::move(kanaele));
    return SimSignal(anzahl, frames,
                     [daten](std::uint32_t kanal, std::uint64_t ab, std::span<float> ziel) {
                         kopiereAb((*daten)[kanal], ab, ziel);
                     });
}

SimSignal SimSignal::sinus(double frequenzHz, float amplitude, double rateHz) {
    if (!std::isfinite(frequenzHz) || !std::isfinite(rateHz) || rateHz <= 0.0 ||
        !std::isfinite(amplitude)) {
        throw std::invalid_argument("Sinus braucht endliche Frequenz, Amplitude und Rate > 0");
    }
    return SimSignal(1, std::nullopt, [=](std::uint32_t, std::uint64_t ab, std::span<float> ziel) {
        const double schritt = 2.0 * std::numbers::pi * frequenzHz / rateHz;
        for (std::size_t i = 0; i < ziel.size(); ++i) {
            // The phase from the absolute frame index: pieces join exactly.
            const double n = static_cast<double>(ab + i);
            ziel[i] = amplitude * static_cast<float>(std::sin(schritt * n));
        }
    });
}

SimSignal SimSignal::rauschen(std::uint64_t seed, float amplitude) {
    if (!std::isfinite(amplitude)) throw std::invalid_argument("Rauschen braucht eine Amplitude");
    return SimSignal(1, std::nullopt, [=](std::uint32_t, std::uint64_t ab, std::span<float> ziel) {
        const std::uint64_t basis = mische(seed);
        for (std::size_t i = 0; i < ziel.size(); ++i) {
            const std::uint64_t h = mische(basis ^ (ab + i));
            const double einheit = static_cast<double>(h >> 11) * 0x1.0p-53 * 2.0 - 1.0;
            ziel[i] = amplitude * static_cast<float>(einheit);
        }
    });
}

void SimSignal::fuelle(std::uint32_t kanal, std::uint64_t abFrame, std::span<float> ziel) const {
    if (kanal >= kanaele_) {
        if (kanaele_ != 1) {
            std::fill(ziel.begin(), ziel.end(), 0.0f);
            return;
        }
        kanal = 0;
    }
    fuellung_(kanal, abFrame, ziel);
}

namespace {

class WavLeser {
  public:
    explicit WavLeser(std::span<const std::uint8_t> d) : d_(d) {}

    std::uint32_t u16(std::size_t at) const { return d_[at] | (d_[at + 1] << 8); }
    std::uint32_t u32(std::size_t at) const {
        return static_cast<std::uint32_t>(d_[at]) | (static_cast<std::uint32_t>(d_[at + 1]) << 8) |
               (static_cast<std::uint32_t>(d_[at + 2]) << 16) |
               (static_cast<std::uint32_t>(d_[at + 3]) << 24);
    }
    bool kennung(std::size_t at, const char* k) const { return std::memcmp(&d_[at], k, 4) == 0; }

    std::span<const std::uint8_t> d_;
};

[[noreturn]] void wavFehler(const std::string& was) {
    throw std::invalid_argument("WAV-Datei: " + was);
}

float dekodiere(const std::uint8_t* p, std::uint32_t bits, bool gleitkomma) {
    if (gleitkomma) {
        if (bits == 32) {
            std::uint32_t roh = 0;
            for (int i = 3; i >= 0; --i) roh = (roh << 8) | p[i];
            float f = 0.0f;
            std::memcpy(&f, &roh, sizeof f);
            return f;
        }
        std::uint64_t roh = 0;
        for (int i = 7; i >= 0; --i) roh = (roh << 8) | p[i];
        double d = 0.0;
        std::memcpy(&d, &roh, sizeof d);
        return static_cast<float>(d);
    }
    const std::uint32_t bytes = bits / 8;
    std::uint32_t roh = 0;
    for (std::uint32_t i = 0; i < bytes; ++i) roh |= static_cast<std::uint32_t>(p[i]) << (8 * i);
    // Sign-extend by moving the top bit of the sample to bit 31.
    const auto wert = static_cast<std::int32_t>(roh << (32 - bits));
    return static_cast<float>(static_cast<double>(wert) / 2147483648.0);
}

}  // namespace

SimWav liesSimWav(std::span<const std::uint8_t> datei) {
    const WavLeser l(datei);
    if (datei.size() < 12 || !l.kennung(0, "RIFF") || !l.kennung(8, "WAVE")) {
        wavFehler("keine RIFF/WAVE-Datei");
    }
    std::optional<std::size_t> fmtAb;
    std::size_t fmtLaenge = 0;
    std::optional<std::size_t> datenAb;
    std::size_t datenLaenge = 0;
    for (std::size_t at = 12; at + 8 <= datei.size();) {
        const std::size_t laenge = l.u32(at + 4);
        const std::size_t inhalt = at + 8;
        const std::size_t vorhanden = std::min(laenge, datei.size() - inhalt);
        if (l.kennung(at, "fmt ") && !fmtAb) {
            fmtAb = inhalt;
            fmtLaenge = vorhanden;
        } else if (l.kennung(at, "data") && !datenAb) {
            datenAb = inhalt;
            datenLaenge = vorhanden;
        }
        if (laenge > datei.size() - inhalt) break;
        at = inhalt + laenge + (laenge & 1u);  // chunks are padded to even lengths
    }
    if (!fmtAb || fmtLaenge < 16) wavFehler("kein fmt-Block");
    if (!datenAb) wavFehler("kein data-Block");

    std::uint32_t formatTag = l.u16(*fmtAb);
    const std::uint32_t kanaele = l.u16(*fmtAb + 2);
    const std::uint32_t rate = l.u32(*fmtAb + 4);
    const std::uint32_t blockAusrichtung = l.u16(*fmtAb + 12);
    const std::uint32_t bits = l.u16(*fmtAb + 14);
    if (formatTag == 0xFFFE) {
        if (fmtLaenge < 40) wavFehler("erweitertes Format ohne Unterformat");
        formatTag = l.u16(*fmtAb + 24);
    }
    const bool gleitkomma = formatTag == 3;
    if (formatTag != 1 && !gleitkomma) wavFehler("nur PCM- und Gleitkomma-Daten werden gelesen");
    if (gleitkomma ? (bits != 32 && bits != 64) : (bits != 16 && bits != 24 && bits != 32)) {
        wavFehler("nicht unterstuetzte Bittiefe " + std::to_string(bits));
    }
    if (kanaele < 1 || kanaele > 64) wavFehler("Kanalzahl muss 1 bis 64 sein");
    if (rate < 1) wavFehler("Abtastrate 0");
    const std::uint32_t bytesProSample = bits / 8;
    if (blockAusrichtung != kanaele * bytesProSample) wavFehler("Blockausrichtung passt nicht");

    const std::size_t frames = datenLaenge / blockAusrichtung;
    SimWav wav;
    wav.rateHz = rate;
    wav.kanaele.assign(kanaele, std::vector<float>(frames));
    const std::uint8_t* p = datei.data() + *datenAb;
    for (std::size_t n = 0; n < frames; ++n) {
        for (std::uint32_t k = 0; k < kanaele; ++k) {
            wav.kanaele[k][n] = dekodiere(p, bits, gleitkomma);
            p += bytesProSample;
        }
    }
    return wav;
}

}  // namespace hoerspur
