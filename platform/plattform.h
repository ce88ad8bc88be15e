// Everything the recorder needs from the operating system, in one place, so that
// the same driver runs on the real backends and on the simulated ones.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/audio_engine.h"
#include "platform/bildschirm_aufnahme.h"
#include "platform/fenster_strom.h"
#include "platform/video_schreiber.h"

namespace hoerspur {

struct Plattform {
    // A new audio engine on the default input device (one per microphone capture).
    std::function<std::unique_ptr<AudioEngine>()> neueAudioEngine;
    // The screen-capture service; lives as long as the Plattform.
    std::shared_ptr<BildschirmAufnahme> bildschirm;
    // Window video streams; lives as long as the Plattform.
    std::shared_ptr<FensterAufnahme> fensterAufnahme;
    // A new video file writer for `pfad`; throws PlattformFehler when the file
    // cannot be written there.
    std::function<std::unique_ptr<VideoSchreiber>(const std::string& pfad)> neuerVideoSchreiber;
    // Host clock seconds (capture time stamps use the same clock).
    std::function<double()> hostSekunden;
    // Wall-clock milliseconds since 1970, truncated.
    std::function<std::int64_t()> unixMs;
};

}  // namespace hoerspur
