#include "platform/linux/pulse_verbindung.h"

#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/operation.h>
#include <pulse/proplist.h>
#include <pulse/rtclock.h>

#include "platform/linux/pulse_fehler.h"
#include "platform/linux/tsan_ausnahmen.h"

namespace hoerspur {

namespace {

constexpr double kVerbindenSekunden = 5.0;
constexpr double kAnfrageSekunden = 5.0;

void signalisiere(pa_context*, void* loop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
}

// Context state callbacks wake waiters through the loop, never through `this`,
// so that they stay valid while the object is torn down.
struct Anfrage {
    pa_threaded_mainloop* loop;
    bool fertig = false;
    bool gefunden = false;
    PulseServerInfo server;
    PulseGeraeteInfo geraet;
};

void nimmServerInfo(pa_context*, const pa_server_info* info, void* daten) {
    auto* a = static_cast<Anfrage*>(daten);
    if (info != nullptr) {
        a->server.standardQuelle = info->default_source_name ? info->default_source_name : "";
        a->server.standardSenke = info->default_sink_name ? info->default_sink_name : "";
        a->gefunden = true;
    }
    a->fertig = true;
    pa_threaded_mainloop_signal(a->loop, 0);
}

// Source and sink listings end with a call carrying ende != 0; `monitor` names the
// field that links the device to its monitor (or the sink it monitors).
template <typename Info, const char* Info::*monitor>
void nimmGeraet(pa_context*, const Info* info, int ende, void* daten) {
    auto* a = static_cast<Anfrage*>(daten);
    if (ende == 0 && info != nullptr) {
        a->geraet.name = info->name ? info->name : "";
        a->geraet.sampleRateHz = info->sample_spec.rate;
        a->geraet.kanaele = info->sample_spec.channels;
        a->geraet.monitor = info->*monitor ? info->*monitor : "";
        a->gefunden = true;
        return;
    }
    a->fertig = true;
    pa_threaded_mainloop_signal(a->loop, 0);
}
constexpr auto nimmQuelle = nimmGeraet<pa_source_info, &pa_source_info::monitor_of_sink_name>;
constexpr auto nimmSenke = nimmGeraet<pa_sink_info, &pa_sink_info::monitor_source_name>;

void zeitUm(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* daten) {
    auto* a = static_cast<std::pair<pa_threaded_mainloop*, bool>*>(daten);
    a->second = true;
    pa_threaded_mainloop_signal(a->first, 0);
}

}  // namespace

PulseVerbindung::Sperre::Sperre(PulseVerbindung& v) : loop_(v.aufLoopThread() ? nullptr : v.loop_) {
    if (loop_ != nullptr) pa_threaded_mainloop_lock(loop_);
}

PulseVerbindung::Sperre::~Sperre() {
    if (loop_ != nullptr) pa_threaded_mainloop_unlock(loop_);
}

PulseVerbindung::PulseVerbindung(const char* threadName) {
    tsanAusnahmenEinbinden();
    loop_ = pa_threaded_mainloop_new();
    if (loop_ == nullptr) throw pulseFehler("Tonserver-Schleife nicht anlegbar", PA_ERR_INTERNAL);
    pa_threaded_mainloop_set_name(loop_, threadName);

    pa_proplist* eigenschaften = pa_proplist_new();
    pa_proplist_sets(eigenschaften, PA_PROP_APPLICATION_NAME, "hoerspur");
    pa_proplist_sets(eigenschaften, PA_PROP_APPLICATION_ID, "hoerspur");
    kontext_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "hoerspur",
                                            eigenschaften);
    pa_proplist_free(eigenschaften);
    if (kontext_ == nullptr) {
        pa_threaded_mainloop_free(loop_);
        throw pulseFehler("Tonserver-Kontext nicht anlegbar", PA_ERR_INTERNAL);
    }
    pa_context_set_state_callback(kontext_, signalisiere, loop_);

