// System audio on the sound server: the monitor of the default sink, which
// carries everything the machine plays, following the default sink when it
// changes. The recorder itself plays nothing, so its own audio is never part of it.
//
// The sound output is not tied to a screen here: systemAudioDisplays() reports
// one display standing for the sound output (id 0, size 0 x 0), also on a
// machine without any display. Windows are the X server's business
// (linux_bildschirm_aufnahme.h).
#include <pulse/error.h>

#include "platform/linux/pulse_aufnahme.h"
#include "platform/linux/pulse_fehler.h"

namespace hoerspur {

namespace {

// About as long as the buffers a screen-capture service hands out.
constexpr std::uint32_t kPufferFrames = 1024;

class PulseSystemAudioStrom final : public SystemAudioStrom {
  public:
    explicit PulseSystemAudioStrom(std::unique_ptr<PulseAufnahme> aufnahme)
        : aufnahme_(std::move(aufnahme)) {}
    ~PulseSystemAudioStrom() override { stoppe(); }
    void stoppe() override { aufnahme_->stoppe(); }

  private:
    std::unique_ptr<PulseAufnahme> aufnahme_;
};

class PulseSystemAudio final : public BildschirmAufnahme {
  public:
    TeilbarerInhalt teilbarerInhalt() override {
        return TeilbarerInhalt{systemAudioDisplays(), {}};
    }

    std::vector<Display> systemAudioDisplays() override { return {Display{0, 0, 0}}; }

    std::unique_ptr<SystemAudioStrom> starteSystemAudio(
        const Display&, const SystemAudioKonfiguration& konfiguration, SampleFunktion proSample,
        StopFunktion beiStop) override {
        auto verbindung = std::make_unique<PulseVerbindung>("sck.audio");
        const std::string senkenName = verbindung->serverInfo().standardSenke;
        if (senkenName.empty()) {
            throw pulseFehler("kein Standard-Ausgang am Tonserver, also kein System-Audio",
                              PA_ERR_NOENTITY);
        }
        const std::optional<PulseGeraeteInfo> senke = verbindung->senke(senkenName);
        if (!senke || senke->monitor.empty()) {
            throw pulseFehler("Standard-Ausgang \"" + senkenName + "\" hat keinen Monitor",
                              PA_ERR_NOENTITY);
        }
        PulseAufnahmeWunsch wunsch;
        wunsch.streamName = "System-Audio";
        wunsch.quelle = senke->monitor;
        wunsch.sampleRateHz = konfiguration.sampleRateHz;
        wunsch.kanaele = konfiguration.kanaele;
        wunsch.pufferFrames = kPufferFrames;
        // Should the sink go away, the server would move the stream to any other
        // source, a microphone included; ending it is the honest result (the capture
        // then starts again on the new default). A new default sink while the old
        // one stays (headphones plugged in) is followed at once.
        wunsch.nichtVerschieben = true;
        wunsch.folgeStandardSenke = true;
        wunsch.senke = senkenName;
        return std::make_unique<PulseSystemAudioStrom>(std::make_unique<PulseAufnahme>(
            std::move(verbindung), wunsch, std::move(proSample), std::move(beiStop)));
    }
};

}  // namespace

std::shared_ptr<BildschirmAufnahme> neuePulseSystemAudio() {
    return std::make_shared<PulseSystemAudio>();
}

}  // namespace hoerspur
