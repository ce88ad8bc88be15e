#include "recorder/driver/serial_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace hoerspur {
namespace {

TEST(SerialQueue, RunsTasksOneAtATimeInSubmissionOrder) {
    std::vector<int> reihenfolge;
    std::atomic<int> gleichzeitig{0};
    bool ueberlappt = false;
    {
        SerialQueue q("test");
        std::vector<std::thread> sender;
        // Tasks from one sender keep their order; tasks never overlap.
        for (int t = 0; t < 4; ++t) {
            sender.emplace_back([&, t] {
                for (int i = 0; i < 200; ++i) {
                    q.async([&, t, i] {
                        if (gleichzeitig.fetch_add(1) != 0) ueberlappt = true;
                        reihenfolge.push_back(t * 1000 + i);
                        gleichzeitig.fetch_sub(1);
                    });
                }
            });
        }
        for (auto& s : sender) s.join();
        q.sync([] {});
        EXPECT_EQ(reihenfolge.size(), 800u);
    }
    EXPECT_FALSE(ueberlappt);
    std::vector<int> letzte(4, -1);
    for (int wert : reihenfolge) {
        const int t = wert / 1000;
        EXPECT_GT(wert % 1000, letzte[static_cast<size_t>(t)]);
        letzte[static_cast<size_t>(t)] = wert % 1000;
    }
}

TEST(SerialQueue, SyncReturnsAfterEverythingQueuedBefore) {
    SerialQueue q("test");
    std::atomic<int> erledigt{0};
    for (int i = 0; i < 50; ++i) {
        q.async([&] {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            erledigt.fetch_add(1);
        });
    }
    q.sync([] {});
    EXPECT_EQ(erledigt.load(), 50);
}

TEST(SerialQueue, DestructorRunsTasksStillQueued) {
    std::atomic<int> erledigt{0};
    {
        SerialQueue q("test");
        q.async([] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); });
        for (int i = 0; i < 10; ++i) q.async([&] { erledigt.fetch_add(1); });
    }
    EXPECT_EQ(erledigt.load(), 10);
}

}  // namespace
}  // namespace hoerspur
