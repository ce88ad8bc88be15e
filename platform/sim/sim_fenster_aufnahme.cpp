#include "platform/sim/sim_fenster_aufnahme.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

namespace hoerspur {

namespace {

using namespace std::chrono_literals;

PlattformFehler fensterFehlt() {
    return PlattformFehler("sim", -3815, "Fenster nicht gefunden");
}

class SimFensterStrom final : public FensterStrom {
  public:
    SimFensterStrom(std::shared_ptr<const SimFensterVideo> skript, std::function<double()> uhr,
                    std::shared_ptr<SimFensterVideoProtokoll> protokoll, std::uint32_t fensterId,
                    const FensterStromKonfiguration& k, FensterAufnahme::BildFunktion proBild,
                    FensterAufnahme::StopFunktion beiStop)
        : skript_(std::move(skript)),
          uhr_(std::move(uhr)),
          protokoll_(std::move(protokoll)),
          proBild_(std::move(proBild)),
          beiStop_(std::move(beiStop)),
          rate_(std::min(skript_->bilderProSekunde, 1.0 / k.minBildabstandSekunden)),
          start_(uhr_()),
          fensterId_(fensterId) {
        bild_.setzeGroesse(k.breite, k.hoehe);
        bild_.fuelle(0, 0, 0, 255);
        protokoll_->aendere([](SimFensterVideoAufrufe& a) { ++a.laufend; });
        thread_ = std::thread([this] { schleife(); });
    }

    ~SimFensterStrom() override { beende(); }

    void wechsleFenster(std::uint32_t fensterId) override {
        protokoll_->aendere([&](SimFensterVideoAufrufe& a) { a.wechsel.push_back(fensterId); });
        std::lock_guard lock(mutex_);
        if (beendet_ || stopp_) throw PlattformFehler("sim", -3808, "Stream laeuft nicht mehr");
        if (skript_->fensterDa && !skript_->fensterDa(fensterId, uhr_())) throw fensterFehlt();
        fensterId_ = fensterId;
    }

    void stoppe() override {
        protokoll_->aendere([](SimFensterVideoAufrufe& a) { ++a.stopps; });
        beende();
    }

  private:
    void beende() {
        {
            std::lock_guard lock(mutex_);
            stopp_ = true;
        }
        wach_.notify_all();
        if (thread_.joinable() && std::this_thread::get_id() != thread_.get_id()) thread_.join();
    }

    void schleife() {
        pthread_setname_np(pthread_self(), "sck.video");
        for (std::uint64_t k = 0;; ++k) {
            const double faellig = start_ + static_cast<double>(k) / rate_;
            std::uint32_t fenster = 0;
            {
                std::unique_lock lock(mutex_);
                // The clock may be moved by a test at any time: look again often.
                while (!stopp_ && uhr_() < faellig) wach_.wait_for(lock, 1ms);
                if (stopp_) break;
                fenster = fensterId_;
            }
            if (skript_->stopptSelbstNachSekunden &&
                faellig - start_ >= *skript_->stopptSelbstNachSekunden) {
                endeSelbst(skript_->stopFehlerText);
                break;
            }
            if (skript_->fensterDa && !skript_->fensterDa(fenster, faellig)) {
                endeSelbst(skript_->fensterWegText);
                break;
            }
            FensterBild b;
            b.status = skript_->statusVon ? skript_->statusVon(k) : BildStatus::vollstaendig;
            b.praesentationSekunden = faellig;
            if (b.status == BildStatus::vollstaendig) {
                std::uint8_t* p = bild_.daten();
                p[0] = static_cast<std::uint8_t>(k & 0xff);
                p[1] = static_cast<std::uint8_t>((k >> 8) & 0xff);
                p[2] = static_cast<std::uint8_t>((k >> 16) & 0xff);
                b.bild = bild_.bild();
            }
            proBild_(b);
            protokoll_->aendere([&](SimFensterVideoAufrufe& a) {
                ++a.geliefert;
                if (b.status == BildStatus::vollstaendig) ++a.vollstaendig;
                a.letzteBildSekunden = faellig;
            });
        }
        {
            std::lock_guard lock(mutex_);
            beendet_ = true;
        }
        protokoll_->aendere([](SimFensterVideoAufrufe& a) { --a.laufend; });
    }

    void endeSelbst(const std::string& text) {
        {
            std::lock_guard lock(mutex_);
            if (stopp_) return;
        }
        if (beiStop_) beiStop_(text);
        protokoll_->aendere([](SimFensterVideoAufrufe& a) { ++a.selbstGestoppt; });
    }

    // fest nach dem Bau
    const std::shared_ptr<const SimFensterVideo> skript_;
    const std::function<double()> uhr_;
    const std::shared_ptr<SimFensterVideoProtokoll> protokoll_;
    const FensterAufnahme::BildFunktion proBild_;
    const FensterAufnahme::StopFunktion beiStop_;
    const double rate_;
    const double start_;

    // nur auf dem Lieferthread
    BgraPuffer bild_;

    // unter mutex_
    std::mutex mutex_;
    std::condition_variable wach_;
    bool stopp_ = false;
    bool beendet_ = false;
    std::uint32_t fensterId_;

    std::thread thread_;  // last: it uses the members above
};

}  // namespace

SimFensterAufnahme::SimFensterAufnahme(SimFensterVideo skript, std::function<double()> uhr,
                                       std::shared_ptr<SimFensterVideoProtokoll> protokoll)
    : skript_(std::make_shared<const SimFensterVideo>(std::move(skript))),
      uhr_(std::move(uhr)),
      protokoll_(std::move(protokoll)) {}

std::unique_ptr<FensterStrom> SimFensterAufnahme::starteFensterStrom(
    std::uint32_t fensterId, const FensterStromKonfiguration& konfiguration, BildFunktion proBild,
    StopFunktion beiStop) {
    if (!proBild) throw std::invalid_argument("starteFensterStrom ohne Bildfunktion");
    if (!(skript_->bilderProSekunde > 0.0)) {
        throw std::invalid_argument("SimFensterVideo: bilderProSekunde muss positiv sein");
    }
    int nummer = 0;
    protokoll_->aendere([&](SimFensterVideoAufrufe& a) {
        nummer = a.starts++;
        a.fenster.push_back(fensterId);
        a.konfigurationen.push_back(konfiguration);
    });
    if (skript_->startFehler) throw *skript_->startFehler;
    if (skript_->verweigerteStarts.count(nummer) != 0) {
        throw PlattformFehler("sim", -3801, "Stream startet nicht");
    }
    if (konfiguration.tonAufnehmen || konfiguration.breite <= 0 || konfiguration.hoehe <= 0 ||
        !(konfiguration.minBildabstandSekunden > 0.0)) {
        throw PlattformFehler("sim", -3802, "Ungueltige Einstellungen des Fensterstroms");
    }
    if (skript_->fensterDa && !skript_->fensterDa(fensterId, uhr_())) throw fensterFehlt();
    return std::make_unique<SimFensterStrom>(skript_, uhr_, protokoll_, fensterId, konfiguration,
                                             std::move(proBild), std::move(beiStop));
}

}  // namespace hoerspur
