#include "observer/programm_lauf.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

extern char** environ;

namespace hoerspur {

namespace {

using Uhr = std::chrono::steady_clock;

class Dateideskriptor {
  public:
    explicit Dateideskriptor(int fd = -1) : fd_(fd) {}
    ~Dateideskriptor() { schliesse(); }
    Dateideskriptor(const Dateideskriptor&) = delete;
    Dateideskriptor& operator=(const Dateideskriptor&) = delete;
    int get() const { return fd_; }
    void schliesse() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_;
};

int restMs(Uhr::time_point frist) {
    const auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(frist - Uhr::now());
    return rest.count() <= 0 ? 0 : static_cast<int>(std::min<long long>(rest.count(), 60'000));
}

// Waits for the child until `frist`; kills it when the time is up. true when it
// exited by itself.
bool ernte(pid_t pid, Uhr::time_point frist) {
    while (true) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR)) return r == pid;
        if (Uhr::now() >= frist) {
            ::kill(pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace

std::optional<std::string> fuehreProgrammAus(const std::string& pfad,
                                             const std::vector<std::string>& argumente,
                                             ProgrammGrenzen grenzen) {
    int roehre[2];
    if (::pipe2(roehre, O_CLOEXEC) != 0) return std::nullopt;
    Dateideskriptor lesen(roehre[0]);
    Dateideskriptor schreiben(roehre[1]);

    posix_spawn_file_actions_t aktionen;
    posix_spawn_file_actions_init(&aktionen);
    posix_spawn_file_actions_adddup2(&aktionen, schreiben.get(), STDOUT_FILENO);
    posix_spawnattr_t attribute;
    posix_spawnattr_init(&attribute);
    // The caller may block its stop signals; the program gets a clean mask and
    // the default actions.
    sigset_t leer;
    sigemptyset(&leer);
    sigset_t standard;
    sigemptyset(&standard);
    for (const int s : {SIGINT, SIGTERM, SIGPIPE, SIGHUP}) sigaddset(&standard, s);
    posix_spawnattr_setsigmask(&attribute, &leer);
    posix_spawnattr_setsigdefault(&attribute, &standard);
    posix_spawnattr_setflags(&attribute, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    std::vector<std::string> kopie;
    kopie.reserve(argumente.size() + 1);
    kopie.push_back(pfad);
    kopie.insert(kopie.end(), argumente.begin(), argumente.end());
    for (std::string& a : kopie) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int fehler =
        ::posix_spawn(&pid, pfad.c_str(), &aktionen, &attribute, argv.data(), environ);
    posix_spawn_file_actions_destroy(&aktionen);
    posix_spawnattr_destroy(&attribute);
    if (fehler != 0) return std::nullopt;
    schreiben.schliesse();

    const auto frist = Uhr::now() + std::chrono::duration_cast<Uhr::duration>(
                                        std::chrono::duration<double>(grenzen.maxSekunden));
    std::string ausgabe;
    char puffer[65536];
    bool vollstaendig = false;
    while (true) {
        pollfd p{lesen.get(), POLLIN, 0};
        const int bereit = ::poll(&p, 1, restMs(frist));
        if (bereit < 0 && errno == EINTR) continue;
        if (bereit <= 0) break;  // out of time
        const ssize_t n = ::read(lesen.get(), puffer, sizeof puffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            vollstaendig = n == 0;
            break;
        }
        if (ausgabe.size() + static_cast<std::size_t>(n) > grenzen.maxBytes) break;
        ausgabe.append(puffer, static_cast<std::size_t>(n));
    }
    lesen.schliesse();
    if (!vollstaendig) {
        ::kill(pid, SIGKILL);
        ernte(pid, Uhr::now());
        return std::nullopt;
    }
    if (!ernte(pid, frist)) return std::nullopt;
    return ausgabe;
}

}  // namespace hoerspur
