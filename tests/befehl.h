// Test helper: shell command lines for tests and benchmarks (fixture scripts,
// sox, ffprobe): their exit status or their standard output. Standard error
// stays the caller's.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace hoerspur {

// The exit status of `befehl` as std::system() gives it.
inline int sh(const std::string& befehl) {
    return std::system(befehl.c_str());
}

// Everything `befehl` writes to standard output; empty when no shell starts.
// `status`, when given, receives the status pclose() gives (-1 without a shell).
inline std::string ausgabeVon(const std::string& befehl, int* status = nullptr) {
    std::string text;
    FILE* f = popen(befehl.c_str(), "r");
    if (f == nullptr) {
        if (status != nullptr) *status = -1;
        return text;
    }
    char puffer[65536];
    for (std::size_t n; (n = std::fread(puffer, 1, sizeof puffer, f)) > 0;) text.append(puffer, n);
    const int s = pclose(f);
    if (status != nullptr) *status = s;
    return text;
}

// A value a script printed, without its line feed (and trailing blanks).
inline std::string ohneZeilenende(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace hoerspur
