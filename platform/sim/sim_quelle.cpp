#include "platform/sim/sim_quelle.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

namespace hoerspur {

class SimQuelle::Skript {
  public:
    virtual ~Skript() = default;
    // k < anzahl(); nothing for a dropped buffer.
    virtual std::optional<SimPuffer> erzeuge(std::uint64_t k) const = 0;
    virtual std::optional<AudioFormat> erstesFormat() const = 0;

    std::uint64_t anzahl = 0;
    std::uint64_t lieferbar = 0;  // buffers of one pass that are not dropped
    double zyklusSekunden = 0.0;  // how far stamps move from one pass to the next
};

namespace {

class PufferSkript final : public SimQuelle::Skript {
  public:
    explicit PufferSkript(std::vector<SimPuffer> puffer) : puffer_(std::move(puffer)) {
        anzahl = puffer_.size();
        lieferbar = anzahl;
        double dauer = 0.0;
        for (const SimPuffer& p : puffer_) {
            zyklusSekunden = std::max(zyklusSekunden, p.lieferSekunden);
            if (p.pcm.format() && p.pcm.format()->gueltig()) {
                dauer += p.pcm.frameLaenge() / p.pcm.format()->sampleRateHz;
            }
        }
        if (zyklusSekunden <= 0.0) zyklusSekunden = dauer;
    }

    std::optional<SimPuffer> erzeuge(std::uint64_t k) const override { return puffer_[k]; }

    std::optional<AudioFormat> erstesFormat() const override {
        for (const SimPuffer& p : puffer_) {
            if (p.pcm.format()) return p.pcm.format();
        }
        return std::nullopt;
    }

  private:
    std::vector<SimPuffer> puffer_;
};

class PlanSkript final : public SimQuelle::Skript {
  public:
    explicit PlanSkript(SimPlan plan) : plan_(std::move(plan)) {
        const std::uint64_t gesamt = *plan_.frames;
        anzahl = (gesamt + plan_.pufferFrames - 1) / plan_.pufferFrames;
        std::uint64_t weg = 0;
        for (const std::uint64_t k : plan_.weglassen) weg += k < anzahl ? 1 : 0;
        lieferbar = anzahl - weg;
        zyklusSekunden = zeitBei(gesamt);
    }

    std::optional<SimPuffer> erzeuge(std::uint64_t k) const override {
        if (plan_.weglassen.contains(k)) return std::nullopt;
        const AudioFormat& f = plan_.format;
        const std::uint64_t ab = k * plan_.pufferFrames;
        const auto n = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(plan_.pufferFrames, *plan_.frames - ab));
        SimPuffer p;
        p.pcm = PcmPuffer(f, n);
        p.frames = n;
        std::vector<float> kanal(n);
        for (std::uint32_t c = 0; c < f.kanaele; ++c) {
            plan_.signal.fuelle(c, ab, kanal);
            schreibe(p.pcm, c, kanal);
        }
        if (!plan_.ohneZeit.contains(k)) {
            const auto versatz = plan_.versatzSekunden.find(k);
            p.stempelSekunden =
                zeitBei(ab) + (versatz == plan_.versatzSekunden.end() ? 0.0 : versatz->second);
        }
        p.lieferSekunden = zeitBei(ab + n);  // due once its last frame is captured
        return p;
    }

    std::optional<AudioFormat> erstesFormat() const override { return plan_.format; }

  private:
    double zeitBei(std::uint64_t frame) const {
        return static_cast<double>(frame) / plan_.format.sampleRateHz * (1.0 + plan_.drift);
    }

    static void schreibe(PcmPuffer& pcm, std::uint32_t c, const std::vector<float>& werte) {
        const AudioFormat& f = *pcm.format();
        const std::size_t array = f.verschraenkt ? 0 : c;
        const std::size_t start = f.verschraenkt ? c : 0;
        const std::size_t schritt = f.verschraenkt ? f.kanaele : 1;
        if (f.art == SampleArt::float32) {
            const std::span<float> d = pcm.floatDaten(array);
            for (std::size_t i = 0; i < werte.size(); ++i) d[start + i * schritt] = werte[i];
        } else {
            const std::span<std::int16_t> d = pcm.int16Daten(array);
            for (std::size_t i = 0; i < werte.size(); ++i) {
                const float x = std::isnan(werte[i]) ? 0.0f : std::clamp(werte[i], -1.0f, 1.0f);
                d[start + i * schritt] = static_cast<std::int16_t>(std::lrint(x * 32767.0f));
            }
        }
    }

