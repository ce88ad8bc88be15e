// A complete simulated platform for the recorder: scripted microphone, screen
// capture, window video, video writer and host clock, with the records tests
// assert on.
//
// The Plattform's functions keep the simulated parts alive; the records and the
// clock may be used from any thread.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/plattform.h"
#include "platform/sim/sim_audio_engine.h"
#include "platform/sim/sim_bildschirm_aufnahme.h"
#include "platform/sim/sim_fenster_aufnahme.h"
#include "platform/sim/sim_uhr.h"
#include "platform/sim/sim_video_schreiber.h"

namespace hoerspur {

struct SimSzenario {
    SimMikrofon mikrofon;
    SimSystemAudio systemAudio;
    SimFensterVideo fensterVideo;
    SimVideoSchreiberSkript videoSchreiber;
    double uhrStartSekunden = 1000.0;
    // A running clock follows real time (for real-time pacing); otherwise it
    // moves only when a test moves it.
    bool uhrLaeuft = false;
    // Wall-clock milliseconds at uhrStartSekunden; unixMs() follows the host clock.
    std::int64_t unixStartMs = 1'700'000'000'000;
};

struct SimUmgebung {
    Plattform plattform;
    std::shared_ptr<SimUhr> uhr;
    std::shared_ptr<SimMikrofonProtokoll> mikrofon;
    std::shared_ptr<SimSystemAudioProtokoll> systemAudio;
    std::shared_ptr<SimFensterVideoProtokoll> fensterVideo;
    std::shared_ptr<SimVideoSchreiberProtokoll> videoSchreiber;
};

SimUmgebung baueSimPlattform(SimSzenario szenario);

}  // namespace hoerspur
