// The recording driver on the simulated platform, in process: start-up, refusals,
// routing, the stop sequence and its final lines, and that nothing is lost and
// both channels stay aligned.
#include "recorder/driver/aufnahme.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/sim_plattform.h"
#include "recorder/audiofiles/wav_datei.h"
#include "recorder/capture/zeitachse.h"
#include "tests/zeilen_mitschnitt.h"

namespace hoerspur {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

// Speech-like test signal: noise bursts of varying loudness with short pauses.
std::vector<float> sprachaehnlich(double sekunden, double rate, std::uint32_t seed) {
    std::vector<float> s(static_cast<size_t>(sekunden * rate));
    std::uint32_t x = seed;
    for (size_t i = 0; i < s.size(); ++i) {
        x = x * 1664525u + 1013904223u;
        const double t = static_cast<double>(i) / rate;
        const double silbe = std::max(0.0, std::sin(2 * M_PI * 3.1 * t));
        const double satz = std::fmod(t, 2.3) < 1.9 ? 1.0 : 0.0;
        const double rausch = (static_cast<double>(x >> 8) / 8388608.0 - 1.0);
        s[i] = static_cast<float>(0.3 * silbe * satz *
                                  (0.6 * rausch + 0.4 * std::sin(2 * M_PI * 220 * t)));
    }
    return s;
}

SimPlan plan(std::vector<float> mono, double rate, std::uint32_t kanaele, std::uint32_t puffer) {
    SimPlan p;
    p.signal = SimSignal::mono(std::move(mono));
    p.format = AudioFormat{rate, kanaele, SampleArt::float32, false};
    p.pufferFrames = puffer;
    p.startSekunden = 1000.0;
    return p;
}

class AufnahmeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char vorlage[] = "/tmp/hoerspur-aufnahme-XXXXXX";
        ordner_ = mkdtemp(vorlage);
        szenario_.mikrofon.quelle =
            SimQuelle::ausPlan(plan(sprachaehnlich(6.0, 48000, 1), 48000, 2, 4096));
        szenario_.systemAudio.quelle =
            SimQuelle::ausPlan(plan(sprachaehnlich(6.0, 48000, 2), 48000, 2, 480));
    }
    void TearDown() override {
        aufnahme_.reset();
        std::filesystem::remove_all(ordner_);
    }

    // Starts a recording into the test folder with these extra options.
    void starte(std::initializer_list<const char*> optionen = {}) {
        std::vector<const char*> argv{"hoerspur", "--out", ordner_.c_str(), "--no-video"};
        argv.insert(argv.end(), optionen.begin(), optionen.end());
        konfig_ = parseArgs(static_cast<int>(argv.size()), argv.data());
        umgebung_ = baueSimPlattform(szenario_);
        aufnahme_ = std::make_unique<Aufnahme>(konfig_, umgebung_.plattform);
        aufnahme_->starte();
    }

    // Waits until the start task has reported and both simulated sources have
    // delivered everything they will.
    void warteBisGeliefert() {
        for (int i = 0; i < 2000; ++i) {
            const std::string text = mit_.ereignisText();
            if (text.find("\"started\"") != std::string::npos ||
                text.find("\"error\"") != std::string::npos) {
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_TRUE(umgebung_.mikrofon->warte(
            [](const SimMikrofonAufrufe& a) { return a.erschoepft || !a.laeuft; }, 60s));
        ASSERT_TRUE(umgebung_.systemAudio->warte(
            [](const SimSystemAudioAufrufe& a) { return a.erschoepft || a.laufend == 0; }, 60s));
    }

    int stoppe() {
        aufnahme_->shutdown();
        return aufnahme_->warteAufEnde();
    }

    std::vector<json> ereignisse() const {
        std::vector<json> alle;
        for (const auto& z : mit_.ereignisZeilen()) {
            json j = json::parse(z, nullptr, false);
            EXPECT_FALSE(j.is_discarded()) << z;
            alle.push_back(j);
        }
        return alle;
    }
    static std::vector<json> mit(const std::vector<json>& alle, const char* event) {
        std::vector<json> treffer;
        for (const auto& j : alle) {
            if (j.value("event", "") == event) treffer.push_back(j);
        }
        return treffer;
    }
    static std::vector<json> chunks(const std::vector<json>& alle, const char* channel) {
        std::vector<json> treffer;
        for (const auto& j : alle) {
            if (j.contains("chunk") && j["channel"] == channel) treffer.push_back(j);
        }
        return treffer;
    }
    // The samples of a channel's chunk files, each at its t0 (silence between).
    static std::vector<float> zusammengesetzt(const std::vector<json>& chunkZeilen, double rate) {
        std::vector<float> strom;
        for (const auto& c : chunkZeilen) {
            const auto samples = liesWav(c["path"].get<std::string>());
            EXPECT_TRUE(samples.has_value());
            if (!samples) continue;
            const auto t0 = static_cast<size_t>(std::llround(c["t0"].get<double>() * rate));
            if (strom.size() < t0) strom.resize(t0, 0.0f);
            strom.insert(strom.end(), samples->begin(), samples->end());
        }
        return strom;
    }
    std::vector<float> rohMikro() const {
        return liesWav(ordner_ + "/mikro_roh.wav").value_or(std::vector<float>{});
    }

    std::string ordner_;
    SimSzenario szenario_;
    SimUmgebung umgebung_;
    Config konfig_;
    ZeilenMitschnitt mit_;
    std::unique_ptr<Aufnahme> aufnahme_;
};

TEST_F(AufnahmeTest, BothCapturesRunningGiveStartedThenChunksAndFinalLinesInOrder) {
    starte();
    warteBisGeliefert();
    EXPECT_EQ(stoppe(), 0);

    const auto alle = ereignisse();
    ASSERT_GE(alle.size(), 4u);
    const auto gestartet = mit(alle, "started");
    ASSERT_EQ(gestartet.size(), 1u);
    EXPECT_EQ(
        gestartet[0].dump(),
        R"({"echo":true,"event":"started","mic":true,"null_unix_ms":1700000000000,"system":true,"video":false})");
    EXPECT_TRUE(mit(alle, "degraded").empty());
    // The last three lines: echo statistics, timeline report, done.
    const size_t n = alle.size();
    EXPECT_EQ(alle[n - 3]["event"], "echo");
    EXPECT_TRUE(alle[n - 3].contains("chunks_ohne_sprache"));
    EXPECT_EQ(alle[n - 2]["event"], "zeitachse");
    EXPECT_EQ(alle[n - 2]["them"]["luecken"], 0);
    EXPECT_EQ(alle[n - 2]["me"]["ueberlappungen"], 0);
    EXPECT_EQ(alle[n - 1].dump(), R"({"event":"done"})");
    const auto zeilen = mit_.ereignisZeilen();
    EXPECT_EQ(zeilen[n - 2].rfind(R"({"event":"zeitachse","them":{"luecken":0,)", 0), 0u);

    // Both channels produced chunks; the microphone's carry their amount of speech.
    const auto them = chunks(alle, "them");
    const auto me = chunks(alle, "me");
    ASSERT_FALSE(them.empty());
    ASSERT_FALSE(me.empty());
    for (const auto& c : them) EXPECT_FALSE(c.contains("sprache_ms"));
    for (const auto& c : me) EXPECT_TRUE(c.contains("sprache_ms"));
    EXPECT_NE(mit_.logText().find("[hoerspur] Stop \xE2\x80\x94 schreibe Rest-Chunks"),
              std::string::npos);
}

TEST_F(AufnahmeTest, RateOtherThan16000RecordsWithoutEchoPath) {
    starte({"--rate", "48000"});
    warteBisGeliefert();
    EXPECT_EQ(stoppe(), 0);
    const auto alle = ereignisse();
    ASSERT_EQ(mit(alle, "started").size(), 1u);
    EXPECT_EQ(mit(alle, "started")[0]["echo"], false);
    EXPECT_TRUE(mit(alle, "echo").empty());
    EXPECT_EQ(alle.back()["event"], "done");
    // "me" carries the unprocessed microphone: the chunks are the raw file.
    const auto me = zusammengesetzt(chunks(alle, "me"), 48000);
    const auto roh = rohMikro();
    ASSERT_FALSE(roh.empty());
    EXPECT_EQ(me, roh);
    for (const auto& c : chunks(alle, "me")) EXPECT_FALSE(c.contains("sprache_ms"));
}

TEST_F(AufnahmeTest, MicrophoneRefusedDegradesMeAndKeepsTheEchoStatistics) {
    szenario_.mikrofon.startFehler = PlattformFehler("sim", 561145187, "Zugriff\nverweigert");
    starte();
    warteBisGeliefert();
    EXPECT_EQ(stoppe(), 0);
    const auto zeilen = mit_.ereignisZeilen();
    ASSERT_GE(zeilen.size(), 2u);
    EXPECT_EQ(zeilen[0], R"({"event":"degraded","channel":"me","message":"Zugriff verweigert"})");
    const auto alle = ereignisse();
    const auto gestartet = mit(alle, "started")[0];
    EXPECT_EQ(gestartet["mic"], false);
    EXPECT_EQ(gestartet["system"], true);
    EXPECT_EQ(gestartet["echo"], true);
    EXPECT_EQ(mit(alle, "echo").size(), 1u);
    EXPECT_TRUE(chunks(alle, "me").empty());
    EXPECT_FALSE(chunks(alle, "them").empty());
    const std::string log = mit_.logText();
    EXPECT_NE(log.find("[hoerspur] Mikrofon nicht verfuegbar: Error Domain=sim Code=561145187"),
              std::string::npos);
    EXPECT_NE(
        log.find("[hoerspur] WARNUNG: nur System-Audio \xE2\x80\x94 Mikrofon verweigert: Zugriff"),
        std::string::npos);
}

TEST_F(AufnahmeTest, SystemAudioRefusedDegradesThemAndReportsNoEcho) {
    szenario_.systemAudio.displays.clear();
    starte();
    warteBisGeliefert();
    EXPECT_EQ(stoppe(), 0);
    const auto zeilen = mit_.ereignisZeilen();
    EXPECT_EQ(zeilen[0].find(
                  R"({"event":"degraded","channel":"them","message":"kein Display gefunden"})"),
              0u)
        << zeilen[0];
    const auto alle = ereignisse();
    const auto gestartet = mit(alle, "started")[0];
    EXPECT_EQ(gestartet["mic"], true);
    EXPECT_EQ(gestartet["system"], false);
    EXPECT_EQ(gestartet["echo"], false);
    // The echo path exists at 16000 Hz all the same, so its statistics are written.
    EXPECT_EQ(mit(alle, "echo").size(), 1u);
    EXPECT_TRUE(chunks(alle, "them").empty());
    EXPECT_EQ(alle.back()["event"], "done");
    EXPECT_NE(mit_.logText().find(
                  "[hoerspur] System-Audio nicht verfuegbar: Error Domain=hoerspur Code=1"),
              std::string::npos);
}

TEST_F(AufnahmeTest, BothRefusedWritesOnlyTheErrorLineAndEndsWithStatus2) {
    szenario_.mikrofon.startFehler = PlattformFehler("sim", 1, "Mikrofon gesperrt");
    szenario_.systemAudio.startFehler = PlattformFehler("sim", 2, "Bildschirmaufnahme verweigert");
    starte();
    EXPECT_EQ(aufnahme_->warteAufEnde(), 2);
    EXPECT_EQ(mit_.ereignisText(),
              "{\"event\":\"error\",\"message\":\"Bildschirmaufnahme verweigert\"}\n");

    // The microphone's text stands in when the system error has none.
    TearDown();
    SetUp();
    ZeilenMitschnitt zweiter;
    szenario_.mikrofon.startFehler = PlattformFehler("sim", 1, "Mikrofon gesperrt");
    szenario_.systemAudio.startFehler = PlattformFehler("sim", 2, "");
    starte();
    EXPECT_EQ(aufnahme_->warteAufEnde(), 2);
    EXPECT_EQ(zweiter.ereignisText(), "{\"event\":\"error\",\"message\":\"Mikrofon gesperrt\"}\n");
}

// The meeting window beside the audio: with video the recorder says so in
// "started", reports the picture as it starts and announces the file at the stop,
// after the drained chunks and before the final lines; without video nothing of
// it happens. The audio is the same either way.
TEST_F(AufnahmeTest, MeetingWindowIsFilmedBesideTheAudioOnlyWhenVideoIsWanted) {
    TeilbaresFenster zoom;
    zoom.id = 7;
    zoom.titel = "Zoom Meeting";
    zoom.app = FensterApp{"us.zoom.xos", "zoom.us", 4711};
    zoom.rahmen = FensterRahmen{0, 0, 1280, 800};
    zoom.aufBildschirm = true;
    szenario_.systemAudio.fenster = {SimFensterSchritt{0.0, {zoom}, std::nullopt}};

    starte({"--no-video"});
    warteBisGeliefert();
    EXPECT_EQ(stoppe(), 0);
    const std::int64_t themOhne = aufnahme_->zeitThem().geschrieben();
    const std::int64_t meOhne = aufnahme_->zeitMe().geschrieben();
    const std::vector<std::string> ohne = mit_.ereignisZeilen();
    EXPECT_NE(mit_.ereignisText().find(R"("video":false)"), std::string::npos);
    for (const std::string& z : ohne)
        EXPECT_EQ(z.find("\"event\":\"video"), std::string::npos) << z;
    EXPECT_TRUE(umgebung_.videoSchreiber->stand().pfade.empty());
    EXPECT_EQ(umgebung_.fensterVideo->stand().starts, 0);

    aufnahme_.reset();
    ZeilenMitschnitt mit;
    starte({"--video"});
    ASSERT_TRUE(umgebung_.systemAudio->warte(
        [](const SimSystemAudioAufrufe& a) { return a.erschoepft; }, 60s));
    ASSERT_TRUE(
        umgebung_.mikrofon->warte([](const SimMikrofonAufrufe& a) { return a.erschoepft; }, 60s));
    // The first check runs right after "started"; the clock stands, so the stream
    // delivers its first picture only.
    ASSERT_TRUE(umgebung_.videoSchreiber->warte(
        [](const SimVideoSchreiberAufrufe& a) { return a.angehaengt >= 1; }, 10s));
    EXPECT_EQ(stoppe(), 0);
    EXPECT_EQ(aufnahme_->zeitThem().geschrieben(), themOhne);
    EXPECT_EQ(aufnahme_->zeitMe().geschrieben(), meOhne);

    const std::vector<std::string> zeilen = mit.ereignisZeilen();
    auto stelle = [&](const std::string& anfang) {
        return std::find_if(zeilen.begin(), zeilen.end(),
                            [&](const std::string& z) { return z.rfind(anfang, 0) == 0; }) -
               zeilen.begin();
    };
    const auto started = stelle(R"({"event":"started")");
    ASSERT_LT(started, static_cast<std::ptrdiff_t>(zeilen.size()));
    EXPECT_NE(zeilen[started].find(R"("video":true)"), std::string::npos);
    const std::string zoomQuelle = "Zoom \u00b7 Zoom Meeting";
    const auto start = stelle(R"({"event":"video_start")");
    ASSERT_LT(start, static_cast<std::ptrdiff_t>(zeilen.size()));
    EXPECT_GT(start, started);
    EXPECT_EQ(zeilen[start],
              R"({"event":"video_start","quelle":")" + zoomQuelle +
                  R"(","art":"fenster","rang":1,"grund":"Zoom-Meetingfenster","t_s":0.0})");
    const auto video = stelle(R"({"event":"video")");
    ASSERT_LT(video, static_cast<std::ptrdiff_t>(zeilen.size()));
    EXPECT_EQ(zeilen[video], R"({"event":"video","path":")" + ordner_ +
                                 R"(/video.mp4","frames":1,"quelle":")" + zoomQuelle + R"("})");
    EXPECT_LT(video, stelle(R"({"event":"echo")"));
    EXPECT_EQ(zeilen.back(), R"({"event":"done"})");
    EXPECT_EQ(umgebung_.videoSchreiber->stand().status, SchreiberStatus::fertig);
    EXPECT_EQ(umgebung_.fensterVideo->stand().laufend, 0);
}

