// One choice of what to film, as the rest of the recorder sees it: a window, or
// nothing with the reason why.
//
// Value type; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hoerspur {

// Start of every explanation when there is nothing to film.
inline constexpr std::string_view KEIN_BILD = "kein Meetingfenster \u2013 kein Bild";

struct Wahl {
    std::string art;        // "fenster", or "nichts" when nothing was chosen
    std::uint32_t id = 0;   // the window's identifier; 0 with "nichts"
    std::string quelle;     // for people: application and title; empty with "nichts"
    std::int64_t rang = 0;  // 1 is best; 0 with "nichts"
    std::string grund;      // why this window, or why none

    // The same target: `andere` exists and names the same kind and window.
    bool gleichesZiel(const std::optional<Wahl>& andere) const;

    friend bool operator==(const Wahl&, const Wahl&) = default;
};

// The choice as one line of JSON without spaces: art, id, quelle, rang, grund.
std::string wahlJSON(const Wahl& wahl);

}  // namespace hoerspur
