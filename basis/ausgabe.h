// The two output streams every program of the project writes: machine-readable
// lines on standard output, German log lines for people on standard error.
//
// Thread safety: emit() and log() may be called from any thread without a lock.
// Each line, line feed included, reaches the descriptor in one write(2), so lines
// of different threads never interleave.
//
// By default the calling thread writes the line itself. A program that must never
// be held up by the reader of its streams (the recording: a host that stops reading
// must not stall capture) calls starteHintergrundAusgabe() once; from then on each
// stream has one writer thread, and emit() and log() only queue the line.
#pragma once

#include <chrono>
#include <cstddef>
#include <string_view>

namespace hoerspur {

// Writes `line` and a line feed to the event stream (standard output).
void emit(std::string_view line);

// Writes `line` and a line feed to the log (standard error). The caller composes the
// whole line including its program prefix ("[hoerspur] ").
void log(std::string_view line);

// Redirects emit() and log() to other descriptors, for example to files whose
// lines a caller wants to read back. Returns the previous pair. Descriptors are
// not owned; the caller keeps them open while lines may be written. Lines still
// queued go to the new descriptors.
struct Ausgabeziele {
    int ereignisFd = 1;
    int logFd = 2;
};
Ausgabeziele setzeAusgabeziele(Ausgabeziele ziele);

// Most bytes of lines that wait per stream; a line beyond that is dropped (the first
// dropped event line is reported in the log).
inline constexpr std::size_t MAX_WARTENDE_BYTES = 4 * 1024 * 1024;

// Starts one writer thread per stream (once; later calls do nothing). The writers
// block every signal, so a reader that went away shows as EPIPE, never as SIGPIPE;
// a stream that cannot be written any more drops its lines from then on.
void starteHintergrundAusgabe(std::size_t maxWartendeBytes = MAX_WARTENDE_BYTES);

// Waits until every queued line is written (or dropped with its dead stream), at
// most `frist`; true when nothing waits any more. True at once without writers.
bool leereAusgabe(std::chrono::milliseconds frist);

// Back to writing on the calling thread: waits until every queued line is written,
// however long that takes, and ends the writer threads. For tests; no other thread
// may emit or log meanwhile.
void beendeHintergrundAusgabe();

}  // namespace hoerspur
