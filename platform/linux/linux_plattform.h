// The platform of the shipped programs on Linux: the sound server (PulseAudio
// or PipeWire's pulse server) for microphone and system audio, CLOCK_MONOTONIC
// as host clock.
//
// System audio is not tied to a screen here: teilbarerInhalt() reports one
// display standing for the sound output (id 0, 0 x 0), also on a machine
// without any display.
#pragma once

#include "platform/plattform.h"

namespace hoerspur {

Plattform linuxPlattform();

}  // namespace hoerspur
