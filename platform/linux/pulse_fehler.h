// Turns libpulse failures into PlattformFehler: the German description says what
// failed, followed by the server's own message (pa_strerror).
#pragma once

#include <string>

#include "platform/plattform_fehler.h"

namespace hoerspur {

// Domain of every error the sound server backend raises.
inline constexpr const char* kPulseDomain = "pulseaudio";

// `was` is the German description of the failed step; `paFehler` a PA_ERR_* code
// (pa_context_errno). The code becomes the error's code.
PlattformFehler pulseFehler(const std::string& was, int paFehler);

}  // namespace hoerspur
