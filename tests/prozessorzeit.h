// Benchmark helper: processor time (user and system seconds) of this process,
// and of another one read from /proc, for figures such as CPU seconds per
// second of audio or video.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace hoerspur {

// This process, all its threads.
inline double prozessorSekunden() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) * 1e-6;
}

// Process `pid`, from /proc; 0 when it cannot be read.
inline double prozessorSekundenVon(int pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const auto klammer = text.rfind(')');
    if (klammer == std::string::npos) return 0.0;
    std::istringstream rest(text.substr(klammer + 2));
    std::string feld;
    double utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> feld; ++i) {
        if (i == 14) utime = std::stod(feld);
        if (i == 15) stime = std::stod(feld);
    }
    return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace hoerspur
