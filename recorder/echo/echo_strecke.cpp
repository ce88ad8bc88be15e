#include "recorder/echo/echo_strecke.h"

#include <algorithm>
#include <cmath>

namespace hoerspur {

namespace {

double skaliert(float x) {
    return std::isfinite(x) ? static_cast<double>(x) * 32768.0 : 0.0;
}

}  // namespace

EchoStrecke::EchoStrecke(int partitionen)
    : ec_(partitionen), zuVerwerfen_(ec_.verzoegerungBloecke() * std::int64_t{N}) {
    // Enough for what the trimming keeps when both streams arrive together; a
    // reference running far ahead grows it, up to the 60 s bound.
    refRoh_.reserve(REF_ANFANG);
    refPre_.reserve(REF_ANFANG);
    mic_.reserve(static_cast<std::size_t>(2 * maxVerzug + 4 * N));
}

void EchoStrecke::nachfilter(bool an) {
    ec_.nachfilterAn = an;
    zuVerwerfen_ = an ? Echokompensation::NACHFILTER_BLOECKE * std::int64_t{N} : 0;
}

void EchoStrecke::referenz(std::span<const float> samples) {
    if (beendet_) return;
    for (float x : samples) {
        const double v = skaliert(x);
        refRoh_.push_back(v);
        refPre_.push_back(v - 0.9 * refLetzter_);
        refLetzter_ = v;
    }
    refEnde_ += static_cast<std::int64_t>(samples.size());
    abarbeiten(false);
}

void EchoStrecke::mikro(std::span<const float> samples) {
    if (beendet_) return;
    if (micLese_ > 0 && micLese_ >= mic_.size() / 2) {
        // Drop what is processed once it is the larger part; one move per many blocks.
        mic_.erase(mic_.begin(), mic_.begin() + static_cast<std::ptrdiff_t>(micLese_));
        micLese_ = 0;
    }
    for (float x : samples) mic_.push_back(skaliert(x));
    micEnde_ += static_cast<std::int64_t>(samples.size());
    abarbeiten(false);
}

void EchoStrecke::abarbeiten(bool erzwingen) {
    while (micEnde_ - micBasis_ >= N) {
        const std::int64_t k = micBasis_ / N;
        if (refEnde_ < (k + 1) * N) {
            if (!erzwingen && micEnde_ - refEnde_ < maxVerzug) break;
            ohneReferenz_ += 1;
        }
        blockVerarbeiten(std::nullopt);
    }

    // Keep what a realignment to the largest delay the estimator can report would need,
    // not only what the current alignment needs: after a jump to a larger alignment the
    // rebuilt reference history and the next frames must still be there.
    const std::int64_t k = micBasis_ / N;
    const std::int64_t weitester = std::max(versatz_, MAX_VERSATZ);
    const std::int64_t gebraucht = std::max<std::int64_t>((k - weitester - ec_.P() - 3) * N, 0);
    if (gebraucht - refBasis_ > REF_RESERVE) referenzKuerzen(gebraucht);
    const auto gepuffert = static_cast<std::int64_t>(refRoh_.size());
    if (gepuffert > REF_GRENZE) referenzKuerzen(refBasis_ + gepuffert - REF_BEHALTEN);
}

void EchoStrecke::referenzKuerzen(std::int64_t bis) {
    const auto weg = static_cast<std::ptrdiff_t>(
        std::min<std::int64_t>(bis - refBasis_, static_cast<std::int64_t>(refRoh_.size())));
    refRoh_.erase(refRoh_.begin(), refRoh_.begin() + weg);
    refPre_.erase(refPre_.begin(), refPre_.begin() + weg);
    refBasis_ += weg;
}

void EchoStrecke::rahmenAb(std::int64_t start, std::span<double> rahmen) const {
    const auto ende = refBasis_ + static_cast<std::int64_t>(refPre_.size());
    for (std::size_t i = 0; i < rahmen.size(); ++i) {
        const std::int64_t pos = start + static_cast<std::int64_t>(i);
        rahmen[i] = (pos >= 0 && pos >= refBasis_ && pos < ende)
                        ? refPre_[static_cast<std::size_t>(pos - refBasis_)]
                        : 0.0;
    }
}

int EchoStrecke::versatzNach(int delaySamples, int versatz) {
    const int rest = delaySamples - versatz * N;
    // The adaptive filter covers residual delays up to 2048 samples; below 128 the echo
    // would start too close to the filter's first tap.
    if ((versatz == 0 && rest <= 2048) || (rest >= 128 && rest <= 2048)) return versatz;
    const double x = (delaySamples - Echokompensation::vorlauf) / 256.0;
    double ganz = std::floor(x);
    const double bruch = x - ganz;
    if (bruch > 0.5 || (bruch == 0.5 && std::fmod(ganz, 2.0) != 0.0)) ganz += 1.0;
    return std::max(0, static_cast<int>(ganz));
}

void EchoStrecke::blockVerarbeiten(std::optional<std::int64_t> ende) {
    const std::int64_t k = micBasis_ / N;
    std::copy_n(mic_.begin() + static_cast<std::ptrdiff_t>(micLese_), N, mikroBlock_.begin());
    micLese_ += N;
    micBasis_ += N;

    const auto refEndePuffer = refBasis_ + static_cast<std::int64_t>(refRoh_.size());
    for (int i = 0; i < N; ++i) {
        const std::int64_t pos = k * N + i;
        refBlock_[i] = (pos >= refBasis_ && pos < refEndePuffer)
                           ? refRoh_[static_cast<std::size_t>(pos - refBasis_)]
                           : 0.0;
    }

    if (const std::optional<int> r = verz_.fuettern(refBlock_, mikroBlock_)) {
        delay_ = *r;
        const int neu = versatzNach(*r, versatz_);
        if (neu != versatz_) {
            // Captures two words, so the function object needs no heap storage.
            const std::int64_t basis = k - neu - 2;
            ec_.versetzen(neu - versatz_, [this, basis](int j, std::span<double> rahmen) {
                rahmenAb((basis - j) * N, rahmen);
            });
            versatz_ = neu;
            versatzWechsel_ += 1;
        }
    }

    rahmenAb((k - versatz_ - 1) * N, rahmen_);
    std::span<const double> aus = ec_.block(mikroBlock_, rahmen_);
    bool sprache = ec_.letzteSprache();
    const bool endlich =
        std::all_of(aus.begin(), aus.end(), [](double v) { return std::isfinite(v); });
    if (!endlich) {
        ausfaelle_ += 1;
        ec_.resetFilter();
        aus = letzterRohBlock_;
        sprache = true;
    }
    for (int i = 0; i < N; ++i) {
        const auto v = static_cast<float>(aus[i] / SKALA);
        ausSamples_[i] = std::clamp(v, -1.0f, 1.0f);
    }
    letzterRohBlock_ = mikroBlock_;
    std::fill(ausSprache_.begin(), ausSprache_.end(), sprache);

    std::size_t von = 0;
    std::size_t anzahl = N;
    if (zuVerwerfen_ > 0) {
        const auto weg = static_cast<std::size_t>(std::min<std::int64_t>(N, zuVerwerfen_));
        von += weg;
        anzahl -= weg;
        zuVerwerfen_ -= static_cast<std::int64_t>(weg);
    }
    if (ende) {
        const auto erlaubt = std::max<std::int64_t>(*ende - ausgegeben_, 0);
        anzahl = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(anzahl), erlaubt));
    }
    ausgegeben_ += static_cast<std::int64_t>(anzahl);
    if (anzahl > 0) {
        ausgabe(std::span<const float>(ausSamples_.data() + von, anzahl),
                std::span<const bool>(ausSprache_.data() + von, anzahl));
    }
}