TEST_F(AufnahmeTest, SecondStopDoesNothing) {
    starte();
    warteBisGeliefert();
    aufnahme_->shutdown();
    aufnahme_->shutdown();
    EXPECT_EQ(aufnahme_->warteAufEnde(), 0);
    aufnahme_->shutdown();
    const auto alle = ereignisse();
    EXPECT_EQ(mit(alle, "done").size(), 1u);
    EXPECT_EQ(mit(alle, "zeitachse").size(), 1u);
}

TEST_F(AufnahmeTest, StopDuringTheStartTaskStillEndsWithDone) {
    szenario_.systemAudio.startVerzoegerungSekunden = 0.5;
    starte();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(stoppe(), 0);
    const auto zeilen = mit_.ereignisZeilen();
    ASSERT_FALSE(zeilen.empty());
    EXPECT_EQ(zeilen.back(), R"({"event":"done"})");
    // Nothing was left running and nothing comes after "done".
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(mit_.ereignisZeilen().size(), zeilen.size());
    EXPECT_EQ(umgebung_.systemAudio->stand().laufend, 0);
    EXPECT_FALSE(umgebung_.mikrofon->stand().laeuft);
}

TEST_F(AufnahmeTest, MicrophoneChunksMayComeBeforeStarted) {
    szenario_.mikrofon.quelle =
        SimQuelle::ausPlan(plan(sprachaehnlich(12.0, 48000, 1), 48000, 1, 4096));
    szenario_.systemAudio.startVerzoegerungSekunden = 1.0;
    starte({"--kein-echo"});
    warteBisGeliefert();
    EXPECT_EQ(stoppe(), 0);
    const auto zeilen = mit_.ereignisZeilen();
    const auto started = std::find_if(zeilen.begin(), zeilen.end(), [](const std::string& z) {
        return z.find("\"started\"") != std::string::npos;
    });
    ASSERT_NE(started, zeilen.end());
    ASSERT_NE(started, zeilen.begin());
    EXPECT_NE(zeilen.front().find(R"({"chunk":0,"channel":"me")"), std::string::npos);
}

