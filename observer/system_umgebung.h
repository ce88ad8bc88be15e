// The observer's outside world on this machine: "/bin/ps" run for real, the
// process's own and parent ids, the monotonic and wall clocks, stop signals.
//
// Main thread only.
#pragma once

#include "observer/beobachter.h"
#include "observer/stop_signale.h"

namespace hoerspur {

// `bf` and `signale` must outlive the returned value.
BeobachterUmgebung systemUmgebung(Barrierefreiheit& bf, StopSignale& signale);

// One run of the process lister with its six arguments.
std::optional<std::string> psAusgabe();

}  // namespace hoerspur
