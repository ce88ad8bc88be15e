// Feeds EchoStrecke reference and microphone pieces of random sizes and contents,
// including NaN, infinities, huge and tiny values. Whatever comes in: no crash, as
// many output samples as microphone samples, every output sample finite and in [-1, 1].
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

#include "recorder/echo/echo_strecke.h"

namespace {

// Enough for the delay estimator's 2.8 s window and a few estimates.
constexpr std::size_t MAX_SAMPLES = 120000;

void fuelle(FuzzedDataProvider& daten, std::vector<float>& v) {
    const int art = daten.ConsumeIntegralInRange(0, 3);
    if (art == 0) {
        for (float& x : v) x = daten.ConsumeFloatingPoint<float>();
    } else if (art == 1) {
        // Noise of a chosen level, so long pieces cost few input bytes.
        const float pegel = daten.ConsumeFloatingPoint<float>();
        std::uint32_t z = daten.ConsumeIntegral<std::uint32_t>();
        for (float& x : v) {
            z = z * 1664525u + 1013904223u;
            x = pegel * (static_cast<float>(z >> 8) / 8388608.0f - 1.0f);
        }
    } else if (art == 2) {
        constexpr float besondere[] = {std::numeric_limits<float>::quiet_NaN(),
                                       std::numeric_limits<float>::infinity(),
                                       -std::numeric_limits<float>::infinity(),
                                       std::numeric_limits<float>::max(),
                                       -std::numeric_limits<float>::max(),
                                       std::numeric_limits<float>::denorm_min(),
                                       1e30f,
                                       -1.0f,
                                       1.0f,
                                       0.0f};
        const auto start = daten.ConsumeIntegral<std::uint8_t>();
        for (std::size_t i = 0; i < v.size(); ++i)
            v[i] = besondere[(start + i) % std::size(besondere)];
    } else {
        const float f = daten.ConsumeFloatingPointInRange<float>(0.0f, 0.5f);
        const float a = daten.ConsumeFloatingPointInRange<float>(0.0f, 1.0f);
        for (std::size_t i = 0; i < v.size(); ++i) v[i] = a * std::sin(f * static_cast<float>(i));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider daten(data, size);
    hoerspur::EchoStrecke strecke(20);
    strecke.nachfilter(daten.ConsumeBool());
    std::size_t ausgegeben = 0;
    strecke.ausgabe = [&](std::span<const float> s, std::span<const bool> f) {
        if (s.size() != f.size()) std::abort();
        for (float x : s) {
            if (!std::isfinite(x) || x < -1.0f || x > 1.0f) std::abort();
        }
        ausgegeben += s.size();
    };

    std::size_t gesamt = 0;
    std::vector<float> stueck;
    while (daten.remaining_bytes() > 0 && gesamt < MAX_SAMPLES) {
        const int wohin = daten.ConsumeIntegralInRange(0, 2);
        stueck.resize(daten.ConsumeIntegralInRange<std::size_t>(0, 20000));
        fuelle(daten, stueck);
        gesamt += stueck.size();
        if (wohin != 1) strecke.referenz(stueck);
        if (wohin != 0) strecke.mikro(stueck);
    }
    strecke.abschliessen();
    if (ausgegeben != static_cast<std::size_t>(strecke.micEnde())) std::abort();
    const hoerspur::EchoStatistik s = strecke.statistik();
    if (!(s.torAnteil >= 0.0 && s.torAnteil <= 1.0 && s.nahAnteil >= 0.0 && s.nahAnteil <= 1.0))
        std::abort();
    return 0;
}
