// The recorder's event lines for the host, one composer per line. Lines are written
// with emit() (basis/ausgabe.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "recorder/audiofiles/channel_chunker.h"
#include "recorder/capture/zeitachse.h"
#include "recorder/echo/echo_strecke.h"
#include "recorder/video/video_meldung.h"

namespace hoerspur {

// One function per event line; each returns the complete line without line feed.
std::string zeileStarted(bool mic, bool system, bool video, bool echo, std::int64_t nullUnixMs);
std::string zeileDegraded(std::string_view channel, std::string_view message);
std::string zeileError(std::string_view message);
// t0/t1 in seconds; spracheMs only while the channel carries a speech mask.
std::string zeileChunk(std::int64_t index, std::string_view channel, std::string_view path,
                       double t0Sekunden, double t1Sekunden, std::optional<std::int64_t> spracheMs);
std::string zeileChunk(const GeschriebenerChunk& chunk);
// event is "video_start" or "video_wechsel"; art is one of the program's own words.
std::string zeileVideoZiel(std::string_view event, std::string_view quelle, std::string_view art,
                           std::int64_t rang, std::string_view grund, double tSekunden);
std::string zeileVideoPause(std::string_view message, double tSekunden);
std::string zeileVideoNone(std::string_view message);
std::string zeileVideo(std::string_view path, std::int64_t frames, std::string_view quelle);
// The line of a report of the video recorder: video_start, video_wechsel,
// video_pause or video_none.
std::string zeileVideoMeldung(const VideoMeldung& meldung);
// The echo path's statistics at the end of a recording.
std::string zeileEcho(const EchoStatistik& statistik, std::int64_t chunksOhneSprache);
// The result line of the offline echo mode: the statistics and what the run cost.
std::string zeileEchoDatei(const EchoStatistik& statistik, double sekundenAudio,
                           double rechenzeitSekunden, std::int64_t samples,
                           std::int64_t chunksOhneSprache);
// Gaps and overlaps of both timelines.
std::string zeileZeitachse(const Zeitachse& them, const Zeitachse& me);
std::string zeileDone();

}  // namespace hoerspur
