// Runs an external program directly (no shell) and collects its standard output,
// bounded in time and size, so a hanging or flooding program cannot stall the
// caller. Standard error is inherited; stop signals have their default action in
// the child even when the caller blocks them.
//
// Reentrant; blocks the calling thread until the program ended or was killed.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace hoerspur {

struct ProgrammGrenzen {
    double maxSekunden = 10.0;
    std::size_t maxBytes = 16u << 20;
};

// The program's whole standard output once it closed it and exited (whatever its
// exit status), or nothing when it could not be started, ran out of time or wrote
// too much (it is killed then).
std::optional<std::string> fuehreProgrammAus(const std::string& pfad,
                                             const std::vector<std::string>& argumente,
                                             ProgrammGrenzen grenzen = {});

}  // namespace hoerspur
