#include "platform/sim/sim_uhr.h"

namespace hoerspur {

SimUhr::SimUhr(double startSekunden, bool laeuft)
    : laeuft_(laeuft),
      basisSekunden_(startSekunden),
      basisMoment_(std::chrono::steady_clock::now()) {}

double SimUhr::jetzt() const {
    std::lock_guard lock(mutex_);
    if (!laeuft_) return basisSekunden_;
    const std::chrono::duration<double> seit = std::chrono::steady_clock::now() - basisMoment_;
    return basisSekunden_ + seit.count();
}

void SimUhr::setze(double sekunden) {
    std::lock_guard lock(mutex_);
    basisSekunden_ = sekunden;
    basisMoment_ = std::chrono::steady_clock::now();
}

void SimUhr::vorruecken(double sekunden) {
    std::lock_guard lock(mutex_);
    basisSekunden_ += sekunden;
}

}  // namespace hoerspur
