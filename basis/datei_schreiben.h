// Writing to a file descriptor without losing bytes to short writes or signals.
#pragma once

#include <cstddef>

namespace hoerspur {

// Writes all `anzahl` bytes at the descriptor's position, resuming after short
// writes and interrupted calls. False with errno set on the first real failure;
// what was written before it stays written.
bool schreibeAlles(int fd, const void* daten, std::size_t anzahl);

}  // namespace hoerspur
