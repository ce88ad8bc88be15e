// The recorder's side modes in their order of precedence: offline echo
// ("--echo-datei" with three paths), timeline self-test, window choice from a
// file, window probe. Only the first that applies runs.
//
// Thread: the calling thread (the main thread of the program).
#pragma once

#include <optional>

#include "platform/bildschirm_aufnahme.h"
#include "recorder/driver/config.h"

namespace hoerspur {

// The exit status of the side mode `konfig` selects, or nothing when it selects
// none and a recording is wanted. `bildschirm` serves the window probe.
std::optional<int> fuehreSeitenmodusAus(const Config& konfig, BildschirmAufnahme& bildschirm);

}  // namespace hoerspur
