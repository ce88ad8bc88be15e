// The video file writer: one H.264 track in an MPEG-4 file, fed with BGRA
// pictures and their presentation times on the host clock.
//
// Life of a writer: created for a path, one input added, writing started (the
// file is opened), a session started at a source time, pictures appended, the
// input marked finished, finished (the file is complete). The file's time line
// starts at the session's source time.
//
// Thread safety: every operation may be called from any thread; haengeAn() and
// bereitFuerMehr() from one thread at a time (the frame thread).
#pragma once

#include <cstdint>
#include <string>

#include "platform/bgra_bild.h"

namespace hoerspur {

enum class SchreiberStatus {
    unbekannt,       // created, writing not started
    schreibt,        // started; pictures are taken
    fertig,          // finished; the file is complete
    fehlgeschlagen,  // starting, encoding or writing failed; fehlerText() says why (the
                     // file keeps what was written before)
    abgebrochen,     // cancelled; the file was removed
};

enum class H264Profil { baseline, main, high };

// The encoding of the one video input. The level follows from size and rate.
struct H264Einstellungen {
    std::int32_t breite = 1280;
    std::int32_t hoehe = 800;
    std::int64_t mittlereBitrateBitProSekunde = 1'400'000;
    // A key frame at least every so many frames.
    std::int32_t maxKeyframeAbstandBilder = 30;
    H264Profil profil = H264Profil::main;
    // Pictures come from a live source: the encoder keeps pace rather than
    // buffering for quality.
    bool echtzeit = true;
};

class VideoSchreiber {
  public:
    // A writer destroyed while writing finishes its file first (as beende()).
    virtual ~VideoSchreiber() = default;

    // False when the writer cannot take this input (it has one already, writing
    // has started, or it cannot encode these settings); nothing changes then.
    virtual bool fuegeEingangHinzu(const H264Einstellungen& einstellungen) = 0;

    // Opens the file and the encoder. False when that fails: the status is then
    // fehlgeschlagen and fehlerText() says why. Needs an input.
    virtual bool starteSchreiben() = 0;

    // The file's time line starts at this source time (host clock seconds);
    // pictures before it are refused. Once, after starteSchreiben().
    virtual void starteSitzung(double quellSekunden) = 0;

    // Whether haengeAn() would take a picture now.
    virtual bool bereitFuerMehr() const = 0;

    // Hands one picture with its presentation time (host clock seconds) to the
    // encoder. Never blocks and never waits for the encoder: true when the
    // picture was taken (it will be in the file unless writing fails), false when
    // it was refused: not writing, no session, the input marked finished, a size
    // other than the input's, a time not after the previous picture's, or the
    // encoder busy (ready for more is false). The pixels are copied before it returns.
    virtual bool haengeAn(const BgraBild& bild, double praesentationSekunden) = 0;

    // No more pictures will come.
    virtual void markiereFertig() = 0;

    // Optional, before beende(): the file's time line ends at this source time,
    // so the last picture lasts until then (otherwise one frame interval).
    virtual void beendeSitzung(double quellSekunden) = 0;

    // Marks the input finished if needed, waits until every taken picture is
    // encoded and the file is complete and closed. The status is then fertig, or
    // fehlgeschlagen with fehlerText(). No effect on a writer that never started.
    virtual void beende() = 0;

    // Stops at once without completing the file and removes it; the status is
    // then abgebrochen. No effect after beende().
    virtual void brecheAb() = 0;

    virtual SchreiberStatus status() const = 0;
    // The failure's full textual form; empty when nothing failed.
    virtual std::string fehlerText() const = 0;
};

}  // namespace hoerspur
