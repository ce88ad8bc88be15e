// The two window side modes: the meeting choice for a window list read from a
// file ("--fenster-wahl FILE") and the probe of the live windows
// ("--fenster-probe [--alle]"). Each prints its result lines to `ergebnis`
// (buffered; flushed before returning) and returns the exit status.
//
// Thread: the calling thread; the probe asks the platform on a thread of its own
// so that a window server that never answers cannot keep the caller waiting.
#pragma once

#include <chrono>
#include <cstdio>

#include "platform/bildschirm_aufnahme.h"
#include "recorder/driver/config.h"

namespace hoerspur {

// One line: the choice for the windows of the document `konfig.fensterWahl`.
// Returns 0, or 2 (and a log line) when the file cannot be read or is no window
// list document.
int fensterWahlModus(const Config& konfig, std::FILE* ergebnis = stdout);

// How long the probe waits for the window list.
inline constexpr std::chrono::milliseconds PROBE_FRIST{10000};

// One line per meeting client or browser window (per window with
// `konfig.alleFenster`), the count of the others, then the choice among all.
// Returns 0, or 3 after the "fehler" line when the platform refuses the window
// list. When it has not answered within `frist`, the "fehler" line is printed
// and the process ends at once with status 3: the hanging call cannot be undone.
int fensterProbeModus(const Config& konfig, BildschirmAufnahme& dienst,
                      std::FILE* ergebnis = stdout, std::chrono::milliseconds frist = PROBE_FRIST);

}  // namespace hoerspur
