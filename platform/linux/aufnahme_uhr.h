// Host clock times of a capture stream's frames, from the server's timing
// readings and the running frame count.
//
// Each reading says "frame P was captured at host time T"; the stream then runs
// as a straight line T + (p - P) / rate. Readings only move that line: small
// differences (clock drift, reading noise of a few milliseconds while a sink
// mixes new streams) slowly, so that consecutive stamps stay continuous within
// a tenth of a millisecond; a jump (frames lost by the server, a suspended
// source) only when readings over a while agree on it, so that bad readings,
// as right after connecting, are never taken.
//
// Plain value type without threads; the owner serialises its use.
#pragma once

#include <cstdint>
#include <optional>

namespace hoerspur {

class AufnahmeUhr {
  public:
    // Readings further off the line than this count as a jump. Smaller losses
    // are slewed in; the timelines ignore differences below 5 ms anyway.
    static constexpr double kSprungSekunden = 0.010;
    // Readings confirm a jump when they lie this close to the first one ...
    static constexpr double kBestaetigungSekunden = 0.003;
    // ... over at least this much host time.
    static constexpr double kBestaetigungsdauerSekunden = 0.2;
    // The most a single reading may slew the line.
    static constexpr double kNachfuehrungSekunden = 0.0001;

    explicit AufnahmeUhr(double rateHz);

    // Frame `positionFrames` (counted from the stream's start) was captured at
    // host time `hostSekunden`, read at host time `gelesenSekunden`. Returns
    // true while a jump waits for confirmation: the caller should take further
    // readings soon.
    bool messung(double positionFrames, double hostSekunden, double gelesenSekunden);

    bool hatAnker() const { return anker_.has_value(); }

    // Host time of frame `positionFrames`; nothing before the first reading.
    std::optional<double> zeitVon(double positionFrames) const;

    // Jumps taken since the first reading.
    std::int64_t spruenge() const { return spruenge_; }

  private:
    double rateHz_;
    // Host time of frame 0 on the current line.
    std::optional<double> anker_;
    // A jump seen, waiting for confirmation: its line and when it was first read.
    std::optional<double> kandidat_;
    double kandidatSeitSekunden_ = 0.0;
    std::int64_t spruenge_ = 0;
};

}  // namespace hoerspur
