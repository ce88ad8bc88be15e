// Test helper: one process of our video test client (tests/video_testfenster.cpp,
// built as HS_TESTFENSTER_PFAD) on the X server that DISPLAY names: its window's
// id once shown, and commands on its standard input, each answered with "ok".
// For the test thread.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "tests/farbe.h"
#include "tests/kindprozess.h"

namespace hoerspur {

// The client's four quadrants: top left, top right, bottom left, bottom right.
constexpr Farbe kQuadrant[4] = {
    {0xd0, 0x30, 0x20}, {0x20, 0xb0, 0x40}, {0x20, 0x40, 0xd0}, {0xe0, 0xc0, 0x20}};

class Testfenster {
  public:
    // `argumente`: the client's options (--groesse, --position, --bewegt, ...).
    explicit Testfenster(const std::vector<std::string>& argumente) {
        int zu[2], von[2];
        if (pipe2(zu, O_CLOEXEC) != 0) return;
        if (pipe2(von, O_CLOEXEC) != 0) {
            close(zu[0]);
            close(zu[1]);
            return;
        }
        std::vector<std::string> argv{HS_TESTFENSTER_PFAD};
        argv.insert(argv.end(), argumente.begin(), argumente.end());
        pid_ = starteKind({.argv = std::move(argv), .ein = zu[0], .aus = von[1]});
        close(zu[0]);
        close(von[1]);
        schreiben_ = fdopen(zu[1], "w");
        lesen_ = fdopen(von[0], "r");
        std::sscanf(liesZeile().c_str(), "fenster %u", &id_);
    }
    // The client ends at the end of its input; one that does not go within 2 s
    // is killed.
    ~Testfenster() {
        if (schreiben_ != nullptr) std::fclose(schreiben_);
        if (lesen_ != nullptr) std::fclose(lesen_);
        if (pid_ > 0 && !warteAufKind(pid_, std::chrono::seconds(2))) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Testfenster(const Testfenster&) = delete;
    Testfenster& operator=(const Testfenster&) = delete;

    // The window's id; 0 when it did not come up.
    std::uint32_t id() const { return id_; }

    // Sends one command line; whether the client answered "ok".
    bool befehl(const std::string& zeile) {
        if (schreiben_ == nullptr) return false;
        std::fputs((zeile + "\n").c_str(), schreiben_);
        std::fflush(schreiben_);
        return liesZeile() == "ok";
    }

  private:
    std::string liesZeile() {
        char puffer[256] = {};
        if (lesen_ == nullptr || std::fgets(puffer, sizeof puffer, lesen_) == nullptr) return "";
        std::string zeile = puffer;
        if (!zeile.empty() && zeile.back() == '\n') zeile.pop_back();
        return zeile;
    }

    pid_t pid_ = -1;
    FILE* schreiben_ = nullptr;
    FILE* lesen_ = nullptr;
    std::uint32_t id_ = 0;
};

}  // namespace hoerspur
