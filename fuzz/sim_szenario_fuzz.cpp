// The scenario loader and its WAV reader on arbitrary bytes: scenario files and
// their signal files are written by hand. The input up to the first NUL byte is
// the scenario, the rest the bytes of every WAV file it names.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "platform/sim/sim_szenario.h"

namespace {

void pruefeErstePuffer(const hoerspur::SimQuelle& quelle) {
    for (std::uint64_t k = 0; k < 2; ++k) {
        const auto p = quelle.puffer(k);
        if (p && p->pcm.format() && p->pcm.frameLaenge() > p->pcm.frameKapazitaet()) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* daten, std::size_t groesse) {
    const std::span<const std::uint8_t> alles(daten, groesse);
    std::size_t trenner = 0;
    while (trenner < groesse && daten[trenner] != 0) ++trenner;
    const std::string_view text(reinterpret_cast<const char*>(daten), trenner);
    const std::span<const std::uint8_t> wav =
        trenner < groesse ? alles.subspan(trenner + 1) : std::span<const std::uint8_t>();

    try {
        const hoerspur::SimWav w = hoerspur::liesSimWav(wav);
        if (w.kanaele.empty() || w.kanaele.front().size() > wav.size() / 2) std::abort();
    } catch (const std::invalid_argument&) {
    }

    try {
        const hoerspur::SimSzenario s = hoerspur::parseSzenario(text, "", [&](const std::string&) {
            return std::vector<std::uint8_t>(wav.begin(), wav.end());
        });
        pruefeErstePuffer(s.mikrofon.quelle);
        pruefeErstePuffer(s.systemAudio.quelle);
    } catch (const hoerspur::SzenarioFehler&) {
    }
    return 0;
}
