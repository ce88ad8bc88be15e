// The video writer on FFmpeg: libx264 into a fragmented MPEG-4 file.
//
// File: one H.264 track whose timescale is 90000 per second; a picture's
// presentation time is (its host time − the session start) in that unit,
// rounded. The encoder reorders no frames (decode order = presentation order),
// so the times of a variable frame rate go through unchanged and every frame
// lasts until the next one; the last lasts until beendeSitzung() or one
// fifteenth of a second.
//
// Crash safety: the file is fragmented (an empty movie header, then one
// fragment per key frame). A key frame comes at least every
// maxKeyframeAbstandBilder frames and at least every 2 s of source time; each
// fragment is written out once complete (so a killed process leaves a file
// that players read up to its last complete fragment) and synced to disk (so
// does a power cut). beende() writes the last fragment and the fragment index.
//
// Colours: BT.709, limited range, 4:2:0 (tagged so in the stream).
//
// Threads: encoding and writing run on the writer's own thread
// ("video.kodierer"). haengeAn() converts the picture into a free place of a
// small pool of encoder pictures allocated by starteSchreiben() and returns;
// when every place is taken the picture is refused.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/video_schreiber.h"

namespace hoerspur {

struct FfmpegSchreiberOptionen {
    // Pictures taken but not yet encoded, at most.
    int pufferPlaetze = 3;
    // Runs on the encoder thread before each picture is encoded; lets a test
    // make the encoder slow.
    std::function<void()> vorKodieren;
};

// Throws PlattformFehler when the folder of `pfad` does not exist or cannot be
// written. Nothing is created on disk before starteSchreiben().
std::unique_ptr<VideoSchreiber> neuerFfmpegVideoSchreiber(const std::string& pfad,
                                                          FfmpegSchreiberOptionen optionen = {});

}  // namespace hoerspur
