// Test signals for the simulated audio sources: prepared sample data or generated
// waveforms, read in pieces so that hours of audio never sit in memory at once.
//
// Immutable after construction; copies share their data and may be read from any
// thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace hoerspur {

class SimSignal {
  public:
    // Writes channel `kanal` of frames [abFrame, abFrame + ziel.size()) into `ziel`.
    using Fuellung =
        std::function<void(std::uint32_t kanal, std::uint64_t abFrame, std::span<float> ziel)>;

    // Silence without end.
    SimSignal();

    // The same samples on every channel; zero after the last one.
    static SimSignal mono(std::vector<float> samples);
    // One array per channel (at least one); zero after the end of each.
    static SimSignal proKanal(std::vector<std::vector<float>> kanaele);
    // amplitude × sin(2π × frequenz × n / rate) on every channel, without end.
    static SimSignal sinus(double frequenzHz, float amplitude, double rateHz);
    // Uniform noise in [-amplitude, amplitude] without end. Each (seed, channel,
    // frame) has its own fixed value, so any piece reads the same whenever read.
    static SimSignal rauschen(std::uint64_t seed, float amplitude);

    // 1 when every channel carries the same samples.
    std::uint32_t kanaele() const { return kanaele_; }
    // Frames of prepared data; nothing for generated signals.
    std::optional<std::uint64_t> frames() const { return frames_; }

    // `kanal` beyond the signal's channels reads channel 0 of a one-channel signal
    // and silence otherwise.
    void fuelle(std::uint32_t kanal, std::uint64_t abFrame, std::span<float> ziel) const;

  private:
    SimSignal(std::uint32_t kanaele, std::optional<std::uint64_t> frames, Fuellung fuellung);

    std::uint32_t kanaele_ = 1;
    std::optional<std::uint64_t> frames_;
    Fuellung fuellung_;
};

// The samples of a WAV file, one array per channel, nominal range -1..1.
struct SimWav {
    double rateHz = 0.0;
    std::vector<std::vector<float>> kanaele;
};

// Reads integer PCM of 16, 24 or 32 bits and float of 32 or 64 bits, plain or
// extensible format, 1 to 64 channels. A data size beyond the file is cut at the
// end of the file. Throws std::invalid_argument naming what is wrong.
SimWav liesSimWav(std::span<const std::uint8_t> datei);

}  // namespace hoerspur
