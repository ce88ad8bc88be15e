#include "platform/sim/sim_audio_engine.h"

#include <chrono>
#include <thread>
#include <utility>

#include "platform/plattform_fehler.h"

namespace hoerspur {

namespace {
constexpr AudioFormat STANDARD_FORMAT{48000.0, 1, SampleArt::float32, false};

void warte(double sekunden) {
    if (sekunden > 0.0) std::this_thread::sleep_for(std::chrono::duration<double>(sekunden));
}
}  // namespace

SimAudioEngine::SimAudioEngine(SimMikrofon mikrofon, std::function<double()> uhr,
                               std::shared_ptr<SimMikrofonProtokoll> protokoll)
    : mikrofon_(std::move(mikrofon)),
      protokoll_(std::move(protokoll)),
      lieferung_(
          mikrofon_.quelle, std::move(uhr), "audio.tap",
          [this](SimPuffer& p) { return liefere(p); },
          [this] { protokoll_->aendere([](SimMikrofonAufrufe& a) { a.erschoepft = true; }); }) {
    protokoll_->aendere([](SimMikrofonAufrufe& a) { ++a.engines; });
}

SimAudioEngine::~SimAudioEngine() {
    lieferung_.stoppe();
}

std::optional<AudioFormat> SimAudioEngine::eingangsFormat() {
    protokoll_->aendere([](SimMikrofonAufrufe& a) { ++a.formatAbfragen; });
    if (mikrofon_.keinGeraet) return std::nullopt;
    if (mikrofon_.eingangsFormat) return mikrofon_.eingangsFormat;
    return mikrofon_.quelle.erstesFormat().value_or(STANDARD_FORMAT);
}

void SimAudioEngine::installiereTap(std::uint32_t pufferFrames, const AudioFormat& format,
                                    TapFunktion tap) {
    protokoll_->aendere([&](SimMikrofonAufrufe& a) {
        a.tapPufferFrames.push_back(pufferFrames);
        a.tapFormate.push_back(format);
    });
    auto neu = std::make_shared<TapFunktion>(std::move(tap));
    if (lieferung_.aufLieferthread()) {
        tap_ = std::move(neu);  // the delivery thread holds tapMutex_ already
        return;
    }
    std::lock_guard lock(tapMutex_);
    tap_ = std::move(neu);
}

void SimAudioEngine::entferneTap() {
    protokoll_->aendere([](SimMikrofonAufrufe& a) { ++a.tapsEntfernt; });
    if (lieferung_.aufLieferthread()) {
        tap_.reset();  // the running call keeps its own reference
        return;
    }
    // Waits for a running tap call to return.
    std::lock_guard lock(tapMutex_);
    tap_.reset();
}

void SimAudioEngine::starte() {
    protokoll_->aendere([](SimMikrofonAufrufe& a) { ++a.starts; });
    std::uint64_t stoppsVorher;
    {
        std::lock_guard lock(zustandMutex_);
        stoppsVorher = stopps_;
    }
    warte(mikrofon_.startVerzoegerungSekunden);
    if (mikrofon_.startFehler) throw *mikrofon_.startFehler;
    std::uint64_t ueberspringen = 0;
    {
        std::lock_guard lock(zustandMutex_);
        if (ausgefallen_ && verweigert_ < mikrofon_.neustartsVerweigert) {
            ++verweigert_;
            throw PlattformFehler("sim", 560557673, "Eingabegeraet nicht verfuegbar");
        }
        // A stop that came while this start ran leaves the engine stopped.
        if (stopps_ != stoppsVorher) return;
        ueberspringen = std::exchange(ueberspringen_, 0);
    }
    // Recorded before the first buffer: a tap that stops the engine at once
    // must leave it recorded as stopped.
    protokoll_->aendere([](SimMikrofonAufrufe& a) { a.laeuft = true; });
    lieferung_.starte(ueberspringen);
}

void SimAudioEngine::stoppe() {
    protokoll_->aendere([](SimMikrofonAufrufe& a) { ++a.stopps; });
    {
        std::lock_guard lock(zustandMutex_);
        ++stopps_;
    }
    lieferung_.stoppe();
    protokoll_->aendere([](SimMikrofonAufrufe& a) { a.laeuft = false; });
}

void SimAudioEngine::beiStoerung(StoerFunktion stoerung) {
    std::lock_guard lock(zustandMutex_);
    stoerung_ = std::move(stoerung);
}

bool SimAudioEngine::liefere(SimPuffer& puffer) {
    if (mikrofon_.stopptSelbstNach && !ausfallGeschehen_ &&
        geliefertGesamt_ >= *mikrofon_.stopptSelbstNach) {
        ausfallGeschehen_ = true;
        StoerFunktion stoerung;
        {
            std::lock_guard lock(zustandMutex_);
            ausgefallen_ = true;
            // This buffer is lost with the device, and so many after it.
            ueberspringen_ = mikrofon_.ausfallPuffer > 0 ? mikrofon_.ausfallPuffer - 1 : 0;
            stoerung = stoerung_;
        }
        protokoll_->aendere([](SimMikrofonAufrufe& a) {
            ++a.selbstGestoppt;
            a.laeuft = false;
        });
        if (stoerung) stoerung(mikrofon_.stopFehlerText);
        return false;
    }
    ++geliefertGesamt_;
    std::lock_guard lock(tapMutex_);
    if (!tap_) return true;  // the device records on, nobody listens
    const std::shared_ptr<TapFunktion> tap = tap_;
    (*tap)(puffer.pcm, AudioZeit{puffer.stempelSekunden});
    protokoll_->aendere([](SimMikrofonAufrufe& a) { ++a.geliefert; });
    return true;
}

}  // namespace hoerspur
