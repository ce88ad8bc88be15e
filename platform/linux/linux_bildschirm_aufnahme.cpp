#include "platform/linux/linux_bildschirm_aufnahme.h"

#include <cstdlib>
#include <string>
#include <utility>

#include "platform/linux/x11_fenster_katalog.h"

namespace hoerspur {

namespace {

class LinuxBildschirmAufnahme final : public BildschirmAufnahme {
  public:
    explicit LinuxBildschirmAufnahme(std::shared_ptr<BildschirmAufnahme> ton)
        : ton_(std::move(ton)) {}

    TeilbarerInhalt teilbarerInhalt() override {
        const char* display = std::getenv("DISPLAY");
        return x11TeilbarerInhalt(display != nullptr ? display : "");
    }

    std::vector<Display> systemAudioDisplays() override { return ton_->systemAudioDisplays(); }

    std::unique_ptr<SystemAudioStrom> starteSystemAudio(
        const Display& display, const SystemAudioKonfiguration& konfiguration,
        SampleFunktion proSample, StopFunktion beiStop) override {
        return ton_->starteSystemAudio(display, konfiguration, std::move(proSample),
                                       std::move(beiStop));
    }

  private:
    // fest nach dem Bau
    const std::shared_ptr<BildschirmAufnahme> ton_;
};

}  // namespace

std::shared_ptr<BildschirmAufnahme> neueLinuxBildschirmAufnahme(
    std::shared_ptr<BildschirmAufnahme> ton) {
    return std::make_shared<LinuxBildschirmAufnahme>(std::move(ton));
}

}  // namespace hoerspur
