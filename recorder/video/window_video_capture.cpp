// The video recorder's state, its writer, the frames and the end of filming.
// The supervision that decides what is filmed is in
// window_video_capture_aufsicht.cpp.
#include "recorder/video/window_video_capture.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "basis/ausgabe.h"
#include "platform/plattform_fehler.h"

namespace hoerspur {

namespace {

std::string pfadIn(const std::string& ordner, const char* name) {
    if (ordner.empty()) return name;
    if (ordner.back() == '/') return ordner + name;
    return ordner + "/" + name;
}

}  // namespace

WindowVideoCapture::WindowVideoCapture(const std::string& ausgabeOrdner, double zeitNull,
                                       const Plattform& plattform, Melder melder,
                                       Schlaefer schlaefer)
    : ziel_(pfadIn(ausgabeOrdner, "video.mp4")),
      null_(zeitNull),
      bildschirm_(plattform.bildschirm),
      fensterAufnahme_(plattform.fensterAufnahme),
      neuerSchreiber_(plattform.neuerVideoSchreiber),
      hostSekunden_(plattform.hostSekunden),
      melder_(std::move(melder)),
      schlaefer_(std::move(schlaefer)),
      aktuellSeit_(hostSekunden_()),
      letzteWahl_(KEIN_BILD) {}

WindowVideoCapture::~WindowVideoCapture() {
    {
        std::lock_guard l(zustand_);
        abgebrochen_ = true;
    }
    wecker_.notify_all();
    // The supervision finishes the file on its way out.
    if (aufsicht_.joinable()) aufsicht_.join();
}

FensterStromKonfiguration WindowVideoCapture::konfiguration() {
    FensterStromKonfiguration k;
    k.breite = breite;
    k.hoehe = hoehe;
    k.minBildabstandSekunden = 1.0 / 15.0;
    k.cursorZeigen = true;
    k.tonAufnehmen = false;
    k.warteschlangenTiefe = 5;
    k.skaliertPassend = true;
    k.seitenverhaeltnisBehalten = true;
    return k;
}

H264Einstellungen WindowVideoCapture::videoEinstellungen() {
    H264Einstellungen e;
    e.breite = breite;
    e.hoehe = hoehe;
    e.mittlereBitrateBitProSekunde = 1'400'000;
    e.maxKeyframeAbstandBilder = 30;
    e.profil = H264Profil::main;
    e.echtzeit = true;
    return e;
}

void WindowVideoCapture::starteGeduldig(double sekunden) {
    std::lock_guard l(zustand_);
    if (abgebrochen_ || aufsicht_.joinable()) return;
    aufsicht_ = std::thread([this, sekunden] {
        pthread_setname_np(pthread_self(), "video.aufsicht");
        aufsicht(sekunden);
    });
}

std::optional<VideoErgebnis> WindowVideoCapture::stop(std::chrono::milliseconds frist) {
    std::unique_lock l(zustand_);
    if (abgebrochen_) return std::nullopt;
    abgebrochen_ = true;
    wecker_.notify_all();
    if (!aufsicht_.joinable()) return std::nullopt;  // never started: nothing was filmed
    if (!wecker_.wait_for(l, frist, [this] { return abgeschlossen_; })) {
        l.unlock();
        log("[hoerspur] Video-Stopp: keine Antwort nach " +
            std::to_string(std::chrono::duration_cast<std::chrono::seconds>(frist).count()) +
            " s \xE2\x80\x94 Aufnahme endet ohne Video");
        return std::nullopt;
    }
    return std::move(ergebnis_);
}

std::string WindowVideoCapture::quelle() const {
    std::lock_guard l(zustand_);
    return quelle_;
}

bool WindowVideoCapture::abgebrochen() const {
    std::lock_guard l(zustand_);
    return abgebrochen_;
}

bool WindowVideoCapture::streamWeg() const {
    std::lock_guard l(zustand_);
    return streamWeg_;
}

void WindowVideoCapture::setzeStreamWeg(bool weg) {
    std::lock_guard l(zustand_);
    streamWeg_ = weg;
}

void WindowVideoCapture::writerAnlegen() {
    // An older file at the path is replaced only once this recording writes its
    // first picture (beiBild), so a recording that never films one leaves it be.
    std::unique_ptr<VideoSchreiber> w = neuerSchreiber_(ziel_);
    if (!w->fuegeEingangHinzu(videoEinstellungen())) {
        throw PlattformFehler(kFehlerDomain, 3, "AVAssetWriter nimmt den Video-Eingang nicht an");
    }
    std::lock_guard l(bildMutex_);
    writer_ = std::move(w);
}

// On the stream's thread. Allocates nothing per frame (the copy of a refused
// picture only when the picture size grows); the lock is held only while the
// writer takes or refuses the picture, which never waits.
void WindowVideoCapture::beiBild(const FensterBild& bild) {
    const bool neu = bild.status == BildStatus::vollstaendig && !bild.bild.leer();
    const bool nachreichen = bild.status == BildStatus::unveraendert && hatNachzureichen_;
    if (!neu && !nachreichen) return;
    std::lock_guard l(bildMutex_);
    if (!writer_) return;
    if (!basis_) {
        basis_ = bild.praesentationSekunden;
        ::unlink(ziel_.c_str());
        if (!writer_->starteSchreiben()) {
            // basis_ stays set: no later frame tries again.
            const std::string text = writer_->fehlerText();
            log("[hoerspur] Video-Schreiber startete nicht: " +
                (text.empty() ? "unbekannt" : text));
            return;
        }
        writer_->starteSitzung(*basis_);
    }
    if (writer_->status() != SchreiberStatus::schreibt) return;
    const BgraBild zeigen = neu ? bild.bild : nachzureichen_.bild();
    if (writer_->bereitFuerMehr() && writer_->haengeAn(zeigen, bild.praesentationSekunden)) {
        ++frames_;
        hatNachzureichen_ = false;
    } else if (neu) {
        nachzureichen_.setzeGroesse(bild.bild.breite, bild.bild.hoehe);
        hatNachzureichen_ = nachzureichen_.kopiereVon(bild.bild);
    }
}

// On the stream's thread, once, when the platform ended the stream.
void WindowVideoCapture::beiStreamStop(const std::string& fehlerText) {
    setzeStreamWeg(true);
    if (streamStopZeilen_.fetch_add(1) < maxFehlerZeilen) {
        log("[hoerspur] Video-SCStream gestoppt: " + fehlerText);
    }
}

// The end of filming, on the supervision thread once stop() was asked for.
std::optional<VideoErgebnis> WindowVideoCapture::abschliessen() {
    if (!laeuft_) {
        // No picture was ever shown. A stream that a stop overtook while it started
        // may have begun a file; unannounced, it is removed.
        std::unique_ptr<VideoSchreiber> writer;
        {
            std::lock_guard l(bildMutex_);
            writer = std::move(writer_);
        }
        if (writer && writer->status() == SchreiberStatus::schreibt) writer->brecheAb();
        return std::nullopt;
    }
    laeuft_ = false;
    if (stream_) {
        stream_->stoppe();
        stream_.reset();
    }
    // The file's time line ends where filming ended: now, or where the pause began.
    const double filmEnde = pauseGemeldet_ ? pauseSeit_ : jetzt();
    buchen();

    std::unique_ptr<VideoSchreiber> writer;
    std::int64_t frames = 0;
    {
        std::lock_guard l(bildMutex_);
        writer = std::move(writer_);
        frames = frames_;
    }

    std::vector<std::pair<std::string, double>> sortiert(zeiten_.begin(), zeiten_.end());
    std::stable_sort(sortiert.begin(), sortiert.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    for (const auto& [q, sekunden] : sortiert) {
        log("[hoerspur] Bildquelle: " + q + " \xE2\x80\x94 " +
            std::to_string(static_cast<long long>(std::trunc(sekunden))) + " s");
    }
    std::string beschreibung = sortiert.empty() ? quelle() : sortiert.front().first;
    if (sortiert.size() >= 2) {
        beschreibung += " (+" + std::to_string(sortiert.size() - 1) + " weitere)";
    }

    if (!writer) return std::nullopt;
    const SchreiberStatus status = writer->status();
    if (frames >= 1 && status == SchreiberStatus::schreibt) {
        writer->markiereFertig();
        writer->beendeSitzung(filmEnde);
        writer->beende();
        if (writer->status() == SchreiberStatus::fertig) {
            return VideoErgebnis{ziel_, frames, beschreibung};
        }
        const std::string text = writer->fehlerText();
        log("[hoerspur] Video-Abschluss fehlgeschlagen: " + (text.empty() ? "unbekannt" : text));
        return std::nullopt;
    }
    if (frames >= 1 && status == SchreiberStatus::fehlgeschlagen) {
        // Encoding or writing broke off while filming: what the file holds up to
        // its last fragment stays, but it is not announced as a finished video.
        const std::string text = writer->fehlerText();
        log("[hoerspur] Video-Abschluss fehlgeschlagen: " + (text.empty() ? "unbekannt" : text));
    } else if (frames == 0 && status == SchreiberStatus::schreibt) {
        // Started on a first picture that was then refused: an empty file helps no one.
        writer->brecheAb();
    }
    return std::nullopt;
}

}  // namespace hoerspur
