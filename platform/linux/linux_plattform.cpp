#include "platform/linux/linux_plattform.h"

#include <chrono>

#include "platform/linux/ffmpeg_video_schreiber.h"
#include "platform/linux/linux_bildschirm_aufnahme.h"
#include "platform/linux/pulse_aufnahme.h"
#include "platform/linux/x11_fenster_aufnahme.h"
#include "platform/uhr.h"

namespace hoerspur {

Plattform linuxPlattform() {
    Plattform p;
    p.neueAudioEngine = [] { return neuePulseAudioEngine(); };
    p.bildschirm = neueLinuxBildschirmAufnahme(neuePulseSystemAudio());
    p.fensterAufnahme = neueX11FensterAufnahme();
    p.neuerVideoSchreiber = [](const std::string& pfad) { return neuerFfmpegVideoSchreiber(pfad); };
    p.hostSekunden = [] { return hostSekunden(); };
    p.unixMs = [] {
        return static_cast<std::int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                             std::chrono::system_clock::now().time_since_epoch())
                                             .count());
    };
    return p;
}

}  // namespace hoerspur
