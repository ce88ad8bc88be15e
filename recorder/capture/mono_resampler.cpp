#include "recorder/capture/mono_resampler.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <span>
#include <string>

#include "basis/ausgabe.h"

namespace hoerspur {

namespace {

// Far beyond any real signal (nominal range ±1), yet far enough from the float limit
// that garbage input cannot overflow the converter's arithmetic into Inf or NaN.
constexpr float GRENZE = 1000.0f;

// Conversion ratios outside this range come from broken formats; they would need
// output storage out of all proportion to the input.
constexpr double MAX_VERHAELTNIS = 256.0;

float sauber(float x) {
    if (std::isnan(x)) return 0.0f;
    return std::clamp(x, -GRENZE, GRENZE);
}

}  // namespace

void MonoResampler::SoxrLoeschen::operator()(soxr* s) const {
    soxr_delete(s);
}

MonoResampler::MonoResampler(double rateHz) : zielRateHz_(rateHz) {}

MonoResampler::~MonoResampler() = default;

double MonoResampler::verzoegerungSamples() const {
    return stream_ ? soxr_delay(stream_.get()) : 0.0;
}

bool MonoResampler::bereite(const AudioFormat& format) {
    if (stream_ && eingangsFormat_ == format) return true;
    stream_.reset();
    eingangsFormat_.reset();
    const double verhaeltnis = zielRateHz_ / format.sampleRateHz;
    if (!std::isfinite(zielRateHz_) || zielRateHz_ <= 0.0 || verhaeltnis > MAX_VERHAELTNIS ||
        verhaeltnis < 1.0 / MAX_VERHAELTNIS) {
        return false;
    }
    // The channels are mixed down before conversion, so every stream is mono float.
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    // Double precision: in float the symmetric filter cancels exactly at zero crossings
    // that fall on a sample, leaving exact zeros that read as inserted silence.
    soxr_quality_spec_t qualitaet = soxr_quality_spec(SOXR_HQ, SOXR_DOUBLE_PRECISION);
    // Small transforms and a 91 % passband (7.28 kHz at 16 kHz): a filter whose output
    // follows every buffer of 10 ms and more, instead of arriving in bursts every few
    // buffers, with a short delay.
    qualitaet.passband_end = 0.91;
    soxr_runtime_spec_t laufzeit = soxr_runtime_spec(1);
    laufzeit.log2_large_dft_size = 10;
    soxr_error_t fehler = nullptr;
    soxr_t neu =
        soxr_create(format.sampleRateHz, zielRateHz_, 1, &fehler, &io, &qualitaet, &laufzeit);
    if (fehler != nullptr || neu == nullptr) {
        if (neu != nullptr) soxr_delete(neu);
        return false;
    }
    stream_.reset(neu);
    eingangsFormat_ = format;
    return true;
}

void MonoResampler::mischeHerunter(const PcmPuffer& puffer, std::uint32_t frames) {
    const AudioFormat& format = *puffer.format();
    const std::size_t k = format.kanaele;
    if (mono_.size() < frames) mono_.resize(frames);
    std::fill_n(mono_.begin(), frames, 0.0f);
    // Several channels become one by averaging: a source panned to one side stays
    // audible at half level instead of vanishing with an unused channel.
    const float gewicht =
        (format.art == SampleArt::int16 ? 1.0f / 32768.0f : 1.0f) / static_cast<float>(k);
    for (std::size_t c = 0; c < k; ++c) {
        const std::size_t array = format.verschraenkt ? 0 : c;
        const std::size_t start = format.verschraenkt ? c : 0;
        const std::size_t schritt = format.verschraenkt ? k : 1;
        if (format.art == SampleArt::float32) {
            const std::span<const float> d = puffer.floatDaten(array);
            for (std::size_t n = 0; n < frames; ++n) mono_[n] += sauber(d[start + n * schritt]);
        } else {
            const std::span<const std::int16_t> d = puffer.int16Daten(array);
            for (std::size_t n = 0; n < frames; ++n) {
                mono_[n] += static_cast<float>(d[start + n * schritt]);
            }
        }
    }
    for (std::size_t n = 0; n < frames; ++n) mono_[n] *= gewicht;
}

std::optional<std::vector<float>> MonoResampler::process(const PcmPuffer& puffer) {
    const std::optional<AudioFormat>& format = puffer.format();
    if (!format || !format->gueltig()) return std::nullopt;
    const std::uint32_t frames = puffer.frameLaenge();
    if (frames == 0) return std::nullopt;
    if (!bereite(*format)) return std::nullopt;
    mischeHerunter(puffer, frames);

    // Room for everything this buffer yields plus what the converter held back.
    const auto kapazitaet =
        static_cast<std::size_t>(zielRateHz_ / format->sampleRateHz * frames + 1024.0);
    if (ausgabe_.size() < kapazitaet) ausgabe_.resize(kapazitaet);

    const float* ein = mono_.data();
    std::size_t eingabeRest = frames;
    std::size_t geliefert = 0;
    for (;;) {
        std::size_t genommen = 0;
        std::size_t erzeugt = 0;
        // Never passes a null input: that would end the stream and lose its state.
        const soxr_error_t fehler =
            soxr_process(stream_.get(), ein, eingabeRest, &genommen, ausgabe_.data() + geliefert,
                         ausgabe_.size() - geliefert, &erzeugt);
        if (fehler != nullptr) {
            log(std::string("[hoerspur] Resample-Fehler: ") + fehler);
            // The stream stays in its error state; the next buffer starts a new one.
            stream_.reset();
            eingangsFormat_.reset();
            return std::nullopt;
        }
        ein += genommen;
        eingabeRest -= genommen;
        geliefert += erzeugt;
        if (geliefert == ausgabe_.size()) {
            ausgabe_.resize(ausgabe_.size() * 2);  // the converter may have more
        } else if (eingabeRest == 0) {
            break;
        } else if (genommen == 0 && erzeugt == 0) {
            log("[hoerspur] Resample-Fehler: Konverter nimmt keine Eingabe an");
            stream_.reset();
            eingangsFormat_.reset();
            return std::nullopt;
        }
    }
    return std::vector<float>(ausgabe_.begin(), ausgabe_.begin() + static_cast<long>(geliefert));
}

}  // namespace hoerspur
