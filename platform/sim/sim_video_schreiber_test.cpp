#include "platform/sim/sim_video_schreiber.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/sim/sim_plattform.h"

namespace hoerspur {
namespace {

class SimVideoSchreiberTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char vorlage[] = "/tmp/hs-simvideo-XXXXXX";
        ASSERT_NE(mkdtemp(vorlage), nullptr);
        ordner_ = vorlage;
        bild_.setzeGroesse(1280, 800);
    }
    void TearDown() override { std::filesystem::remove_all(ordner_); }

    std::unique_ptr<VideoSchreiber> gestartet(SimUmgebung& u) {
        auto s = u.plattform.neuerVideoSchreiber(ordner_ + "/video.mp4");
        EXPECT_TRUE(s->fuegeEingangHinzu(H264Einstellungen{}));
        EXPECT_TRUE(s->starteSchreiben());
        s->starteSitzung(10.0);
        return s;
    }

    std::string ordner_;
    BgraPuffer bild_;
};

TEST_F(SimVideoSchreiberTest, KeepsTheWritersRulesAndRecordsWhatItTook) {
    SimSzenario szenario;
    szenario.videoSchreiber.nichtBereitBei = {1};
    SimUmgebung u = baueSimPlattform(std::move(szenario));
    auto s = gestartet(u);
    EXPECT_TRUE(std::filesystem::exists(ordner_ + "/video.mp4"));

    EXPECT_TRUE(s->haengeAn(bild_.bild(), 10.0));
    EXPECT_FALSE(s->bereitFuerMehr());  // scripted busy for the second picture
    EXPECT_FALSE(s->haengeAn(bild_.bild(), 10.1));
    EXPECT_TRUE(s->bereitFuerMehr());
    EXPECT_FALSE(s->haengeAn(bild_.bild(), 10.0));  // not after the previous one
    EXPECT_FALSE(s->haengeAn(BgraPuffer(640, 400).bild(), 10.3));
    EXPECT_TRUE(s->haengeAn(bild_.bild(), 10.4));
    s->markiereFertig();
    EXPECT_FALSE(s->haengeAn(bild_.bild(), 10.5));
    s->beende();
    EXPECT_EQ(s->status(), SchreiberStatus::fertig);

    const SimVideoSchreiberAufrufe a = u.videoSchreiber->stand();
    EXPECT_EQ(a.pfade, std::vector<std::string>{ordner_ + "/video.mp4"});
    EXPECT_EQ(a.sitzungStart, 10.0);
    EXPECT_EQ(a.zeiten, (std::vector<double>{10.0, 10.4}));
    EXPECT_EQ(a.versuche, 6u);
    EXPECT_EQ(a.abgelehnt, 4u);
    EXPECT_EQ(a.beendet, 1);
    EXPECT_EQ(a.status, SchreiberStatus::fertig);
}

TEST_F(SimVideoSchreiberTest, RefusesWhereTheScriptSays) {
    {
        SimSzenario szenario;
        szenario.videoSchreiber.anlegenFehler = PlattformFehler("sim", -11800, "geht nicht");
        SimUmgebung u = baueSimPlattform(std::move(szenario));
        EXPECT_THROW(u.plattform.neuerVideoSchreiber(ordner_ + "/video.mp4"), PlattformFehler);
    }
    {
        SimSzenario szenario;
        szenario.videoSchreiber.startFehler = "Platte voll";
        SimUmgebung u = baueSimPlattform(std::move(szenario));
        auto s = u.plattform.neuerVideoSchreiber(ordner_ + "/video.mp4");
        ASSERT_TRUE(s->fuegeEingangHinzu(H264Einstellungen{}));
        EXPECT_FALSE(s->starteSchreiben());
        EXPECT_EQ(s->status(), SchreiberStatus::fehlgeschlagen);
        EXPECT_EQ(s->fehlerText(), "Platte voll");
        EXPECT_FALSE(std::filesystem::exists(ordner_ + "/video.mp4"));
    }
    {
        SimSzenario szenario;
        szenario.videoSchreiber.abschlussFehler = "Abschluss misslungen";
        SimUmgebung u = baueSimPlattform(std::move(szenario));
        auto s = gestartet(u);
        EXPECT_TRUE(s->haengeAn(bild_.bild(), 10.0));
        s->beende();
        EXPECT_EQ(s->status(), SchreiberStatus::fehlgeschlagen);
        EXPECT_EQ(s->fehlerText(), "Abschluss misslungen");
    }
    {
        SimSzenario szenario;
        szenario.videoSchreiber.eingangAbgelehnt = true;
        SimUmgebung u = baueSimPlattform(std::move(szenario));
        auto s = u.plattform.neuerVideoSchreiber(ordner_ + "/video.mp4");
        EXPECT_FALSE(s->fuegeEingangHinzu(H264Einstellungen{}));
        EXPECT_FALSE(s->starteSchreiben());
    }
}

}  // namespace
}  // namespace hoerspur
