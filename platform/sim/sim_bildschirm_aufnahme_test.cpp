#include "platform/sim/sim_bildschirm_aufnahme.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/sim/sim_plattform.h"

namespace hoerspur {
namespace {

using namespace std::chrono_literals;

TEST(SimBildschirmAufnahme, StreamDeliversOnSckAudioAndRecordsWhatWasAsked) {
    SimPlan plan;
    plan.signal = SimSignal::sinus(440.0, 0.5f, 48000.0);
    plan.format = AudioFormat{48000.0, 2, SampleArt::float32, true};
    plan.pufferFrames = 1024;
    plan.frames = 4 * 1024;
    plan.startSekunden = 7.0;
    SimSzenario szenario;
    szenario.systemAudio.quelle = SimQuelle::ausPlan(plan);
    SimUmgebung u = baueSimPlattform(std::move(szenario));

    // Written on the delivery thread, read after the record says the script ended.
    std::string threadName;
    std::vector<double> stempel;
    std::vector<std::uint64_t> frames;
    auto strom = u.plattform.bildschirm->starteSystemAudio(
        Display{3, 10, 10}, SystemAudioKonfiguration{},
        [&](const AudioSampleBuffer& b) {
            char name[16] = {};
            pthread_getname_np(pthread_self(), name, sizeof name);
            threadName = name;
            stempel.push_back(b.praesentationSekunden.value_or(-1.0));
            frames.push_back(b.frames);
        },
        [](const std::string&) {});
    ASSERT_TRUE(u.systemAudio->warte([](const auto& a) { return a.erschoepft; }, 10s));
    EXPECT_EQ(threadName, "sck.audio");
    EXPECT_EQ(stempel, (std::vector<double>{7.0, 7.0 + 1024 / 48000.0, 7.0 + 2048 / 48000.0,
                                            7.0 + 3072 / 48000.0}));
    EXPECT_EQ(frames, std::vector<std::uint64_t>(4, 1024));
    strom->stoppe();
    strom->stoppe();
    const SimSystemAudioAufrufe a = u.systemAudio->stand();
    EXPECT_EQ(a.starts, 1);
    EXPECT_EQ(a.displays.at(0).id, 3u);
    EXPECT_EQ(a.stopps, 2);
    EXPECT_EQ(a.laufend, 0);
}

}  // namespace
}  // namespace hoerspur
