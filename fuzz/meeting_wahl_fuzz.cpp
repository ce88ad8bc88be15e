// The meeting choice on arbitrary desktops: titles of any bytes, bundles of every
// kind the rules branch on, any sizes and flags. The list must come out ranked,
// name only visible windows that are not the system's own, and print as JSON.
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "recorder/video/meeting_wahl.h"

namespace {

const char* const BUNDLES[] = {"us.zoom.xos",
                               "us.zoom.videomeetings",
                               "com.microsoft.teams2",
                               "Cisco-Systems.Spark",
                               "com.apple.FaceTime",
                               "com.tinyspeck.slackmacgap",
                               "com.google.Chrome",
                               "org.mozilla.firefox",
                               "com.google.Chrome.app.abc",
                               "com.microsoft.edgemac.app.",
                               "llc.tessaro.korallo",
                               "org.example.anders",
                               ""};
constexpr std::size_t N_BUNDLES = sizeof BUNDLES / sizeof BUNDLES[0];

const double GROESSEN[] = {0,   90,  159, 160,  239, 240,      319, 320,
                           400, 599, 600, 1280, NAN, INFINITY, -500};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* daten, std::size_t groesse) {
    // Each window: 3 header bytes (bundle, width, height with the flag in the top
    // bit), then its title up to a 0xFF byte.
    std::vector<hoerspur::FensterInfo> desktop;
    std::size_t i = 0;
    while (i + 3 <= groesse && desktop.size() < 64) {
        hoerspur::FensterInfo f;
        f.id = static_cast<std::uint32_t>(desktop.size() + 1);
        f.bundle = BUNDLES[daten[i] % N_BUNDLES];
        f.app = daten[i] & 0x80 ? "" : "App";
        f.breite = GROESSEN[daten[i + 1] % 15];
        f.hoehe = GROESSEN[(daten[i + 2] & 0x7F) % 15];
        f.sichtbar = (daten[i + 2] & 0x80) == 0;
        i += 3;
        while (i < groesse && daten[i] != 0xFF) f.titel.push_back(static_cast<char>(daten[i++]));
        ++i;
        desktop.push_back(std::move(f));
    }

    const hoerspur::MeetingKandidaten k = hoerspur::meetingKandidaten(desktop);
    if (!k.ohne.starts_with(hoerspur::KEIN_BILD)) std::abort();
    std::int64_t rangVorher = 1;
    for (const hoerspur::Wahl& w : k.liste) {
        if (w.id == 0 || w.id > desktop.size()) std::abort();
        const hoerspur::FensterInfo& f = desktop[w.id - 1];
        if (!f.sichtbar || f.bundle == "llc.tessaro.korallo") std::abort();
        if (w.rang < rangVorher || w.rang > 4) std::abort();
        rangVorher = w.rang;
        // Every candidate is at least as large as the floating video's minimum.
        if (!(f.breite >= 160 && f.hoehe >= 90)) std::abort();
        if (nlohmann::json::parse(hoerspur::wahlJSON(w), nullptr, false).is_discarded()) {
            std::abort();
        }
    }
    return 0;
}
