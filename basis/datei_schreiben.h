// Writing to a file descriptor without losing bytes to short writes or signals,
// and whole files that appear complete or not at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace hoerspur {

// Writes all `anzahl` bytes at the descriptor's position, resuming after short
// writes, interrupted calls and a descriptor the reader made non-blocking. False
// with errno set on the first real failure; what was written before it stays
// written.
bool schreibeAlles(int fd, const void* daten, std::size_t anzahl);

// Makes `pfad` hold exactly `inhalt`, or leaves it as it was: the bytes go into an
// unnamed file in the same folder (or, where the file system has none, a hidden
// name beside it), reach the disk, and only then get the name. A crash, a power
// cut or a full disk so never leaves a partial file under `pfad`. False with
// errno set when the file could not be written.
bool schreibeGanzeDatei(const std::string& pfad, std::span<const std::uint8_t> inhalt);

}  // namespace hoerspur
