// liesWav's parser on arbitrary bytes: WAV files come from any tool and any disk.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "recorder/audiofiles/wav_datei.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* daten, std::size_t groesse) {
    const auto ergebnis = hoerspur::liesWavAusBytes(std::span<const std::uint8_t>(daten, groesse));
    if (ergebnis) {
        // The result never holds more samples than the file has bytes for.
        if (ergebnis->size() > groesse / 2) std::abort();
        for (const float s : *ergebnis) {
            if (!(s >= -1.0f && s < 1.0f)) std::abort();
        }
    }
    return 0;
}
