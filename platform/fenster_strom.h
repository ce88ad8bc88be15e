// Window video: a stream that films one window into pictures of a fixed size,
// and the service that starts such streams. The recorder films the meeting
// window with it; which window that is, is decided above this layer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/bgra_bild.h"

namespace hoerspur {

enum class BildStatus {
    // A new picture: the window's content (or the cursor over it) changed.
    vollstaendig,
    // Nothing changed since the last picture; no pixels.
    unveraendert,
    // The window shows nothing that could be filmed right now (not viewable,
    // no area); no pixels.
    leer,
};

// One frame of a window stream.
struct FensterBild {
    BildStatus status = BildStatus::vollstaendig;
    // When the picture was taken, in host clock seconds (hostSekunden()).
    double praesentationSekunden = 0.0;
    // Only for vollstaendig: BGRA of the configured size. Valid only during the
    // frame callback; the stream reuses the storage for its next picture.
    BgraBild bild;
};

// How a stream films. Every picture is BGRA of breite × hoehe.
struct FensterStromKonfiguration {
    std::int32_t breite = 1280;
    std::int32_t hoehe = 800;
    // Pictures are at least this far apart (15 per second at most).
    double minBildabstandSekunden = 1.0 / 15.0;
    bool cursorZeigen = true;
    // Window streams carry no sound; a backend refuses true.
    bool tonAufnehmen = false;
    // Pictures a stream may hold before the consumer has taken them.
    std::int32_t warteschlangenTiefe = 5;
    // The window is scaled into breite × hoehe (otherwise drawn at its own size
    // from the top left, cut off where it is larger).
    bool skaliertPassend = true;
    // Scaling keeps the window's aspect ratio, with black bars where it leaves
    // room (otherwise the window is stretched to the full picture).
    bool seitenverhaeltnisBehalten = true;
};

// A running stream of one window.
//
// Thread safety: wechsleFenster() and stoppe() may be called from any thread but
// not from inside the stream's own callbacks; the object must not be destroyed
// there either.
class FensterStrom {
  public:
    // Stops like stoppe().
    virtual ~FensterStrom() = default;

    // Films another window from the next picture on, keeping the stream, its
    // thread and its callbacks. Throws PlattformFehler when that window cannot
    // be filmed (gone, not mapped) or the stream has already ended; the stream
    // then goes on with the window it had.
    virtual void wechsleFenster(std::uint32_t fensterId) = 0;

    // Stops filming and waits: when this returns, no callback is running and
    // none will be called again. Errors are swallowed. Safe twice.
    virtual void stoppe() = 0;
};

class FensterAufnahme {
  public:
    // Frames arrive one at a time, in order, on the stream's own serial delivery
    // thread ("sck.video"). The callback must not block for long (the stream
    // skips pictures meanwhile) and must not call the stream's operations.
    using BildFunktion = std::function<void(const FensterBild&)>;
    // Called at most once, on the delivery thread, when the stream ends by itself
    // (window closed or unmapped, display lost); the argument is the error's full
    // textual form. No frame follows it.
    using StopFunktion = std::function<void(const std::string& fehlerText)>;

    virtual ~FensterAufnahme() = default;

    // Creates and starts a stream filming the window `fensterId` alone (other
    // windows covering it do not show) and waits until it runs. Throws
    // PlattformFehler when the window cannot be filmed or the configuration
    // cannot be honoured. `proBild` is required, `beiStop` may be empty.
    virtual std::unique_ptr<FensterStrom> starteFensterStrom(
        std::uint32_t fensterId, const FensterStromKonfiguration& konfiguration,
        BildFunktion proBild, StopFunktion beiStop) = 0;
};

}  // namespace hoerspur
