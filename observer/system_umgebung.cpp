#include "observer/system_umgebung.h"

#include <unistd.h>

#include <chrono>
#include <thread>

#include "observer/programm_lauf.h"
#include "observer/zoom_prozess.h"

namespace hoerspur {

std::optional<std::string> psAusgabe() {
    std::vector<std::string> argumente(std::begin(PS_ARGUMENTE), std::end(PS_ARGUMENTE));
    return fuehreProgrammAus(PS_PFAD, argumente);
}

BeobachterUmgebung systemUmgebung(Barrierefreiheit& bf, StopSignale& signale) {
    BeobachterUmgebung u;
    u.bf = &bf;
    u.prozessListe = psAusgabe;
    u.eigenePid = [] { return static_cast<std::int32_t>(::getpid()); };
    u.elternPid = [] { return static_cast<std::int32_t>(::getppid()); };
    u.monoSekunden = [] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    u.unixMs = [] {
        return static_cast<std::int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                             std::chrono::system_clock::now().time_since_epoch())
                                             .count());
    };
    u.warteAufStop = [&signale](double sekunden) { return signale.warte(sekunden); };
    u.schlafe = [](double sekunden) {
        std::this_thread::sleep_for(std::chrono::duration<double>(sekunden));
    };
    return u;
}

}  // namespace hoerspur
