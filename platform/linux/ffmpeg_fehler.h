// Turns FFmpeg failures (negative AVERROR codes, errno values wrapped with
// AVERROR) into PlattformFehler: the German description says what failed,
// followed by FFmpeg's own message (av_strerror).
#pragma once

#include <string>

#include "platform/plattform_fehler.h"

namespace hoerspur {

// Domain of every error the FFmpeg video writer raises.
inline constexpr const char* kFfmpegDomain = "ffmpeg";

// `was` is the German description of the failed step; `averror` the negative
// code the call returned. The code becomes the error's code.
PlattformFehler ffmpegFehler(const std::string& was, int averror);

// Silences FFmpeg's and x264's own messages on standard error, which carries
// only the recorder's log lines; failures reach callers as PlattformFehler.
// Idempotent, any thread.
void ffmpegStumm();

}  // namespace hoerspur
