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
// Readings of a new line taken five times as often.
constexpr int kJungeMessungen = 10;

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
      wunsch_(wunsch),
      verbindung_(std::move(verbindung)),
      liefern_(std::move(liefern)),
      beiAbbruch_(std::move(beiAbbruch)),
      uhr_(wunsch.sampleRateHz),
      senke_(wunsch.senke) {
    puffer_.pcm =
        PcmPuffer(AudioFormat{wunsch.sampleRateHz, wunsch.kanaele, SampleArt::float32, true},
                  std::max<std::uint32_t>(wunsch.pufferFrames, 1));

    abtastFormat_.format = PA_SAMPLE_FLOAT32LE;
    abtastFormat_.rate = static_cast<std::uint32_t>(wunsch.sampleRateHz);
    abtastFormat_.channels =
        static_cast<std::uint8_t>(std::min<std::uint32_t>(wunsch.kanaele, 255));
    if (pa_sample_spec_valid(&abtastFormat_) == 0 || abtastFormat_.rate != wunsch.sampleRateHz ||
        abtastFormat_.channels != wunsch.kanaele) {
        throw pulseFehler("Aufnahmeformat wird vom Tonserver nicht unterstuetzt", PA_ERR_INVALID);
    }
    pa_channel_map_init_extend(&kanalKarte_, abtastFormat_.channels, PA_CHANNEL_MAP_DEFAULT);

    PulseVerbindung::Sperre sperre(*verbindung_);
    bool bereit = verbinde(wunsch.quelle);
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
    if (wunsch.folgeStandardSenke) {
        pa_context_set_subscribe_callback(verbindung_->kontext(), beiServerEreignis, this);
        if (pa_operation* op = pa_context_subscribe(
                verbindung_->kontext(), PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr)) {
            pa_operation_unref(op);
        }
    }
    fordereZeitAn();
}

bool PulseAufnahme::verbinde(const std::string& quelle) {
    stream_ = pa_stream_new(verbindung_->kontext(), wunsch_.streamName.c_str(), &abtastFormat_,
                            &kanalKarte_);
    if (stream_ == nullptr) return false;
    pa_stream_set_state_callback(stream_, beiZustand, this);
    pa_stream_set_read_callback(stream_, beiDaten, this);
    pa_stream_set_suspended_callback(stream_, beiAenderung, this);
    pa_stream_set_moved_callback(stream_, beiUmzug, this);

    pa_buffer_attr puffer{};
    puffer.maxlength = static_cast<std::uint32_t>(-1);
    puffer.tlength = puffer.prebuf = puffer.minreq = static_cast<std::uint32_t>(-1);
    const auto fragmentFrames = std::min<std::uint32_t>(
        std::max<std::uint32_t>(wunsch_.pufferFrames, 1),
        static_cast<std::uint32_t>(wunsch_.sampleRateHz * kFragmentSekunden));
    puffer.fragsize =
        static_cast<std::uint32_t>(std::max<std::uint32_t>(fragmentFrames, 1) * frameBytes_);

    // Without ADJUST_LATENCY the fragment size does not shorten the source's own
    // latency, and an idle null sink's monitor sends about 2 s at a time.
    int flags = PA_STREAM_ADJUST_LATENCY;
    if (wunsch_.nichtVerschieben) flags |= PA_STREAM_DONT_MOVE;
    return pa_stream_connect_record(stream_, quelle.empty() ? nullptr : quelle.c_str(), &puffer,
                                    static_cast<pa_stream_flags_t>(flags)) >= 0;
}

void PulseAufnahme::wechsleQuelle(const std::string& quelle) {
    if (!laeuft_) return;
    // What the old source gave goes out with its own stamps; the new stream starts
    // its own count and clock, and the timeline places its first buffer by time.
    if (gefuellt_ > 0) liefere();
    loeseStream();
    uhr_ = AufnahmeUhr(wunsch_.sampleRateHz);
    messungen_ = 0;
    gefuellt_ = 0;
    positionBytes_ = 0;
    pufferStartBytes_ = 0;
    anfrageLaeuft_ = false;
    sprungOffen_ = false;
    letzteAnfrageSekunden_ = -1.0;
    letzteZeitinfoUs_ = -1;
    if (!verbinde(quelle)) {
        laeuft_ = false;
        melde("Aufnahme-Stream nicht anlegbar");
    }
}

