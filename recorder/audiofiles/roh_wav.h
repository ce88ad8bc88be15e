// One long mono 16-bit WAV file written block by block while the recording runs (the
// raw microphone file). The header's two size fields are patched whenever more than
// five seconds have passed since the last patch and once more at close, so that a
// file cut off by a crash declares all but the last few seconds.
//
// The file keeps its place in time: a block that cannot be written (full disk, file
// size limit) is remembered as silence and written as zeros in front of the next
// block once writing works again, so every later sample still sits at the position
// of the moment it was captured. The first failure of a run of failures and the
// recovery are logged ("[hoerspur] ..."). Nothing counted as written is ever cut
// off again; only the bytes a failed write left past the counted end go at close.
//
// Past the 32-bit size limit the samples keep being appended and both size fields
// are saturated (see wav_datei.h); no audio is dropped.
//
// Thread: not thread-safe; one serial context at a time (the echo queue, then the
// stop sequence). The object owns its file descriptor.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "recorder/audiofiles/wav_datei.h"

namespace hoerspur {

class RohWav {
  public:
    using Uhr = std::function<std::chrono::steady_clock::time_point()>;

    // Creates or replaces `pfad` and writes a header that declares no samples.
    // Throws PlattformFehler (domain "posix") when the file cannot be created or
    // written, or `rateHz` lies outside 1 ... MAX_RATE_HZ (EINVAL). `maxDatenBytes`
    // and `uhr` exist for tests.
    static std::unique_ptr<RohWav> oeffnen(std::string pfad, std::int64_t rateHz,
                                           std::uint64_t maxDatenBytes = MAX_DATEN_BYTES,
                                           Uhr uhr = std::chrono::steady_clock::now);

    // Closes like schliessen(), so a forgotten close still leaves true size fields.
    ~RohWav();
    RohWav(const RohWav&) = delete;
    RohWav& operator=(const RohWav&) = delete;

    // Appends the samples with one write, after the silence still owed for blocks
    // that failed; no-op when closed or empty. Reuses one conversion buffer that
    // grows to the largest block seen.
    void schreiben(std::span<const float> samples);

    // Writes the silence still owed if it can, patches the header to what the file
    // holds and closes it; later calls of schreiben() and schliessen() do nothing.
    void schliessen();

    // The header for `bytes` of samples; `rateHz` in 1 ... MAX_RATE_HZ.
    static WavKopf kopf(std::int64_t rateHz, std::uint32_t bytes);

    const std::string& pfad() const { return pfad_; }
    // Sample bytes in the file so far, silence for failed blocks included (not
    // limited to 32 bits).
    std::uint64_t bytes() const { return bytes_; }
    // Sample bytes of failed blocks not yet written as silence.
    std::uint64_t ausstehendeBytes() const { return ausstehend_; }

  private:
    RohWav(std::string pfad, int fd, std::uint32_t rateHz, std::uint64_t maxDatenBytes, Uhr uhr);
    void kopfNachtragen();
    // Writes the silence owed; false (errno set) when that fails.
    bool stilleNachtragen();
    void meldeFehler(int fehlerNummer);

    // fest nach dem Bau
    const std::string pfad_;
    const std::uint32_t rateHz_;
    const std::uint64_t maxDatenBytes_;
    const Uhr uhr_;

    // Zustand der Datei
    int fd_;  // -1 once closed
    std::uint64_t bytes_ = 0;
    std::uint64_t ausstehend_ = 0;
    bool stoerung_ = false;  // the last write failed
    int meldungen_ = 0;
    std::chrono::steady_clock::time_point letzterKopf_;
    std::vector<std::uint8_t> puffer_;
};

}  // namespace hoerspur
