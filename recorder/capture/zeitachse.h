// The timeline of one channel: makes the channel's sample stream a faithful image
// of the time since the recording's zero point. Blocks are placed by their host
// time stamp; gaps are filled with silence, overlaps with written time are
// discarded, jitter within 5 ms passes unchanged.
//
// Owned by one capture object and called only on its delivery thread; the driver
// reads the counters and the report after capture has stopped. No lock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hoerspur {

class Zeitachse {
  public:
    // rate in samples per second; nullSekunden on the host clock.
    Zeitachse(std::string name, double rate, double nullSekunden);

    // Places one resampled block. t: host time of its first sample, nothing when the
    // platform gave no valid time; eingangSekunden: duration of the captured input
    // block (input frames / input rate). Returns the block with silence in front or
    // its front discarded; may be empty. Untimed blocks before the first timed one
    // pass unchanged, and the first timed block lands at its time after them.
    // Allocates only when silence is inserted.
    std::vector<float> einordnen(std::vector<float> samples, std::optional<double> tSekunden,
                                 double eingangSekunden);

    const std::string& name() const { return name_; }
    double rate() const { return rate_; }
    std::int64_t geschrieben() const { return geschrieben_; }
    std::int64_t luecken() const { return luecken_; }
    std::int64_t lueckenSamples() const { return lueckenSamples_; }
    std::int64_t ueberlappungen() const { return ueberlappungen_; }
    std::int64_t verworfen() const { return verworfen_; }

  private:
    // fest nach dem Bau
    const std::string name_;
    const double rate_;
    const double null_;
    const double toleranz_;  // 5 ms in samples

    // nur auf dem Lieferthread
    std::int64_t geschrieben_ = 0;
    std::int64_t luecken_ = 0;
    std::int64_t lueckenSamples_ = 0;
    std::int64_t ueberlappungen_ = 0;
    std::int64_t verworfen_ = 0;
    std::optional<double> erwartet_;  // position of the next block's first sample
    std::int64_t nochWeg_ = 0;        // samples still to discard from coming blocks
};

}  // namespace hoerspur
