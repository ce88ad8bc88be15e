// The observer as a process: real stop signals, exit statuses, standard error
// and a parent that dies, with the test-only executable that runs the shipped
// loop on a simulated client.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/dateien.h"
#include "tests/kindprozess.h"

namespace hoerspur {
namespace {

using namespace std::chrono_literals;
using Uhr = std::chrono::steady_clock;

// Pids above the kernel's largest (2^22) never collide with this process's own.
const char* const SZENARIO = R"({
  "prozesse": [{"ab": 0, "ps": ["5000001 /Applications/zoom.us.app/Contents/MacOS/zoom.us"]}],
  "anwendungen": [{"pid": 5000001, "baum": {
    "rolle": "AXApplication",
    "kinder": [{"id": "fenster", "rolle": "AXWindow", "attribute": {"AXTitle": "Zoom Meeting"},
      "kinder": [
        {"rolle": "AXTabGroup", "attribute": {"AXDescription": "Anna Berg, Video on, Active speaker"}},
        {"rolle": "AXButton", "attribute": {"AXTitle": "Teilnehmer"},
         "aktionen": {"AXPress": {"schaltet": ["panel"]}}},
        {"id": "panel", "rolle": "AXGroup", "versteckt": true, "kinder": [
          {"rolle": "AXStaticText", "attribute": {"AXValue": "Carla Diaz"}}]}]}]}}]
})";

// One run of namenspaeher_sim with its standard streams in files.
class Lauf {
  public:
    Lauf(const std::string& dir, const std::string& szenario, std::vector<std::string> argumente)
        : dir_(dir),
          programm_(mitSzenario(dir, szenario, std::move(argumente)), dir + "/stdout",
                    dir + "/stderr") {}

