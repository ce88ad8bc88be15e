// A scripted audio source of the simulated platform: the buffers a device or a
// capture stream would deliver, each with its format, frame count, time stamp and
// the moment it is due. Buffers are made one at a time when they are delivered,
// so a source may describe hours of audio.
//
// Immutable after construction; copies share their script and may be read from
// any thread. Every read of buffer k gives the same content and stamp.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "platform/audio_puffer.h"
#include "platform/sim/sim_signal.h"

namespace hoerspur {

struct SimPuffer {
    // The audio; a buffer without format stands for one the platform could not describe.
    PcmPuffer pcm;
    // Frames the platform reports for it; the system audio stream may report more
    // than `pcm` holds. Scripted buffers default to the PCM frame length.
    std::uint64_t frames = 0;
    // Host time of the first frame, relative to the source's base (absolute once
    // delivered); nothing for an untimed buffer.
    std::optional<double> stempelSekunden;
    // When real-time pacing delivers it, in seconds after the source started.
    double lieferSekunden = 0.0;
    // The stream's own validity flag of a sample buffer.
    bool gueltig = true;
};

// How buffers follow each other: as fast as the consumer takes them, or at the
// moments they are due (process-level tests, where a signal should arrive while
// the recording runs).
enum class SimTempo { schnell, echtzeit };

// What a source does after its last scripted buffer: end, or go on until stopped
// with the script again (stamps continuing), either as it is or in silence.
enum class SimNachlauf { ende, wiederholen, stille };

// "Deliver this signal at this rate with these channels in buffers of so many
// frames, starting at this host time": the usual script, with the faults a real
// device shows (drift, dropped buffers, late or early stamps, untimed buffers).
struct SimPlan {
    SimSignal signal;
    // Frames to deliver; nothing means the signal's own length.
    std::optional<std::uint64_t> frames;
    AudioFormat format{48000.0, 1, SampleArt::float32, false};
    std::uint32_t pufferFrames = 480;
    // Host time of the first frame; nothing means the clock when the source starts.
    std::optional<double> startSekunden;
    // Stamps and due times advance by frames / rate × (1 + drift).
    double drift = 0.0;
    // Buffers (by index in the script) that are never delivered: lost by the device.
    std::set<std::uint64_t> weglassen;
    // Buffers whose stamp is moved by so many seconds (late > 0, early < 0).
    std::map<std::uint64_t, double> versatzSekunden;
    // Buffers delivered without a valid host time.
    std::set<std::uint64_t> ohneZeit;
};

class SimQuelle {
  public:
    // A source that delivers nothing.
    SimQuelle();

    // Exactly these buffers, in this order. Their stamps are relative to
    // `basisSekunden` (0 makes them absolute host times).
    static SimQuelle ausPuffern(std::vector<SimPuffer> puffer,
                                std::optional<double> basisSekunden = 0.0);
    // Throws std::invalid_argument when the plan cannot be delivered (no length,
    // invalid format, zero buffer size, channel counts that do not match, indices
    // beyond the script, non-finite stamps).
    static SimQuelle ausPlan(const SimPlan& plan);

    // Buffers in one pass of the script, dropped ones included.
    std::uint64_t anzahl() const;
    // Buffer k of the endless sequence the source delivers (passes after the first
    // follow the after-run rule); nothing when k is dropped or past the end.
    std::optional<SimPuffer> puffer(std::uint64_t k) const;
    // No buffer with index k or later will ever be delivered.
    bool amEnde(std::uint64_t k) const;
    // Format of the first buffer that has one.
    std::optional<AudioFormat> erstesFormat() const;

    // Host time that stamps are relative to; nothing means the clock at start.
    std::optional<double> basisSekunden() const { return basisSekunden_; }

    SimTempo tempo = SimTempo::schnell;
    // Real-time pacing runs this many times faster than real time (stamps are
    // unchanged), so long recordings can be paced like devices in less time.
    double zeitraffer = 1.0;
    SimNachlauf nachlauf = SimNachlauf::ende;

    class Skript;  // how buffer k of the first pass is made

  private:
    std::shared_ptr<const Skript> skript_;
    std::optional<double> basisSekunden_;
};

}  // namespace hoerspur
