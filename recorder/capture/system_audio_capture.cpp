#include "recorder/capture/system_audio_capture.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "basis/ausgabe.h"
#include "platform/plattform_fehler.h"

namespace hoerspur {

std::optional<PcmPuffer> toPCMBuffer(const AudioSampleBuffer& sample) {
    if (!sample.gueltig) return std::nullopt;
    const std::optional<AudioFormat>& format = sample.pcm.format();
    if (!format || !format->gueltig()) return std::nullopt;
    if (sample.frames > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    const auto frames = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(sample.frames, sample.pcm.frameLaenge()));
    if (frames == 0) return std::nullopt;
    PcmPuffer pcm = sample.pcm;
    pcm.setzeFrameLaenge(frames);
    return pcm;
}

SystemAudioCapture::Kern::Kern(double rateHz, Zeitachse& z)
    : resampler(rateHz), zeit(z), weiter([](std::vector<float>) {}) {}

void SystemAudioCapture::Kern::verarbeite(const AudioSampleBuffer& sample) {
    // Not a single block after stop(), whatever a stream still delivers.
    if (gestoppt.load(std::memory_order_acquire)) return;
    const std::optional<PcmPuffer> pcm = toPCMBuffer(sample);
    if (!pcm) return;
    std::optional<std::vector<float>> mono = resampler.process(*pcm);
    if (!mono) return;
    // The timeline advances by what was captured, not by what the converter gave.
    const double eingangSekunden = pcm->frameLaenge() / pcm->format()->sampleRateHz;
    std::vector<float> platziert =
        zeit.einordnen(std::move(*mono), sample.praesentationSekunden, eingangSekunden);
    std::lock_guard lock(weiterMutex);
    weiter(std::move(platziert));
}

SystemAudioCapture::SystemAudioCapture(double rateHz, Zeitachse& zeit,
                                       std::shared_ptr<BildschirmAufnahme> dienst)
    : dienst_(std::move(dienst)),
      kern_(std::make_shared<Kern>(rateHz, zeit)),
      wiederverbindung_("system.wieder", [this] { return wiederverbinden(); }) {}

SystemAudioCapture::~SystemAudioCapture() {
    stop();
}

void SystemAudioCapture::setzeWeiter(Weiter weiter) {
    std::lock_guard lock(kern_->weiterMutex);
    kern_->weiter = weiter ? std::move(weiter) : [](std::vector<float>) {};
}

void SystemAudioCapture::start() {
    std::lock_guard halten(startMutex_);
    {
        std::lock_guard lock(mutex_);
        if (gestoppt_) return;
    }
    std::unique_ptr<SystemAudioStrom> neu = starteStrom();
    std::unique_ptr<SystemAudioStrom> verworfen;
    bool abgebrochen = false;
    {
        std::lock_guard lock(mutex_);
        if (gestoppt_) {
            // A stop came while the stream was starting; it could not reach it.
            verworfen = std::move(neu);
            abgebrochen = true;
        } else {
            // A second start replaces the first stream rather than leaving it running.
            verworfen = std::exchange(strom_, std::move(neu));
        }
    }
    if (verworfen) verworfen->stoppe();
    if (abgebrochen) return;
    log("[hoerspur] System-Audio-Capture gestartet");
}

std::unique_ptr<SystemAudioStrom> SystemAudioCapture::starteStrom() {
    const std::vector<Display> displays = dienst_->systemAudioDisplays();
    if (displays.empty()) {
        throw PlattformFehler(kFehlerDomain, 1, "kein Display gefunden");
    }
    SystemAudioKonfiguration konfiguration;
    konfiguration.sampleRateHz = 48000;
    konfiguration.kanaele = 2;
    konfiguration.eigenenProzessAusschliessen = true;
    return dienst_->starteSystemAudio(
        displays.front(), konfiguration,
        [kern = kern_](const AudioSampleBuffer& sample) { kern->verarbeite(sample); },
        // Streams are stopped before this object goes, so `this` outlives the call.
        [this](const std::string& fehlerText) {
            log("[hoerspur] SCStream gestoppt: " + fehlerText);
            ++stoerungen_;
            ausgefallen_ = true;
            wiederverbindung_.ausgefallen();
        });
}

bool SystemAudioCapture::wiederverbinden() {
    std::lock_guard halten(startMutex_);
    std::unique_ptr<SystemAudioStrom> alt;
    {
        std::lock_guard lock(mutex_);
        if (gestoppt_) return true;
        alt = std::move(strom_);
    }
    if (alt) alt->stoppe();  // what is left of the stream that ended
    const std::uint64_t stoerungenVorher = stoerungen_;
    std::unique_ptr<SystemAudioStrom> neu;
    try {
        neu = starteStrom();
    } catch (const PlattformFehler& f) {
        if (!fehlschlagGemeldet_) {
            fehlschlagGemeldet_ = true;
            log("[hoerspur] System-Audio noch nicht wieder da, neuer Versuch jede Sekunde: " +
                f.vollText());
        }
        return false;
    }
    std::unique_ptr<SystemAudioStrom> verworfen;
    {
        std::lock_guard lock(mutex_);
        if (gestoppt_) {
            verworfen = std::move(neu);  // a stop came meanwhile
        } else {
            strom_ = std::move(neu);
            fehlschlagGemeldet_ = false;
            ausgefallen_ = false;
            // A failure of the new stream counted before its flag was set: keep it.
            if (stoerungen_ != stoerungenVorher) ausgefallen_ = true;
        }
    }
    if (verworfen) {
        verworfen->stoppe();
        return true;
    }
    log("[hoerspur] System-Audio wieder verbunden");
    return true;
}

void SystemAudioCapture::stop() {
    std::unique_ptr<SystemAudioStrom> strom;
    {
        std::lock_guard lock(mutex_);
        gestoppt_ = true;
        strom = std::move(strom_);
    }
    kern_->gestoppt = true;
    wiederverbindung_.beende();
    if (strom) strom->stoppe();
}

}  // namespace hoerspur
