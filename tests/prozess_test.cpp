// The recorder as a process: real signals, exit statuses and standard streams,
// with the test-only executable that runs the shipped driver on a simulated
// platform.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "tests/dateien.h"
#include "tests/kindprozess.h"

namespace hoerspur {
namespace {

using namespace std::chrono_literals;
using Uhr = std::chrono::steady_clock;

// A running hoerspur_sim with its standard output and error read through pipes.
class Prozess : public Kindprozess {
  public:
    Prozess(const std::string& szenarioPfad, const std::vector<std::string>& optionen)
        : Kindprozess(argumente(szenarioPfad, optionen)) {}

  private:
    static std::vector<std::string> argumente(const std::string& szenarioPfad,
                                              const std::vector<std::string>& optionen) {
        std::vector<std::string> args{HOERSPUR_SIM_PFAD, szenarioPfad};
        args.insert(args.end(), optionen.begin(), optionen.end());
        return args;
    }
};

class ProzessTest : public ::testing::Test {
  protected:
    void SetUp() override { ordner_ = neuerOrdner("hoerspur-prozess"); }
    void TearDown() override { std::filesystem::remove_all(ordner_); }

    std::string szenario(const std::string& json) {
        const std::string pfad = ordner_ + "/szenario.json";
        std::ofstream(pfad) << json;
        return pfad;
    }
    std::vector<std::string> optionen() const {
        return {"--out", ordner_ + "/aufnahme", "--no-video"};
    }

    // Both sources in real time, endless until stopped.
    std::string laufendesSzenario(const std::string& systemZusatz = "",
                                  const std::string& mikroZusatz = "") {
        return szenario(R"({
          "mikrofon": {"signal": {"art": "rauschen", "seed": 3, "amplitude": 0.2}, "dauer": 1.0,
                       "rate": 48000, "kanaele": 1, "puffer_frames": 480,
                       "tempo": "echtzeit", "danach": "wiederholen")" +
                        mikroZusatz + R"(},
          "system_audio": {"signal": {"art": "sinus", "frequenz": 440, "amplitude": 0.3},
                           "dauer": 1.0, "rate": 48000, "kanaele": 2, "puffer_frames": 480,
                           "tempo": "echtzeit", "danach": "wiederholen")" +
                        systemZusatz + R"(}})");
    }

    static bool hat(const std::string& text, const char* teil) {
        return text.find(teil) != std::string::npos;
    }

    std::string ordner_;
};

TEST_F(ProzessTest, SigintAndSigtermEndWithStatus0AndDoneAsTheLastLine) {
    for (const int sig : {SIGINT, SIGTERM}) {
        Prozess p(laufendesSzenario(), optionen());
        ASSERT_TRUE(p.liesBis([&] { return hat(p.aus(), "\"started\""); }, 10s)) << p.err();
        std::this_thread::sleep_for(1500ms);
        p.signal(sig);
        const int status = p.warteAufEnde();
        // The signal's default action never happens: a normal exit with status 0.
        ASSERT_TRUE(WIFEXITED(status)) << "signal " << sig << ": " << p.err();
        EXPECT_EQ(WEXITSTATUS(status), 0);
        const auto zeilen = p.ausZeilen();
        ASSERT_GE(zeilen.size(), 3u);
        EXPECT_EQ(zeilen.back(), R"({"event":"done"})");
        // Nothing after "done": the stream ends with its line feed.
        EXPECT_EQ(p.aus().substr(p.aus().size() - 17), "{\"event\":\"done\"}\n");
        for (const auto& z : zeilen) {
            EXPECT_FALSE(nlohmann::json::parse(z, nullptr, false).is_discarded()) << z;
        }
        EXPECT_TRUE(hat(p.err(), "[hoerspur] Stop \xE2\x80\x94 schreibe Rest-Chunks"));
        EXPECT_TRUE(std::filesystem::exists(ordner_ + "/aufnahme/mikro_roh.wav"));
    }
}

TEST_F(ProzessTest, TwoSignalsInQuickSuccessionGiveOneStop) {
    Prozess p(laufendesSzenario(), optionen());
    ASSERT_TRUE(p.liesBis([&] { return hat(p.aus(), "\"started\""); }, 10s)) << p.err();
    p.signal(SIGTERM);
    p.signal(SIGTERM);
    p.signal(SIGINT);
    const int status = p.warteAufEnde();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    size_t dones = 0;
    for (const auto& z : p.ausZeilen()) dones += z == R"({"event":"done"})";
    EXPECT_EQ(dones, 1u);
    size_t stops = 0;
    for (size_t pos = 0; (pos = p.err().find("schreibe Rest-Chunks", pos)) != std::string::npos;
         ++pos) {
        ++stops;
    }
    EXPECT_EQ(stops, 1u);
}

TEST_F(ProzessTest, SignalWhileTheSystemAudioIsStillStartingStopsTheRecording) {
    Prozess p(laufendesSzenario(R"(, "start_verzoegerung": 1.5)"), optionen());
    ASSERT_TRUE(p.liesBis([&] { return hat(p.err(), "Mikrofon-Capture gestartet"); }, 10s));
    p.signal(SIGTERM);
    const int status = p.warteAufEnde();
    ASSERT_TRUE(WIFEXITED(status)) << p.err();
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ASSERT_FALSE(p.ausZeilen().empty());
    EXPECT_EQ(p.ausZeilen().back(), R"({"event":"done"})");
}

TEST_F(ProzessTest, BothCapturesRefusedGiveOnlyTheErrorLineAndStatus2) {
    Prozess p(szenario(R"({
      "mikrofon": {"verweigern": {"code": 561145187, "beschreibung": "Mikrofon gesperrt"}},
      "system_audio": {"verweigern": {"code": -3801, "beschreibung": "Aufnahme \"nicht\" erlaubt"}}})"),
              optionen());
    const int status = p.warteAufEnde();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_EQ(p.aus(), "{\"event\":\"error\",\"message\":\"Aufnahme \\\"nicht\\\" erlaubt\"}\n");
    EXPECT_TRUE(hat(p.err(), "[hoerspur] Mikrofon nicht verfuegbar: "));
    EXPECT_TRUE(hat(p.err(), "[hoerspur] System-Audio nicht verfuegbar: "));
}

TEST_F(ProzessTest, WindowProbeRunsOnTheScriptedWindowsAndEndsWithStatus0Or3) {
    Prozess p(szenario(R"({"fenster": [{"ab": 0, "fenster": [
                {"id": 5, "titel": "Huddle mit Team", "breite": 900, "hoehe": 700,
                 "app": {"bundle": "com.tinyspeck.slackmacgap", "name": "Slack"}},
                {"id": 6, "titel": "Notizen", "app": {"bundle": "org.example.notizen"}}]}]})"),
              {"--fenster-probe"});
    int status = p.warteAufEnde();
    ASSERT_TRUE(WIFEXITED(status)) << p.err();
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const auto zeilen = p.ausZeilen();
    ASSERT_EQ(zeilen.size(), 3u) << p.aus();
    EXPECT_TRUE(zeilen[0].starts_with(R"({"fenster":5,"app":"Slack",)"));
    EXPECT_EQ(zeilen[1], R"({"andere_fenster":1})");
    EXPECT_TRUE(zeilen[2].starts_with(R"({"wahl":{"art":"fenster","id":5,)"));
    EXPECT_TRUE(p.err().empty()) << p.err();

    Prozess verweigert(
        szenario(R"({"fenster": [{"ab": 0, "verweigern": {"code": 2, "beschreibung": "nein"}}]})"),
        {"--fenster-probe", "--alle"});
    status = verweigert.warteAufEnde();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_EQ(verweigert.aus(), "{\"fehler\":\"nein\"}\n");
}

