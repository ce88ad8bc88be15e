// The screen-capture service of the Linux desktop: windows and screens from the X
// server named by DISPLAY (asked afresh each time), system audio from the sound
// server. Sound needs no X server, so a machine without a display still records.
#pragma once

#include <memory>

#include "platform/bildschirm_aufnahme.h"

namespace hoerspur {

// `ton` serves the system-audio displays and streams.
std::shared_ptr<BildschirmAufnahme> neueLinuxBildschirmAufnahme(
    std::shared_ptr<BildschirmAufnahme> ton);

}  // namespace hoerspur
