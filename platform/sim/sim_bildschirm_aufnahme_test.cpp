#include "platform/sim/sim_bildschirm_aufnahme.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/sim/sim_plattform.h"
#include "platform/sim/sim_szenario.h"

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

// A call seen through the window list: nothing at first, a Zoom meeting from
// 2 s, a refusal from 4 s, two windows from 6 s. The scenario file's form is the
// one the test-only recorder reads.
TEST(SimBildschirmAufnahme, WindowListFollowsItsTimelineBySimulatedClock) {
    SimUmgebung u = baueSimPlattform(parseSzenario(R"({
        "uhr": {"start": 500},
        "fenster": [
          {"ab": 2, "fenster": [{"id": 7, "titel": "Zoom Meeting",
                                 "app": {"bundle": "us.zoom.xos", "name": "Zoom", "pid": 42},
                                 "x": 10, "y": 20, "breite": 1280, "hoehe": 800, "ebene": 3}]},
          {"ab": 4, "verweigern": {"code": -3801, "beschreibung": "keine Erlaubnis"}},
          {"ab": 6, "fenster": [{"id": 8, "sichtbar": false}, {"id": 7}]}
        ]})",
                                                   ""));
    BildschirmAufnahme& dienst = *u.plattform.bildschirm;
    EXPECT_TRUE(dienst.teilbarerInhalt().fenster.empty());
    ASSERT_EQ(dienst.teilbarerInhalt().displays.size(), 1u);

    u.uhr->setze(502.0);
    const std::vector<TeilbaresFenster> zoom = dienst.teilbarerInhalt().fenster;
    ASSERT_EQ(zoom.size(), 1u);
    EXPECT_EQ(zoom[0].id, 7u);
    EXPECT_EQ(zoom[0].titel, "Zoom Meeting");
    EXPECT_EQ(zoom[0].app->bundleId, "us.zoom.xos");
    EXPECT_EQ(zoom[0].app->pid, 42);
    EXPECT_EQ(zoom[0].rahmen.breite, 1280.0);
    EXPECT_TRUE(zoom[0].aufBildschirm);
    EXPECT_EQ(zoom[0].ebene, 3);

    u.uhr->setze(505.9);
    try {
        dienst.teilbarerInhalt();
        ADD_FAILURE() << "refusal expected";
    } catch (const PlattformFehler& f) {
        EXPECT_EQ(f.beschreibung(), "keine Erlaubnis");
    }
    // The sound does not depend on the window list.
    EXPECT_EQ(dienst.systemAudioDisplays().size(), 1u);

    u.uhr->setze(600.0);
    const std::vector<TeilbaresFenster> spaeter = dienst.teilbarerInhalt().fenster;
    ASSERT_EQ(spaeter.size(), 2u);
    EXPECT_FALSE(spaeter[0].aufBildschirm);
    EXPECT_FALSE(spaeter[0].titel);  // absent, not empty
    EXPECT_FALSE(spaeter[0].app);
    EXPECT_EQ(u.systemAudio->stand().fensterAbfragen, 5);
}

}  // namespace
}  // namespace hoerspur
