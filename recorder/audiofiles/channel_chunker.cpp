#include "recorder/audiofiles/channel_chunker.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <utility>

#include "basis/ausgabe.h"
#include "platform/plattform_fehler.h"
#include "recorder/audiofiles/wav_datei.h"

namespace hoerspur {
namespace {

// rate x seconds truncated toward zero; values no sane configuration reaches are
// clamped so that sums of counts cannot overflow.
std::int64_t alsSamples(double produkt) {
    constexpr double GRENZE = 1152921504606846976.0;  // 2^60
    if (!(produkt > 0.0)) return 0;
    if (produkt >= GRENZE) return static_cast<std::int64_t>(GRENZE);
    return static_cast<std::int64_t>(produkt);
}

// Sum of squares with eight independent lanes: vectorisable, and the result does
// not depend on where the samples lie in memory, so equal frames compare equal.
double summeQuadrate(const float* x, std::int64_t n) {
    double bahn[8] = {};
    std::int64_t i = 0;
    for (; i + 8 <= n; i += 8) {
        for (int j = 0; j < 8; ++j) {
            const double v = x[i + j];
            bahn[j] += v * v;
        }
    }
    for (; i < n; ++i) {
        const double v = x[i];
        bahn[0] += v * v;
    }
    return ((bahn[0] + bahn[1]) + (bahn[2] + bahn[3])) +
           ((bahn[4] + bahn[5]) + (bahn[6] + bahn[7]));
}

std::string dateiName(const std::string& channel, std::int64_t index) {
    char nummer[32];
    std::snprintf(nummer, sizeof nummer, "%03lld", static_cast<long long>(index));
    return "chunk_" + channel + "_" + nummer + ".wav";
}

std::string alsPfadKomponente(const std::string& ordner, const std::string& name) {
    if (ordner.empty()) return name;
    const std::size_t letztes = ordner.find_last_not_of('/');
    if (letztes == std::string::npos) return "/" + name;
    return ordner.substr(0, letztes + 1) + "/" + name;
}

}  // namespace

ChannelChunker::ChannelChunker(std::string channel_, std::string outDir_, double rate_,
                               double chunkSeconds, bool turnMode_, double minSeconds,
                               double maxSeconds, double silenceSeconds, float silenceRms_)
    : channel(std::move(channel_)),
      outDir(std::move(outDir_)),
      rate(rate_),
      chunkSamples(alsSamples(rate_ * chunkSeconds)),
      searchSamples(alsSamples(rate_ * 0.8)),
      turnMode(turnMode_),
      minSamples(alsSamples(rate_ * minSeconds)),
      maxSamples(alsSamples(rate_ * maxSeconds)),
      silenceRun(alsSamples(rate_ * silenceSeconds)),
      silenceRms(silenceRms_) {}

void ChannelChunker::append(std::span<const float> samples,
                            std::optional<std::span<const bool>> sprache) {
    std::lock_guard<std::mutex> halten(lock_);
    verdichten();
    const std::size_t vorher = buf_.size();
    buf_.insert(buf_.end(), samples.begin(), samples.end());
    if (sprache && sprache->size() == samples.size()) {
        // Samples that arrived before the first mask count as speech, which keeps
        // every flag beside its own sample.
        if (!mitMaske_) maske_.assign(vorher, 1);
        mitMaske_ = true;
        maske_.insert(maske_.end(), sprache->begin(), sprache->end());
    } else if (mitMaske_) {
        maske_.resize(buf_.size(), 1);
    }
    if (turnMode) {
        schneideTurns();
    } else {
        schneideFest();
    }
}

void ChannelChunker::finalizeRemainder() {
    std::lock_guard<std::mutex> halten(lock_);
    flush(gepuffert());
    verdichten();
}

std::int64_t ChannelChunker::ohneSprache() const {
    std::lock_guard<std::mutex> halten(lock_);
    return ohneSprache_;
}

void ChannelChunker::setzeOhneSprache(std::int64_t anzahl) {
    std::lock_guard<std::mutex> halten(lock_);
    ohneSprache_ = anzahl;
}

std::int64_t ChannelChunker::gepuffert() const {
    return static_cast<std::int64_t>(buf_.size() - anfang_);
}

void ChannelChunker::verdichten() {
    if (anfang_ == 0) return;
    const auto bis = static_cast<std::ptrdiff_t>(anfang_);
    buf_.erase(buf_.begin(), buf_.begin() + bis);
    if (mitMaske_) maske_.erase(maske_.begin(), maske_.begin() + bis);
    anfang_ = 0;
}

std::optional<std::int64_t> ChannelChunker::leisesteFrameMitte(std::int64_t von,
                                                               std::int64_t bis) const {
    const float* daten = buf_.data() + anfang_;
    std::optional<std::int64_t> beste;
    double besteEnergie = 0.0;
    for (std::int64_t s = von; s + FRAME_SAMPLES < bis; s += FRAME_SAMPLES) {
        const double energie = summeQuadrate(daten + s, FRAME_SAMPLES);
        if (!beste || energie < besteEnergie) {
            beste = s;
            besteEnergie = energie;
        }
    }
    if (!beste) return std::nullopt;
    return *beste + FRAME_SAMPLES / 2;
}

void ChannelChunker::schneideFest() {
    for (;;) {
        const std::int64_t n = gepuffert();
        if (n == 0 || n < chunkSamples + searchSamples) return;
        const std::int64_t lo = std::max<std::int64_t>(chunkSamples - searchSamples, 1);
        const std::int64_t hi = chunkSamples + searchSamples;
        flush(leisesteFrameMitte(lo, hi).value_or(chunkSamples));
    }
}

void ChannelChunker::schneideTurns() {
    for (;;) {
        const std::int64_t n = gepuffert();
        if (n == 0) return;
        if (n >= maxSamples) {
            const std::int64_t mitte = std::max(minSamples, maxSamples - searchSamples);
            const std::int64_t von = std::max<std::int64_t>(mitte - searchSamples, 1);
            const std::int64_t bis = std::min(mitte + searchSamples, n);
            flush(leisesteFrameMitte(von, bis).value_or(mitte));
            continue;
        }
        if (n <= minSamples + silenceRun) return;

        if (!scanLaeuft_) {
            scanLaeuft_ = true;
            scanNaechster_ = minSamples;
            pauseAnfang_ = -1;
        }
        const float* daten = buf_.data() + anfang_;
        const double schwelle = silenceRms;
        std::optional<std::int64_t> schnitt;
        while (!schnitt && scanNaechster_ + FRAME_SAMPLES <= n) {
            const std::int64_t s = scanNaechster_;
            scanNaechster_ += FRAME_SAMPLES;
            const double rms = std::sqrt(summeQuadrate(daten + s, FRAME_SAMPLES) /
                                         static_cast<double>(FRAME_SAMPLES));
            if (rms < schwelle) {
                if (pauseAnfang_ < 0) pauseAnfang_ = s;
                if (s + FRAME_SAMPLES - pauseAnfang_ >= silenceRun) {
                    schnitt = std::min(pauseAnfang_ + silenceRun / 2, n);
                }
            } else {
                pauseAnfang_ = -1;
            }
        }
        if (!schnitt) return;
        flush(*schnitt);
    }
}

void ChannelChunker::flush(std::int64_t count) {
    const std::int64_t n = gepuffert();
    if (n < 1) return;
    // A cut always takes at least one sample, so no setting can stall the stream.
    const std::int64_t k = std::clamp<std::int64_t>(count, 1, n);
    const float* chunk = buf_.data() + anfang_;
    const double chunkRms = std::sqrt(summeQuadrate(chunk, k) / static_cast<double>(k));
    std::int64_t markiert = k;
    if (mitMaske_) {
        const std::uint8_t* flags = maske_.data() + anfang_;
        markiert = std::count(flags, flags + k, std::uint8_t{1});
    }
    scanLaeuft_ = false;

    const auto verbrauchen = [&] { anfang_ += static_cast<std::size_t>(k); };
    if (turnMode && chunkRms < static_cast<double>(silenceRms)) {
        globalOffset_ += k;
        verbrauchen();
        return;
    }
    if (mitMaske_ && markiert < minSprache) {
        ++ohneSprache_;
        globalOffset_ += k;
        verbrauchen();
        return;
    }

    const std::int64_t t0 = globalOffset_;
    const std::int64_t t1 = globalOffset_ + k;
    globalOffset_ = t1;
    const std::int64_t index = chunkIndex_++;
    const std::string pfad = alsPfadKomponente(outDir, dateiName(channel, index));
    bool geschrieben = false;
    try {
        writeWav(std::span<const float>(chunk, static_cast<std::size_t>(k)), rate, pfad);
        geschrieben = true;
    } catch (const PlattformFehler& fehler) {
        log("[hoerspur] WAV-Schreibfehler (" + channel + " #" + std::to_string(index) +
            "): " + fehler.beschreibung());
    } catch (const std::bad_alloc&) {
        log("[hoerspur] WAV-Schreibfehler (" + channel + " #" + std::to_string(index) +
            "): kein Speicher");
    }
    verbrauchen();
    if (!geschrieben) return;

    std::optional<std::int64_t> spracheMs;
    if (mitMaske_) {
        spracheMs = static_cast<std::int64_t>(static_cast<double>(markiert) / rate * 1000.0);
    }
    gemeldet(GeschriebenerChunk{index, channel, pfad, static_cast<double>(t0) / rate,
                                static_cast<double>(t1) / rate, spracheMs});
}

}  // namespace hoerspur
