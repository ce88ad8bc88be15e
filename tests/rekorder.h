// Test helper: the shipped recorder as a child process, with its standard error in
// a file and its standard output in a file or in a pipe the test holds (a host that
// reads late, never, or closes its end). The process can be given a file size
// limit and, when the tests run as root, run as the unprivileged user "nobody".
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/dateien.h"
#include "tests/kindprozess.h"

namespace hoerspur {

class Rekorder {
  public:
    struct Start {
        std::vector<std::string> optionen;  // "--out" included
        std::optional<rlim_t> dateiGrenzeBytes;
        bool alsNobody = false;  // only takes effect when the tests run as root
        bool ausgabeInRohr = false;
        // The pipe holds only this much and starts full, so that nothing written fits.
        bool rohrVoll = false;
    };

    // Standard streams in DIR/stdout and DIR/stderr, output folder DIR/aufnahme.
    Rekorder(const std::string& dir, const std::vector<std::string>& optionen)
        : Rekorder(dir, mitOut(dir, optionen)) {}

    Rekorder(const std::string& dir, const Start& start) : dir_(dir) {
        std::vector<std::string> args;
        if (start.alsNobody && geteuid() == 0) {
            args = {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
        }
        args.push_back(HOERSPUR_PFAD);
        args.insert(args.end(), start.optionen.begin(), start.optionen.end());
        int rohr[2] = {-1, -1};
        if (start.ausgabeInRohr) {
            if (pipe2(rohr, O_CLOEXEC) != 0) return;
            if (start.rohrVoll) {
                fcntl(rohr[1], F_SETPIPE_SZ, 4096);
                const std::string fuellung(4096, '\n');
                (void)!write(rohr[1], fuellung.data(), fuellung.size());
            }
        }
        Kindstart kind{.argv = std::move(args),
                       .aus = start.ausgabeInRohr ? rohr[1] : ausgabeDatei(dir + "/stdout"),
                       .err = ausgabeDatei(dir + "/stderr")};
        if (start.dateiGrenzeBytes) {
            kind.vorStart = [bytes = *start.dateiGrenzeBytes] {
                rlimit grenze{bytes, bytes};
                setrlimit(RLIMIT_FSIZE, &grenze);
            };
        }
        pid_ = starteKind(kind);
        close(kind.aus);
        close(kind.err);
        if (start.ausgabeInRohr) rohrLesen_ = rohr[0];
    }

    ~Rekorder() {
        if (pid_ > 0 && !beendet_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        schliesseRohr();
    }

    Rekorder(const Rekorder&) = delete;
    Rekorder& operator=(const Rekorder&) = delete;

    // Standard output as read so far (the file, or what was taken from the pipe).
    std::string ausgabe() {
        if (rohrLesen_ < 0) return rohrLesen_ == -2 ? rohrText_ : liesDatei(dir_ + "/stdout");
        char puffer[65536];
        fcntl(rohrLesen_, F_SETFL, O_NONBLOCK);
        for (ssize_t n; (n = read(rohrLesen_, puffer, sizeof puffer)) > 0;) {
            rohrText_.append(puffer, static_cast<size_t>(n));
        }
        return rohrText_;
    }
    // The host goes away: its end of the pipe is closed.
    void schliesseRohr() {
        if (rohrLesen_ >= 0) close(rohrLesen_);
        if (rohrLesen_ >= 0) rohrLesen_ = -2;
    }

    // Every line of standard output that is a JSON object (a pre-filled pipe's
    // empty lines are skipped).
    std::vector<nlohmann::json> zeilen() {
        std::vector<nlohmann::json> z;
        std::istringstream s(ausgabe());
        for (std::string zeile; std::getline(s, zeile);) {
            if (zeile.empty() && rohrLesen_ != -1) continue;
            z.push_back(nlohmann::json::parse(zeile, nullptr, false));
        }
        return z;
    }

    std::optional<nlohmann::json> ereignis(const std::string& name) {
        for (const auto& z : zeilen()) {
            if (z.is_object() && z.value("event", "") == name) return z;
        }
        return std::nullopt;
    }

    bool warteAuf(const std::string& name, std::chrono::seconds frist) {
        const auto ende = std::chrono::steady_clock::now() + frist;
        while (std::chrono::steady_clock::now() < ende) {
            if (ereignis(name)) return true;
            if (beendet()) return ereignis(name).has_value();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    // Waits until the log holds `text`.
    bool warteAufLog(const std::string& text, std::chrono::seconds frist) {
        const auto ende = std::chrono::steady_clock::now() + frist;
        while (std::chrono::steady_clock::now() < ende) {
            if (log().find(text) != std::string::npos) return true;
            if (beendet()) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return log().find(text) != std::string::npos;
    }

    // Whether the process has ended; reaps it once it did.
    bool beendet() {
        if (beendet_) return true;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            beendet_ = true;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        return beendet_;
    }

    void signal(int nummer) { kill(pid_, nummer); }

    // SIGTERM; the exit status (128 + signal when a signal ended it), -1 when the
    // process did not end within `frist`.
    int stoppe(std::chrono::seconds frist = std::chrono::seconds(60)) {
        kill(pid_, SIGTERM);
        return warteAufEnde(frist);
    }

    int warteAufEnde(std::chrono::seconds frist) {
        const auto ende = std::chrono::steady_clock::now() + frist;
        while (!beendet() && std::chrono::steady_clock::now() < ende) {
            if (rohrLesen_ >= 0 && !rohrVollLassen_) ausgabe();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return beendet_ ? status_ : -1;
    }

    // A host that never reads: warteAufEnde() leaves the pipe alone.
    void liesNie() { rohrVollLassen_ = true; }

    std::string log() const { return liesDatei(dir_ + "/stderr"); }

    // The chunk lines of `kanal`, by index.
    std::map<int, nlohmann::json> chunks(const std::string& kanal) {
        std::map<int, nlohmann::json> c;
        for (const auto& z : zeilen()) {
            if (z.is_object() && z.contains("chunk") && z.value("channel", "") == kanal) {
                c[z["chunk"].get<int>()] = z;
            }
        }
        return c;
    }

  private:
    static Start mitOut(const std::string& dir, const std::vector<std::string>& optionen) {
        Start start;
        start.optionen = {"--out", dir + "/aufnahme"};
        start.optionen.insert(start.optionen.end(), optionen.begin(), optionen.end());
        return start;
    }

    std::string dir_;
    pid_t pid_ = -1;
    bool beendet_ = false;
    int status_ = -1;
    int rohrLesen_ = -1;  // -1: output in a file; -2: the host closed the pipe
    bool rohrVollLassen_ = false;
    std::string rohrText_;
};

}  // namespace hoerspur