TEST_F(AufnahmeTest, RawFileHoldsTheUnprocessedMicrophoneAndMeTheCleanedOne) {
    // The microphone hears only the far end: echo, no near-end speech.
    const auto fern = sprachaehnlich(8.0, 16000, 7);
    szenario_.systemAudio.quelle = SimQuelle::ausPlan(plan(fern, 16000, 1, 160));
    std::vector<float> echo(fern.size(), 0.0f);
    for (size_t i = 800; i < fern.size(); ++i) echo[i] = 0.5f * fern[i - 800];
    szenario_.mikrofon.quelle = SimQuelle::ausPlan(plan(echo, 16000, 1, 1024));
    // Paced like real devices, so microphone and reference reach the echo path together.
    szenario_.mikrofon.quelle.tempo = SimTempo::echtzeit;
    szenario_.systemAudio.quelle.tempo = SimTempo::echtzeit;
    starte();
    warteBisGeliefert();
    EXPECT_EQ(stoppe(), 0);

    const auto roh = rohMikro();
    ASSERT_EQ(static_cast<std::int64_t>(roh.size()), aufnahme_->zeitMe().geschrieben());
    // The raw file is the microphone as captured (same rate: no conversion beyond
    // the converter's own delay and 16-bit rounding).
    double energieRoh = 0.0;
    for (float x : roh) energieRoh += double(x) * x;
    double energieEcho = 0.0;
    for (float x : echo) energieEcho += double(x) * x;
    EXPECT_NEAR(energieRoh / energieEcho, 1.0, 0.05);
    // "me" carries the cleaned signal: what little remains is far below the echo.
    const auto alle = ereignisse();
    const auto me = zusammengesetzt(chunks(alle, "me"), 16000);
    double energieMe = 0.0;
    for (float x : me) energieMe += double(x) * x;
    EXPECT_LT(energieMe, energieRoh * 0.1) << mit(alle, "echo")[0].dump();
    // "them" carries the far end unprocessed.
    const auto them = zusammengesetzt(chunks(alle, "them"), 16000);
    double energieThem = 0.0;
    for (float x : them) energieThem += double(x) * x;
    double energieFern = 0.0;
    for (float x : fern) energieFern += double(x) * x;
    EXPECT_GT(energieThem / energieFern, 0.9);
}

