// Host clock times of a capture stream's frames, from the server's timing
// readings and the running frame count.
//
// Each reading says "frame P was captured at host time T"; the stream then runs
// as a straight line T + (p - P) / rate. The frame count is the better clock in
// the short run: readings of a monitor source lag by up to about 10 ms for as
// long as a stream plays into its sink (the server holds monitor data back
// while the sink may still rewrite it). So readings move the line only slowly,
// enough to follow a device clock that drifts by up to 80 ppm, and in one jump
// only when readings over a while agree on a difference far beyond that lag
// (frames lost by the server, a suspended source).
//
// Plain value type without threads; the owner serialises its use.
#pragma once

#include <cstdint>
#include <optional>

namespace hoerspur {

class AufnahmeUhr {
  public:
    // Readings further off the line than this count as a jump; smaller losses
    // are slewed in.
    static constexpr double kSprungSekunden = 0.020;
    // Readings confirm a jump when they lie this close to the first one ...
    static constexpr double kBestaetigungSekunden = 0.005;
    // ... over at least this much host time.
    static constexpr double kBestaetigungsdauerSekunden = 0.2;
    // The most a single reading may slew the line: 80 ppm at four readings a second.
    static constexpr double kNachfuehrungSekunden = 0.00002;

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
