// Window video on X11: each stream has its own connection to the X server
// named by DISPLAY and its own thread ("sck.video").
//
// What a stream films: the window's own content (the client window, without
// the window manager's frame), redirected off screen with XComposite so that
// windows above it do not show, read through shared memory (XShm; plain
// GetImage when the server is not local), scaled into the configured size with
// its aspect ratio kept and black bars beside or above and below it, the
// pointer's cursor (XFixes) drawn at its own size where the pointer is over the
// window.
//
// Pictures: one per tick of minBildabstandSekunden at most. XDamage tells
// whether anything was drawn into the window since the last picture; a tick
// without damage and without the cursor moving over the window gives a frame
// of status unveraendert without pixels (the encoder gets nothing new), a
// window that is mapped but not viewable (its frame hidden) frames of status
// leer. The presentation time is the host clock when the picture was read.
//
// The stream ends with an error (StopFunktion) when its window is unmapped or
// destroyed or the connection to the server breaks; X errors never end the
// process.
#pragma once

#include <memory>

#include "platform/fenster_strom.h"

namespace hoerspur {

std::shared_ptr<FensterAufnahme> neueX11FensterAufnahme();

}  // namespace hoerspur
