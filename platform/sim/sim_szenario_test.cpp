#include "platform/sim/sim_szenario.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace hoerspur {
namespace {

// The message of the error that loading `text` gives, or "" when it loads.
std::string fehlerVon(const std::string& text) {
    try {
        parseSzenario(text, "");
    } catch (const SzenarioFehler& f) {
        return f.what();
    }
    return "";
}

TEST(SimSzenario, ReadsBothSourcesWithTheirFaultsAndRefusals) {
    const SimSzenario s = parseSzenario(R"({
        "uhr": {"start": 20.5, "unix_ms": 1000},
        "mikrofon": {
            "signal": {"art": "sinus", "frequenz": 1000, "amplitude": 0.25},
            "dauer": 0.1, "rate": 16000, "kanaele": 2, "sample": "int16", "verschraenkt": true,
            "puffer_frames": 160, "start": 21, "drift": 0.001,
            "weglassen": [1], "versatz": [[2, 0.5]], "ohne_zeit": [3],
            "tempo": "echtzeit", "danach": "wiederholen", "start_verzoegerung": 0.25,
            "verweigern": {"code": -10851, "beschreibung": "kein Zugriff"},
            "stoppt_nach": 4, "stop_fehler": "weg", "ausfall_puffer": 3, "neustarts_verweigert": 2
        },
        "system_audio": {
            "signal": {"art": "rauschen", "seed": 3}, "dauer": 1,
            "displays": [{"id": 9}, {"id": 4}], "stoppt_nach": 7, "stop_fehler": "aus",
            "ausfall_puffer": 5, "inhalt_verweigern": {"code": -3801, "domain": "sck"}
        }
    })",
                                        "");
    EXPECT_EQ(s.uhrStartSekunden, 20.5);
    EXPECT_EQ(s.unixStartMs, 1000);
    EXPECT_TRUE(s.uhrLaeuft);  // real-time pacing needs a running clock

    const SimQuelle& m = s.mikrofon.quelle;
    EXPECT_EQ(m.anzahl(), 10u);
    EXPECT_EQ(m.erstesFormat(), (AudioFormat{16000.0, 2, SampleArt::int16, true}));
    EXPECT_EQ(m.basisSekunden(), 21.0);
    EXPECT_EQ(m.tempo, SimTempo::echtzeit);
    EXPECT_EQ(m.nachlauf, SimNachlauf::wiederholen);
    EXPECT_FALSE(m.puffer(1));
    EXPECT_DOUBLE_EQ(*m.puffer(2)->stempelSekunden, 320 / 16000.0 * 1.001 + 0.5);
    EXPECT_FALSE(m.puffer(3)->stempelSekunden);
    EXPECT_EQ(m.puffer(0)->pcm.int16Daten(0)[8], 8192);  // 0.25 at a quarter period
    EXPECT_EQ(s.mikrofon.startFehler->code(), -10851);
    EXPECT_EQ(s.mikrofon.startFehler->beschreibung(), "kein Zugriff");
    EXPECT_EQ(s.mikrofon.startVerzoegerungSekunden, 0.25);
    EXPECT_EQ(s.mikrofon.stopptSelbstNach, 4u);
    EXPECT_EQ(s.mikrofon.stopFehlerText, "weg");
    EXPECT_EQ(s.mikrofon.ausfallPuffer, 3u);
    EXPECT_EQ(s.mikrofon.neustartsVerweigert, 2);

    const SimSystemAudio& sys = s.systemAudio;
    EXPECT_EQ(sys.quelle.erstesFormat(), (AudioFormat{48000.0, 2, SampleArt::float32, false}));
    EXPECT_EQ(sys.quelle.anzahl(), 47u);  // 48000 frames in buffers of 1024
    ASSERT_EQ(sys.displays.size(), 2u);
    EXPECT_EQ(sys.displays[0].id, 9u);
    EXPECT_EQ(sys.stopptSelbstNach, 7u);
    EXPECT_EQ(sys.stopFehlerText, "aus");
    EXPECT_EQ(sys.ausfallPuffer, 5u);
    EXPECT_EQ(sys.neustartsVerweigert, 0);
    EXPECT_EQ(sys.inhaltFehler->domain(), "sck");
    EXPECT_FALSE(sys.startFehler);
}

TEST(SimSzenario, EmptyScenarioGivesQuietSourcesOnAStoppedClock) {
    const SimSzenario s = parseSzenario("{}", "");
    EXPECT_FALSE(s.uhrLaeuft);
    EXPECT_TRUE(s.mikrofon.quelle.amEnde(0));
    EXPECT_TRUE(s.systemAudio.quelle.amEnde(0));
    EXPECT_EQ(s.systemAudio.displays.size(), 1u);
}

