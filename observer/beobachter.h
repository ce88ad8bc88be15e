// Namenspaeher's top level: the command line, the start-up report, the sampling
// loop with its end conditions and the closing report. Everything the program
// needs from outside comes through BeobachterUmgebung, so the same loop runs on
// the desktop's accessibility service and on a simulated one.
//
// Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/barrierefreiheit.h"

namespace hoerspur {

struct BeobachterConfig {
    std::string ordner;  // the call folder, absolute, without trailing "/"
    bool nurEinmal = false;
    double taktSekunden = 2.0;
    std::optional<std::string> ersatzApp;  // lower case
};

inline constexpr double MIN_TAKT_SEKUNDEN = 0.5;
// Longer periods are refused like unreadable ones: the idle report multiplies
// the period by the number of empty scans.
inline constexpr double MAX_TAKT_SEKUNDEN = 86400.0;

// The command line (argument 0 is the program). Nothing with fewer than two
// arguments. Options count anywhere; "--takt" and "--app" take the next
// argument, the first occurrence counts, unusable values are ignored.
std::optional<BeobachterConfig> parseBeobachterArgs(const std::vector<std::string>& argumente);

// The period as the shortest decimal text that reads back exactly, with a
// fractional part: "2.0", "0.75".
std::string taktText(double taktSekunden);

inline constexpr const char* AUFRUF = "Aufruf: Namenspaeher <call-ordner> [--takt n] [--einmal]";

struct BeobachterUmgebung {
    Barrierefreiheit* bf = nullptr;
    // Standard output of "/bin/ps" with its six arguments; nothing when it could
    // not run.
    std::function<std::optional<std::string>()> prozessListe;
    std::function<std::int32_t()> eigenePid;
    std::function<std::int32_t()> elternPid;
    // Seconds on a monotonic clock (walk budget).
    std::function<double()> monoSekunden;
    // Wall-clock milliseconds since 1970 ("t_ms", findings time stamp).
    std::function<std::int64_t()> unixMs;
    // Waits up to the given seconds; returns early, with true, once a stop was
    // requested (at once when one is pending). 0 only asks.
    std::function<bool(double)> warteAufStop;
    // Waits the given seconds whatever happens.
    std::function<void(double)> schlafe;
};

// The whole program; returns its exit status: 0 normal end or no process to
// observe, 2 usage, 3 no accessibility permission.
int namenspaeher(const std::vector<std::string>& argumente, BeobachterUmgebung& umgebung);

}  // namespace hoerspur
