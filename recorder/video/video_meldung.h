// What the video recorder reports: the moments the host hears of while a
// recording runs, and the finished file at its end. The driver turns them into
// event lines.
//
// Value types; any thread.
#pragma once

#include <cstdint>
#include <string>

#include "recorder/video/wahl.h"

namespace hoerspur {

// What the video side has to tell the host, as it happens.
struct VideoMeldung {
    enum class Art {
        start,     // the first target is filmed
        wechsel,   // another target (or the same one again after a pause or a lost stream)
        pause,     // the meeting window is gone; `text` says why
        keinBild,  // still no meeting window after the waiting time; `text` says why
    };
    Art art = Art::start;
    Wahl ziel;               // start and wechsel
    std::string text;        // pause and keinBild
    double tSekunden = 0.0;  // start, wechsel and pause: seconds since the zero time
};

// A finished video file.
struct VideoErgebnis {
    std::string pfad;
    std::int64_t frames = 0;
    // What was filmed longest, with " (+N weitere)" when there was more.
    std::string quelle;
};

}  // namespace hoerspur
