// The resampler fed arbitrary formats, sizes and sample values: it must never crash,
// never write out of bounds and never deliver NaN or Inf, whatever the input holds.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/audio_puffer.h"
#include "recorder/capture/mono_resampler.h"

namespace {

class Leser {
  public:
    Leser(const std::uint8_t* daten, std::size_t groesse) : daten_(daten), rest_(groesse) {}
    bool leer() const { return rest_ == 0; }
    template <typename T>
    T lies() {
        T wert{};
        const std::size_t n = rest_ < sizeof(T) ? rest_ : sizeof(T);
        std::memcpy(&wert, daten_, n);
        daten_ += n;
        rest_ -= n;
        return wert;
    }

  private:
    const std::uint8_t* daten_;
    std::size_t rest_;
};

constexpr double RATEN[] = {8000.0, 11025.0, 16000.0, 22050.0, 44100.0, 48000.0, 96000.0, 192000.0};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* daten, std::size_t groesse) {
    Leser leser(daten, groesse);
    const std::uint8_t zielWahl = leser.lies<std::uint8_t>();
    hoerspur::MonoResampler resampler(zielWahl % 2 == 0 ? 16000.0 : RATEN[zielWahl % 8]);
    for (int block = 0; block < 16 && !leser.leer(); ++block) {
        const std::uint8_t art = leser.lies<std::uint8_t>();
        double rate = RATEN[art % 8];
        if ((art & 0x08) != 0) rate = leser.lies<double>();  // any value, also NaN or 0
        const std::uint32_t kanaele = leser.lies<std::uint8_t>() % 9;
        const std::uint32_t frames = leser.lies<std::uint16_t>() % 8192;
        const hoerspur::AudioFormat format{
            rate, kanaele,
            (art & 0x10) != 0 ? hoerspur::SampleArt::int16 : hoerspur::SampleArt::float32,
            (art & 0x20) != 0};
        hoerspur::PcmPuffer puffer(format, frames);
        if ((art & 0x40) != 0) puffer.setzeFrameLaenge(leser.lies<std::uint16_t>());
        for (std::size_t a = 0; a < puffer.arrayAnzahl(); ++a) {
            for (float& x : puffer.floatDaten(a)) x = leser.lies<float>();
            for (std::int16_t& x : puffer.int16Daten(a)) x = leser.lies<std::int16_t>();
        }
        const auto aus = resampler.process(puffer);
        if (aus) {
            for (const float x : *aus) {
                if (!std::isfinite(x)) std::abort();
            }
        }
    }
    return 0;
}
