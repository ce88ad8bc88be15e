// The shipped observer end to end: Namenspaeher against the GTK test client on a
// private desktop session (scripts/atspi-fixture: X server, session bus,
// accessibility bus), found through the real process list, stopped by SIGTERM.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
using Uhr = std::chrono::steady_clock;

std::string lies(const std::string& pfad) {
    std::ifstream f(pfad, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::vector<std::string> zeilen(const std::string& text) {
    std::vector<std::string> z;
    std::istringstream s(text);
    for (std::string zeile; std::getline(s, zeile);) z.push_back(zeile);
    return z;
}

bool hat(const std::string& text, const std::string& teil) {
    return text.find(teil) != std::string::npos;
}

// The standard output of a shell command.
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

// A program started with the private session's environment, its standard
// output and error in files.
class Programm {
  public:
    Programm(std::vector<std::string> argv, const std::map<std::string, std::string>& umgebung,
             const std::string& ausDatei, const std::string& fehlerDatei) {
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string eintrag = *e;
            const std::string name = eintrag.substr(0, eintrag.find('='));
            if (!umgebung.contains(name) && name != "AT_SPI_BUS_ADDRESS") env.push_back(eintrag);
        }
        for (const auto& [name, wert] : umgebung) env.push_back(name + "=" + wert);
        pid_ = fork();
        if (pid_ == 0) {
            const int aus = open(ausDatei.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(fehlerDatei.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(aus, 1);
            dup2(err, 2);
            std::vector<char*> a;
            for (auto& s : argv) a.push_back(s.data());
            a.push_back(nullptr);
            std::vector<char*> e;
            for (auto& s : env) e.push_back(s.data());
            e.push_back(nullptr);
            execve(a[0], a.data(), e.data());
            _exit(127);
        }
    }
    ~Programm() {
        if (pid_ > 0 && !beendet_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid() const { return pid_; }
    void signal(int s) const { kill(pid_, s); }
    std::optional<int> warteAufEnde(std::chrono::milliseconds frist) {
        const auto ende = Uhr::now() + frist;
        while (Uhr::now() < ende) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                beendet_ = true;
                return status;
            }
            std::this_thread::sleep_for(5ms);
        }
        return std::nullopt;
    }

  private:
    pid_t pid_ = -1;
    bool beendet_ = false;
};

class Ende2EndeBeobachter : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* q = std::getenv("HOERSPUR_QUELLEN");
        ASSERT_NE(q, nullptr) << "HOERSPUR_QUELLEN fehlt";
        skript_ = std::string(q) + "/scripts/atspi-fixture";
        char vorlage[] = "/tmp/hs-eb-XXXXXX";
        ASSERT_NE(mkdtemp(vorlage), nullptr);
        dir_ = vorlage;
        sitzung_ = dir_ + "/s";
        call_ = dir_ + "/call";
        std::filesystem::create_directory(call_);
    }
    void TearDown() override {
        client_.reset();
        std::system((skript_ + " beende " + sitzung_ + " >/dev/null 2>&1").c_str());
        if (!HasFailure()) std::filesystem::remove_all(dir_);
    }

    // Starts the private session; its environment goes to every program.
    void starteSitzung(const std::string& art = "") {
        const std::string text = ausgabeVon(skript_ + " starte " + sitzung_ + " " +
                                            std::to_string(getpid()) + " " + art);
        for (const std::string& z : zeilen(text)) {
            const auto gleich = z.find('=');
            if (gleich != std::string::npos) umgebung_[z.substr(0, gleich)] = z.substr(gleich + 1);
        }
        ASSERT_TRUE(umgebung_.contains("DBUS_SESSION_BUS_ADDRESS")) << text;
    }

    void starteClient() {
        client_ = std::make_unique<Programm>(
            std::vector<std::string>{ZOOM_TESTCLIENT_PFAD, "--wechsel", "1.5"}, umgebung_,
            dir_ + "/client.out", dir_ + "/client.err");
        const auto ende = Uhr::now() + 20s;
        while (!hat(clientAusgabe(), "bereit") && Uhr::now() < ende)
            std::this_thread::sleep_for(20ms);
        ASSERT_TRUE(hat(clientAusgabe(), "bereit")) << lies(dir_ + "/client.err");
        ASSERT_EQ(std::system((skript_ + " warte-auf " + sitzung_ + " " +
                               std::to_string(client_->pid()) + " 20")
                                  .c_str()),
                  0);
    }

    std::unique_ptr<Programm> starteBeobachter(std::vector<std::string> optionen) {
        optionen.insert(optionen.begin(), {NAMENSPAEHER_PFAD, call_});
        return std::make_unique<Programm>(optionen, umgebung_, dir_ + "/beobachter.out",
                                          dir_ + "/beobachter.err");
    }

    std::string clientAusgabe() const { return lies(dir_ + "/client.out"); }
    std::vector<Json> spur() const {
        std::vector<Json> z;
        for (const std::string& zeile : zeilen(lies(call_ + "/zoom-namen.jsonl"))) {
            z.push_back(Json::parse(zeile));
        }
        return z;
    }
    std::vector<std::string> befund() const {
        auto z = zeilen(lies(call_ + "/zoom-namen-befund.txt"));
        return z.size() < 2 ? z : std::vector<std::string>(z.begin() + 2, z.end());
    }

    std::string skript_;
    std::string dir_;
    std::string sitzung_;
    std::string call_;
    std::map<std::string, std::string> umgebung_;
    std::unique_ptr<Programm> client_;
};

const std::vector<std::string> SPRECHER = {"Anna Berg", "Jean-Luc Favre", "\xC3\x89lodie Dubois"};

TEST_F(Ende2EndeBeobachter, NamesAndTheChangingSpeakerOfARunningClient) {
    starteSitzung();
    starteClient();
    const std::string pid = std::to_string(client_->pid());
    auto beobachter = starteBeobachter({"--takt", "0.5"});
    // Three scans per speaker: about four speakers in twelve scans.
    const auto ende = Uhr::now() + 40s;
    while (Uhr::now() < ende && spur().size() < 12) std::this_thread::sleep_for(50ms);
    beobachter->signal(SIGTERM);
    const auto status = beobachter->warteAufEnde(10s);
    ASSERT_TRUE(status.has_value());
    ASSERT_TRUE(WIFEXITED(*status)) << lies(dir_ + "/beobachter.err");
    EXPECT_EQ(WEXITSTATUS(*status), 0);

    const auto linien = spur();
    ASSERT_GE(linien.size(), 12u);
    // The first scan found the tiles, then the names of the opened list.
    std::vector<std::string> namen;
    for (const Json& z : linien[0]["zeilen"]) namen.push_back(z["name"]);
    for (const char* erwartet : {"Anna Berg", "Jean-Luc Favre", "\xC3\x89lodie Dubois",
                                 "Zo\xC3\xAB M\xC3\xBC"
                                 "ller-\xC5\x9E"
                                 "ahin"}) {
        EXPECT_NE(std::find(namen.begin(), namen.end(), erwartet), namen.end()) << erwartet;
    }
    EXPECT_EQ(std::find(namen.begin(), namen.end(), "Fireflies Notetaker"), namen.end());
    EXPECT_EQ(linien[0]["gekappt"], false);

    // Every full line marks exactly one tile as speaking; the speakers follow the
    // client's rotation.
    std::vector<std::string> folge;
    for (std::size_t i = 1; i < linien.size(); ++i) {
        const Json& z = linien[i];
        EXPECT_EQ(z["runde"], i + 1);
        if (!z.contains("zeilen")) {
            EXPECT_EQ(z["gleich"], true);
            continue;
        }
        std::vector<std::string> sprechend;
        for (const Json& r : z["zeilen"]) {
            if (r.value("KORALSpricht", "") == "1") sprechend.push_back(r["name"]);
        }
        ASSERT_EQ(sprechend.size(), 1u) << z.dump();
        if (folge.empty() || folge.back() != sprechend[0]) folge.push_back(sprechend[0]);
    }
    ASSERT_GE(folge.size(), 3u);
    const auto start = std::find(SPRECHER.begin(), SPRECHER.end(), folge[0]) - SPRECHER.begin();
    for (std::size_t i = 0; i < folge.size(); ++i) {
        EXPECT_EQ(folge[i], SPRECHER[(start + i) % SPRECHER.size()]) << i;
    }

    // Opened once for the second scan and closed again.
    const std::string client = clientAusgabe();
    EXPECT_EQ(client.find("panel offen"), client.rfind("panel offen"));
    EXPECT_EQ(client.find("panel zu"), client.rfind("panel zu"));
    EXPECT_LT(client.find("panel offen"), client.find("panel zu"));

    const std::string baum = lies(call_ + "/zoom-baum.txt");
    EXPECT_TRUE(hat(baum, "### zoom-testclient [pid " + pid + "]\n  [AXWindow] "));
    EXPECT_TRUE(hat(baum, "[AXButton] AXIdentifier=teilnehmer-knopf \xC2\xB7 AXRoleDescription="));
    EXPECT_TRUE(hat(baum, "[AXTabGroup] AXDescription=Anna Berg, Video on"));
    const auto umgeschaltet = baum.find("### Teilnehmer-Panel, umgeschalteter Zustand\n");
    ASSERT_NE(umgeschaltet, std::string::npos);
    EXPECT_GT(baum.find("AXValue=Fireflies Notetaker"), umgeschaltet);
    EXPECT_FALSE(hat(baum, "Hilfe"));  // the menu bar is skipped

    const auto b = befund();
    ASSERT_GE(b.size(), 9u);
    EXPECT_EQ(b[0], "Ordner: " + call_);
    EXPECT_EQ(b[1], "Takt: 0.5 s");
    EXPECT_EQ(b[2], "Bedienungshilfen: vorhanden");
    EXPECT_TRUE(hat(b[3], "zoom-testclient[" + pid + "]")) << b[3];
    EXPECT_EQ(b[4], "Echter Call (CptHost): nein");
    EXPECT_EQ(b[5], "Teilnehmer-Panel kurz abgetastet und Ausgangszustand wiederhergestellt.");
    EXPECT_EQ(b[b.size() - 2], "Ende nach " + std::to_string(linien.size()) +
                                   " Abtastungen. Verschiedene Namen gesehen: 4");
    EXPECT_EQ(b.back(),
              "Namen: Anna Berg, Jean-Luc Favre, Zo\xC3\xAB M\xC3\xBC"
              "ller-\xC5\x9E"
              "ahin, \xC3\x89lodie Dubois");

    // Asking for the full tree switched the session's accessibility on.
    const std::string an =
        ausgabeVon("DBUS_SESSION_BUS_ADDRESS=" + umgebung_["DBUS_SESSION_BUS_ADDRESS"] +
                   " dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus "
                   "org.freedesktop.DBus.Properties.Get string:org.a11y.Status string:IsEnabled");
    EXPECT_TRUE(hat(an, "boolean true")) << an;
}

TEST_F(Ende2EndeBeobachter, WithoutAnAccessibilityBusTheRunStopsWithStatus3) {
    starteSitzung("ohne-bedienungshilfen");
    auto beobachter = starteBeobachter({});
    const auto status = beobachter->warteAufEnde(30s);
    ASSERT_TRUE(status && WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 3);
    const auto b = befund();
    ASSERT_EQ(b.size(), 10u);
    EXPECT_EQ(b[2], "ABBRUCH: keine Bedienungshilfen-Freigabe fuer diesen Prozess.");
    const auto log = zeilen(lies(dir_ + "/beobachter.err"));
    ASSERT_FALSE(log.empty());
    EXPECT_TRUE(hat(log.back(),
                    "[zoom-namen] Bedienungshilfen: der Bedienungshilfen-Bus "
                    "(org.a11y.Bus, at-spi2-core) meldet sich nicht"))
        << log.back();
    EXPECT_FALSE(std::filesystem::exists(call_ + "/zoom-namen.jsonl"));

    // No session bus at all.
    umgebung_["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + dir_ + "/kein-bus";
    auto ohneBus = starteBeobachter({"--einmal"});
    const auto s2 = ohneBus->warteAufEnde(30s);
    ASSERT_TRUE(s2 && WIFEXITED(*s2));
    EXPECT_EQ(WEXITSTATUS(*s2), 3);
    EXPECT_TRUE(hat(lies(dir_ + "/beobachter.err"),
                    "[zoom-namen] Bedienungshilfen: die D-Bus-Sitzung nicht erreichbar"));
}

}  // namespace
