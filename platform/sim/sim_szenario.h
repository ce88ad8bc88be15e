// Loads a simulated platform's scenario from a JSON file, for the test-only
// recorder executable and for tests. The format is described in
// docs/sim-szenario.md.
//
// Reentrant; nothing is shared.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/sim_plattform.h"

namespace hoerspur {

// A scenario that cannot be read; what() names the file or key and what is wrong.
class SzenarioFehler : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The bytes of a file named in a scenario; throws SzenarioFehler when unreadable.
using SzenarioDateiLeser = std::function<std::vector<std::uint8_t>(const std::string& pfad)>;

// Reads the file at `pfad`; WAV paths in it are relative to the file's folder.
SimSzenario ladeSzenario(const std::string& pfad);

// The same on the text of a scenario. Relative WAV paths are joined to
// `basisOrdner` and read with `leser` (the file system when empty).
SimSzenario parseSzenario(std::string_view text, const std::string& basisOrdner,
                          const SzenarioDateiLeser& leser = {});

}  // namespace hoerspur
