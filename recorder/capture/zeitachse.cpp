#include "recorder/capture/zeitachse.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "basis/ausgabe.h"
#include "basis/text.h"

namespace hoerspur {

namespace {

constexpr std::int64_t MAX_LOGZEILEN = 20;

// Beyond 2^53 samples (millennia) a position is no longer an exact integer and no
// longer converts safely; such a time stamp is garbage and is treated as missing.
constexpr double MAX_POSITION = 9007199254740992.0;

std::int64_t gerundet(double x) {
    return static_cast<std::int64_t>(std::round(x));
}

}  // namespace

Zeitachse::Zeitachse(std::string name, double rate, double nullSekunden)
    : name_(std::move(name)), rate_(rate), null_(nullSekunden), toleranz_(rate * 0.005) {}

std::vector<float> Zeitachse::einordnen(std::vector<float> samples, std::optional<double> tSekunden,
                                        double eingangSekunden) {
    const double r = rate_;
    // A broken duration must not poison the expected position for the rest of the run;
    // the block's own length stands in for it.
    const double eingang = std::isfinite(eingangSekunden) && eingangSekunden >= 0.0
                               ? eingangSekunden
                               : static_cast<double>(samples.size()) / r;

    std::optional<double> p;
    if (tSekunden && std::isfinite(*tSekunden) && *tSekunden > 0.0) {
        const double position = (*tSekunden - null_) * r;
        if (std::isfinite(position) && std::fabs(position) < MAX_POSITION) p = position;
    }

    bool neuVerankern = false;
    if (p && !erwartet_) {
        // Untimed blocks may already have been handed out; they lie before this one.
        const std::int64_t n = gerundet(*p) - geschrieben_;
        if (n >= 1) {
            samples.insert(samples.begin(), static_cast<std::size_t>(n), 0.0f);
        } else if (n < 0) {
            nochWeg_ += -n;
        }
        neuVerankern = true;
    } else if (p) {
        const double d = *p - *erwartet_;
        if (d > toleranz_) {
            const std::int64_t g = gerundet(d);
            const std::int64_t m = std::min(nochWeg_, g);
            nochWeg_ -= m;
            const std::int64_t fuellung = g - m;
            if (fuellung >= 1) {
                samples.insert(samples.begin(), static_cast<std::size_t>(fuellung), 0.0f);
            }
            ++luecken_;
            lueckenSamples_ += fuellung;
            if (luecken_ <= MAX_LOGZEILEN) {
                log("[hoerspur] Zeitachse " + name_ + ": Luecke " + formatFest(d / r * 1000.0, 1) +
                    " ms bei " + formatFest(static_cast<double>(geschrieben_) / r, 2) +
                    " s aufgefuellt");
            }
            neuVerankern = true;
        } else if (d < -toleranz_) {
            nochWeg_ += gerundet(-d);
            ++ueberlappungen_;
            if (ueberlappungen_ <= MAX_LOGZEILEN) {
                log("[hoerspur] Zeitachse " + name_ + ": " + formatFest(-d / r * 1000.0, 1) +
                    " ms Ueberlappung bei " + formatFest(static_cast<double>(geschrieben_) / r, 2) +
                    " s verworfen");
            }
            neuVerankern = true;
        } else {
            // Jitter: advance by the input duration, not by the output length, so that
            // converter latency and rounding never add up to drift.
            *erwartet_ += eingang * r;
        }
    } else if (erwartet_) {
        *erwartet_ += eingang * r;
    }
    if (neuVerankern) erwartet_ = *p + eingang * r;

    if (nochWeg_ >= 1) {
        const std::int64_t k = std::min(static_cast<std::int64_t>(samples.size()), nochWeg_);
        samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(k));
        nochWeg_ -= k;
        verworfen_ += k;
    }
    geschrieben_ += static_cast<std::int64_t>(samples.size());
    return samples;
}

}  // namespace hoerspur