TEST_F(AufnahmeTest, NothingIsLostAndChannelsStayAlignedDespiteDriftDropsAndLateStamps) {
    // A click at host time 1000 + 20 s in both sources; the microphone's clock runs
    // 0.05 % fast, loses two buffers and stamps one late, the system audio is steady.
    const double drift = 0.0005;
    const double klickSekunden = 20.0;
    std::vector<float> mikro(static_cast<size_t>(30 * 48000), 0.0f);
    std::vector<float> system(static_cast<size_t>(30 * 48000), 0.0f);
    const auto klickMikro = static_cast<size_t>(std::llround(klickSekunden / (1 + drift) * 48000));
    const auto klickSystem = static_cast<size_t>(klickSekunden * 48000);
    for (size_t i = 0; i < 48; ++i) {
        mikro[klickMikro + i] = 0.9f;
        system[klickSystem + i] = 0.9f;
    }
    for (size_t i = 0; i < mikro.size(); i += 7) mikro[i] += 0.01f;  // audible, never silent
    for (size_t i = 0; i < system.size(); i += 5) system[i] += 0.01f;
    SimPlan mp = plan(mikro, 48000, 2, 4096);
    mp.drift = drift;
    mp.weglassen = {30, 31};
    mp.versatzSekunden = {{100, 0.004}};
    szenario_.mikrofon.quelle = SimQuelle::ausPlan(mp);
    szenario_.systemAudio.quelle = SimQuelle::ausPlan(plan(system, 48000, 2, 480));
    starte({"--kein-echo", "--legacy-chunks", "--chunk", "3"});
    warteBisGeliefert();
    EXPECT_EQ(stoppe(), 0);

    const auto alle = ereignisse();
    // Fixed chunks drop nothing: the chunk files hold every sample of each timeline,
    // back to back.
    for (const char* kanal : {"me", "them"}) {
        const auto liste = chunks(alle, kanal);
        std::int64_t summe = 0;
        double letztesT1 = 0.0;
        for (const auto& c : liste) {
            summe += static_cast<std::int64_t>(liesWav(c["path"].get<std::string>())->size());
            EXPECT_DOUBLE_EQ(c["t0"].get<double>(), letztesT1) << kanal;
            letztesT1 = c["t1"].get<double>();
        }
        const Zeitachse& z =
            std::string(kanal) == "me" ? aufnahme_->zeitMe() : aufnahme_->zeitThem();
        EXPECT_EQ(summe, z.geschrieben()) << kanal;
    }
    const auto bericht = mit(alle, "zeitachse")[0];
    EXPECT_GE(bericht["me"]["luecken"].get<int>(), 1);  // the lost buffers were filled
    EXPECT_EQ(bericht["them"]["luecken"], 0);

    auto klickBei = [](const std::vector<float>& s) {
        const auto it = std::find_if(s.begin(), s.end(), [](float x) { return x > 0.5f; });
        return static_cast<std::int64_t>(it - s.begin());
    };
    const auto me = zusammengesetzt(chunks(alle, "me"), 16000);
    const auto them = zusammengesetzt(chunks(alle, "them"), 16000);
    const std::int64_t klickMe = klickBei(me);
    const std::int64_t klickThem = klickBei(them);
    EXPECT_NEAR(static_cast<double>(klickThem), klickSekunden * 16000, 160);
    EXPECT_NEAR(static_cast<double>(klickMe), static_cast<double>(klickThem), 160);
}

