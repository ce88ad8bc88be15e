// The recorder's two output streams: JSON event lines on standard output for the
// host, German log lines on standard error for people.
//
// Thread safety: emit() and log() may be called from any thread without a lock.
// Each call hands the whole line, line feed included, to the descriptor in one
// write(2), so lines of different threads never interleave.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hoerspur {

// Writes `line` and a line feed to the event stream (standard output) in one write.
void emit(std::string_view line);

// Writes `line` and a line feed to the log (standard error) in one write. The caller
// composes the whole line including the "[hoerspur] " prefix.
void log(std::string_view line);

// Redirects emit() and log() to other descriptors, for example to files whose
// lines a caller wants to read back. Returns the previous pair. Descriptors are
// not owned; the caller keeps them open while lines may be written.
struct Ausgabeziele {
    int ereignisFd = 1;
    int logFd = 2;
};
Ausgabeziele setzeAusgabeziele(Ausgabeziele ziele);

// Text to place between the double quotes of a JSON string value. Quote and
// backslash are escaped, tab, line feed and carriage return become a space (the
// line stays one line), other control characters become \u00XX. Invalid UTF-8
// bytes become U+FFFD so the line always parses.
std::string jsonEscape(std::string_view text);

// "%.Nf" in the C locale, whatever the process locale is.
std::string formatFest(double wert, int nachkommastellen);

// One function per event line; each returns the complete line without line feed.
std::string zeileStarted(bool mic, bool system, bool video, bool echo, std::int64_t nullUnixMs);
std::string zeileDegraded(std::string_view channel, std::string_view message);
std::string zeileError(std::string_view message);
// t0/t1 in seconds; spracheMs only while the channel carries a speech mask.
std::string zeileChunk(std::int64_t index, std::string_view channel, std::string_view path,
                       double t0Sekunden, double t1Sekunden, std::optional<std::int64_t> spracheMs);
// event is "video_start" or "video_wechsel"; art is one of the program's own words.
std::string zeileVideoZiel(std::string_view event, std::string_view quelle, std::string_view art,
                           std::int64_t rang, std::string_view grund, double tSekunden);
std::string zeileVideoPause(std::string_view message, double tSekunden);
std::string zeileVideoNone(std::string_view message);
std::string zeileVideo(std::string_view path, std::int64_t frames, std::string_view quelle);
// Appends "chunks_ohne_sprache" to the echo statistics object (a complete object text).
std::string zeileEcho(std::string_view statistikObjekt, std::int64_t chunksOhneSprache);
// them/me are the timelines' report fragments ("them":{...} and "me":{...}).
std::string zeileZeitachse(std::string_view them, std::string_view me);
std::string zeileDone();

}  // namespace hoerspur
