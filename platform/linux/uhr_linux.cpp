#include <time.h>

#include "platform/uhr.h"

namespace hoerspur {

double hostSekunden() {
    timespec ts{};
    // CLOCK_MONOTONIC cannot fail for a valid pointer; it never jumps with wall-clock changes.
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace hoerspur
