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
        PulseAufnahmeWunsch wunsch;
        PulseAufnahme::LieferFunktion liefern;
        StoerFunktion stoerung;
        std::uint64_t stoppsVorher = 0;
        AudioFormat tapFormat;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (aufnahme_) return;
            stoppsVorher = stopps_;
            tapFormat = tapFormat_;
            wunsch.pufferFrames = pufferFrames_ > 0 ? pufferFrames_ : 4096;
            if (tap_) liefern = lieferung(tap_);
            stoerung = stoerung_;
        }
        // Connecting may take seconds when the server is slow; no lock is held
        // meanwhile, so a stop never waits for it.
        auto verbindung = std::make_unique<PulseVerbindung>("hs-mikro");
        const Mikrofon mikrofon = findeMikrofon(*verbindung);
        wunsch.streamName = "Mikrofon";
        const char* gesetzt = std::getenv("PULSE_SOURCE");
        // The stream follows the default source; only a named one is taken by name.
        if (gesetzt != nullptr && *gesetzt != '\0') wunsch.quelle = mikrofon.name;
        const AudioFormat format = tapFormat.gueltig() && tapFormat.art == SampleArt::float32
                                       ? tapFormat
                                       : mikrofon.format;
        wunsch.sampleRateHz = format.sampleRateHz;
        wunsch.kanaele = format.kanaele;
        auto neu = std::make_unique<PulseAufnahme>(std::move(verbindung), wunsch,
                                                   std::move(liefern), std::move(stoerung));
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopps_ == stoppsVorher && !aufnahme_) {
                // The tap may have changed while the stream was being set up.
                neu->setzeLieferung(tap_ ? lieferung(tap_) : PulseAufnahme::LieferFunktion{});
                aufnahme_ = std::move(neu);
                return;
            }
        }
        // A stop came meanwhile (or another start won): this stream is not wanted.
        neu->stoppe();
    }

    void stoppe() override {
        std::unique_ptr<PulseAufnahme> alt;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++stopps_;
            alt = std::move(aufnahme_);
        }
        if (alt) alt->stoppe();
    }

    void beiStoerung(StoerFunktion stoerung) override {
        std::lock_guard<std::mutex> lock(mutex_);
        stoerung_ = std::move(stoerung);
    }

  private:
    static PulseAufnahme::LieferFunktion lieferung(TapFunktion tap) {
        return [tap = std::move(tap)](const AudioSampleBuffer& puffer) {
            tap(puffer.pcm, AudioZeit{puffer.praesentationSekunden});
        };
    }

    // Unter mutex_.
    std::mutex mutex_;
    std::uint32_t pufferFrames_ = 0;
    AudioFormat tapFormat_;
    TapFunktion tap_;
    StoerFunktion stoerung_;
    std::uint64_t stopps_ = 0;  // calls of stoppe(), so a start sees one that came meanwhile
    std::unique_ptr<PulseAufnahme> aufnahme_;
};

}  // namespace

std::unique_ptr<AudioEngine> neuePulseAudioEngine() {
    return std::make_unique<PulseAudioEngine>();
}

}  // namespace hoerspur
