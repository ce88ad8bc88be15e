#include "platform/audio_puffer.h"

#include <cmath>

namespace hoerspur {

bool AudioFormat::gueltig() const {
    return std::isfinite(sampleRateHz) && sampleRateHz > 0.0 && kanaele >= 1;
}

PcmPuffer::PcmPuffer(AudioFormat format, std::uint32_t frameKapazitaet) : format_(format) {
    if (!format.gueltig()) return;
    kapazitaet_ = frameKapazitaet;
    laenge_ = frameKapazitaet;
    const std::size_t samples = static_cast<std::size_t>(frameKapazitaet) * format.kanaele;
    if (format.art == SampleArt::float32) {
        floats_.assign(samples, 0.0f);
    } else {
        int16s_.assign(samples, 0);
    }
}

void PcmPuffer::setzeFrameLaenge(std::uint32_t frames) {
    laenge_ = frames < kapazitaet_ ? frames : kapazitaet_;
}

std::size_t PcmPuffer::arrayAnzahl() const {
    if (!format_ || !format_->gueltig()) return 0;
    return format_->verschraenkt ? 1 : format_->kanaele;
}

std::size_t PcmPuffer::samplesProArray() const {
    if (!format_) return 0;
    return format_->verschraenkt ? static_cast<std::size_t>(kapazitaet_) * format_->kanaele
                                 : kapazitaet_;
}

std::span<float> PcmPuffer::floatDaten(std::size_t index) {
    if (floats_.empty() || index >= arrayAnzahl()) return {};
    return std::span<float>(floats_).subspan(index * samplesProArray(), samplesProArray());
}

std::span<const float> PcmPuffer::floatDaten(std::size_t index) const {
    if (floats_.empty() || index >= arrayAnzahl()) return {};
    return std::span<const float>(floats_).subspan(index * samplesProArray(), samplesProArray());
}

std::span<std::int16_t> PcmPuffer::int16Daten(std::size_t index) {
    if (int16s_.empty() || index >= arrayAnzahl()) return {};
    return std::span<std::int16_t>(int16s_).subspan(index * samplesProArray(), samplesProArray());
}

std::span<const std::int16_t> PcmPuffer::int16Daten(std::size_t index) const {
    if (int16s_.empty() || index >= arrayAnzahl()) return {};
    return std::span<const std::int16_t>(int16s_).subspan(index * samplesProArray(),
                                                          samplesProArray());
}

}  // namespace hoerspur