TEST_F(AufnahmeTest, ChannelsLostMidCallComeBackAlignedWithTheirGapsReported) {
    // A click at 8 s in both; the system audio is gone for 1 s from 2 s on, the
    // microphone for 0.5 s from 3 s on (as when the sound server restarts).
    std::vector<float> signal(static_cast<size_t>(10 * 48000), 0.0f);
    for (size_t i = 0; i < signal.size(); i += 7) signal[i] = 0.01f;
    for (size_t i = 0; i < 48; ++i) signal[8 * 48000 + i] = 0.9f;
    szenario_.systemAudio.quelle = SimQuelle::ausPlan(plan(signal, 48000, 2, 480));
    szenario_.systemAudio.stopptSelbstNach = 200;
    szenario_.systemAudio.ausfallPuffer = 100;
    szenario_.mikrofon.quelle = SimQuelle::ausPlan(plan(signal, 48000, 1, 4800));
    szenario_.mikrofon.stopptSelbstNach = 30;
    szenario_.mikrofon.ausfallPuffer = 5;
    starte({"--kein-echo", "--legacy-chunks", "--chunk", "3"});
    ASSERT_TRUE(umgebung_.mikrofon->warte([](const auto& a) { return a.erschoepft; }, 10s));
    ASSERT_TRUE(umgebung_.systemAudio->warte([](const auto& a) { return a.erschoepft; }, 10s));
    EXPECT_EQ(stoppe(), 0);

    const auto alle = ereignisse();
    const auto bericht = mit(alle, "zeitachse").at(0);
    EXPECT_EQ(bericht["them"]["luecken"], 1);
    EXPECT_NEAR(bericht["them"]["luecken_ms"].get<double>(), 1000, 2);
    EXPECT_EQ(bericht["me"]["luecken"], 1);
    EXPECT_NEAR(bericht["me"]["luecken_ms"].get<double>(), 500, 2);
    auto klickBei = [](const std::vector<float>& s) {
        const auto it = std::find_if(s.begin(), s.end(), [](float x) { return x > 0.5f; });
        return static_cast<double>(it - s.begin());
    };
    const auto me = zusammengesetzt(chunks(alle, "me"), 16000);
    const auto them = zusammengesetzt(chunks(alle, "them"), 16000);
    EXPECT_NEAR(klickBei(them), 8 * 16000, 160);
    EXPECT_NEAR(klickBei(me), klickBei(them), 16);
    const std::string log = mit_.logText();
    EXPECT_NE(log.find("[hoerspur] SCStream gestoppt: "), std::string::npos);
    EXPECT_NE(log.find("[hoerspur] System-Audio wieder verbunden"), std::string::npos);
    EXPECT_NE(log.find("[hoerspur] Mikrofon gestoppt: "), std::string::npos);
    EXPECT_NE(log.find("[hoerspur] Mikrofon wieder verbunden"), std::string::npos);
}