    // The raw wait status once the process ended, or nothing after `frist`.
    std::optional<int> warteAufEnde(std::chrono::milliseconds frist = 20s) {
        return programm_.warteAufEnde(frist);
    }
    bool warteAufZeilen(std::size_t anzahl, std::chrono::milliseconds frist = 20s) {
        const auto ende = Uhr::now() + frist;
        while (Uhr::now() < ende) {
            if (spurZeilen().size() >= anzahl) return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }
    std::vector<std::string> spurZeilen() const {
        return zeilenVon(liesDatei(dir_ + "/zoom-namen.jsonl"));
    }
    std::vector<std::string> befund() const {
        return zeilenVon(liesDatei(dir_ + "/zoom-namen-befund.txt"));
    }
    std::string fehlerText() const { return liesDatei(dir_ + "/stderr"); }
    std::string ausgabe() const { return liesDatei(dir_ + "/stdout"); }
    void signal(int s) const { programm_.signal(s); }

  private:
    // The scenario goes to DIR/baum.json, the program's first argument.
    static std::vector<std::string> mitSzenario(const std::string& dir, const std::string& szenario,
                                                std::vector<std::string> argumente) {
        const std::string baum = dir + "/baum.json";
        std::ofstream(baum) << szenario;
        argumente.insert(argumente.begin(), {NAMENSPAEHER_SIM_PFAD, baum});
        return argumente;
    }

    std::string dir_;
    ProgrammMitDateien programm_;
};

class BeobachterProzess : public ::testing::Test {
  protected:
    void SetUp() override { dir_ = neuerOrdner("hs-beob-prozess"); }
    void TearDown() override {
        if (!HasFailure()) std::filesystem::remove_all(dir_);
    }
    std::string dir_;
};

TEST_F(BeobachterProzess, AStopSignalDuringTheWaitEndsAtOnceWithTheClosingReport) {
    for (const int sig : {SIGTERM, SIGINT}) {
        Lauf lauf(dir_, SZENARIO, {dir_, "--takt", "30"});
        ASSERT_TRUE(lauf.warteAufZeilen(1)) << lauf.fehlerText();
        std::this_thread::sleep_for(300ms);  // well into the 30 s wait
        const auto gesendet = Uhr::now();
        lauf.signal(sig);
        const auto status = lauf.warteAufEnde();
        const auto dauer = Uhr::now() - gesendet;
        ASSERT_TRUE(status.has_value());
        // Never the signal's default action: a normal exit with status 0.
        ASSERT_TRUE(WIFEXITED(*status)) << "signal " << sig;
        EXPECT_EQ(WEXITSTATUS(*status), 0);
        // Without a prompt answer the process would sleep out its 30 s period.
        EXPECT_LT(dauer, 1s) << std::chrono::duration<double>(dauer).count() << " s";
        const auto befund = lauf.befund();
        ASSERT_GE(befund.size(), 2u);
        EXPECT_EQ(befund[befund.size() - 2],
                  "Ende nach 1 Abtastungen. Verschiedene Namen gesehen: 2");
        EXPECT_EQ(befund.back(), "Namen: Anna Berg, Carla Diaz");
        EXPECT_EQ(lauf.spurZeilen().size(), 1u);
        // Every findings line also went to standard error; standard output stays empty.
        EXPECT_NE(lauf.fehlerText().find("[zoom-namen] Namen: Anna Berg, Carla Diaz\n"),
                  std::string::npos);
        EXPECT_EQ(lauf.ausgabe(), "");
        const auto spur = nlohmann::json::parse(lauf.spurZeilen()[0]);
        EXPECT_EQ(spur["zeilen"].size(), 3u);
    }
}

TEST_F(BeobachterProzess, AKilledRunLeavesItsFindingsAndWholeLines) {
    Lauf lauf(dir_, SZENARIO, {dir_, "--takt", "30"});
    ASSERT_TRUE(lauf.warteAufZeilen(1)) << lauf.fehlerText();
    lauf.signal(SIGKILL);
    ASSERT_TRUE(lauf.warteAufEnde().has_value());
    const auto befund = lauf.befund();
    ASSERT_GE(befund.size(), 2u);
    EXPECT_EQ(befund.back(), "Voller Baum abgelegt: zoom-baum.txt (10 Zeilen)");
    const std::string spur = liesDatei(dir_ + "/zoom-namen.jsonl");
    ASSERT_FALSE(spur.empty());
    EXPECT_EQ(spur.back(), '\n');
    EXPECT_FALSE(nlohmann::json::parse(spur).is_discarded());
}

TEST_F(BeobachterProzess, ExitStatusesForUsageAndMissingPermission) {
    {
        Lauf lauf(dir_, SZENARIO, {});
        const auto status = lauf.warteAufEnde();
        ASSERT_TRUE(status && WIFEXITED(*status));
        EXPECT_EQ(WEXITSTATUS(*status), 2);
        EXPECT_EQ(lauf.fehlerText(), "Aufruf: Namenspaeher <call-ordner> [--takt n] [--einmal]\n");
    }
    {
        Lauf lauf(dir_, R"({"freigabe": false, "fehlt": "Bedienungshilfen: Registry fehlt"})",
                  {dir_, "--takt", "0.5"});
        const auto status = lauf.warteAufEnde();
        ASSERT_TRUE(status && WIFEXITED(*status));
        EXPECT_EQ(WEXITSTATUS(*status), 3);
        const auto befund = lauf.befund();
        ASSERT_EQ(befund.size(), 12u);
        EXPECT_EQ(befund[3], "Takt: 0.5 s");
        EXPECT_EQ(befund[4], "ABBRUCH: keine Bedienungshilfen-Freigabe fuer diesen Prozess.");
        const auto log = zeilenVon(lauf.fehlerText());
        EXPECT_EQ(log.back(), "[zoom-namen] Bedienungshilfen: Registry fehlt");
        EXPECT_FALSE(std::filesystem::exists(dir_ + "/zoom-namen.jsonl"));
    }
}

TEST_F(BeobachterProzess, TheRunEndsWhenItsParentDies) {
    // Orphans come to this process, so the observer can be waited for.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    const pid_t eltern = fork();
    if (eltern == 0) {
        // The observer's parent: starts it, waits for its first line, dies. The
        // run object is left alive on purpose: its destructor would kill it.
        auto* lauf = new Lauf(dir_, SZENARIO, {dir_, "--takt", "0.5"});
        _exit(lauf->warteAufZeilen(1) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(eltern, &status, 0), eltern);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "no first line";
    // The observer is now this process's child; it ends by itself.
    const auto ende = Uhr::now() + 20s;
    pid_t beendet = 0;
    while (Uhr::now() < ende) {
        beendet = waitpid(-1, &status, WNOHANG);
        if (beendet > 0) break;
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_GT(beendet, 0) << "observer did not end";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const auto befund = zeilenVon(liesDatei(dir_ + "/zoom-namen-befund.txt"));
    ASSERT_GE(befund.size(), 3u);
    EXPECT_EQ(befund[befund.size() - 3], "Elternprozess weg \xE2\x80\x94 Ende.");
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 0), 0);
}

}  // namespace
}  // namespace hoerspur
