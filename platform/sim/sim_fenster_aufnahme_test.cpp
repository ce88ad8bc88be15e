#include "platform/sim/sim_fenster_aufnahme.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sim/sim_plattform.h"

namespace hoerspur {
namespace {

using namespace std::chrono_literals;

// What a stream delivered; read once the record says it is there.
struct Empfang {
    std::mutex m;
    std::vector<FensterBild> bilder;  // pixels not kept
    std::vector<int> marken;          // the picture number in the first pixel, -1 without pixels
    std::vector<std::string> stopps;
    std::string threadName;

    FensterAufnahme::BildFunktion proBild() {
        return [this](const FensterBild& b) {
            std::lock_guard lock(m);
            char name[16] = {};
            pthread_getname_np(pthread_self(), name, sizeof name);
            threadName = name;
            bilder.push_back(FensterBild{b.status, b.praesentationSekunden, {}});
            marken.push_back(b.bild.leer() ? -1 : b.bild.pixel[0] | b.bild.pixel[1] << 8);
        };
    }
    FensterAufnahme::StopFunktion beiStop() {
        return [this](const std::string& text) {
            std::lock_guard lock(m);
            stopps.push_back(text);
        };
    }
};

TEST(SimFensterAufnahme, PicturesFollowTheClockWithScriptedGapsAndEnds) {
    SimSzenario szenario;
    szenario.fensterVideo.statusVon = [](std::uint64_t k) {
        return k % 3 == 2 ? BildStatus::unveraendert : BildStatus::vollstaendig;
    };
    // Window 9 closes at 1001.0; window 11 never exists.
    szenario.fensterVideo.fensterDa = [](std::uint32_t id, double t) {
        return id == 7 || (id == 9 && t < 1001.0);
    };
    szenario.fensterVideo.verweigerteStarts = {1};
    SimUmgebung u = baueSimPlattform(std::move(szenario));
    FensterAufnahme& aufnahme = *u.plattform.fensterAufnahme;

    Empfang e;
    EXPECT_THROW(aufnahme.starteFensterStrom(11, {}, e.proBild(), e.beiStop()), PlattformFehler);
    EXPECT_THROW(aufnahme.starteFensterStrom(7, {}, e.proBild(), e.beiStop()), PlattformFehler);
    auto strom = aufnahme.starteFensterStrom(7, {}, e.proBild(), e.beiStop());

    u.uhr->vorruecken(0.5);
    ASSERT_TRUE(u.fensterVideo->warte([](const auto& a) { return a.geliefert >= 8; }, 10s));
    strom->wechsleFenster(9);
    EXPECT_THROW(strom->wechsleFenster(11), PlattformFehler);
    u.uhr->vorruecken(0.7);
    ASSERT_TRUE(u.fensterVideo->warte([](const auto& a) { return a.laufend == 0; }, 10s));
    strom->stoppe();
    strom->stoppe();

    // Pictures due at 1000 + k/15 up to the one before the window closed.
    std::lock_guard lock(e.m);
    ASSERT_EQ(e.bilder.size(), 15u);
    for (std::size_t k = 0; k < e.bilder.size(); ++k) {
        EXPECT_DOUBLE_EQ(e.bilder[k].praesentationSekunden, 1000.0 + static_cast<double>(k) / 15.0);
        const bool voll = k % 3 != 2;
        EXPECT_EQ(e.bilder[k].status == BildStatus::vollstaendig, voll) << k;
        EXPECT_EQ(e.marken[k], voll ? static_cast<int>(k) : -1);
    }
    EXPECT_EQ(e.threadName, "sck.video");
    EXPECT_EQ(e.stopps, std::vector<std::string>{SimFensterVideo{}.fensterWegText});

    const SimFensterVideoAufrufe a = u.fensterVideo->stand();
    EXPECT_EQ(a.starts, 3);
    EXPECT_EQ(a.fenster, (std::vector<std::uint32_t>{11, 7, 7}));
    EXPECT_EQ(a.konfigurationen.at(2).breite, 1280);
    EXPECT_EQ(a.wechsel, (std::vector<std::uint32_t>{9, 11}));
    EXPECT_EQ(a.vollstaendig, 10u);
    EXPECT_EQ(a.selbstGestoppt, 1);
    EXPECT_EQ(a.stopps, 2);
}

TEST(SimFensterAufnahme, AStreamEndsByItselfAfterTheScriptedTime) {
    SimSzenario szenario;
    szenario.fensterVideo.stopptSelbstNachSekunden = 2.0;
    SimUmgebung u = baueSimPlattform(std::move(szenario));
    Empfang e;
    auto strom = u.plattform.fensterAufnahme->starteFensterStrom(3, {}, e.proBild(), e.beiStop());
    u.uhr->vorruecken(60.0);
    ASSERT_TRUE(u.fensterVideo->warte([](const auto& a) { return a.laufend == 0; }, 10s));
    EXPECT_THROW(strom->wechsleFenster(3), PlattformFehler);
    std::lock_guard lock(e.m);
    EXPECT_EQ(e.bilder.size(), 30u);
    EXPECT_EQ(e.stopps, std::vector<std::string>{SimFensterVideo{}.stopFehlerText});
}

}  // namespace
}  // namespace hoerspur
