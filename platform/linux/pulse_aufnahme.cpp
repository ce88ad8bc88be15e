#include "platform/linux/pulse_aufnahme.h"

#include <pulse/error.h>
#include <pulse/operation.h>
#include <pulse/sample.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/linux/pulse_fehler.h"
#include "platform/uhr.h"

namespace hoerspur {

namespace {

constexpr double kStartSekunden = 5.0;
// Fragments of this length keep the server from collecting audio for seconds
// before sending it, and keep the wakeups few.
constexpr double kFragmentSekunden = 0.02;
// How often the stream's clock is read while data flows.
constexpr double kZeitAbstandSekunden = 0.25;

double wandUhrSekunden() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace

PulseAufnahme::PulseAufnahme(std::unique_ptr<PulseVerbindung> verbindung,
                             const PulseAufnahmeWunsch& wunsch, LieferFunktion liefern,
                             AbbruchFunktion beiAbbruch)
    : frameBytes_(sizeof(float) * wunsch.kanaele),
      pufferBytes_(frameBytes_ * std::max<std::uint32_t>(wunsch.pufferFrames, 1)),
      verbindung_(std::move(verbindung)),
      liefern_(std::move(liefern)),
      beiAbbruch_(std::move(beiAbbruch)),
      uhr_(wunsch.sampleRateHz) {
    puffer_.pcm =
        PcmPuffer(AudioFormat{wunsch.sampleRateHz, wunsch.kanaele, SampleArt::float32, true},
                  std::max<std::uint32_t>(wunsch.pufferFrames, 1));

    pa_sample_spec abtastFormat{};
    abtastFormat.format = PA_SAMPLE_FLOAT32LE;
    abtastFormat.rate = static_cast<std::uint32_t>(wunsch.sampleRateHz);
    abtastFormat.channels = static_cast<std::uint8_t>(std::min<std::uint32_t>(wunsch.kanaele, 255));
    if (pa_sample_spec_valid(&abtastFormat) == 0 || abtastFormat.rate != wunsch.sampleRateHz ||
        abtastFormat.channels != wunsch.kanaele) {
        throw pulseFehler("Aufnahmeformat wird vom Tonserver nicht unterstuetzt", PA_ERR_INVALID);
    }
    pa_channel_map kanaele{};
    pa_channel_map_init_extend(&kanaele, abtastFormat.channels, PA_CHANNEL_MAP_DEFAULT);

    PulseVerbindung::Sperre sperre(*verbindung_);
    stream_ =
        pa_stream_new(verbindung_->kontext(), wunsch.streamName.c_str(), &abtastFormat, &kanaele);
    if (stream_ == nullptr) throw verbindung_->fehler("Aufnahme-Stream nicht anlegbar");
    pa_stream_set_state_callback(stream_, beiZustand, this);
    pa_stream_set_read_callback(stream_, beiDaten, this);
    pa_stream_set_suspended_callback(stream_, beiAenderung, this);
    pa_stream_set_moved_callback(stream_, beiAenderung, this);

    pa_buffer_attr puffer{};
    puffer.maxlength = static_cast<std::uint32_t>(-1);
    puffer.tlength = puffer.prebuf = puffer.minreq = static_cast<std::uint32_t>(-1);
    const auto fragmentFrames = std::min<std::uint32_t>(
        std::max<std::uint32_t>(wunsch.pufferFrames, 1),
        static_cast<std::uint32_t>(wunsch.sampleRateHz * kFragmentSekunden));
    puffer.fragsize =
        static_cast<std::uint32_t>(std::max<std::uint32_t>(fragmentFrames, 1) * frameBytes_);

    // Without ADJUST_LATENCY the fragment size does not shorten the source's own
    // latency, and an idle null sink's monitor sends about 2 s at a time.
    int flags = PA_STREAM_ADJUST_LATENCY;
    if (wunsch.nichtVerschieben) flags |= PA_STREAM_DONT_MOVE;
    const char* quelle = wunsch.quelle.empty() ? nullptr : wunsch.quelle.c_str();
    bool bereit = pa_stream_connect_record(stream_, quelle, &puffer,
                                           static_cast<pa_stream_flags_t>(flags)) >= 0;
    if (bereit) {
        bereit = verbindung_->warte(
            [this] {
                const pa_stream_state_t s = pa_stream_get_state(stream_);
                return s == PA_STREAM_READY || s == PA_STREAM_FAILED || s == PA_STREAM_TERMINATED;
            },
            kStartSekunden);
        bereit = bereit && pa_stream_get_state(stream_) == PA_STREAM_READY;
    }
    if (!bereit) {
        gemeldet_ = true;
        const std::string name = wunsch.quelle.empty() ? "Standard-Eingang" : wunsch.quelle;
        PlattformFehler f = verbindung_->fehler("Tonserver verweigert die Aufnahme von " + name);
        loeseStream();
        throw f;
    }
    laeuft_ = true;
    fordereZeitAn();
}

void PulseAufnahme::loeseStream() {
    if (stream_ == nullptr) return;
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_suspended_callback(stream_, nullptr, nullptr);
    pa_stream_set_moved_callback(stream_, nullptr, nullptr);
    // Disconnecting also cancels a pending timing request and its callback.
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

PulseAufnahme::~PulseAufnahme() {
    stoppe();
}

void PulseAufnahme::setzeLieferung(LieferFunktion liefern) {
    if (!verbindung_) {
        liefern_ = std::move(liefern);
        return;
    }
    PulseVerbindung::Sperre sperre(*verbindung_);
    liefern_ = std::move(liefern);
}

void PulseAufnahme::stoppe() {
    if (!verbindung_) return;
    if (verbindung_->aufLoopThread()) {
        // From inside a callback: only silence the stream; the owner ends it.
        laeuft_ = false;
        return;
    }
    {
        PulseVerbindung::Sperre sperre(*verbindung_);
        laeuft_ = false;
        gemeldet_ = true;
        loeseStream();
    }
    verbindung_.reset();
}

std::int64_t PulseAufnahme::spruenge() {
    if (!verbindung_) return uhr_.spruenge();
    PulseVerbindung::Sperre sperre(*verbindung_);
    return uhr_.spruenge();
}

void PulseAufnahme::beiZustand(pa_stream* s, void* selbst) {
    auto* a = static_cast<PulseAufnahme*>(selbst);
    const pa_stream_state_t zustand = pa_stream_get_state(s);
    if ((zustand == PA_STREAM_FAILED || zustand == PA_STREAM_TERMINATED) && a->laeuft_) {
        a->laeuft_ = false;
        a->melde("Aufnahme vom Tonserver beendet");
    }
    a->verbindung_->wecke();
}

void PulseAufnahme::beiDaten(pa_stream*, std::size_t, void* selbst) {
    static_cast<PulseAufnahme*>(selbst)->lies();
}

void PulseAufnahme::beiAenderung(pa_stream*, void* selbst) {
    // A resumed or moved stream has a new latency: read the clock again now.
    static_cast<PulseAufnahme*>(selbst)->fordereZeitAn();
}

void PulseAufnahme::melde(const std::string& was) {
    if (gemeldet_) return;
    gemeldet_ = true;
    const std::string text = verbindung_->fehler(was).vollText();
    if (beiAbbruch_) beiAbbruch_(text);
}

void PulseAufnahme::fordereZeitAn() {
    if (anfrageLaeuft_ || !laeuft_ || stream_ == nullptr) return;
    pa_operation* op = pa_stream_update_timing_info(stream_, beiZeitinfo, this);
    if (op == nullptr) return;
    pa_operation_unref(op);
    anfrageLaeuft_ = true;
    letzteAnfrageSekunden_ = hostSekunden();
}

void PulseAufnahme::beiZeitinfo(pa_stream* s, int erfolg, void* selbst) {
    auto* a = static_cast<PulseAufnahme*>(selbst);
    a->anfrageLaeuft_ = false;
    if (!erfolg || !a->laeuft_) return;
    const pa_timing_info* info = pa_stream_get_timing_info(s);
    // Before the first frame was captured the reading says nothing about when.
    if (info == nullptr || info->write_index <= 0) return;
    const long long zeitUs =
        static_cast<long long>(info->timestamp.tv_sec) * 1000000LL + info->timestamp.tv_usec;
    if (zeitUs == a->letzteZeitinfoUs_) return;
    a->letzteZeitinfoUs_ = zeitUs;

    // The reading's time stamp is on the wall clock; move it to the host clock.
    const double jetztWand = wandUhrSekunden();
    const double jetztHost = hostSekunden();
    const double lesungHost = static_cast<double>(zeitUs) * 1e-6 + (jetztHost - jetztWand);
    // At that moment the newest frame in the server's queue (write_index) had
    // been captured source_usec ago; a monitor's frames play sink_usec after
    // they reach the queue, and playing is what "captured" means for them.
    const double erfasst = lesungHost - static_cast<double>(info->source_usec) * 1e-6 +
                           static_cast<double>(info->sink_usec) * 1e-6;
    const double positionFrames =
        static_cast<double>(info->write_index) / static_cast<double>(a->frameBytes_);
    a->sprungOffen_ = a->uhr_.messung(positionFrames, erfasst, jetztHost);
    // Data held back for the first reading can go now.
    a->lies();
}

void PulseAufnahme::lies() {
    while (laeuft_) {
        // Buffers leave only with a time stamp; until the first reading the
        // data waits in the stream.
        if (!uhr_.hatAnker()) {
            fordereZeitAn();
            return;
        }
        const std::size_t lesbar = pa_stream_readable_size(stream_);
        if (lesbar == 0 || lesbar == static_cast<std::size_t>(-1)) break;
        const void* daten = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream_, &daten, &bytes) < 0 || bytes == 0) break;
        if (daten == nullptr) {
            // A hole: the server lost these bytes. What came before goes out as
            // it is; the next buffer starts after the hole, so its stamp shows the gap.
            if (gefuellt_ > 0) liefere();
            positionBytes_ += bytes;
        } else {
            auto* ziel = reinterpret_cast<char*>(puffer_.pcm.floatDaten(0).data());
            const char* quelle = static_cast<const char*>(daten);
            std::size_t rest = bytes;
            while (rest > 0) {
                if (gefuellt_ == 0) pufferStartBytes_ = positionBytes_;
                const std::size_t k = std::min(rest, pufferBytes_ - gefuellt_);
                std::memcpy(ziel + gefuellt_, quelle, k);
                gefuellt_ += k;
                quelle += k;
                rest -= k;
                positionBytes_ += k;
                if (gefuellt_ == pufferBytes_) liefere();
            }
        }
        pa_stream_drop(stream_);
    }
    // While a jump waits for confirmation, read the clock more often.
    const double abstand = sprungOffen_ ? kZeitAbstandSekunden / 5 : kZeitAbstandSekunden;
    if (laeuft_ && hostSekunden() - letzteAnfrageSekunden_ >= abstand) fordereZeitAn();
}

void PulseAufnahme::liefere() {
    const std::size_t frames = gefuellt_ / frameBytes_;
    gefuellt_ = 0;
    if (frames == 0 || !liefern_ || !laeuft_) return;
    puffer_.pcm.setzeFrameLaenge(static_cast<std::uint32_t>(frames));
    puffer_.frames = frames;
    puffer_.praesentationSekunden =
        uhr_.zeitVon(static_cast<double>(pufferStartBytes_) / static_cast<double>(frameBytes_));
    liefern_(puffer_);
}

}  // namespace hoerspur
