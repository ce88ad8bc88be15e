// Turns captured buffers of any format into mono float samples at the recording
// rate, with the filter state carried from buffer to buffer so that consecutive
// outputs join without clicks or lost samples.
//
// Owned by one capture object and used only on its delivery thread; no lock.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/audio_puffer.h"

struct soxr;

namespace hoerspur {

class MonoResampler {
  public:
    explicit MonoResampler(double rateHz);
    ~MonoResampler();
    MonoResampler(const MonoResampler&) = delete;
    MonoResampler& operator=(const MonoResampler&) = delete;

    // Converts one buffer. Nothing for a buffer without (valid) format, an empty
    // buffer, a converter that cannot be made, or a conversion error (logged).
    // An empty block is a success: the converter holds the samples back and
    // delivers them with the next buffer. A new input format starts a fresh
    // converter and drops the old one's held-back samples.
    // Allocates only the returned block once the working storage has grown to
    // the largest buffer seen.
    std::optional<std::vector<float>> process(const PcmPuffer& puffer);

    // Samples at the output rate that the converter currently holds back.
    double verzoegerungSamples() const;

  private:
    struct SoxrLoeschen {
        void operator()(soxr* s) const;
    };

    bool bereite(const AudioFormat& format);
    void mischeHerunter(const PcmPuffer& puffer, std::uint32_t frames);

    // fest nach dem Bau
    const double zielRateHz_;

    // nur auf dem Lieferthread
    std::unique_ptr<soxr, SoxrLoeschen> stream_;
    std::optional<AudioFormat> eingangsFormat_;
    std::vector<float> mono_;     // the buffer mixed down, at the input rate
    std::vector<float> ausgabe_;  // what the converter delivers for one buffer
};

}  // namespace hoerspur
