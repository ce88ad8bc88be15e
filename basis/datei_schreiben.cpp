#include "basis/datei_schreiben.h"

#include <unistd.h>

#include <cerrno>

namespace hoerspur {

bool schreibeAlles(int fd, const void* daten, std::size_t anzahl) {
    const char* p = static_cast<const char*>(daten);
    while (anzahl > 0) {
        const ssize_t n = ::write(fd, p, anzahl);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        anzahl -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace hoerspur
