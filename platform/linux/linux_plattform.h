// The platform of the shipped programs on Linux: the sound server (PulseAudio
// or PipeWire's pulse server) for microphone and system audio, the X server named
// by DISPLAY for windows and their video, FFmpeg for the video file,
// CLOCK_MONOTONIC as host clock.
//
// System audio is not tied to a screen here: systemAudioDisplays() reports one
// display standing for the sound output (id 0, 0 x 0), also on a machine
// without any display. teilbarerInhalt() lists the X server's windows and
// screens and is refused without a reachable X server.
#pragma once

#include "platform/plattform.h"

namespace hoerspur {

Plattform linuxPlattform();

}  // namespace hoerspur
