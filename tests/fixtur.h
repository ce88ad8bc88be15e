// Test helper: our fixture scripts (scripts/pulse-fixture, x11-fixture,
// atspi-fixture), each running its private service in a folder of its own
// that "beende" ends and removes, at the latest when the object goes. For the
// test thread; the sound server's players run on threads of their own.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/befehl.h"
#include "tests/dateien.h"

namespace hoerspur {

// The source tree: for benchmarks the one they were built from, for tests
// HOERSPUR_QUELLEN (ctest sets it); empty when unknown.
inline std::string quellenOrdner() {
#ifdef HOERSPUR_QUELLEN_DIR
    return HOERSPUR_QUELLEN_DIR;
#else
    const char* q = std::getenv("HOERSPUR_QUELLEN");
    return q != nullptr ? q : "";
#endif
}

// One fixture script on its folder.
class Fixtur {
  public:
    Fixtur(const std::string& skript, std::string dir)
        : skript_(quellenOrdner() + "/scripts/" + skript), dir_(std::move(dir)) {}
    virtual ~Fixtur() { Fixtur::beende(); }
    Fixtur(const Fixtur&) = delete;
    Fixtur& operator=(const Fixtur&) = delete;

    // "SKRIPT befehl DIR argumente": the exit status as std::system() gives
    // it; what the script printed goes to `ausgabe` when given.
    int rufe(const std::string& befehl, const std::string& argumente = "",
             std::string* ausgabe = nullptr) const {
        const std::string zeile =
            skript_ + " " + befehl + " " + dir_ + (argumente.empty() ? "" : " " + argumente);
        if (ausgabe == nullptr) return sh(zeile);
        int status = -1;
        *ausgabe = ausgabeVon(zeile, &status);
        return status;
    }

    // Ends the service and removes the folder; once.
    virtual void beende() {
        if (beendet_) return;
        beendet_ = true;
        sh(skript_ + " beende " + dir_ + " >/dev/null 2>&1");
    }
    bool beendet() const { return beendet_; }

    const std::string& dir() const { return dir_; }

  private:
    // fest nach dem Bau
    const std::string skript_;
    const std::string dir_;

    bool beendet_ = false;
};

// A private PulseAudio daemon; while it runs, PULSE_SERVER leads this
// process's clients (and its children) to it.
class PulseFixtur : public Fixtur {
  public:
    explicit PulseFixtur(std::string dir) : Fixtur("pulse-fixture", std::move(dir)) {}
    ~PulseFixtur() override { PulseFixtur::beende(); }

    // `layout`: "gleich", "getrennt" or "leer". False when the daemon does not start.
    bool starte(const std::string& layout) {
        std::string server;
        if (rufe("starte", layout, &server) != 0) return false;
        setenv("PULSE_SERVER", ohneZeilenende(server).c_str(), 1);
        return true;
    }

    // Plays a sound file into `senke` on a thread of its own, after `wartenSekunden`.
    void spieleImHintergrund(const std::string& senke, const std::string& datei,
                             double wartenSekunden = 0) {
        spieler_.emplace_back([this, senke, datei, wartenSekunden] {
            std::this_thread::sleep_for(std::chrono::duration<double>(wartenSekunden));
            rufe("spiele", senke + " " + datei);
        });
    }
    // Until every sound started so far has been played.
    void warteAufSpieler() {
        for (std::thread& t : spieler_) t.join();
        spieler_.clear();
    }

    // After the players: ends the daemon, and PULSE_SERVER goes.
    void beende() override {
        warteAufSpieler();
        if (beendet()) return;
        Fixtur::beende();
        unsetenv("PULSE_SERVER");
    }

  private:
    std::vector<std::thread> spieler_;
};

// A private X server (Xvfb 1920 × 1080, with the openbox window manager unless
// "ohne-wm"). It ends by itself should this process die first.
class X11Fixtur : public Fixtur {
  public:
    explicit X11Fixtur(std::string dir) : Fixtur("x11-fixture", std::move(dir)) {}
    ~X11Fixtur() override { X11Fixtur::beende(); }

    // `art`: "mit-wm" or "ohne-wm". The DISPLAY value (":N"), or what the
    // script said instead.
    const std::string& starte(const std::string& art) {
        std::string ausgabe;
        rufe("starte", art + " " + std::to_string(getpid()), &ausgabe);
        display_ = ohneZeilenende(ausgabe);
        return display_;
    }
    const std::string& display() const { return display_; }
    bool laeuft() const { return display_.size() > 1 && display_[0] == ':'; }

    // DISPLAY names this server until the end; then it is what it was before.
    void setzeDisplay() {
        if (!displayGesetzt_) {
            const char* alt = std::getenv("DISPLAY");
            altesDisplay_ = alt != nullptr ? std::optional<std::string>(alt) : std::nullopt;
            displayGesetzt_ = true;
        }
        setenv("DISPLAY", display_.c_str(), 1);
    }

    // The X server's pid; 0 when it never started.
    int serverPid() const {
        std::ifstream f(dir() + "/xvfb.pid");
        int pid = 0;
        f >> pid;
        return pid;
    }
    // Kills the X server as a crash would.
    void toete() {
        if (const int pid = serverPid(); pid > 0) kill(pid, SIGKILL);
    }

    void beende() override {
        Fixtur::beende();
        if (!displayGesetzt_) return;
        displayGesetzt_ = false;
        if (altesDisplay_) {
            setenv("DISPLAY", altesDisplay_->c_str(), 1);
        } else {
            unsetenv("DISPLAY");
        }
    }

  private:
    std::string display_;
    bool displayGesetzt_ = false;
    std::optional<std::string> altesDisplay_;
};

// A private desktop session for accessibility: X server, session bus and
// accessibility bus with its registry. It ends by itself should this process
// die first.
class AtspiFixtur : public Fixtur {
  public:
    explicit AtspiFixtur(std::string dir) : Fixtur("atspi-fixture", std::move(dir)) {}

    // `art`: "" or "ohne-bedienungshilfen". The session's environment for
    // clients (DISPLAY, DBUS_SESSION_BUS_ADDRESS, HOME, XDG_*, ...); what the
    // script printed is in ausgabe().
    const std::map<std::string, std::string>& starte(const std::string& art = "") {
        rufe("starte", std::to_string(getpid()) + (art.empty() ? "" : " " + art), &ausgabe_);
        for (const std::string& z : zeilenVon(ausgabe_)) {
            const auto gleich = z.find('=');
            if (gleich != std::string::npos) umgebung_[z.substr(0, gleich)] = z.substr(gleich + 1);
        }
        return umgebung_;
    }
    const std::string& ausgabe() const { return ausgabe_; }

    // This process joins the session: its variables set, and an accessibility
    // bus it may have inherited forgotten.
    void setzeUmgebung() const {
        for (const auto& [name, wert] : umgebung_) setenv(name.c_str(), wert.c_str(), 1);
        unsetenv("AT_SPI_BUS_ADDRESS");
    }

    // Whether process `pid` has registered an application on the accessibility
    // bus within `sekunden`.
    bool warteAuf(pid_t pid, int sekunden) {
        return rufe("warte-auf", std::to_string(pid) + " " + std::to_string(sekunden)) == 0;
    }

  private:
    std::string ausgabe_;
    std::map<std::string, std::string> umgebung_;
};

}  // namespace hoerspur
