// Which running processes belong to the meeting client: the output of
// "/bin/ps -A -ww -o pid= -o comm=" filtered by name, and whether a call runs.
//
// On Linux the second column is the kernel's short name of the executable (at
// most 15 bytes, cut without regard to characters), not its path; the filter
// accepts a marker that the cut has shortened (see docs/beobachter-ps.md).
//
// Reentrant.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hoerspur {

struct ZoomProzess {
    std::int32_t pid = 0;
    // The executable's name as the lister gives it (last component of a path).
    std::string name;

    bool operator==(const ZoomProzess&) const = default;
};

// The lister's arguments: all processes, unlimited width, id and executable
// without headers.
inline constexpr const char* PS_PFAD = "/bin/ps";
inline constexpr std::string_view PS_ARGUMENTE[] = {"-A", "-ww", "-o", "pid=", "-o", "comm="};

// Longest short name the Linux kernel keeps for a process (TASK_COMM_LEN - 1).
inline constexpr std::size_t KURZNAME_BYTES = 15;

// The processes of the lister's output `ausgabe` that pass the filter, in output
// order. Without `ersatzApp` the meeting client's own processes (names with
// "zoom", "cpthost" or "aomhost", audio drivers excluded); with it, the processes
// whose name contains that lower-case text. `eigenePid` is never listed.
std::vector<ZoomProzess> parseProzessListe(std::string_view ausgabe, std::int32_t eigenePid,
                                           const std::optional<std::string>& ersatzApp);

// Whether one of the processes is the client's call host ("cpthost").
bool callLaeuft(const std::vector<ZoomProzess>& prozesse);

}  // namespace hoerspur
