// Test helper: programs under test as child processes. starteKind() forks and
// runs a program on chosen standard streams; Kindprozess reads a child's output
// and error through pipes, ProgrammMitDateien leaves them in files. Both are for
// the test thread only; a child still running when its object goes is killed
// (SIGKILL) and reaped.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace hoerspur {

struct Kindstart {
    std::vector<std::string> argv = {};  // argv[0]: the program's path
    // "NAME=wert" entries; nothing: this process's environment.
    std::optional<std::vector<std::string>> umgebung = std::nullopt;
    // Standard input, output and error of the child; -1 leaves a stream inherited.
    int ein = -1;
    int aus = -1;
    int err = -1;
    // Runs in the child right before the program (limits and the like).
    std::function<void()> vorStart = {};
};

// The child's pid (-1 when fork fails). The descriptors stay open here; they
// should be opened close-on-exec, so that no other child keeps them.
inline pid_t starteKind(const Kindstart& start) {
    // Prepared before the fork: the child only duplicates descriptors and execs.
    std::vector<char*> argv;
    for (const std::string& a : start.argv) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    if (start.umgebung) {
        for (const std::string& e : *start.umgebung) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
    }
    const pid_t pid = fork();
    if (pid != 0) return pid;
    if (start.ein >= 0) dup2(start.ein, 0);
    if (start.aus >= 0) dup2(start.aus, 1);
    if (start.err >= 0) dup2(start.err, 2);
    if (start.vorStart) start.vorStart();
    execve(argv[0], argv.data(), start.umgebung ? envp.data() : environ);
    _exit(127);
}