TEST_F(AufnahmeTest, AChannelThatNeverComesBackEndsWithItsGapUpToTheStop) {
    // In real time: the system audio is gone after 0.5 s for good, the stop comes at 2 s.
    SimPlan p = plan(sprachaehnlich(1.0, 48000, 8), 48000, 1, 480);
    p.startSekunden.reset();  // the clock at start
    SimQuelle quelle = SimQuelle::ausPlan(p);
    quelle.tempo = SimTempo::echtzeit;
    quelle.nachlauf = SimNachlauf::wiederholen;
    szenario_.uhrLaeuft = true;
    szenario_.mikrofon.quelle = quelle;
    szenario_.systemAudio.quelle = quelle;
    szenario_.systemAudio.stopptSelbstNach = 50;
    szenario_.systemAudio.neustartsVerweigert = 1000;
    starte({"--kein-echo", "--legacy-chunks", "--chunk", "1"});
    std::this_thread::sleep_for(2s);
    EXPECT_EQ(stoppe(), 0);

    const auto bericht = mit(ereignisse(), "zeitachse").at(0);
    EXPECT_EQ(bericht["them"]["luecken"], 1) << bericht.dump();
    EXPECT_NEAR(bericht["them"]["luecken_ms"].get<double>(), 1500, 300) << bericht.dump();
    EXPECT_EQ(bericht["me"]["luecken"], 0) << bericht.dump();
    // Both channels end at the stop.
    EXPECT_NEAR(static_cast<double>(aufnahme_->zeitThem().geschrieben()),
                static_cast<double>(aufnahme_->zeitMe().geschrieben()), 0.05 * 16000);
}

