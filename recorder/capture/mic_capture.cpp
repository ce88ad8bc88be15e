#include "recorder/capture/mic_capture.h"

#include <stdexcept>
#include <utility>

#include "basis/ausgabe.h"
#include "platform/plattform_fehler.h"

namespace hoerspur {

MicCapture::Kern::Kern(double rateHz, Zeitachse& z, Weiter w)
    : resampler(rateHz), zeit(z), weiter(std::move(w)) {}

std::shared_ptr<MicCapture> MicCapture::erstelle(double rateHz, Zeitachse& zeit,
                                                 std::unique_ptr<AudioEngine> engine,
                                                 Weiter weiter) {
    return std::make_shared<MicCapture>(rateHz, zeit, std::move(engine), std::move(weiter));
}

MicCapture::MicCapture(double rateHz, Zeitachse& zeit, std::unique_ptr<AudioEngine> engine,
                       Weiter weiter)
    : engine_(std::move(engine)),
      kern_(std::make_shared<Kern>(rateHz, zeit, std::move(weiter))),
      wiederverbindung_("mikro.wieder", [this] { return wiederverbinden(); }) {
    if (!engine_) throw std::invalid_argument("MicCapture ohne Audio-Engine");
    // The engine is stopped before this object goes, so `this` outlives the calls.
    engine_->beiStoerung([this](const std::string& fehlerText) { gestoert(fehlerText); });
}

MicCapture::~MicCapture() {
    stop();
}

void MicCapture::start() {
    std::lock_guard<std::mutex> halten(startMutex_);
    if (kern_->gestoppt) return;
    const std::optional<AudioFormat> format = engine_->eingangsFormat();
    // Tapping a device without a usable format would deliver nothing forever.
    if (!format || !format->gueltig()) {
        throw PlattformFehler(kFehlerDomain, 2, "kein Mikrofon gefunden");
    }
    engine_->installiereTap(
        TAP_PUFFER_FRAMES, *format,
        [schwach = std::weak_ptr<Kern>(kern_)](const PcmPuffer& puffer, const AudioZeit& zeit) {
            if (const std::shared_ptr<Kern> kern = schwach.lock()) kern->verarbeite(puffer, zeit);
        });
    engine_->starte();
    if (kern_->gestoppt) {
        // A stop came while the engine was starting; it may have missed the engine.
        engine_->entferneTap();
        engine_->stoppe();
        return;
    }
    log("[hoerspur] Mikrofon-Capture gestartet");
}

void MicCapture::stop() {
    kern_->gestoppt = true;
    wiederverbindung_.beende();
    engine_->entferneTap();
    engine_->stoppe();
}

void MicCapture::gestoert(const std::string& fehlerText) {
    log("[hoerspur] Mikrofon gestoppt: " + fehlerText);
    ++stoerungen_;
    ausgefallen_ = true;
    if (!kern_->gestoppt) wiederverbindung_.ausgefallen();
}

bool MicCapture::wiederverbinden() {
    std::lock_guard<std::mutex> halten(startMutex_);
    if (kern_->gestoppt) return true;
    engine_->stoppe();  // what is left of the stream that ended
    const std::uint64_t stoerungenVorher = stoerungen_;
    try {
        engine_->starte();
    } catch (const PlattformFehler& f) {
        if (!fehlschlagGemeldet_) {
            fehlschlagGemeldet_ = true;
            log("[hoerspur] Mikrofon noch nicht wieder da, neuer Versuch jede Sekunde: " +
                f.vollText());
        }
        return false;
    }
    if (kern_->gestoppt) {
        engine_->stoppe();
        return true;
    }
    fehlschlagGemeldet_ = false;
    ausgefallen_ = false;
    // A failure of the new stream counted before its flag was set: keep it.
    if (stoerungen_ != stoerungenVorher) ausgefallen_ = true;
    log("[hoerspur] Mikrofon wieder verbunden");
    return true;
}

void MicCapture::Kern::verarbeite(const PcmPuffer& puffer, const AudioZeit& zeitstempel) {
    // Not a single block after stop(), whatever the engine still delivers.
    if (gestoppt.load(std::memory_order_acquire)) return;
    std::optional<std::vector<float>> mono = resampler.process(puffer);
    if (!mono) return;
    // The timeline advances by what was captured, not by what the converter gave.
    const double eingangSekunden = puffer.frameLaenge() / puffer.format()->sampleRateHz;
    weiter(zeit.einordnen(std::move(*mono), zeitstempel.hostSekunden, eingangSekunden));
}

}  // namespace hoerspur
