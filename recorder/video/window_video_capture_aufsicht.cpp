// The supervision of the video recorder: patient start, checks, switches,
// pauses and the booking of filmed time. Everything here runs on the
// supervision thread, one step after another; stop() only raises the flag that
// every step looks at, so no check ever runs beside the end of filming.
#include <algorithm>
#include <exception>
#include <utility>

#include "basis/ausgabe.h"
#include "basis/text.h"
#include "platform/plattform_fehler.h"
#include "recorder/video/fenster_info.h"
#include "recorder/video/meeting_wahl.h"
#include "recorder/video/window_video_capture.h"

namespace hoerspur {

namespace {

constexpr const char* GEDANKENSTRICH = " \xE2\x80\x94 ";

// The short and the full text of a failure.
std::string beschreibung(const std::exception& f) {
    if (const auto* p = dynamic_cast<const PlattformFehler*>(&f)) return p->beschreibung();
    return f.what();
}

std::string vollText(const std::exception& f) {
    return f.what();  // a PlattformFehler's what() is its full text
}

std::string keinBildWeil(const std::string& fehler) {
    return std::string(KEIN_BILD) + " (" + fehler + ")";
}

}  // namespace

void WindowVideoCapture::schlafe(double sekunden) {
    if (schlaefer_) {
        schlaefer_(sekunden, [this] { return abgebrochen(); });
        return;
    }
    std::unique_lock l(zustand_);
    wecker_.wait_for(l, std::chrono::duration<double>(sekunden), [this] { return abgebrochen_; });
}

void WindowVideoCapture::melde(VideoMeldung::Art art, const Wahl& ziel, std::string text,
                               double t) {
    if (!melder_) return;
    VideoMeldung m;
    m.art = art;
    m.ziel = ziel;
    m.text = std::move(text);
    m.tSekunden = t;
    melder_(m);
}

void WindowVideoCapture::aufsicht(double warteSekunden) {
    const double frist = jetzt() + warteSekunden;
    bool gemeldet = false;
    std::string fehlerText;

    // Waiting: the first check at once, then every 3 s until a picture shows.
    while (!abgebrochen() && !laeuft_) {
        try {
            pruefen();
        } catch (const std::exception& f) {
            if (startFehlerZeilen_++ < maxFehlerZeilen) {
                log("[hoerspur] Video-Start fehlgeschlagen: " + vollText(f));
            }
            fehlerText = beschreibung(f);
        }
        if (laeuft_ || abgebrochen()) break;
        if (jetzt() > frist && !gemeldet) {
            // The waiting time never ends the search; it only decides when the
            // host hears that there is no picture yet.
            const std::string text = fehlerText.empty() ? letzteWahl_ : keinBildWeil(fehlerText);
            melde(VideoMeldung::Art::keinBild, Wahl{}, text, 0.0);
            log("[hoerspur] Bild: " + text + GEDANKENSTRICH + "suche weiter, Ton laeuft");
            gemeldet = true;
        }
        schlafe(suchAbstandSekunden);
    }

    // Filming: a check every 2 s.
    while (!abgebrochen()) {
        schlafe(pruefAbstandSekunden);
        if (abgebrochen()) break;
        try {
            pruefen();
        } catch (const std::exception& f) {
            if (pruefFehlerZeilen_++ < maxFehlerZeilen) {
                log("[hoerspur] Fensterpruefung: " + vollText(f));
            }
        }
    }

    std::optional<VideoErgebnis> ergebnis;
    try {
        ergebnis = abschliessen();
    } catch (const std::exception& f) {
        log("[hoerspur] Video-Abschluss fehlgeschlagen: " + vollText(f));
    }
    {
        std::lock_guard l(zustand_);
        ergebnis_ = std::move(ergebnis);
        abgeschlossen_ = true;
    }
    wecker_.notify_all();
}

void WindowVideoCapture::pruefen() {
    const TeilbarerInhalt inhalt = bildschirm_->teilbarerInhalt();
    const MeetingKandidaten k = meetingKandidaten(metadaten(inhalt));
    const Wahl best = k.liste.empty() ? Wahl{"nichts", 0, "", 0, k.ohne} : k.liste.front();
    letzteWahl_ = best.grund;
    const bool weg = streamWeg();

    // The filmed window is gone: follow the meeting to another window, or pause.
    if (laeuft_ && aktuell_ && !pauseGemeldet_ &&
        std::none_of(k.liste.begin(), k.liste.end(),
                     [&](const Wahl& w) { return w.id == aktuell_->id; })) {
        if (best.art == "fenster") {
            try {
                umschalten(best, inhalt);
                kandidat_.reset();
            } catch (const std::exception& f) {
                pausieren(keinBildWeil(beschreibung(f)));
                throw;
            }
        } else {
            pausieren(best.grund);
        }
        return;
    }
    if (best.art != "fenster") return;  // nothing to start; a running picture goes on

    if (aktuell_) {
        if (aktuell_->gleichesZiel(best)) {
            kandidat_.reset();
            if (aktuell_->quelle != best.quelle) {
                // The title changed: later time counts for the new name.
                buchen();
                aktuell_ = best;
                std::lock_guard l(zustand_);
                quelle_ = best.quelle;
            }
            if (!weg && !pauseGemeldet_) return;
            // Otherwise filming restarts on the same window.
        } else if (!weg && !pauseGemeldet_) {
            // A better window must win two checks in a row before the picture moves.
            if (!best.gleichesZiel(kandidat_)) {
                kandidat_ = best;
                return;
            }
        }
    }
    umschalten(best, inhalt);
    kandidat_.reset();
}

void WindowVideoCapture::umschalten(const Wahl& w, const TeilbarerInhalt& inhalt) {
    if (abgebrochen()) return;
    const bool gefunden =
        w.art == "fenster" && std::any_of(inhalt.fenster.begin(), inhalt.fenster.end(),
                                          [&](const TeilbaresFenster& f) { return f.id == w.id; });
    if (!gefunden) throw PlattformFehler(kFehlerDomain, 4, "Fenster verschwunden");

    if (!schreiberAngelegt_) {
        writerAnlegen();
        schreiberAngelegt_ = true;
    }
    if (abgebrochen()) return;

    bool neuerStream = !stream_ || streamWeg();
    if (!neuerStream) {
        try {
            stream_->wechsleFenster(w.id);
        } catch (const std::exception&) {
            // A stream that ended by itself just now is rebuilt instead; any other
            // refusal leaves the picture where it was.
            if (!streamWeg()) throw;
            neuerStream = true;
        }
    }
    if (neuerStream) {
        if (stream_) {
            stream_->stoppe();
            stream_.reset();
        }
        // Cleared before the start, so that a stream ending during its own start
        // is noticed at the next check.
        setzeStreamWeg(false);
        std::unique_ptr<FensterStrom> neu;
        try {
            neu = fensterAufnahme_->starteFensterStrom(
                w.id, konfiguration(), [this](const FensterBild& b) { beiBild(b); },
                [this](const std::string& text) { beiStreamStop(text); });
        } catch (...) {
            setzeStreamWeg(true);
            throw;
        }
        if (abgebrochen()) {
            neu->stoppe();
            return;
        }
        stream_ = std::move(neu);
    }

    // Paused time belongs to no one.
    if (pauseGemeldet_) {
        aktuellSeit_ = jetzt();
    } else {
        buchen();
    }
    const double t = jetzt() - null_;
    melde(wechsel_ == 0 ? VideoMeldung::Art::start : VideoMeldung::Art::wechsel, w, "", t);
    log("[hoerspur] Bild: " + w.quelle + " (" + w.grund + ") ab " + formatFest(t, 1) + " s");
    ++wechsel_;
    aktuell_ = w;
    {
        std::lock_guard l(zustand_);
        quelle_ = w.quelle;
    }
    pauseGemeldet_ = false;
    laeuft_ = true;
}

void WindowVideoCapture::pausieren(const std::string& grund) {
    buchen();
    pauseGemeldet_ = true;
    kandidat_.reset();
    pauseSeit_ = jetzt();
    if (stream_) stream_->stoppe();
    setzeStreamWeg(true);  // the next start builds a new stream
    const double t = pauseSeit_ - null_;
    melde(VideoMeldung::Art::pause, Wahl{}, grund, t);
    log("[hoerspur] Bild: " + grund + " ab " + formatFest(t, 1) + " s" + GEDANKENSTRICH +
        "Ton laeuft weiter");
}

void WindowVideoCapture::buchen() {
    const double jetztSekunden = jetzt();
    // Time in a pause is filmed by no one.
    if (aktuell_ && !pauseGemeldet_) zeiten_[aktuell_->quelle] += jetztSekunden - aktuellSeit_;
    aktuellSeit_ = jetztSekunden;
}

}  // namespace hoerspur
