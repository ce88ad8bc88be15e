#include "basis/ausgabe.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "tests/zeilen_mitschnitt.h"

namespace hoerspur {
namespace {

TEST(EmitAndLog, EachCallIsOneCompleteLine) {
    ZeilenMitschnitt m;
    emit("");
    emit("{\"event\":\"done\"}");
    log("[hoerspur] Test");
    // A window title with a line feed cannot forge a line of its own.
    log("[hoerspur] Bild: Zoom\n[hoerspur] Stop\r\x01\tx");
    EXPECT_EQ(m.ereignisText(), "\n{\"event\":\"done\"}\n");
    EXPECT_EQ(m.logText(), "[hoerspur] Test\n[hoerspur] Bild: Zoom [hoerspur] Stop  \tx\n");
}

TEST(EmitAndLog, LinesFromManyThreadsNeverInterleave) {
    ZeilenMitschnitt m;
    constexpr int kThreads = 8;
    constexpr int kZeilen = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            const std::string zeile = "{\"thread\":" + std::to_string(t) + ",\"text\":\"" +
                                      std::string(200 + t * 37, static_cast<char>('a' + t)) + "\"}";
            for (int i = 0; i < kZeilen; ++i) {
                emit(zeile);
                log("[hoerspur] " + zeile);
            }
        });
    }
    for (auto& th : threads) th.join();
    for (const std::string& text : {m.ereignisText(), m.logText()}) {
        std::vector<int> anzahl(kThreads, 0);
        size_t start = 0;
        int zeilen = 0;
        while (start < text.size()) {
            const size_t ende = text.find('\n', start);
            ASSERT_NE(ende, std::string::npos);
            std::string zeile = text.substr(start, ende - start);
            if (zeile.rfind("[hoerspur] ", 0) == 0) zeile.erase(0, 11);
            const auto j = nlohmann::json::parse(zeile);
            const int t = j.at("thread").get<int>();
            EXPECT_EQ(j.at("text").get<std::string>(),
                      std::string(200 + t * 37, static_cast<char>('a' + t)));
            ++anzahl[static_cast<size_t>(t)];
            ++zeilen;
            start = ende + 1;
        }
        EXPECT_EQ(zeilen, kThreads * kZeilen);
        for (int n : anzahl) EXPECT_EQ(n, kZeilen);
    }
}

// The host's end of a pipe that holds little and is read only when the test says so.
class LangsamerLeser {
  public:
    LangsamerLeser() {
        int fds[2];
        EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
        lesen_ = fds[0];
        schreiben_ = fds[1];
        fcntl(schreiben_, F_SETPIPE_SZ, 4096);
        logFd_ = memfd_create("log", MFD_CLOEXEC);
        fcntl(logFd_, F_SETFL, O_APPEND);
        alt_ = setzeAusgabeziele({schreiben_, logFd_});
    }
    ~LangsamerLeser() {
        beendeHintergrundAusgabe();
        setzeAusgabeziele(alt_);
        schliesseLesen();
        close(schreiben_);
        close(logFd_);
    }

    // Everything in the pipe now, as lines.
    std::vector<std::string> lies() {
        std::string text;
        char puffer[65536];
        fcntl(lesen_, F_SETFL, O_NONBLOCK);
        for (ssize_t n; (n = read(lesen_, puffer, sizeof puffer)) > 0;) text.append(puffer, n);
        return ZeilenMitschnitt::zeilen(text);
    }
    void schliesseLesen() {
        if (lesen_ >= 0) close(lesen_);
        lesen_ = -1;
    }
    std::vector<std::string> logZeilen() const {
        std::string text(65536, '\0');
        const ssize_t n = pread(logFd_, text.data(), text.size(), 0);
        text.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return ZeilenMitschnitt::zeilen(text);
    }

  private:
    int lesen_ = -1;
    int schreiben_ = -1;
    int logFd_ = -1;
    Ausgabeziele alt_;
};

std::string nummerZeile(int i) {
    return "{\"i\":" + std::to_string(i) + ",\"text\":\"" + std::string(90, 'x') + "\"}";
}

// emit() of `anzahl` lines on another thread; false when that does not return in time.
bool emittiertOhneZuWarten(int anzahl) {
    auto f = std::async(std::launch::async, [anzahl] {
        for (int i = 0; i < anzahl; ++i) emit(nummerZeile(i));
    });
    return f.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
}

TEST(Hintergrundausgabe, AHostThatDoesNotReadHoldsNothingUpAndGetsEveryLineLater) {
    LangsamerLeser host;
    starteHintergrundAusgabe();
    ASSERT_TRUE(emittiertOhneZuWarten(1000));  // 100 kB into a 4 kB pipe
    EXPECT_FALSE(leereAusgabe(std::chrono::milliseconds(100)));
    std::vector<std::string> zeilen;
    for (int runde = 0; runde < 1000 && zeilen.size() < 1000; ++runde) {
        const auto neu = host.lies();
        zeilen.insert(zeilen.end(), neu.begin(), neu.end());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(leereAusgabe(std::chrono::seconds(5)));
    ASSERT_EQ(zeilen.size(), 1000u);
    for (int i = 0; i < 1000; ++i) EXPECT_EQ(zeilen[static_cast<size_t>(i)], nummerZeile(i));
}

TEST(Hintergrundausgabe, AFullQueueDropsLinesAndSaysSoOnce) {
    LangsamerLeser host;
    starteHintergrundAusgabe(20 * 1024);
    ASSERT_TRUE(emittiertOhneZuWarten(1000));
    std::vector<std::string> zeilen;
    for (int runde = 0; runde < 50; ++runde) {
        const auto neu = host.lies();
        zeilen.insert(zeilen.end(), neu.begin(), neu.end());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(leereAusgabe(std::chrono::seconds(5)));
    // What arrives is whole and in order; what did not fit is gone.
    ASSERT_GT(zeilen.size(), 100u);
    ASSERT_LT(zeilen.size(), 500u);
    int vorige = -1;
    for (const auto& z : zeilen) {
        const int i = nlohmann::json::parse(z).at("i").get<int>();
        EXPECT_EQ(z, nummerZeile(i));
        EXPECT_GT(i, vorige);
        vorige = i;
    }
    EXPECT_EQ(host.logZeilen(),
              std::vector<std::string>{
                  "[hoerspur] Standardausgabe wird nicht gelesen: Ereigniszeilen gehen verloren"});
}

TEST(Hintergrundausgabe, AReaderThatWentAwayIsReportedAndNeverEndsTheProgram) {
    LangsamerLeser host;
    starteHintergrundAusgabe();
    host.schliesseLesen();
    // SIGPIPE keeps its default action in this process: only the writer's blocked
    // signals keep it alive.
    ASSERT_TRUE(emittiertOhneZuWarten(100));
    EXPECT_TRUE(leereAusgabe(std::chrono::seconds(5)));
    log("[hoerspur] danach");
    EXPECT_TRUE(leereAusgabe(std::chrono::seconds(5)));
    EXPECT_EQ(host.logZeilen(),
              (std::vector<std::string>{
                  "[hoerspur] Standardausgabe nicht schreibbar (Broken pipe): Ereigniszeilen "
                  "gehen verloren",
                  "[hoerspur] danach"}));
}

}  // namespace
}  // namespace hoerspur
