// Test helper: a written video file checked from the outside with Debian's
// ffprobe and ffmpeg, and pictures compared with colours. For pictures of
// 1280 × 800, the size the recorder writes.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/befehl.h"
#include "tests/farbe.h"

namespace hoerspur {

constexpr int kVideoBreite = 1280;

// ffprobe's view of the first video stream: codec, profile, size and the count
// of pictures read, the file's duration, and every packet's time and flags. A
// discarded value when ffprobe cannot read the file.
inline nlohmann::json ffprobe(const std::string& datei) {
    return nlohmann::json::parse(
        ausgabeVon("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                   "stream=codec_name,profile,width,height,nb_read_frames:format=duration:"
                   "packet=pts_time,flags -of json '" +
                   datei + "'"),
        nullptr, false);
}

// Picture n of the file, decoded to RGB (3 bytes a pixel); empty when unreadable.
inline std::string dekodiere(const std::string& datei, int n) {
    return ausgabeVon("ffmpeg -v error -i '" + datei + "' -vf 'select=eq(n\\," + std::to_string(n) +
                      ")' -frames:v 1 -f rawvideo -pix_fmt rgb24 - 2>/dev/null");
}

// Whether the decoded picture `rgb` has colour `f` at (x, y).
inline ::testing::AssertionResult hatFarbe(const std::string& rgb, int x, int y, Farbe f) {
    const std::size_t i =
        (static_cast<std::size_t>(y) * kVideoBreite + static_cast<std::size_t>(x)) * 3;
    if (rgb.size() < i + 3) return ::testing::AssertionFailure() << "kein Bild";
    const int r = static_cast<unsigned char>(rgb[i]);
    const int g = static_cast<unsigned char>(rgb[i + 1]);
    const int b = static_cast<unsigned char>(rgb[i + 2]);
    // The encoder's 4:2:0 and quantisation move flat colours by a few steps.
    constexpr int kToleranz = 12;
    if (std::abs(r - f.rot) <= kToleranz && std::abs(g - f.gruen) <= kToleranz &&
        std::abs(b - f.blau) <= kToleranz) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "bei (" << x << "," << y << "): " << r << "," << g << "," << b << " statt " << f.rot
           << "," << f.gruen << "," << f.blau;
}

}  // namespace hoerspur
