#include "recorder/driver/ereignisse.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace hoerspur {
namespace {

TEST(EventLines, ExactShapes) {
    EXPECT_EQ(
        zeileStarted(true, false, true, false, 1733660000123),
        R"({"event":"started","mic":true,"system":false,"video":true,"echo":false,"null_unix_ms":1733660000123})");
    EXPECT_EQ(zeileDegraded("me", "Zugriff\nverweigert \"Mikro\""),
              R"({"event":"degraded","channel":"me","message":"Zugriff verweigert \"Mikro\""})");
    EXPECT_EQ(zeileError("kein Display gefunden"),
              R"({"event":"error","message":"kein Display gefunden"})");
    EXPECT_EQ(
        zeileChunk(3, "them", "/a/chunk_them_003.wav", 12.345, 16.0, std::nullopt),
        R"({"chunk":3,"channel":"them","path":"/a/chunk_them_003.wav","t0":12.35,"t1":16.00})");
    EXPECT_EQ(
        zeileChunk(0, "me", "/a\"b/c.wav", 0, 1.5, 48),
        R"({"chunk":0,"channel":"me","path":"/a\"b/c.wav","t0":0.00,"t1":1.50,"sprache_ms":48})");
    EXPECT_EQ(
        zeileVideoZiel("video_start", "zoom.us \u2014 Meeting", "fenster", 1, "Titel \"x\"", 3.25),
        R"({"event":"video_start","quelle":"zoom.us — Meeting","art":"fenster","rang":1,"grund":"Titel \"x\"","t_s":3.2})");
    EXPECT_EQ(zeileVideoPause("Fenster verschwunden", 10.06),
              R"({"event":"video_pause","message":"Fenster verschwunden","t_s":10.1})");
    EXPECT_EQ(zeileVideoNone("kein Meeting"), R"({"event":"video_none","message":"kein Meeting"})");
    EXPECT_EQ(zeileVideo("/o/video.mp4", 120, "Zoom"),
              R"({"event":"video","path":"/o/video.mp4","frames":120,"quelle":"Zoom"})");
    EchoStatistik echo;
    echo.verzoegerungMs = 375.0;
    echo.versatzBloecke = 20;
    echo.leck = 0.01234;
    echo.torAnteil = 0.5;
    echo.bloecke = 5;
    EXPECT_EQ(
        zeileEcho(echo, 2),
        R"({"event":"echo","verzoegerung_ms":375.0,"versatz_bloecke":20,"versatz_wechsel":0,"leck":0.0123,"tor_anteil":0.500,"nah_anteil":0.000,"vg_kopien":0,"hg_reset":0,"resets":0,"ohne_referenz":0,"ausfaelle":0,"bloecke":5,"chunks_ohne_sprache":2})");
    EXPECT_TRUE(zeileEchoDatei(EchoStatistik{}, 60.04, 0.333, 960000, 1)
                    .ends_with(R"("bloecke":0,"sekunden_audio":60.0,"rechenzeit_s":0.33,)"
                               R"("samples":960000,"chunks_ohne_sprache":1})"));
    Zeitachse them("them", 16000.0, 100.0);
    Zeitachse me("me", 16000.0, 100.0);
    me.einordnen(std::vector<float>(1600), 100.0, 0.1);
    me.einordnen(std::vector<float>(1600), 100.1 + 0.0203, 0.1);  // 325 zeros
    EXPECT_EQ(
        zeileZeitachse(them, me),
        R"({"event":"zeitachse","them":{"luecken":0,"luecken_ms":0,"ueberlappungen":0,"verworfen_ms":0},"me":{"luecken":1,"luecken_ms":20,"ueberlappungen":0,"verworfen_ms":0}})");
    EXPECT_EQ(zeileDone(), R"({"event":"done"})");
    for (const std::string& zeile :
         {zeileChunk(1, "me", "/x\x01y", -1.0, 2.0, 0), zeileDegraded("them", "\x07\t")}) {
        EXPECT_FALSE(nlohmann::json::parse(zeile, nullptr, false).is_discarded()) << zeile;
    }
}

}  // namespace
}  // namespace hoerspur
