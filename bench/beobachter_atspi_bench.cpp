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
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "observer/baum_zugriff.h"
#include "observer/durchlauf.h"
#include "platform/linux/atspi_barrierefreiheit.h"

namespace {

using namespace hoerspur;

double jetzt() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string ausgabeVon(const std::string& befehl) {
    std::string text;
    FILE* f = popen(befehl.c_str(), "r");
    if (f == nullptr) return text;
    char puffer[4096];
    std::size_t n;
    while ((n = fread(puffer, 1, sizeof puffer, f)) > 0) text.append(puffer, n);
    pclose(f);
    return text;
}

// The private session for the whole program; this process uses its environment.
class Sitzung {
  public:
    Sitzung() {
        char vorlage[] = "/tmp/hs-ab-XXXXXX";
        dir_ = mkdtemp(vorlage);
        skript_ = std::string(HOERSPUR_QUELLEN_DIR) + "/scripts/atspi-fixture";
        std::istringstream zeilen(
            ausgabeVon(skript_ + " starte " + dir_ + "/s " + std::to_string(getpid())));
        for (std::string z; std::getline(zeilen, z);) {
            const auto gleich = z.find('=');
            if (gleich != std::string::npos) {
                setenv(z.substr(0, gleich).c_str(), z.substr(gleich + 1).c_str(), 1);
            }
        }
        unsetenv("AT_SPI_BUS_ADDRESS");
        bf_ = atspiBarrierefreiheit();
        ok_ = bf_->freigabe().vorhanden;
    }
    ~Sitzung() {
        std::system((skript_ + " beende " + dir_ + "/s").c_str());
        std::system(("rm -rf " + dir_).c_str());
    }
    bool ok() const { return ok_; }
    Barrierefreiheit& bf() { return *bf_; }

    // A client with `knoten` extra labels; its pid once it is registered.
    pid_t starteClient(int knoten) {
        const pid_t pid = fork();
        if (pid == 0) {
            std::freopen("/dev/null", "w", stdout);
            execl(ZOOM_TESTCLIENT_PFAD, ZOOM_TESTCLIENT_PFAD, "--knoten",
                  std::to_string(knoten).c_str(), "--wechsel", "1000", nullptr);
            _exit(127);
        }
        std::system((skript_ + " warte-auf " + dir_ + "/s " + std::to_string(pid) + " 60").c_str());
        return pid;
    }

  private:
    std::string dir_;
    std::string skript_;
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
