// The simulated window video: streams that deliver synthetic pictures on the
// host clock of the simulated platform, on their own delivery thread
// ("sck.video"), with scripted incomplete frames, refusals and stops.
//
// Pictures follow the clock: picture k of a stream is due at its start time +
// k / rate and carries that time as its presentation time. A scripted clock
// that jumps ahead makes the due pictures arrive at once, so a test (or a
// supervision driven by a simulated sleeper) covers minutes in moments. The
// picture has the configured size and holds its number in the first pixel
// (blue, green, red = the lowest three bytes of k), the rest black.
//
// Thread safety: every member may be called from any thread; the stream's
// operations not from inside its own callbacks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/fenster_strom.h"
#include "platform/plattform_fehler.h"
#include "platform/sim/sim_protokoll.h"

namespace hoerspur {

// How the simulated streams behave.
struct SimFensterVideo {
    // Pictures per second; the configuration's interval caps it.
    double bilderProSekunde = 15.0;
    // Status of picture k of a stream (counted from its start); complete when empty.
    std::function<BildStatus(std::uint64_t bild)> statusVon;
    // Whether window `id` exists at host time `sekunden`; every window when
    // empty. A stream whose window is gone ends with fensterWegText; starting
    // on or changing to a missing window is refused.
    std::function<bool(std::uint32_t id, double sekunden)> fensterDa;
    // Every start is refused with this error.
    std::optional<PlattformFehler> startFehler;
    // Starts refused by number (0 is the first start), with startFehler or a
    // default error.
    std::set<int> verweigerteStarts;
    // A stream ends by itself this long after its start (on the host clock).
    std::optional<double> stopptSelbstNachSekunden;
    std::string stopFehlerText =
        PlattformFehler("sim", -3821, "Stream vom System beendet").vollText();
    std::string fensterWegText =
        PlattformFehler("sim", -3815, "Fenster nicht mehr verfuegbar").vollText();
};

struct SimFensterVideoAufrufe {
    int starts = 0;                                          // refused ones included
    std::vector<std::uint32_t> fenster;                      // asked for, per start
    std::vector<FensterStromKonfiguration> konfigurationen;  // per start
    std::vector<std::uint32_t> wechsel;  // window changes asked for (refused ones included)
    int stopps = 0;                      // calls of stoppe()
    int laufend = 0;                     // streams started and not ended
    std::uint64_t geliefert = 0;         // frames of every status
    std::uint64_t vollstaendig = 0;      // complete pictures
    int selbstGestoppt = 0;              // streams that ended by themselves
    std::optional<double> letzteBildSekunden;
};

using SimFensterVideoProtokoll = SimProtokoll<SimFensterVideoAufrufe>;

class SimFensterAufnahme final : public FensterAufnahme {
  public:
    SimFensterAufnahme(SimFensterVideo skript, std::function<double()> uhr,
                       std::shared_ptr<SimFensterVideoProtokoll> protokoll);

    std::unique_ptr<FensterStrom> starteFensterStrom(std::uint32_t fensterId,
                                                     const FensterStromKonfiguration& konfiguration,
                                                     BildFunktion proBild,
                                                     StopFunktion beiStop) override;

  private:
    // fest nach dem Bau
    const std::shared_ptr<const SimFensterVideo> skript_;
    const std::function<double()> uhr_;
    const std::shared_ptr<SimFensterVideoProtokoll> protokoll_;
};

}  // namespace hoerspur