void PulseAufnahme::brichAnfragenAb() {
    if (wunsch_.folgeStandardSenke) {
        pa_context_set_subscribe_callback(verbindung_->kontext(), nullptr, nullptr);
    }
    for (pa_operation** op : {&serverAnfrage_, &senkenAnfrage_}) {
        if (*op == nullptr) continue;
        pa_operation_cancel(*op);
        pa_operation_unref(*op);
        *op = nullptr;
    }
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
        brichAnfragenAb();
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
    // A stream that replaced another one after a change of device needs its clock.
    if (zustand == PA_STREAM_READY && a->laeuft_) a->fordereZeitAn();
    a->verbindung_->wecke();
}

void PulseAufnahme::beiServerEreignis(pa_context* k, pa_subscription_event_type_t art,
                                      std::uint32_t, void* selbst) {
    auto* a = static_cast<PulseAufnahme*>(selbst);
    if ((art & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SERVER) return;
    if (!a->laeuft_ || a->serverAnfrage_ != nullptr) return;
    a->serverAnfrage_ = pa_context_get_server_info(k, beiServerInfo, a);
}

void PulseAufnahme::beiServerInfo(pa_context* k, const pa_server_info* info, void* selbst) {
    auto* a = static_cast<PulseAufnahme*>(selbst);
    if (a->serverAnfrage_ != nullptr) {
        pa_operation_unref(a->serverAnfrage_);
        a->serverAnfrage_ = nullptr;
    }
    if (info == nullptr || info->default_sink_name == nullptr || !a->laeuft_) return;
    const std::string senke = info->default_sink_name;
    if (senke.empty() || senke == a->senke_) return;
    a->senke_ = senke;
    if (a->senkenAnfrage_ != nullptr) {
        pa_operation_cancel(a->senkenAnfrage_);
        pa_operation_unref(a->senkenAnfrage_);
    }
    a->senkenAnfrage_ = pa_context_get_sink_info_by_name(k, senke.c_str(), beiSenkenInfo, a);
}

void PulseAufnahme::beiSenkenInfo(pa_context*, const pa_sink_info* info, int ende, void* selbst) {
    auto* a = static_cast<PulseAufnahme*>(selbst);
    if (ende != 0) {
        if (a->senkenAnfrage_ != nullptr) {
            pa_operation_unref(a->senkenAnfrage_);
            a->senkenAnfrage_ = nullptr;
        }
        return;
    }
    if (info != nullptr && info->monitor_source_name != nullptr && a->laeuft_) {
        a->wechsleQuelle(info->monitor_source_name);
    }
}

void PulseAufnahme::beiDaten(pa_stream*, std::size_t, void* selbst) {
    static_cast<PulseAufnahme*>(selbst)->lies();
}

void PulseAufnahme::beiUmzug(pa_stream*, void* selbst) {
    // Another device has another clock, and the server may drop what it still held
    // for the old one: the frame count no longer continues the old line. Data waits
    // in the stream until the new device's first reading.
    auto* a = static_cast<PulseAufnahme*>(selbst);
    if (a->gefuellt_ > 0) a->liefere();  // captured on the old device, stamped on its line
    a->uhr_ = AufnahmeUhr(a->wunsch_.sampleRateHz);
    a->messungen_ = 0;
    a->sprungOffen_ = false;
    a->letzteZeitinfoUs_ = -1;
    a->fordereZeitAn();
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
    ++a->messungen_;
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
    // The same on a new line: a device that has just started may report a latency
    // it does not have yet, and its first readings decide the anchor.
    const bool haeufig = sprungOffen_ || messungen_ < kJungeMessungen;
    const double abstand = haeufig ? kZeitAbstandSekunden / 5 : kZeitAbstandSekunden;
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
