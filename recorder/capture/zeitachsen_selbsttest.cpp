#include "recorder/capture/zeitachsen_selbsttest.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <optional>
#include <utility>
#include <vector>

#include "basis/text.h"
#include "platform/audio_puffer.h"
#include "recorder/capture/mono_resampler.h"
#include "recorder/capture/zeitachse.h"

namespace hoerspur {

namespace {

constexpr double EINGANG_HZ = 48000.0;
constexpr double AUSGANG_HZ = 16000.0;
constexpr double NULL_SEKUNDEN = 1000.0;
constexpr double VORLAUF_SEKUNDEN = 0.3;
constexpr double TON_HZ = 300.0;

struct Analyse {
    const std::vector<float>& aus;
    double drift;

    double ideal(std::int64_t m, int lag) const {
        const double u =
            (static_cast<double>(m - lag) / AUSGANG_HZ - VORLAUF_SEKUNDEN) / (1.0 + drift);
        return u >= 0.0 ? std::sin(2.0 * std::numbers::pi * TON_HZ * u) : 0.0;
    }

    struct Rest {
        double db;
        bool gleichsinnig;  // output and ideal correlate positively
    };

    // Residual in dB of the output against the ideal sine over [von, bis); an empty
    // window shows no match at all (0 dB).
    Rest rest(std::int64_t von, std::int64_t bis, int lag) const {
        double c = 0.0;
        double a = 0.0;
        double b = 0.0;
        for (std::int64_t m = std::max<std::int64_t>(von, 0); m < bis; ++m) {
            const double ref = ideal(m, lag);
            const double out = aus[static_cast<std::size_t>(m)];
            c += ref * out;
            a += ref * ref;
            b += out * out;
        }
        const double rho = c / std::max(std::sqrt(a * b), 1e-12);
        return {10.0 * std::log10(std::max(1.0 - rho * rho, 1e-12)), c > 0.0};
    }

    // The lag with the smallest residual over the window; the most negative lag wins
    // ties. The residual ignores the sign of the correlation, so a lag half a period
    // off matches a sine as well as the right one: lags with the output in phase are
    // preferred, and only when there is none does every lag count.
    std::pair<int, double> besterLag(std::int64_t von, std::int64_t bis) const {
        std::optional<std::pair<int, double>> gleich;
        std::optional<std::pair<int, double>> alle;
        for (int lag = -40; lag <= 40; ++lag) {
            const Rest r = rest(von, bis, lag);
            if (!alle || r.db < alle->second) alle = std::pair{lag, r.db};
            if (r.gleichsinnig && (!gleich || r.db < gleich->second)) gleich = std::pair{lag, r.db};
        }
        return gleich ? *gleich : *alle;
    }
};

}  // namespace

std::string fall(std::string_view name, int frames, int kanaele, int puffer,
                 const std::set<int>& auslassen, double drift) {
    const AudioFormat format{EINGANG_HZ, static_cast<std::uint32_t>(std::max(kanaele, 1)),
                             SampleArt::float32, false};
    MonoResampler resampler(AUSGANG_HZ);
    Zeitachse zeit(std::string(name), AUSGANG_HZ, NULL_SEKUNDEN);
    PcmPuffer eingabe(format, static_cast<std::uint32_t>(std::max(frames, 0)));
    std::vector<float> aus;

    for (int i = 0; i < puffer; ++i) {
        if (auslassen.contains(i)) continue;
        const std::span<float> links = eingabe.floatDaten(0);
        for (int n = 0; n < frames; ++n) {
            const double phase = static_cast<double>(static_cast<std::int64_t>(i) * frames + n);
            links[static_cast<std::size_t>(n)] = static_cast<float>(
                0.5 * std::sin(2.0 * std::numbers::pi * TON_HZ * phase / EINGANG_HZ));
        }
        if (format.kanaele >= 2) {
            const std::span<float> rechts = eingabe.floatDaten(1);
            std::copy(links.begin(), links.end(), rechts.begin());
        }
        std::optional<std::vector<float>> mono = resampler.process(eingabe);
        // An empty block still places its time on the timeline; dropping it would
        // make the next block look late and fill silence where signal follows.
        if (!mono) continue;
        const double t = (1.0 + drift) * (static_cast<double>(i) * frames / EINGANG_HZ) +
                         NULL_SEKUNDEN + VORLAUF_SEKUNDEN;
        const std::vector<float> platziert =
            zeit.einordnen(std::move(*mono), t, static_cast<double>(frames) / EINGANG_HZ);
        aus.insert(aus.end(), platziert.begin(), platziert.end());
    }

    const auto laenge = static_cast<std::int64_t>(aus.size());
    const auto sollLaenge = static_cast<std::int64_t>(
        (static_cast<double>(puffer) * frames / EINGANG_HZ * (1.0 + drift) + VORLAUF_SEKUNDEN) *
        AUSGANG_HZ);

    const Analyse analyse{aus, drift};
    const auto [lag, restAnfang] = analyse.besterLag(5600, std::min<std::int64_t>(laenge, 20800));
    const double restEnde =
        analyse.rest(std::max<std::int64_t>(laenge - 10000, 0), laenge - 2000, lag).db;

    std::int64_t nullen = 0;
    for (std::int64_t m = 4900; m < laenge - 2000; ++m) {
        if (aus[static_cast<std::size_t>(m)] == 0.0f) ++nullen;
    }

    std::string z =
        "{\"fall\":\"" + jsonEscape(name) + "\",\"laenge\":" + std::to_string(laenge) +
        ",\"soll_laenge\":" + std::to_string(sollLaenge) +
        ",\"luecken\":" + std::to_string(zeit.luecken()) + ",\"luecken_ms\":" +
        formatFest(static_cast<double>(zeit.lueckenSamples()) / AUSGANG_HZ * 1000.0, 1) +
        ",\"ueberlappungen\":" + std::to_string(zeit.ueberlappungen()) + ",\"verworfen_ms\":" +
        formatFest(static_cast<double>(zeit.verworfen()) / AUSGANG_HZ * 1000.0, 1) +
        ",\"nullen\":" + std::to_string(nullen) + ",\"laufzeit_samples\":" + std::to_string(lag) +
        ",\"rest_anfang_db\":" + formatFest(restAnfang, 1) +
        ",\"rest_ende_db\":" + formatFest(restEnde, 1) + "}";
    return z;
}

int zeitachsenSelbsttest() {
    const auto drucke = [](const std::string& zeile) {
        std::fputs(zeile.c_str(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    };
    drucke(fall("mikro_lueckenlos", 4800, 1, 100, {}, 0.0));
    drucke(fall("mikro_aussetzer", 4800, 1, 100, {50}, 0.0));
    drucke(fall("mikro_drift", 4800, 1, 300, {}, 0.0005));
    drucke(fall("systemton_lueckenlos", 960, 2, 500, {}, 0.0));
    return 0;
}

}  // namespace hoerspur
