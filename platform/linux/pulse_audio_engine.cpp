// The microphone on the sound server: the client's default source (PULSE_SOURCE
// when set, else the server's default), recorded as float32 interleaved in the
// device's own rate and channel count unless the tap asks for another format.
#include <cstdlib>
#include <mutex>

#include "platform/linux/pulse_aufnahme.h"
#include "platform/linux/pulse_fehler.h"

#include <pulse/error.h>

namespace hoerspur {

namespace {

struct Mikrofon {
    std::string name;
    AudioFormat format;
};

// Which source the microphone stream will record and in what native format.
// Throws PlattformFehler with the reason when there is none.
Mikrofon findeMikrofon(PulseVerbindung& verbindung) {
    std::string name;
    if (const char* gesetzt = std::getenv("PULSE_SOURCE"); gesetzt != nullptr && *gesetzt != '\0') {
        name = gesetzt;
    } else {
        name = verbindung.serverInfo().standardQuelle;
        if (name.empty()) {
            throw pulseFehler("kein Standard-Eingang (Mikrofon) am Tonserver", PA_ERR_NOENTITY);
        }
    }
    const std::optional<PulseGeraeteInfo> quelle = verbindung.quelle(name);
    if (!quelle) {
        throw pulseFehler("Standard-Eingang \"" + name + "\" gibt es am Tonserver nicht",
                          PA_ERR_NOENTITY);
    }
    return {quelle->name,
            AudioFormat{quelle->sampleRateHz, quelle->kanaele, SampleArt::float32, true}};
}

class PulseAudioEngine final : public AudioEngine {
  public:
    explicit PulseAudioEngine(std::function<void(const std::string&)> beiStoerung)
        : beiStoerung_(std::move(beiStoerung)) {}

    ~PulseAudioEngine() override { stoppe(); }

    std::optional<AudioFormat> eingangsFormat() override {
        try {
            PulseVerbindung verbindung("hs-mikro-info");
            return findeMikrofon(verbindung).format;
        } catch (const PlattformFehler&) {
            return std::nullopt;
        }
    }

    void installiereTap(std::uint32_t pufferFrames, const AudioFormat& format,
                        TapFunktion tap) override {
        std::lock_guard<std::mutex> lock(mutex_);
        pufferFrames_ = pufferFrames;
        tapFormat_ = format;
        tap_ = std::move(tap);
        // A running stream keeps its format and buffer size; only the receiver changes.
        if (aufnahme_) aufnahme_->setzeLieferung(lieferung(tap_));
    }

    void entferneTap() override {
        std::lock_guard<std::mutex> lock(mutex_);
        tap_ = nullptr;
        if (aufnahme_) aufnahme_->setzeLieferung({});
    }

    void starte() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (aufnahme_) return;
        auto verbindung = std::make_unique<PulseVerbindung>("hs-mikro");
        const Mikrofon mikrofon = findeMikrofon(*verbindung);
        PulseAufnahmeWunsch wunsch;
        wunsch.streamName = "Mikrofon";
        const char* gesetzt = std::getenv("PULSE_SOURCE");
        // The stream follows the default source; only a named one is taken by name.
        if (gesetzt != nullptr && *gesetzt != '\0') wunsch.quelle = mikrofon.name;
        const AudioFormat format = tapFormat_.gueltig() && tapFormat_.art == SampleArt::float32
                                       ? tapFormat_
                                       : mikrofon.format;
        wunsch.sampleRateHz = format.sampleRateHz;
        wunsch.kanaele = format.kanaele;
        wunsch.pufferFrames = pufferFrames_ > 0 ? pufferFrames_ : 4096;
        aufnahme_ = std::make_unique<PulseAufnahme>(
            std::move(verbindung), wunsch, tap_ ? lieferung(tap_) : PulseAufnahme::LieferFunktion{},
            beiStoerung_);
    }

    void stoppe() override {
        std::unique_ptr<PulseAufnahme> alt;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            alt = std::move(aufnahme_);
        }
        if (alt) alt->stoppe();
    }

  private:
    static PulseAufnahme::LieferFunktion lieferung(TapFunktion tap) {
        return [tap = std::move(tap)](const AudioSampleBuffer& puffer) {
            tap(puffer.pcm, AudioZeit{puffer.praesentationSekunden});
        };
    }

    // Fest nach dem Bau.
    const std::function<void(const std::string&)> beiStoerung_;

    // Unter mutex_.
    std::mutex mutex_;
    std::uint32_t pufferFrames_ = 0;
    AudioFormat tapFormat_;
    TapFunktion tap_;
    std::unique_ptr<PulseAufnahme> aufnahme_;
};

}  // namespace

std::unique_ptr<AudioEngine> neuePulseAudioEngine(
    std::function<void(const std::string& fehlerText)> beiStoerung) {
    return std::make_unique<PulseAudioEngine>(std::move(beiStoerung));
}

}  // namespace hoerspur