// Sum of the samples in the chunk files of one channel.
std::int64_t chunkSamples(const std::vector<json>& chunkZeilen) {
    std::int64_t summe = 0;
    for (const auto& c : chunkZeilen) {
        const auto samples = liesWav(c["path"].get<std::string>());
        EXPECT_TRUE(samples.has_value());
        if (samples) summe += static_cast<std::int64_t>(samples->size());
    }
    return summe;
}

TEST_F(AufnahmeTest, WhatTheEchoPathStillHoldsAtTheStopReachesTheChunks) {
    // Without system audio every microphone block waits up to half a second for
    // its reference inside the echo path; the stop must flush that into "me".
    szenario_.systemAudio.displays.clear();
    szenario_.mikrofon.quelle =
        SimQuelle::ausPlan(plan(sprachaehnlich(7.3, 48000, 4), 48000, 1, 4096));
    starte({"--legacy-chunks", "--chunk", "2"});
    warteBisGeliefert();
    EXPECT_EQ(stoppe(), 0);
    const auto alle = ereignisse();
    ASSERT_EQ(mit(alle, "echo").size(), 1u);
    ASSERT_EQ(mit(alle, "echo")[0]["chunks_ohne_sprache"], 0);
    EXPECT_EQ(chunkSamples(chunks(alle, "me")), aufnahme_->zeitMe().geschrieben());
    for (auto& z : mit_.ereignisZeilen()) std::cerr << z << "\n";
}