TEST_F(ProzessTest, AStopNeverWaitsForACaptureStartThatHangs) {
    // A start that takes 30 s, as a device or service that does not answer.
    const std::string haengt = R"(, "start_verzoegerung": 30)";
    for (const char* quelle : {"mikrofon", "system_audio"}) {
        const bool mikrofon = std::string(quelle) == "mikrofon";
        Prozess p(laufendesSzenario(mikrofon ? "" : haengt, mikrofon ? haengt : ""), optionen());
        std::this_thread::sleep_for(500ms);
        const auto signal = Uhr::now();
        p.signal(SIGTERM);
        const int status = p.warteAufEnde(20s);
        const double sekunden = std::chrono::duration<double>(Uhr::now() - signal).count();
        ASSERT_TRUE(WIFEXITED(status)) << quelle << ": " << p.err();
        EXPECT_EQ(WEXITSTATUS(status), 0) << quelle;
        EXPECT_LT(sekunden, 2.0) << quelle;
        ASSERT_FALSE(p.ausZeilen().empty()) << quelle;
        EXPECT_EQ(p.ausZeilen().back(), R"({"event":"done"})") << quelle;
        RecordProperty(std::string("stop_sekunden_") + quelle, std::to_string(sekunden));
    }
}

TEST_F(ProzessTest, AStopSignalAtAnyMomentOfTheStartEndsWithDoneOrBeforeAnythingBegan) {
    std::mt19937 zufall(11);
    const std::string pfad = laufendesSzenario();
    int mitDone = 0;
    // 25 signals within the first 15 ms; a loaded machine (a sanitizer build) may still be
    // loading the program then, so later signals follow until one hits a running recording.
    std::chrono::microseconds grenze = 15ms;
    for (int i = 0; i < 25 || (mitDone == 0 && grenze < 4s); ++i) {
        if (i >= 25) grenze *= 2;
        std::filesystem::remove_all(ordner_ + "/aufnahme");
        Prozess p(pfad, optionen());
        std::this_thread::sleep_for(i < 25 ? std::chrono::microseconds(zufall() % grenze.count())
                                           : grenze);
        p.signal(SIGTERM);
        const int status = p.warteAufEnde();
        if (WIFSIGNALED(status)) {
            // Ended while it was still being loaded: nothing may exist yet.
            EXPECT_EQ(WTERMSIG(status), SIGTERM);
            EXPECT_TRUE(p.aus().empty()) << i;
            EXPECT_FALSE(std::filesystem::exists(ordner_ + "/aufnahme")) << i;
            continue;
        }
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << i << ": " << p.err();
        ASSERT_FALSE(p.ausZeilen().empty()) << i;
        EXPECT_EQ(p.ausZeilen().back(), R"({"event":"done"})") << i;
        ++mitDone;
    }
    EXPECT_GT(mitDone, 0);
}

}  // namespace
}  // namespace hoerspur