    SimPlan plan_;
};

[[noreturn]] void planFehler(const std::string& was) {
    throw std::invalid_argument("Lieferplan: " + was);
}

}  // namespace

SimQuelle::SimQuelle()
    : skript_(std::make_shared<PufferSkript>(std::vector<SimPuffer>{})), basisSekunden_(0.0) {}

SimQuelle SimQuelle::ausPuffern(std::vector<SimPuffer> puffer,
                                std::optional<double> basisSekunden) {
    SimQuelle q;
    q.skript_ = std::make_shared<PufferSkript>(std::move(puffer));
    q.basisSekunden_ = basisSekunden;
    return q;
}

SimQuelle SimQuelle::ausPlan(const SimPlan& plan) {
    if (!plan.format.gueltig()) planFehler("ungueltiges Format");
    if (plan.pufferFrames == 0) planFehler("Puffergroesse 0");
    if (!plan.frames && !plan.signal.frames()) planFehler("Laenge fehlt fuer ein endloses Signal");
    if (plan.signal.kanaele() != 1 && plan.signal.kanaele() != plan.format.kanaele) {
        planFehler("Signal hat " + std::to_string(plan.signal.kanaele()) + " Kanaele, Format " +
                   std::to_string(plan.format.kanaele));
    }
    if (!std::isfinite(plan.drift) || plan.drift <= -1.0) planFehler("Drift muss > -1 sein");
    if (plan.startSekunden && !std::isfinite(*plan.startSekunden)) planFehler("Startzeit");
    SimPlan fest = plan;
    if (!fest.frames) fest.frames = plan.signal.frames();
    const std::uint64_t anzahl = (*fest.frames + fest.pufferFrames - 1) / fest.pufferFrames;
    const auto pruefe = [&](std::uint64_t k, const char* liste) {
        if (k >= anzahl) {
            planFehler(std::string(liste) + ": Puffer " + std::to_string(k) + " gibt es nicht (" +
                       std::to_string(anzahl) + " Puffer)");
        }
    };
    for (const std::uint64_t k : fest.weglassen) pruefe(k, "weglassen");
    for (const std::uint64_t k : fest.ohneZeit) pruefe(k, "ohne Zeit");
    for (const auto& [k, versatz] : fest.versatzSekunden) {
        pruefe(k, "Versatz");
        if (!std::isfinite(versatz)) planFehler("Versatz muss endlich sein");
    }
    SimQuelle q;
    q.skript_ = std::make_shared<PlanSkript>(std::move(fest));
    q.basisSekunden_ = plan.startSekunden;
    return q;
}

std::uint64_t SimQuelle::anzahl() const {
    return skript_->anzahl;
}

bool SimQuelle::amEnde(std::uint64_t k) const {
    if (skript_->lieferbar == 0) return true;
    return nachlauf == SimNachlauf::ende && k >= skript_->anzahl;
}

std::optional<SimPuffer> SimQuelle::puffer(std::uint64_t k) const {
    if (amEnde(k)) return std::nullopt;
    const std::uint64_t n = skript_->anzahl;
    const std::uint64_t durchgang = k / n;
    std::optional<SimPuffer> p = skript_->erzeuge(k % n);
    if (!p || durchgang == 0) return p;
    const double verschiebung = static_cast<double>(durchgang) * skript_->zyklusSekunden;
    if (p->stempelSekunden) *p->stempelSekunden += verschiebung;
    p->lieferSekunden += verschiebung;
    if (nachlauf == SimNachlauf::stille && p->pcm.format()) {
        const std::uint32_t laenge = p->pcm.frameLaenge();
        p->pcm = PcmPuffer(*p->pcm.format(), p->pcm.frameKapazitaet());
        p->pcm.setzeFrameLaenge(laenge);
    }
    return p;
}

std::optional<AudioFormat> SimQuelle::erstesFormat() const {
    return skript_->erstesFormat();
}

}  // namespace hoerspur
