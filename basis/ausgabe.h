// The two output streams every program of the project writes: machine-readable
// lines on standard output, German log lines for people on standard error.
//
// Thread safety: emit() and log() may be called from any thread without a lock.
// Each call hands the whole line, line feed included, to the descriptor in one
// write(2), so lines of different threads never interleave.
#pragma once

#include <string_view>

namespace hoerspur {

// Writes `line` and a line feed to the event stream (standard output) in one write.
void emit(std::string_view line);

// Writes `line` and a line feed to the log (standard error) in one write. The caller
// composes the whole line including its program prefix ("[hoerspur] ").
void log(std::string_view line);

// Redirects emit() and log() to other descriptors, for example to files whose
// lines a caller wants to read back. Returns the previous pair. Descriptors are
// not owned; the caller keeps them open while lines may be written.
struct Ausgabeziele {
    int ereignisFd = 1;
    int logFd = 2;
};
Ausgabeziele setzeAusgabeziele(Ausgabeziele ziele);

}  // namespace hoerspur
