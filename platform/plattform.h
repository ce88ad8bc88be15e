// Everything the recorder needs from the operating system, in one place, so that
// the same driver runs on the real backends and on the simulated ones.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/audio_engine.h"
#include "platform/bildschirm_aufnahme.h"

namespace hoerspur {

struct Plattform {
    // A new audio engine on the default input device (one per microphone capture).
    std::function<std::unique_ptr<AudioEngine>()> neueAudioEngine;
    // The screen-capture service; lives as long as the Plattform.
    std::shared_ptr<BildschirmAufnahme> bildschirm;
    // Host clock seconds (capture time stamps use the same clock).
    std::function<double()> hostSekunden;
    // Wall-clock milliseconds since 1970, truncated.
    std::function<std::int64_t()> unixMs;
};

}  // namespace hoerspur