// The event stream's descriptor is a pipe the host fills up and reads only when
// told; lines read are kept.
class VollerHost {
  public:
    explicit VollerHost(int logFd) {
        int fds[2];
        EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
        lesen_ = fds[0];
        schreiben_ = fds[1];
        fcntl(schreiben_, F_SETPIPE_SZ, 4096);
        const std::string fuellung(4096, '\n');
        EXPECT_EQ(write(schreiben_, fuellung.data(), fuellung.size()), 4096);
        alt_ = setzeAusgabeziele({schreiben_, logFd});
    }
    ~VollerHost() {
        setzeAusgabeziele(alt_);
        close(schreiben_);
        if (leser_.joinable()) leser_.join();
        close(lesen_);
    }
    // From now on the host reads everything, until the writing end is closed.
    void liesAb() {
        leser_ = std::thread([this] {
            char puffer[65536];
            for (ssize_t n; (n = read(lesen_, puffer, sizeof puffer)) > 0;) text_.append(puffer, n);
        });
    }
    std::vector<json> zeilen() {
        setzeAusgabeziele(alt_);
        close(schreiben_);
        schreiben_ = -1;
        leser_.join();
        std::vector<json> z;
        for (const auto& zeile : ZeilenMitschnitt::zeilen(text_)) {
            if (!zeile.empty()) z.push_back(json::parse(zeile));
        }
        return z;
    }

  private:
    int lesen_ = -1;
    int schreiben_ = -1;
    Ausgabeziele alt_;
    std::thread leser_;
    std::string text_;
};

TEST_F(AufnahmeTest, AStalledEventStreamNeverHoldsUpTheMicrophonesDeliveryThread) {
    for (const char* echo : {"--kein-echo", "--echo"}) {
        szenario_.mikrofon.quelle =
            SimQuelle::ausPlan(plan(sprachaehnlich(6.0, 48000, 1), 48000, 1, 4096));
        VollerHost host(mit_.logFd());
        starte({echo, "--legacy-chunks", "--chunk", "1"});
        // Chunk lines cannot be written; the microphone still delivers every buffer.
        EXPECT_TRUE(umgebung_.mikrofon->warte(
            [](const SimMikrofonAufrufe& a) { return a.erschoepft; }, 10s))
            << echo;
        host.liesAb();
        EXPECT_EQ(stoppe(), 0);
        const auto alle = host.zeilen();
        ASSERT_FALSE(alle.empty());
        EXPECT_EQ(alle.back()["event"], "done");
        EXPECT_EQ(chunkSamples(chunks(alle, "me")), aufnahme_->zeitMe().geschrieben()) << echo;
        EXPECT_EQ(chunkSamples(chunks(alle, "them")), aufnahme_->zeitThem().geschrieben()) << echo;
        aufnahme_.reset();
    }
}

TEST_F(AufnahmeTest, EveryBlockStillQueuedAtTheStopReachesTheChunksOfBothChannels) {
    // The queues back up behind a host that does not read; the stop comes while they
    // are full, and the host reads again only once the stop has begun.
    szenario_.mikrofon.quelle =
        SimQuelle::ausPlan(plan(sprachaehnlich(10.0, 48000, 5), 48000, 1, 480));
    szenario_.systemAudio.quelle =
        SimQuelle::ausPlan(plan(sprachaehnlich(30.0, 48000, 6), 48000, 2, 480));
    VollerHost host(mit_.logFd());
    starte({"--kein-echo", "--legacy-chunks", "--chunk", "1"});
    ASSERT_TRUE(umgebung_.mikrofon->warte([](const auto& a) { return a.erschoepft; }, 10s));
    ASSERT_TRUE(umgebung_.systemAudio->warte([](const auto& a) { return a.erschoepft; }, 10s));
    aufnahme_->shutdown();
    std::this_thread::sleep_for(200ms);
    host.liesAb();
    EXPECT_EQ(aufnahme_->warteAufEnde(), 0);
    const auto alle = host.zeilen();
    ASSERT_FALSE(alle.empty());
    EXPECT_EQ(alle.back()["event"], "done");
    EXPECT_EQ(chunkSamples(chunks(alle, "them")), aufnahme_->zeitThem().geschrieben());
    EXPECT_EQ(chunkSamples(chunks(alle, "me")), aufnahme_->zeitMe().geschrieben());
}

}  // namespace
}  // namespace hoerspur
