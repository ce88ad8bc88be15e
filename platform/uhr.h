// The host clock shared by capture time stamps, the recording's zero point and
// the video times.
#pragma once

namespace hoerspur {

// Seconds on the machine's monotonic clock; any thread.
double hostSekunden();

}  // namespace hoerspur
