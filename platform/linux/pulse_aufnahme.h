// A record stream of the sound server: one source, float32 interleaved at a
// chosen rate and channel count, delivered in buffers of a fixed size with the
// host clock time of each buffer's first frame.
//
// Owns its PulseVerbindung and thereby the delivery thread. Buffers and the stop
// notice come on that thread; neither may block for long, and neither may call
// stoppe() or destroy the object.
#pragma once

#include <pulse/introspect.h>
#include <pulse/stream.h>
#include <pulse/subscribe.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/audio_engine.h"
#include "platform/bildschirm_aufnahme.h"
#include "platform/linux/aufnahme_uhr.h"
#include "platform/linux/pulse_verbindung.h"

namespace hoerspur {

struct PulseAufnahmeWunsch {
    std::string streamName;
    // Empty: the client's default source (follows a change of the default).
    std::string quelle;
    double sampleRateHz = 48000;
    std::uint32_t kanaele = 2;
    std::uint32_t pufferFrames = 1024;
    // Keep to this source: a stream that loses its source ends instead of
    // moving to another one.
    bool nichtVerschieben = false;
    // `quelle` is the monitor of the default sink `senke`: when the server's default
    // sink changes (headphones plugged in), the stream moves to the new one's monitor.
    bool folgeStandardSenke = false;
    std::string senke;
};

class PulseAufnahme {
  public:
    // Each buffer: interleaved float32, `frames` frames, the host time of its
    // first frame. Holds nothing beyond the call.
    using LieferFunktion = std::function<void(const AudioSampleBuffer&)>;
    // Called at most once when the server ends the stream (or goes away); the
    // argument is the error's full text.
    using AbbruchFunktion = std::function<void(const std::string& fehlerText)>;

    // Opens the stream on `verbindung` and waits until it records. Throws
    // PlattformFehler when the server refuses.
    PulseAufnahme(std::unique_ptr<PulseVerbindung> verbindung, const PulseAufnahmeWunsch& wunsch,
                  LieferFunktion liefern, AbbruchFunktion beiAbbruch);
    ~PulseAufnahme();

    PulseAufnahme(const PulseAufnahme&) = delete;
    PulseAufnahme& operator=(const PulseAufnahme&) = delete;

    // Replaces the delivery function; when this returns, the old one is not
    // running and will not be called again.
    void setzeLieferung(LieferFunktion liefern);

    // Ends the stream and its thread; when this returns, no callback runs or
    // will run. Safe twice.
    void stoppe();

    // Jumps of the stream's clock (lost frames, suspended source) so far.
    std::int64_t spruenge();

  private:
    static void beiZustand(pa_stream* s, void* selbst);
    static void beiDaten(pa_stream* s, std::size_t bytes, void* selbst);
    static void beiZeitinfo(pa_stream* s, int erfolg, void* selbst);
    static void beiAenderung(pa_stream* s, void* selbst);
    static void beiUmzug(pa_stream* s, void* selbst);
    static void beiServerEreignis(pa_context* k, pa_subscription_event_type_t art,
                                  std::uint32_t index, void* selbst);
    static void beiServerInfo(pa_context* k, const pa_server_info* info, void* selbst);
    static void beiSenkenInfo(pa_context* k, const pa_sink_info* info, int ende, void* selbst);

    // Creates the stream and connects it to `quelle` (empty: the default source);
    // false when the server refuses at once. Under the connection's lock.
    bool verbinde(const std::string& quelle);
    void lies();
    void liefere();
    void fordereZeitAn();
    // Moves to another source: what is buffered goes out, then a new stream on
    // `quelle` with a clock of its own. On the loop thread.
    void wechsleQuelle(const std::string& quelle);
    // Unhooks, disconnects and releases the stream; under the connection's lock.
    void loeseStream();
    // Cancels the server queries still open; under the connection's lock.
    void brichAnfragenAb();
    void melde(const std::string& was);

    // Fest nach dem Bau.
    std::size_t frameBytes_;
    std::size_t pufferBytes_;
    PulseAufnahmeWunsch wunsch_;
    pa_sample_spec abtastFormat_{};
    pa_channel_map kanalKarte_{};

    std::unique_ptr<PulseVerbindung> verbindung_;
    // Nur unter der Loop-Sperre (or before the stream exists).
    pa_stream* stream_ = nullptr;
    LieferFunktion liefern_;
    AbbruchFunktion beiAbbruch_;
    AufnahmeUhr uhr_;
    AudioSampleBuffer puffer_;
    std::size_t gefuellt_ = 0;         // bytes in puffer_
    std::uint64_t positionBytes_ = 0;  // stream position of the next byte read
    std::uint64_t pufferStartBytes_ = 0;
    bool laeuft_ = false;    // started and not stopped or failed
    bool gemeldet_ = false;  // beiAbbruch_ called (or the start failed)
    bool anfrageLaeuft_ = false;
    bool sprungOffen_ = false;
    int messungen_ = 0;  // readings since the clock's line began
    double letzteAnfrageSekunden_ = -1.0;
    long long letzteZeitinfoUs_ = -1;
    std::string senke_;  // the default sink whose monitor is recorded
    pa_operation* serverAnfrage_ = nullptr;
    pa_operation* senkenAnfrage_ = nullptr;
};

// The two backends built on it.
std::unique_ptr<AudioEngine> neuePulseAudioEngine();
std::shared_ptr<BildschirmAufnahme> neuePulseSystemAudio();

}  // namespace hoerspur
