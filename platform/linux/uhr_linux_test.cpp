#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/uhr.h"

namespace hoerspur {
namespace {

TEST(HostUhr, RunsForwardInSeconds) {
    const double a = hostSekunden();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const double b = hostSekunden();
    EXPECT_GT(a, 0.0);
    // Sleeping lasts at least as long as asked; seconds, not milliseconds or ticks.
    EXPECT_GE(b - a, 0.019);
    EXPECT_LT(b - a, 5.0);
    double vorher = b;
    for (int i = 0; i < 1000; ++i) {
        const double jetzt = hostSekunden();
        ASSERT_GE(jetzt, vorher);
        vorher = jetzt;
    }
}

}  // namespace
}  // namespace hoerspur