// A file for a child's standard output or error: created or emptied,
// close-on-exec. -1 when it cannot be opened.
inline int ausgabeDatei(const std::string& pfad) {
    return open(pfad.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

// This process's environment with the variables in `aenderungen` set, or
// removed where the value is nothing.
inline std::vector<std::string> umgebungMit(
    const std::map<std::string, std::optional<std::string>>& aenderungen) {
    std::vector<std::string> umgebung;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string eintrag = *e;
        if (!aenderungen.contains(eintrag.substr(0, eintrag.find('=')))) {
            umgebung.push_back(eintrag);
        }
    }
    for (const auto& [name, wert] : aenderungen) {
        if (wert) umgebung.push_back(name + "=" + *wert);
    }
    return umgebung;
}

// The raw wait status (for WIFEXITED and the like) once child `pid` has ended,
// nothing when it still runs after `frist`.
inline std::optional<int> warteAufKind(pid_t pid, std::chrono::milliseconds frist) {
    const auto ende = std::chrono::steady_clock::now() + frist;
    while (true) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        if (std::chrono::steady_clock::now() >= ende) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// A child with its standard input, output and error in pipes. Its input stays
// open until schliesseEingabe() or the end of the object.
class Kindprozess {
  public:
    explicit Kindprozess(std::vector<std::string> argv,
                         std::optional<std::vector<std::string>> umgebung = std::nullopt) {
        int ein[2], aus[2], err[2];
        if (pipe2(ein, O_CLOEXEC) != 0 || pipe2(aus, O_CLOEXEC) != 0 ||
            pipe2(err, O_CLOEXEC) != 0) {
            std::abort();
        }
        pid_ = starteKind({.argv = std::move(argv),
                           .umgebung = std::move(umgebung),
                           .ein = ein[0],
                           .aus = aus[1],
                           .err = err[1]});
        close(ein[0]);
        close(aus[1]);
        close(err[1]);
        einFd_ = ein[1];
        ausFd_ = aus[0];
        errFd_ = err[0];
    }
    ~Kindprozess() {
        schliesseEingabe();
        if (pid_ > 0 && !beendet_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(ausFd_);
        close(errFd_);
    }
    Kindprozess(const Kindprozess&) = delete;
    Kindprozess& operator=(const Kindprozess&) = delete;

    void schliesseEingabe() {
        if (einFd_ >= 0) close(einFd_);
        einFd_ = -1;
    }
    void signal(int nummer) { kill(pid_, nummer); }

    // Reads both streams until `bedingung` holds for what was read or the time is up.
    bool liesBis(const std::function<bool()>& bedingung, std::chrono::milliseconds frist) {
        const auto ende = std::chrono::steady_clock::now() + frist;
        while (!bedingung()) {
            const auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  ende - std::chrono::steady_clock::now())
                                  .count();
            if (rest <= 0) return false;
            if (!liesEinmal(static_cast<int>(rest))) return bedingung();
        }
        return true;
    }
    // Reads until standard output holds `text` or the time is up.
    bool liesBis(const std::string& text, std::chrono::milliseconds frist) {
        return liesBis([&] { return aus_.find(text) != std::string::npos; }, frist);
    }

    // Reads both streams to their end, then collects the raw wait status; a
    // child still running after `frist` is killed.
    int warteAufEnde(std::chrono::milliseconds frist = std::chrono::seconds(20)) {
        const auto ende = std::chrono::steady_clock::now() + frist;
        while (std::chrono::steady_clock::now() < ende && liesEinmal(100)) {
        }
        const auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(
            ende - std::chrono::steady_clock::now());
        std::optional<int> status =
            warteAufKind(pid_, std::max(rest, std::chrono::milliseconds(0)));
        if (!status) {
            kill(pid_, SIGKILL);
            int s = 0;
            waitpid(pid_, &s, 0);
            status = s;
        }
        beendet_ = true;
        return *status;
    }

    const std::string& aus() const { return aus_; }
    const std::string& err() const { return err_; }
    // The complete lines of standard output so far.
    std::vector<std::string> ausZeilen() const {
        std::vector<std::string> zeilen;
        std::size_t start = 0;
        for (std::size_t e; (e = aus_.find('\n', start)) != std::string::npos; start = e + 1) {
            zeilen.push_back(aus_.substr(start, e - start));
        }
        return zeilen;
    }

  private:
    // Waits up to `wartenMs` for either stream; false once both are closed.
    bool liesEinmal(int wartenMs) {
        if (!offen_[0] && !offen_[1]) return false;
        pollfd fds[2] = {{offen_[0] ? ausFd_ : -1, POLLIN, 0},
                         {offen_[1] ? errFd_ : -1, POLLIN, 0}};
        if (poll(fds, 2, wartenMs) <= 0) return true;
        char puffer[65536];
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents & (POLLIN | POLLHUP)) {
                const ssize_t n = read(fds[i].fd, puffer, sizeof puffer);
                if (n <= 0) {
                    offen_[i] = false;
                } else {
                    (i == 0 ? aus_ : err_).append(puffer, static_cast<std::size_t>(n));
                }
            }
        }
        return true;
    }

    pid_t pid_ = -1;
    int einFd_ = -1;
    int ausFd_ = -1;
    int errFd_ = -1;
    bool offen_[2] = {true, true};
    bool beendet_ = false;
    std::string aus_;
    std::string err_;
};

// A child with its standard output and error in files.
class ProgrammMitDateien {
  public:
    ProgrammMitDateien(std::vector<std::string> argv, const std::string& ausDatei,
                       const std::string& fehlerDatei,
                       std::optional<std::vector<std::string>> umgebung = std::nullopt) {
        const int aus = ausgabeDatei(ausDatei);
        const int err = ausgabeDatei(fehlerDatei);
        pid_ = starteKind(
            {.argv = std::move(argv), .umgebung = std::move(umgebung), .aus = aus, .err = err});
        close(aus);
        close(err);
    }
    ~ProgrammMitDateien() {
        if (pid_ > 0 && !beendet_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    ProgrammMitDateien(const ProgrammMitDateien&) = delete;
    ProgrammMitDateien& operator=(const ProgrammMitDateien&) = delete;

    pid_t pid() const { return pid_; }
    void signal(int nummer) const { kill(pid_, nummer); }

    // The raw wait status once the program ended, nothing after `frist`.
    std::optional<int> warteAufEnde(std::chrono::milliseconds frist) {
        const std::optional<int> status = warteAufKind(pid_, frist);
        if (status) beendet_ = true;
        return status;
    }

  private:
    pid_t pid_ = -1;
    bool beendet_ = false;
};

}  // namespace hoerspur
