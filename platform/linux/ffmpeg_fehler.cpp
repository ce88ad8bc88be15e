#include "platform/linux/ffmpeg_fehler.h"

#include <mutex>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace hoerspur {

PlattformFehler ffmpegFehler(const std::string& was, int averror) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    std::string beschreibung = was;
    if (av_strerror(averror, text, sizeof text) == 0 && text[0] != '\0') {
        beschreibung += std::string(": ") + text;
    }
    return PlattformFehler(kFfmpegDomain, averror, beschreibung);
}

void ffmpegStumm() {
    static std::once_flag einmal;
    std::call_once(einmal, [] { av_log_set_level(AV_LOG_QUIET); });
}

}  // namespace hoerspur
