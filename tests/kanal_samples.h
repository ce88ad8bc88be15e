// Test helper: a recording's channel as the host rebuilds it from the announced
// chunk files, and where a sound starts in a channel.
#pragma once

#include <cmath>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "recorder/audiofiles/wav_datei.h"
#include "tests/rekorder.h"

namespace hoerspur {

// Every chunk of `kanal` end to end, in index order; nothing when one of them
// does not read as a WAV file.
inline std::optional<std::vector<float>> chunksAneinander(Rekorder& r, const std::string& kanal) {
    std::vector<float> samples;
    for (const auto& [index, c] : r.chunks(kanal)) {
        const auto daten = liesWav(c["path"].get<std::string>());
        if (!daten) return std::nullopt;
        samples.insert(samples.end(), daten->begin(), daten->end());
    }
    return samples;
}

// The first sample louder than `schwelle` at or after `ab`; the size of `s`
// when there is none.
inline std::size_t ersterLauterSample(const std::vector<float>& s, float schwelle,
                                      std::size_t ab = 0) {
    for (std::size_t i = ab; i < s.size(); ++i) {
        if (std::abs(s[i]) > schwelle) return i;
    }
    return s.size();
}

}  // namespace hoerspur