    // The loop runs from here on; on failure the destructor's work is done by hand.
    pa_threaded_mainloop_lock(loop_);
    int rc = pa_context_connect(kontext_, nullptr, PA_CONTEXT_NOFLAGS, nullptr);
    if (rc >= 0) rc = pa_threaded_mainloop_start(loop_);
    bool bereit = false;
    if (rc >= 0) {
        bereit = warte([this] { return pa_context_get_state(kontext_) == PA_CONTEXT_READY; },
                       kVerbindenSekunden);
    }
    if (!bereit) {
        int code = pa_context_errno(kontext_);
        if (code == PA_OK) code = PA_ERR_TIMEOUT;
        pa_context_set_state_callback(kontext_, nullptr, nullptr);
        pa_context_disconnect(kontext_);
        pa_context_unref(kontext_);
        pa_threaded_mainloop_unlock(loop_);
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
        throw pulseFehler("keine Verbindung zum Tonserver", code);
    }
    pa_threaded_mainloop_unlock(loop_);
}

PulseVerbindung::~PulseVerbindung() {
    pa_threaded_mainloop_lock(loop_);
    pa_context_set_state_callback(kontext_, nullptr, nullptr);
    pa_context_disconnect(kontext_);
    pa_context_unref(kontext_);
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
}

bool PulseVerbindung::aufLoopThread() const {
    return pa_threaded_mainloop_in_thread(loop_) != 0;
}

bool PulseVerbindung::verbunden() const {
    return pa_context_get_state(kontext_) == PA_CONTEXT_READY;
}

PlattformFehler PulseVerbindung::fehler(const std::string& was) const {
    int code = pa_context_errno(kontext_);
    if (code == PA_OK) code = PA_ERR_UNKNOWN;
    return pulseFehler(was, code);
}

bool PulseVerbindung::warte(const std::function<bool()>& fertig, double sekunden) {
    std::pair<pa_threaded_mainloop*, bool> zeit{loop_, false};
    pa_time_event* wecker = pa_context_rttime_new(
        kontext_, pa_rtclock_now() + static_cast<pa_usec_t>(sekunden * 1e6), zeitUm, &zeit);
    bool ok = false;
    for (;;) {
        if (fertig()) {
            ok = true;
            break;
        }
        const pa_context_state_t s = pa_context_get_state(kontext_);
        if (s == PA_CONTEXT_FAILED || s == PA_CONTEXT_TERMINATED || zeit.second) break;
        pa_threaded_mainloop_wait(loop_);
    }
    if (wecker != nullptr) pa_threaded_mainloop_get_api(loop_)->time_free(wecker);
    return ok;
}

void PulseVerbindung::wecke() {
    pa_threaded_mainloop_signal(loop_, 0);
}

namespace {

// Runs one query and waits for its answer; throws when none comes.
void frage(PulseVerbindung& v, Anfrage& a, const std::function<pa_operation*()>& starte) {
    PulseVerbindung::Sperre sperre(v);
    pa_operation* op = starte();
    if (op == nullptr) throw v.fehler("Tonserver gibt keine Auskunft");
    const bool ok = v.warte([&a] { return a.fertig; }, kAnfrageSekunden);
    // Cancelling keeps a late answer from touching `a` after we return.
    if (!ok) pa_operation_cancel(op);
    pa_operation_unref(op);
    if (!ok) throw v.fehler("Tonserver gibt keine Auskunft");
}

}  // namespace

PulseServerInfo PulseVerbindung::serverInfo() {
    Anfrage a{loop_, false, false, {}, {}};
    frage(*this, a, [&] { return pa_context_get_server_info(kontext_, nimmServerInfo, &a); });
    if (!a.gefunden) throw fehler("Tonserver gibt keine Auskunft");
    return a.server;
}

std::optional<PulseGeraeteInfo> PulseVerbindung::quelle(const std::string& name) {
    Anfrage a{loop_, false, false, {}, {}};
    frage(*this, a, [&] {
        return pa_context_get_source_info_by_name(kontext_, name.c_str(), nimmQuelle, &a);
    });
    if (!a.gefunden) return std::nullopt;
    return a.geraet;
}

std::optional<PulseGeraeteInfo> PulseVerbindung::senke(const std::string& name) {
    Anfrage a{loop_, false, false, {}, {}};
    frage(*this, a,
          [&] { return pa_context_get_sink_info_by_name(kontext_, name.c_str(), nimmSenke, &a); });
    if (!a.gefunden) return std::nullopt;
    return a.geraet;
}

}  // namespace hoerspur
