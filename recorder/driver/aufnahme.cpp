#include "recorder/driver/aufnahme.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "basis/ausgabe.h"
#include "platform/plattform_fehler.h"
#include "recorder/audiofiles/channel_chunker.h"
#include "recorder/audiofiles/roh_wav.h"
#include "recorder/capture/mic_capture.h"
#include "recorder/capture/system_audio_capture.h"
#include "recorder/capture/zeitachse.h"
#include "recorder/driver/ereignisse.h"
#include "recorder/driver/serial_queue.h"
#include "recorder/echo/echo_strecke.h"
#include "recorder/video/window_video_capture.h"

namespace hoerspur {

namespace {

std::unique_ptr<ChannelChunker> neuerChunker(const char* channel, const Config& c) {
    auto chunker = std::make_unique<ChannelChunker>(channel, c.outDir, c.sampleRate, c.chunkSeconds,
                                                    c.turnMode, c.minSeconds, c.maxSeconds,
                                                    c.silenceSeconds, c.silenceRms);
    chunker->gemeldet = [](const GeschriebenerChunk& chunk) { emit(zeileChunk(chunk)); };
    return chunker;
}

std::string pfadIn(const std::string& ordner, const char* name) {
    if (ordner.empty()) return name;
    if (ordner.back() == '/') return ordner + name;
    return ordner + "/" + name;
}

}  // namespace

Aufnahme::Aufnahme(const Config& konfiguration, Plattform plattform)
    : cfg_(konfiguration), plattform_(std::move(plattform)) {
    try {
        ordner_.emplace(AusgabeOrdner::oeffne(cfg_.outDir));
    } catch (const PlattformFehler& f) {
        ordnerFehler_ = f;
    }

    zeitNull_ = plattform_.hostSekunden();
    nullUnixMs_ = plattform_.unixMs();

    themChunker_ = neuerChunker("them", cfg_);
    meChunker_ = neuerChunker("me", cfg_);
    zeitThem_ = std::make_unique<Zeitachse>("them", cfg_.sampleRate, zeitNull_);
    zeitMe_ = std::make_unique<Zeitachse>("me", cfg_.sampleRate, zeitNull_);
    themQueue_ = std::make_unique<SerialQueue>("chunks.them");
    echoAn_ = cfg_.echo && cfg_.sampleRate == 16000.0;
    echoQueue_ = std::make_unique<SerialQueue>("echo");
    if (echoAn_) {
        strecke_ = std::make_unique<EchoStrecke>(20);
        strecke_->ausgabe = [this](std::span<const float> samples, std::span<const bool> sprache) {
            echoAusgabe(samples, sprache);
        };
    }
    if (cfg_.rohMikro && !ordnerFehler_) {
        // The header's rate field is an integer; the recording rate is truncated.
        const double rate = std::trunc(cfg_.sampleRate);
        try {
            rohWav_ = RohWav::oeffnen(
                pfadIn(cfg_.outDir, "mikro_roh.wav"),
                rate >= 1.0 && rate <= 2147483647.0 ? static_cast<std::int64_t>(rate) : 0);
        } catch (const PlattformFehler& f) {
            // The chunks still carry the microphone; only the raw file is missing.
            log("[hoerspur] Roh-Mikrofon-Datei nicht anlegbar: " + f.beschreibung());
        }
    }
    sysCap_ =
        std::make_unique<SystemAudioCapture>(cfg_.sampleRate, *zeitThem_, plattform_.bildschirm);
    sysCap_->setzeWeiter([this](std::vector<float> block) { systemBlock(std::move(block)); });
    micCap_ =
        MicCapture::erstelle(cfg_.sampleRate, *zeitMe_, plattform_.neueAudioEngine(),
                             [this](std::vector<float> block) { mikroBlock(std::move(block)); });
    // Made in every recording, started only when video is wanted.
    vidCap_ = std::make_unique<WindowVideoCapture>(
        cfg_.outDir, zeitNull_, plattform_,
        [this](const VideoMeldung& m) { emitSolangeOffen(zeileVideoMeldung(m)); });
}

Aufnahme::~Aufnahme() {
    if (startThread_.joinable()) startThread_.join();
    if (stopThread_.joinable()) stopThread_.join();
    // The video first: its reports still go through this object.
    vidCap_.reset();
    // Captures next: nothing may arrive at the queues while they wind down.
    micCap_->stop();
    sysCap_->stop();
    echoQueue_.reset();
    themQueue_.reset();
}

void Aufnahme::starte() {
    if (ordnerFehler_) {
        // Nothing has been captured or written: the host learns it before the call.
        log("[hoerspur] " + ordnerFehler_->beschreibung());
        {
            std::lock_guard<std::mutex> l(endeMutex_);
            letzteZeileGeschrieben_ = true;
            emit(zeileError(ordnerFehler_->beschreibung()));
        }
        beende(2);
        return;
    }
    startThread_ = std::thread([this] { startAufgabe(); });
}

namespace {

// Runs one capture start; on refusal logs "<prefix>" with the error's full text
// and returns its short description.
template <typename Start>
std::optional<std::string> versucheStart(Start start, const char* prefix) {
    try {
        start();
        return std::nullopt;
    } catch (const PlattformFehler& f) {
        log(prefix + f.vollText());
        return f.beschreibung();
    } catch (const std::exception& f) {
        log(std::string(prefix) + f.what());
        return std::string(f.what());
    }
}

}  // namespace

void Aufnahme::startAufgabe() {
    // A stop may come at any moment here; the captures stop what their start still
    // brings up, and the stop sequence does not wait for this task.
    if (stopLaeuft_) return;
    const std::optional<std::string> mikroFehler =
        versucheStart([this] { micCap_->start(); }, "[hoerspur] Mikrofon nicht verfuegbar: ");
    if (stopLaeuft_) return;
    const std::optional<std::string> systemFehler =
        versucheStart([this] { sysCap_->start(); }, "[hoerspur] System-Audio nicht verfuegbar: ");
    const bool micLaeuft = !mikroFehler;
    const bool systemLaeuft = !systemFehler;

    if (!micLaeuft && !systemLaeuft) {
        {
            std::lock_guard<std::mutex> l(endeMutex_);
            // A stop that has begun meanwhile finishes the recording instead.
            if (stopLaeuft_ || letzteZeileGeschrieben_) return;
            letzteZeileGeschrieben_ = true;
            emit(zeileError(!systemFehler->empty() ? *systemFehler : *mikroFehler));
        }
        beende(2);
        return;
    }
    if (!micLaeuft) {
        log("[hoerspur] WARNUNG: nur System-Audio \xE2\x80\x94 Mikrofon verweigert: " +
            *mikroFehler);
        emitSolangeOffen(zeileDegraded("me", *mikroFehler));
    } else if (!systemLaeuft) {
        log("[hoerspur] WARNUNG: nur Mikrofon \xE2\x80\x94 System-Audio verweigert: " +
            *systemFehler);
        emitSolangeOffen(zeileDegraded("them", *systemFehler));
    }
    emitSolangeOffen(
        zeileStarted(micLaeuft, systemLaeuft, cfg_.video, echoAn_ && systemLaeuft, nullUnixMs_));
    // Returns at once; a stop that has begun meanwhile keeps it from starting.
    if (cfg_.video && !stopLaeuft_) vidCap_->starteGeduldig(cfg_.videoWarten);
}

void Aufnahme::shutdown() {
    if (stopLaeuft_.exchange(true)) return;
    log("[hoerspur] Stop \xE2\x80\x94 schreibe Rest-Chunks");
    // No microphone block is delivered after this, also when its start still runs.
    micCap_->stop();
    stopThread_ = std::thread([this] { stopAufgabe(); });
}

void Aufnahme::stopAufgabe() {
    sysCap_->stop();
    // A channel still lost at the stop ends with its silence up to now, so both
    // channels end together and the timeline report counts the span as a gap. The
    // captures are stopped: their timelines are this task's now.
    const double jetzt = plattform_.hostSekunden();
    if (sysCap_->ausgefallen()) systemBlock(zeitThem_->einordnen({}, jetzt, 0.0));
    if (micCap_->ausgefallen()) mikroBlock(zeitMe_->einordnen({}, jetzt, 0.0));
    // The audio first: a hanging X server or encoder must not hold up the raw
    // file or the last chunks, and costs the video at most its bounded wait.
    echoQueue_->sync([this] {
        if (strecke_) strecke_->abschliessen();
        if (rohWav_) rohWav_->schliessen();
    });
    themQueue_->sync([] {});
    const std::optional<VideoErgebnis> video = vidCap_->stop(VIDEO_STOP_FRIST);
    if (video) emitSolangeOffen(zeileVideo(video->pfad, video->frames, video->quelle));
    themChunker_->finalizeRemainder();
    meChunker_->finalizeRemainder();
    {
        std::lock_guard<std::mutex> l(endeMutex_);
        if (letzteZeileGeschrieben_) return;  // the start task already ended the run
        if (strecke_) emit(zeileEcho(strecke_->statistik(), meChunker_->ohneSprache()));
        emit(zeileZeitachse(*zeitThem_, *zeitMe_));
        emit(zeileDone());
        letzteZeileGeschrieben_ = true;
    }
    beende(0);
}

void Aufnahme::emitSolangeOffen(const std::string& zeile) {
    std::lock_guard<std::mutex> l(endeMutex_);
    if (!letzteZeileGeschrieben_) emit(zeile);
}

void Aufnahme::beende(int status) {
    std::function<void()> melder;
    {
        std::lock_guard<std::mutex> l(endeMutex_);
        if (exitStatus_) return;
        exitStatus_ = status;
        melder = melder_;
    }
    endeCv_.notify_all();
    if (melder) melder();
}

std::optional<int> Aufnahme::exitStatus() const {
    std::lock_guard<std::mutex> l(endeMutex_);
    return exitStatus_;
}

int Aufnahme::warteAufEnde() {
    std::unique_lock<std::mutex> l(endeMutex_);
    endeCv_.wait(l, [this] { return exitStatus_.has_value(); });
    return *exitStatus_;
}

void Aufnahme::beiEnde(std::function<void()> melder) {
    bool schonZuEnde;
    {
        std::lock_guard<std::mutex> l(endeMutex_);
        melder_ = melder;
        schonZuEnde = exitStatus_.has_value();
    }
    if (schonZuEnde && melder) melder();
}

namespace {

// A long outage comes back as one block of silence (an hour is 57.6 million
// samples): it is handed on in pieces, so that the queues' work and the buffers
// of the echo path, chunkers and raw file stay at the size of one piece.
constexpr std::size_t MAX_STUECK = 16000;

template <typename Weiter>
bool inStuecken(const std::vector<float>& block, Weiter weiter) {
    if (block.size() <= MAX_STUECK) return false;
    for (std::size_t i = 0; i < block.size(); i += MAX_STUECK) {
        const std::size_t ende = std::min(block.size(), i + MAX_STUECK);
        weiter(std::vector<float>(block.begin() + static_cast<std::ptrdiff_t>(i),
                                  block.begin() + static_cast<std::ptrdiff_t>(ende)));
    }
    return true;
}

}  // namespace

// On the system audio delivery thread: no file work here.
void Aufnahme::systemBlock(std::vector<float> block) {
    if (block.empty()) return;
    if (inStuecken(block, [this](std::vector<float> s) { systemBlock(std::move(s)); })) return;
    if (strecke_) {
        themQueue_->async([this, block] { themChunker_->append(block); });
        echoQueue_->async([this, b = std::move(block)] { strecke_->referenz(b); });
    } else {
        themQueue_->async([this, b = std::move(block)] { themChunker_->append(b); });
    }
}

// On the microphone delivery thread: no file work here either, with or without
// the echo path; the raw file and the "me" chunker live on the echo queue.
void Aufnahme::mikroBlock(std::vector<float> block) {
    if (block.empty()) return;
    if (inStuecken(block, [this](std::vector<float> s) { mikroBlock(std::move(s)); })) return;
    echoQueue_->async([this, b = std::move(block)] {
        if (rohWav_) rohWav_->schreiben(b);
        if (strecke_) {
            strecke_->mikro(b);
        } else {
            meChunker_->append(b);
        }
    });
}

// On the echo queue.
void Aufnahme::echoAusgabe(std::span<const float> samples, std::span<const bool> sprache) {
    meChunker_->append(samples, sprache);
}

namespace {

sigset_t stopSignale() {
    sigset_t signale;
    sigemptyset(&signale);
    sigaddset(&signale, SIGINT);
    sigaddset(&signale, SIGTERM);
    return signale;
}

}  // namespace

void sperreStopSignale() {
    const sigset_t signale = stopSignale();
    pthread_sigmask(SIG_BLOCK, &signale, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

void gibStopSignaleFrei() {
    const sigset_t signale = stopSignale();
    pthread_sigmask(SIG_UNBLOCK, &signale, nullptr);
}

void fuehreAufnahmeAus(const Config& konfiguration, Plattform plattform) {
    // Already done by main; again here so that no caller can forget it before the
    // first thread exists (every thread inherits the mask).
    sperreStopSignale();
    const sigset_t signale = stopSignale();
    const int signalFd = signalfd(-1, &signale, SFD_CLOEXEC);
    const int endeFd = eventfd(0, EFD_CLOEXEC);
    if (signalFd < 0 || endeFd < 0) {
        log(std::string("[hoerspur] Signale nicht einrichtbar: ") + std::strerror(errno));
        std::_Exit(2);
    }
    starteHintergrundAusgabe();

    Aufnahme aufnahme(konfiguration, std::move(plattform));
    aufnahme.beiEnde([endeFd] {
        const std::uint64_t eins = 1;
        (void)!::write(endeFd, &eins, sizeof eins);
    });
    aufnahme.starte();

    std::optional<std::chrono::steady_clock::time_point> stopBeginn;
    while (!aufnahme.exitStatus()) {
        pollfd warte[2] = {{signalFd, POLLIN, 0}, {endeFd, POLLIN, 0}};
        if (poll(warte, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (warte[0].revents & POLLIN) {
            signalfd_siginfo info;
            if (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                if (!stopBeginn) stopBeginn = std::chrono::steady_clock::now();
                aufnahme.shutdown();
            }
        }
        if (warte[1].revents & POLLIN) {
            std::uint64_t wert;
            (void)!::read(endeFd, &wert, sizeof wert);
        }
    }
    const int status = aufnahme.warteAufEnde();
    // Every file is closed and every line queued. A host that does not read gets
    // until STOP_FRIST after its signal; what it has not taken by then is lost
    // rather than the stop held up.
    const auto jetzt = std::chrono::steady_clock::now();
    const auto bis = stopBeginn ? *stopBeginn + STOP_FRIST : jetzt + STOP_FRIST;
    const auto rest = std::max(std::chrono::duration_cast<std::chrono::milliseconds>(bis - jetzt),
                               std::chrono::milliseconds(100));
    (void)leereAusgabe(rest);
    // Threads that may still be inside a platform call (a start that hangs) are
    // not waited for.
    std::_Exit(status);
}

}  // namespace hoerspur