TEST(SimSzenario, WavSignalComesRelativeToTheScenarioFileWithItsRateAndChannels) {
    const std::filesystem::path ordner =
        std::filesystem::temp_directory_path() / ("sim_szenario_" + std::to_string(::getpid()));
    std::filesystem::create_directories(ordner);
    {
        // 8000 Hz mono, 16-bit, three frames
        const unsigned char wav[] = {
            'R', 'I', 'F', 'F', 42,  0,   0, 0,    'W',  'A', 'V', 'E',  'f',  'm', 't', ' ', 16,
            0,   0,   0,   1,   0,   1,   0, 0x40, 0x1F, 0,   0,   0x80, 0x3E, 0,   0,   2,   0,
            16,  0,   'd', 'a', 't', 'a', 6, 0,    0,    0,   0,   0x40, 0,    0,   0,   0xC0};
        std::ofstream(ordner / "ton.wav", std::ios::binary)
            .write(reinterpret_cast<const char*>(wav), sizeof wav);
        std::ofstream(ordner / "s.json")
            << R"({"mikrofon": {"signal": {"art": "wav", "pfad": "ton.wav"}, "puffer_frames": 2}})";
    }
    const SimSzenario s = ladeSzenario((ordner / "s.json").string());
    const SimQuelle& q = s.mikrofon.quelle;
    EXPECT_EQ(q.erstesFormat(), (AudioFormat{8000.0, 1, SampleArt::float32, false}));
    ASSERT_EQ(q.anzahl(), 2u);
    EXPECT_EQ(q.puffer(0)->pcm.floatDaten(0)[0], 0.5f);
    EXPECT_EQ(q.puffer(1)->pcm.floatDaten(0)[0], -0.5f);
    std::filesystem::remove_all(ordner);

    EXPECT_NE(fehlerVon(R"({"mikrofon": {"signal": {"art": "wav", "pfad": "/nicht/da.wav"}}})")
                  .find("/nicht/da.wav"),
              std::string::npos);
}

TEST(SimSzenario, MistakesAreNamedByTheirKey) {
    EXPECT_NE(fehlerVon("{\"mikrofon\": ").find("kein gueltiges JSON"), std::string::npos);
    EXPECT_NE(fehlerVon(R"({"mikrofon": {"raten": 1}})").find("mikrofon.raten: unbekannter"),
              std::string::npos);
    EXPECT_NE(fehlerVon(R"({"mikrofon": {"rate": "hoch"}})").find("mikrofon.rate"),
              std::string::npos);
    EXPECT_NE(fehlerVon(R"({"mikrofon": {"rate": 0}})").find("mikrofon.rate"), std::string::npos);
    EXPECT_NE(fehlerVon(R"({"system_audio": {"signal": {"art": "stille"}}})")
                  .find("system_audio.dauer: fehlt"),
              std::string::npos);
    EXPECT_NE(
        fehlerVon(R"({"mikrofon": {"signal": {"art": "zirpen"}, "dauer": 1}})").find("signal.art"),
        std::string::npos);
    EXPECT_NE(fehlerVon(R"({"mikrofon": {"signal": {"art": "stille"}, "dauer": 1,
                          "puffer_frames": 480, "weglassen": [100]}})")
                  .find("weglassen"),
              std::string::npos);
    EXPECT_NE(fehlerVon(R"({"mikrofon": {"puffer_frames": 2.5}})").find("mikrofon.puffer_frames"),
              std::string::npos);
    EXPECT_NE(fehlerVon(R"({"system_audio": {"verweigern": {"beschreibung": "x"}}})")
                  .find("verweigern.code: fehlt"),
              std::string::npos);
    EXPECT_NE(fehlerVon("[]").find("Objekt"), std::string::npos);
    EXPECT_NE(fehlerVon(R"({"fenster": [{"ab": 2, "fenster": []}, {"ab": 1, "fenster": []}]})")
                  .find("fenster[1].ab"),
              std::string::npos);
    EXPECT_NE(fehlerVon(R"({"fenster": [{"fenster": [{"titel": "x"}]}]})")
                  .find("fenster[0].fenster[0].id: fehlt"),
              std::string::npos);
    EXPECT_NE(fehlerVon(R"({"fenster": [{"ab": 1}]})").find("genau eines"), std::string::npos);
}

}  // namespace
}  // namespace hoerspur
