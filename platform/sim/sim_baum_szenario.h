// Reads a simulated accessibility scenario (trees, process lists, permission)
// from JSON, for the observer's test-only executable and for tests. The format
// is described in docs/sim-baum.md.
//
// Reentrant; nothing is shared.
#pragma once

#include <string>
#include <string_view>

#include "platform/sim/sim_baum.h"
#include "platform/sim/sim_szenario.h"

namespace hoerspur {

// Deepest tree the reader accepts; deeper input is refused, not walked.
inline constexpr int SIM_BAUM_MAX_TIEFE = 256;

// Throws SzenarioFehler naming the key and what is wrong.
SimBaumSzenario parseSimBaum(std::string_view text);
SimBaumSzenario ladeSimBaum(const std::string& pfad);

}  // namespace hoerspur
