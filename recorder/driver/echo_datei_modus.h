// Offline echo mode ("--echo-datei MIKRO REFERENZ AUSGABE"): runs the echo path over a
// stored microphone WAV against a stored reference WAV, both taken as 16000 Hz, writes
// the cleaned microphone as a 16000 Hz WAV and prints one result line with the echo
// statistics. With "--chunk-ordner" the cleaned stream is also cut into turn chunks.
//
// Thread: runs entirely on the calling thread.
#pragma once

#include <cstdio>

#include "recorder/driver/config.h"

namespace hoerspur {

// Returns the exit status: 0, or 2 when an input cannot be read or the output cannot be
// written. The result line goes to `ergebnis` (buffered; flushed before returning),
// failures to the log, chunk lines to the event stream.
int echoDateiModus(const Config& konfig, std::FILE* ergebnis);
inline int echoDateiModus(const Config& konfig) {
    return echoDateiModus(konfig, stdout);
}

}  // namespace hoerspur
