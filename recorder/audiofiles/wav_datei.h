// Mono 16-bit PCM WAV files: writing a finished block in one step and reading the
// first channel of a file that may come from any tool.
//
// Layout written (all integers little-endian), the canonical 44-byte header:
//
//   offset size content
//        0    4 "RIFF"
//        4    4 u32 data byte count + 36      (saturated, see below)
//        8    4 "WAVE"
//       12    4 "fmt "
//       16    4 u32 16, format chunk length
//       20    2 u16 1, PCM
//       22    2 u16 1, channels
//       24    4 u32 sample rate in Hz
//       28    4 u32 byte rate = rate x 2
//       32    2 u16 2, block align
//       34    2 u16 16, bits per sample
//       36    4 "data"
//       40    4 u32 data byte count = 2 x samples   (saturated, see below)
//       44    .. samples, i16 little-endian
//
// A data count above MAX_DATEN_BYTES cannot be declared; both size fields then hold
// 0xFFFFFFFF, the value streaming writers use for "read to the end of the file", and
// the samples are still written in full.
//
// Thread safety: all functions are reentrant; nothing is shared.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace hoerspur {

inline constexpr std::size_t WAV_KOPF_BYTES = 44;
inline constexpr std::size_t WAV_OFFSET_RIFF_GROESSE = 4;
inline constexpr std::size_t WAV_OFFSET_RATE = 24;
inline constexpr std::size_t WAV_OFFSET_DATEN_GROESSE = 40;
// The RIFF size field holds data + 36 and is 32 bits wide.
inline constexpr std::uint64_t MAX_DATEN_BYTES = 0xFFFFFFFFull - 36;
inline constexpr std::uint32_t WAV_GROESSE_GESAETTIGT = 0xFFFFFFFFu;
// Sample rates a header can carry; the writers refuse anything else.
inline constexpr std::int64_t MAX_RATE_HZ = 2147483647;

using WavKopf = std::array<std::uint8_t, WAV_KOPF_BYTES>;

// The 44-byte header for `datenBytes` of samples. Counts above `maxDatenBytes`
// saturate both size fields. `rateHz` must lie in 1 ... MAX_RATE_HZ.
WavKopf wavKopf(std::uint32_t rateHz, std::uint64_t datenBytes,
                std::uint64_t maxDatenBytes = MAX_DATEN_BYTES);

// Full scale is +-32767; 1.0 and more, and NaN, give 32767; -32768 is never written.
std::int16_t alsInt16(float sample);

// Writes `samples` as a complete file at `rate` Hz (truncated to whole Hz), creating or
// replacing `pfad`. The file appears complete or not at all: it is written unnamed in
// its folder and named once every byte is on disk, so a failed write (full disk, file
// size limit) or a crash leaves no partial file and an older file of that name intact.
// Throws PlattformFehler (domain "posix", the errno value as code, the path and the
// system's reason as description); EINVAL when the rate does not fit the header.
void writeWav(std::span<const float> samples, double rate, const std::string& pfad);

// Channel 0 of a 16-bit integer PCM file, each value / 32768. Empty when the data
// chunk holds less than one frame; nullopt when the file cannot be read, is shorter
// than 45 bytes, has no data chunk, or its format chunk declares anything but 16-bit
// integer PCM. A data size field beyond the file is cut at the end of the file;
// bytes behind a smaller size field are not read.
std::optional<std::vector<float>> liesWav(const std::string& pfad);

// The same on the bytes of a whole file. Never reads outside `datei`; the result
// holds at most one float per two bytes of `datei`, whatever the size fields say.
std::optional<std::vector<float>> liesWavAusBytes(std::span<const std::uint8_t> datei);

}  // namespace hoerspur
