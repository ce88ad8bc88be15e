// Cuts the continuous mono stream of one channel ("me", "them") into numbered WAV
// chunk files "chunk_<channel>_<index, at least 3 digits>.wav" in `outDir`, at quiet
// 160-sample frames, and hands each written file to `gemeldet`. Fixed mode cuts near every
// `chunkSamples` at the quietest frame within
// +-`searchSamples`; turn mode ends a chunk in the middle of the first pause of
// `silenceRun` samples after `minSamples`, forces a cut near `maxSamples`, and drops
// chunks that are silent as a whole. With a speech mask (one flag per sample), chunks
// with fewer than `minSprache` flagged samples are dropped and counted.
//
// Thread safety: append() and finalizeRemainder() may be called from any thread; the
// chunker's own lock serialises them and is held while a file is written and reported,
// so the chunks of one channel are reported in index order. Storage for pending
// samples and flags is reused; it grows to the largest backlog and no further.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace hoerspur {

// One chunk file, written completely.
struct GeschriebenerChunk {
    std::int64_t index = 0;
    std::string channel;
    std::string pfad;
    double t0Sekunden = 0.0;                // first sample, from the start of the channel
    double t1Sekunden = 0.0;                // the sample after the last
    std::optional<std::int64_t> spracheMs;  // only while the channel carries a speech mask
};

class ChannelChunker {
  public:
    using Melder = std::function<void(const GeschriebenerChunk&)>;

    // Frames of all energy measurements are this many samples, whatever the rate.
    static constexpr std::int64_t FRAME_SAMPLES = 160;
    // Fewest flagged samples a chunk needs while a mask is in use.
    static constexpr std::int64_t minSprache = 768;

    // Sample counts are rate x seconds, truncated toward zero. Does no I/O.
    ChannelChunker(std::string channel, std::string outDir, double rate, double chunkSeconds,
                   bool turnMode = false, double minSeconds = 1.2, double maxSeconds = 4.0,
                   double silenceSeconds = 0.6, float silenceRms = 0.006f);
    ChannelChunker(const ChannelChunker&) = delete;
    ChannelChunker& operator=(const ChannelChunker&) = delete;

    // Adds samples and writes as many chunks as the cutting policy allows. `sprache`
    // holds one speech flag per sample; a mask of any other length is ignored. Once
    // a mask has been seen, samples without one count as speech.
    void append(std::span<const float> samples,
                std::optional<std::span<const bool>> sprache = std::nullopt);

    // Writes everything still pending as one last chunk (subject to the drop rules).
    void finalizeRemainder();

    // Chunks dropped for lack of flagged speech.
    std::int64_t ohneSprache() const;
    void setzeOhneSprache(std::int64_t anzahl);

    // Called for each written chunk, under the chunker's lock, on the thread that
    // cut it. Set before the first append().
    Melder gemeldet = [](const GeschriebenerChunk&) {};

    // fest nach dem Bau
    const std::string channel;
    const std::string outDir;
    const double rate;
    const std::int64_t chunkSamples;
    const std::int64_t searchSamples;
    const bool turnMode;
    const std::int64_t minSamples;
    const std::int64_t maxSamples;
    const std::int64_t silenceRun;
    const float silenceRms;

  private:
    std::int64_t gepuffert() const;
    void schneideFest();
    void schneideTurns();
    // Middle of the lowest-energy frame [s, s+160) for s = von, von+160, ... while
    // s + 160 < bis; the earliest on equal energy. nullopt when no frame fits.
    std::optional<std::int64_t> leisesteFrameMitte(std::int64_t von, std::int64_t bis) const;
    void flush(std::int64_t count);
    void verdichten();

    mutable std::mutex lock_;

    // unter lock_
    // Pending samples are buf_[anfang_ ...]; consumed ones are removed at the next append.
    std::vector<float> buf_;
    // Parallel to buf_ index for index while mitMaske_, empty before.
    std::vector<std::uint8_t> maske_;
    std::size_t anfang_ = 0;
    bool mitMaske_ = false;
    std::int64_t ohneSprache_ = 0;
    std::int64_t chunkIndex_ = 0;
    std::int64_t globalOffset_ = 0;
    // Turn mode pause scan over the pending samples, resumed where the last call
    // stopped; the frames before it are unchanged until the next cut.
    bool scanLaeuft_ = false;
    std::int64_t scanNaechster_ = 0;
    std::int64_t pauseAnfang_ = -1;
};

}  // namespace hoerspur
