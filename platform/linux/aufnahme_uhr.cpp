#include "platform/linux/aufnahme_uhr.h"

#include <algorithm>
#include <cmath>

namespace hoerspur {

AufnahmeUhr::AufnahmeUhr(double rateHz) : rateHz_(rateHz) {}

bool AufnahmeUhr::messung(double positionFrames, double hostSekunden, double gelesenSekunden) {
    if (!std::isfinite(positionFrames) || !std::isfinite(hostSekunden) ||
        !std::isfinite(gelesenSekunden)) {
        return kandidat_.has_value();
    }
    const double a = hostSekunden - positionFrames / rateHz_;
    if (!anker_) {
        anker_ = a;
        return false;
    }
    const double d = a - *anker_;
    if (std::abs(d) <= kSprungSekunden) {
        kandidat_.reset();
        // A fiftieth of the difference per reading (a time constant of about
        // 12 s) averages reading noise away; the clamp bounds both the step
        // between two consecutive stamps and how far a lagging stretch of
        // readings can pull the line.
        *anker_ += std::clamp(d * 0.02, -kNachfuehrungSekunden, kNachfuehrungSekunden);
        return false;
    }
    if (kandidat_ && std::abs(a - *kandidat_) <= kBestaetigungSekunden) {
        if (gelesenSekunden - kandidatSeitSekunden_ < kBestaetigungsdauerSekunden) return true;
        anker_ = a;
        kandidat_.reset();
        ++spruenge_;
        return false;
    }
    kandidat_ = a;
    kandidatSeitSekunden_ = gelesenSekunden;
    return true;
}

std::optional<double> AufnahmeUhr::zeitVon(double positionFrames) const {
    if (!anker_) return std::nullopt;
    return *anker_ + positionFrames / rateHz_;
}

}  // namespace hoerspur
