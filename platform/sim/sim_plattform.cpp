#include "platform/sim/sim_plattform.h"

#include <cmath>
#include <utility>

namespace hoerspur {

SimUmgebung baueSimPlattform(SimSzenario szenario) {
    SimUmgebung u;
    u.uhr = std::make_shared<SimUhr>(szenario.uhrStartSekunden, szenario.uhrLaeuft);
    u.mikrofon = std::make_shared<SimMikrofonProtokoll>();
    u.systemAudio = std::make_shared<SimSystemAudioProtokoll>();
    u.fensterVideo = std::make_shared<SimFensterVideoProtokoll>();
    u.videoSchreiber = std::make_shared<SimVideoSchreiberProtokoll>();

    const std::function<double()> jetzt = [uhr = u.uhr] { return uhr->jetzt(); };
    u.plattform.hostSekunden = jetzt;
    u.plattform.unixMs = [uhr = u.uhr, start = szenario.uhrStartSekunden,
                          unixStart = szenario.unixStartMs] {
        return unixStart + static_cast<std::int64_t>(std::trunc((uhr->jetzt() - start) * 1000.0));
    };
    u.plattform.neueAudioEngine = [mikrofon = std::move(szenario.mikrofon), jetzt,
                                   protokoll = u.mikrofon]() -> std::unique_ptr<AudioEngine> {
        return std::make_unique<SimAudioEngine>(mikrofon, jetzt, protokoll);
    };
    u.plattform.bildschirm = std::make_shared<SimBildschirmAufnahme>(
        std::move(szenario.systemAudio), jetzt, szenario.uhrStartSekunden, u.systemAudio);
    u.plattform.fensterAufnahme = std::make_shared<SimFensterAufnahme>(
        std::move(szenario.fensterVideo), jetzt, u.fensterVideo);
    u.plattform.neuerVideoSchreiber =
        simVideoSchreiberFabrik(std::move(szenario.videoSchreiber), u.videoSchreiber);
    return u;
}

}  // namespace hoerspur
