// Self-test of the capture path: synthetic 300 Hz sine buffers at 48 kHz, with
// optional lost buffers and clock drift, through the resampler and the timeline,
// checked against the ideal signal. Runs on the calling thread.
#pragma once

#include <set>
#include <string>
#include <string_view>

namespace hoerspur {

// One case; returns its JSON result line (without line feed). frames per buffer,
// kanaele channels, puffer buffers, auslassen the buffer numbers left out, drift
// the relative clock error (0.0005: the host clock runs 0.05 % fast).
std::string fall(std::string_view name, int frames, int kanaele, int puffer,
                 const std::set<int>& auslassen, double drift);

// Runs the four fixed cases, prints one line each to standard output and returns
// the exit status (0).
int zeitachsenSelbsttest();

}  // namespace hoerspur
