// EchoStrecke: pairs the microphone ("me") with the far-end reference ("them") and runs
// the echo canceller on them. Both streams arrive as float blocks of any length on the
// same timeline at 16000 Hz (position i of one belongs to the same moment as position i
// of the other). The microphone is cut into blocks of 256 samples; each waits for its
// reference, or is processed without it once the microphone runs 8000 samples ahead.
// The delay estimator keeps the reference aligned by whole blocks. The output has
// exactly as many samples as the microphone input, sample for sample in time, each with
// a near-end speech flag, and goes to `ausgabe`.
//
// Thread: all calls on one thread or serial queue (the echo queue); no lock. `ausgabe`
// is called on that thread. Storage is made at construction and reused; the reference
// buffer is bounded to 60 s.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "recorder/echo/echokompensation.h"
#include "recorder/echo/verzoegerungsschaetzer.h"

namespace hoerspur {

// What the echo path did over a whole run, for the recorder's "echo" line.
struct EchoStatistik {
    double verzoegerungMs = 0.0;  // the last delay estimate
    int versatzBloecke = 0;
    std::int64_t versatzWechsel = 0;
    double leck = 0.0;
    double torAnteil = 0.0;  // share of blocks with the adaptation gate closed
    double nahAnteil = 0.0;  // share of blocks with near-end speech
    std::int64_t vgKopien = 0;
    std::int64_t hgReset = 0;
    std::int64_t resets = 0;
    std::int64_t ohneReferenz = 0;
    std::int64_t ausfaelle = 0;
    std::int64_t bloecke = 0;

    bool operator==(const EchoStatistik&) const = default;
};

class EchoStrecke {
  public:
    // Cleaned samples in [-1, 1] and one speech flag per sample; the spans are valid
    // during the call only.
    using Ausgabe = std::function<void(std::span<const float>, std::span<const bool>)>;

    explicit EchoStrecke(int partitionen);

    // Switches the postfilter (on by default). Call before any audio is fed.
    void nachfilter(bool an);

    // Samples that are not finite (NaN, infinities) are taken as 0, so that one bad
    // sample cannot poison the filters.
    void referenz(std::span<const float> samples);
    void mikro(std::span<const float> samples);

    // Processes everything left and flushes the canceller; afterwards referenz() and
    // mikro() are ignored and the output holds micEnde() samples in all.
    void abschliessen();

    EchoStatistik statistik() const;

    Ausgabe ausgabe = [](std::span<const float>, std::span<const bool>) {};

    const Echokompensation& kompensation() const { return ec_; }
    int delay() const { return delay_; }
    int versatz() const { return versatz_; }
    std::int64_t versatzWechsel() const { return versatzWechsel_; }
    std::int64_t ohneReferenz() const { return ohneReferenz_; }
    std::int64_t ausfaelle() const { return ausfaelle_; }
    std::int64_t refEnde() const { return refEnde_; }
    std::int64_t micEnde() const { return micEnde_; }
    static constexpr std::int64_t maxVerzug = 8000;

    // The alignment in blocks after the estimator reported `delaySamples` while the
    // alignment was `versatz`: kept while the filter covers the residual delay, else
    // (r - vorlauf) / 256 rounded to the nearest integer (ties to even), at least 0.
    static int versatzNach(int delaySamples, int versatz);

  private:
    static constexpr int N = Echokompensation::N;
    static constexpr int K = Echokompensation::K;
    static constexpr double SKALA = 32768.0;
    static constexpr std::int64_t REF_GRENZE = 960000;    // 60 s
    static constexpr std::int64_t REF_BEHALTEN = 480000;  // kept when the bound is hit
    static constexpr std::int64_t REF_RESERVE = 16000;    // samples trimmed at once
    static constexpr std::size_t REF_ANFANG = 65536;      // reference storage made up front
    // The largest alignment a delay up to the estimator's maxLag can give.
    static constexpr int MAX_VERSATZ =
        (Verzoegerungsschaetzer::maxLag - Echokompensation::vorlauf + 128) / 256;

    void abarbeiten(bool erzwingen);
    void blockVerarbeiten(std::optional<std::int64_t> ende);
    // The K-sample frame of refPre starting at position `start`, zeros where nothing is
    // buffered.
    void rahmenAb(std::int64_t start, std::span<double> rahmen) const;
    void referenzKuerzen(std::int64_t bis);

    // nur auf der Echo-Queue
    Echokompensation ec_;
    Verzoegerungsschaetzer verz_;
    std::vector<double> refRoh_;
    std::vector<double> refPre_;
    std::int64_t refBasis_ = 0;
    double refLetzter_ = 0.0;
    std::int64_t refEnde_ = 0;
    // Unprocessed microphone samples are mic_[micLese_ ...]; the first is at micBasis_.
    std::vector<double> mic_;
    std::size_t micLese_ = 0;
    std::int64_t micBasis_ = 0;
    std::int64_t micEnde_ = 0;
    std::int64_t zuVerwerfen_;
    std::int64_t ausgegeben_ = 0;
    std::array<double, N> letzterRohBlock_{};
    bool beendet_ = false;
    int delay_ = 0;
    int versatz_ = 0;
    std::int64_t versatzWechsel_ = 0;
    std::int64_t ohneReferenz_ = 0;
    std::int64_t ausfaelle_ = 0;

    // per-block work arrays
    std::array<double, N> mikroBlock_{};
    std::array<double, N> refBlock_{};
    std::array<double, K> rahmen_{};
    std::array<float, N> ausSamples_{};
    std::array<bool, N> ausSprache_{};
};

}  // namespace hoerspur
