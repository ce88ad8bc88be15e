// Audio buffers as the capture backends deliver them: any rate, any channel count,
// float32 or int16 samples, interleaved or one array per channel.
//
// Value types without threads of their own; a buffer belongs to whoever holds it.
// A frame is one sample per channel at one instant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace hoerspur {

enum class SampleArt { float32, int16 };

struct AudioFormat {
    double sampleRateHz = 0.0;
    std::uint32_t kanaele = 0;
    SampleArt art = SampleArt::float32;
    bool verschraenkt = false;  // interleaved: one array, channels alternate per frame

    friend bool operator==(const AudioFormat&, const AudioFormat&) = default;

    // A positive finite rate and at least one channel.
    bool gueltig() const;
};

// PCM samples with their format and a frame length up to a fixed capacity.
// Planar buffers hold one array per channel, interleaved ones a single array.
// Float samples use the nominal range -1..1, int16 samples the full 16-bit range.
class PcmPuffer {
  public:
    // A buffer without a format (the platform could not describe its data).
    PcmPuffer() = default;
    // Storage for `frameKapazitaet` frames, all zero; the frame length starts at
    // the capacity. An invalid format gives a buffer without storage.
    PcmPuffer(AudioFormat format, std::uint32_t frameKapazitaet);

    const std::optional<AudioFormat>& format() const { return format_; }
    std::uint32_t frameKapazitaet() const { return kapazitaet_; }
    std::uint32_t frameLaenge() const { return laenge_; }
    // Clamped to the capacity.
    void setzeFrameLaenge(std::uint32_t frames);

    // Number of arrays: the channel count when planar, 1 when interleaved.
    std::size_t arrayAnzahl() const;

    // Array `index` over the whole capacity (interleaved: capacity × channels
    // samples). Empty when the sample type differs or the index is out of range.
    std::span<float> floatDaten(std::size_t index);
    std::span<const float> floatDaten(std::size_t index) const;
    std::span<std::int16_t> int16Daten(std::size_t index);
    std::span<const std::int16_t> int16Daten(std::size_t index) const;

  private:
    std::size_t samplesProArray() const;

    std::optional<AudioFormat> format_;
    std::uint32_t kapazitaet_ = 0;
    std::uint32_t laenge_ = 0;
    std::vector<float> floats_;
    std::vector<std::int16_t> int16s_;
};

// When a buffer was captured: the host clock time of its first frame, when the
// platform could give a valid one.
struct AudioZeit {
    std::optional<double> hostSekunden;
};

}  // namespace hoerspur
