#include "basis/ausgabe.h"

#include <gtest/gtest.h>

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
    EXPECT_EQ(m.ereignisText(), "\n{\"event\":\"done\"}\n");
    EXPECT_EQ(m.logText(), "[hoerspur] Test\n");
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

}  // namespace
}  // namespace hoerspur
