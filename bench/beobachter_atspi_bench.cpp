// Cost of one observer scan through AT-SPI: the GTK test client with a tree of
// about 1000 and 6000 nodes on a private accessibility bus (scripts/atspi-fixture),
// walked by the shipped backend. "budget" is the observer's own scan (6000
// nodes, 4 s); "ganz" walks the whole tree without the time budget, to show what
// a scan would cost. Counters: visited nodes, whether the budget cut the scan,
// milliseconds per node.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "observer/baum_zugriff.h"
#include "observer/durchlauf.h"
#include "platform/linux/atspi_barrierefreiheit.h"
#include "tests/befehl.h"
#include "tests/dateien.h"
#include "tests/fixtur.h"
#include "tests/kindprozess.h"

namespace {

using namespace hoerspur;

double jetzt() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The private session for the whole program; this process uses its environment.
class Sitzung {
  public:
    Sitzung() : dir_(neuerOrdner("hs-ab")), fixtur_(dir_ + "/s") {
        fixtur_.starte();
        fixtur_.setzeUmgebung();
        bf_ = atspiBarrierefreiheit();
        ok_ = bf_->freigabe().vorhanden;
    }
    ~Sitzung() {
        fixtur_.beende();
        sh("rm -rf " + dir_);
    }
    bool ok() const { return ok_; }
    Barrierefreiheit& bf() { return *bf_; }

    // A client with `knoten` extra labels; its pid once it is registered.
    pid_t starteClient(int knoten) {
        const int stille = ausgabeDatei("/dev/null");
        const pid_t pid = starteKind({.argv = {ZOOM_TESTCLIENT_PFAD, "--knoten",
                                               std::to_string(knoten), "--wechsel", "1000"},
                                      .aus = stille});
        close(stille);
        fixtur_.warteAuf(pid, 60);
        return pid;
    }

  private:
    const std::string dir_;
    AtspiFixtur fixtur_;
    std::unique_ptr<Barrierefreiheit> bf_;
    bool ok_ = false;
};

Sitzung& sitzung() {
    static Sitzung s;
    return s;
}

void BM_AtspiAbtastung(benchmark::State& state) {
    Sitzung& s = sitzung();
    if (!s.ok()) {
        state.SkipWithError("kein Bedienungshilfen-Bus");
        return;
    }
    // The client's own window has about 30 nodes besides the labels.
    const pid_t client = s.starteClient(static_cast<int>(state.range(0)) - 30);
    const bool ganz = state.range(1) != 0;
    const std::vector<ZoomProzess> prozesse = {{static_cast<std::int32_t>(client), "zoom"}};
    int knoten = 0;
    bool gekappt = false;
    for (auto _ : state) {
        if (ganz) {
            Barrierefreiheit& bf = s.bf();
            const BfElement app = bf.anwendung(client);
            bf.setzeZeitlimit(app, ZEITLIMIT_SEKUNDEN);
            Durchlauf d(jetzt, 1 << 30, Durchlauf::MAX_TIEFE, 1e9);
            std::vector<std::string> roh;
            for (const BfElement& w : alleWurzeln(bf, app)) gehe(bf, w, 1, d, false, roh);
            knoten = d.knoten;
            gekappt = d.gekappt;
        } else {
            Abtastung a = abtasten(s.bf(), prozesse, false, jetzt);
            knoten = a.knoten;
            gekappt = a.gekappt;
        }
    }
    kill(client, SIGTERM);
    waitpid(client, nullptr, 0);
    state.counters["knoten"] = knoten;
    state.counters["gekappt"] = gekappt ? 1 : 0;
}
BENCHMARK(BM_AtspiAbtastung)
    ->ArgNames({"knoten", "ganz"})
    ->Args({1000, 1})
    ->Args({6000, 1})
    ->Args({6000, 0})
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