void EchoStrecke::abschliessen() {
    if (beendet_) return;
    abarbeiten(true);
    auto leerBlock = [&] {
        mic_.erase(mic_.begin(), mic_.begin() + static_cast<std::ptrdiff_t>(micLese_));
        micLese_ = 0;
        mic_.resize(N, 0.0);
    };
    if (micEnde_ - micBasis_ > 0) {
        leerBlock();
        blockVerarbeiten(micEnde_);
    }
    const int nachlauf = ec_.nachfilterAn ? Echokompensation::NACHFILTER_BLOECKE : 1;
    for (int i = 0; i < nachlauf; ++i) {
        mic_.assign(N, 0.0);
        micLese_ = 0;
        blockVerarbeiten(micEnde_);
    }
    beendet_ = true;
}

EchoStatistik EchoStrecke::statistik() const {
    const double bloecke = static_cast<double>(std::max<std::int64_t>(ec_.bloecke(), 1));
    EchoStatistik s;
    s.verzoegerungMs = delay_ * 0.0625;
    s.versatzBloecke = versatz_;
    s.versatzWechsel = versatzWechsel_;
    s.leck = ec_.leak();
    s.torAnteil = static_cast<double>(ec_.torBloecke()) / bloecke;
    s.nahAnteil = static_cast<double>(ec_.nahBloecke()) / bloecke;
    s.vgKopien = ec_.vgKopien();
    s.hgReset = ec_.hgReset();
    s.resets = ec_.resets();
    s.ohneReferenz = ohneReferenz_;
    s.ausfaelle = ausfaelle_;
    s.bloecke = ec_.bloecke();
    return s;
}

}  // namespace hoerspur
