// The shipped recorder end to end: the real binary against a private PulseAudio
// daemon (scripts/pulse-fixture), fed with synthesised speech, stopped by SIGTERM.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "recorder/audiofiles/wav_datei.h"
#include "tests/befehl.h"
#include "tests/dateien.h"
#include "tests/fixtur.h"
#include "tests/kanal_samples.h"
#include "tests/rekorder.h"

namespace hoerspur {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

constexpr double kRate = 16000;

// The channel as the host would rebuild it: every chunk at its start time.
std::vector<float> kanal(Rekorder& r, const std::string& name, std::size_t laenge) {
    std::vector<float> s(laenge, 0.0f);
    for (const auto& [index, c] : r.chunks(name)) {
        const auto daten = liesWav(c["path"].get<std::string>());
        if (!daten) continue;
        const auto start = static_cast<std::size_t>(std::lround(c["t0"].get<double>() * kRate));
        for (std::size_t i = 0; i < daten->size() && start + i < laenge; ++i) {
            s[start + i] = (*daten)[i];
        }
    }
    return s;
}

class Ende2Ende : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(quellenOrdner().empty()) << "HOERSPUR_QUELLEN fehlt";
        dir_ = neuerOrdner("hs-e2e");
        ASSERT_FALSE(dir_.empty());
        ton_.emplace(dir_ + "/ton");
        unsetenv("PULSE_SOURCE");
    }

    void TearDown() override {
        ton_.reset();
        unsetenv("PULSE_SOURCE");
        if (!HasFailure()) sh("rm -rf " + dir_);
    }

    void starteServer(const std::string& layout) { ASSERT_TRUE(ton_->starte(layout)); }

    // Speech of about `sekunden` s from `text`, as a WAV at `rate` Hz, `kanaele` channels.
    std::string sprache(const std::string& name, const std::string& stimme, const std::string& text,
                        double sekunden, int rate, int kanaele) {
        const std::string roh = dir_ + "/" + name + "_roh.wav";
        const std::string datei = dir_ + "/" + name + ".wav";
        EXPECT_EQ(sh("espeak-ng -v " + stimme + " -s 160 -w " + roh + " '" + text + "'"), 0);
        EXPECT_EQ(
            sh("sox -q " + roh + " -r " + std::to_string(rate) + " -c " + std::to_string(kanaele) +
               " " + datei + " repeat 20 trim 0 " + std::to_string(sekunden) + " norm -6"),
            0);
        return datei;
    }

    void spiele(const std::string& senke, const std::string& datei) {
        ton_->spieleImHintergrund(senke, datei);
    }
    void warteAufSpieler() { ton_->warteAufSpieler(); }

    std::string dir_;
    std::optional<PulseFixtur> ton_;
};

const char* kTextFern =
    "Guten Tag zusammen, wir beginnen mit dem Bericht aus dem Vertrieb. Die Zahlen des letzten "
    "Quartals liegen vor, und wir sollten zuerst den Zeitplan besprechen.";
const char* kTextNah =
    "Danke, ich habe dazu eine Frage. Koennen wir das Budget fuer das naechste Jahr heute noch "
    "festlegen, oder brauchen wir dafuer einen weiteren Termin?";

double energie(const std::vector<float>& s, std::size_t von, std::size_t bis) {
    double e = 0;
    for (std::size_t i = von; i < std::min(bis, s.size()); ++i) e += double(s[i]) * s[i];
    return e;
}

// Lag of `b` against `a` (samples, within ±suche) that correlates best over [von, von+n).
int besterVersatz(const std::vector<float>& a, const std::vector<float>& b, std::size_t von,
                  std::size_t n, int suche) {
    int bester = 0;
    double besteKorr = -1e300;
    for (int l = -suche; l <= suche; ++l) {
        double k = 0;
        for (std::size_t i = von; i < von + n; ++i) {
            const long j = static_cast<long>(i) + l;
            if (j < 0 || j >= static_cast<long>(b.size()) || i >= a.size()) continue;
            k += double(a[i]) * b[j];
        }
        if (k > besteKorr) {
            besteKorr = k;
            bester = l;
        }
    }
    return bester;
}

TEST_F(Ende2Ende, BothChannelsLineUpWithinTwoMillisecondsWithoutGapsOrOverlaps) {
    starteServer("gleich");
    const std::string rede = sprache("fern", "de", kTextFern, 30, 48000, 2);
    Rekorder r(dir_, {"--kein-echo", "--no-video", "--legacy-chunks", "--chunk", "5"});
    ASSERT_TRUE(r.warteAuf("started", 30s)) << r.log();
    spiele("fern", rede);
    warteAufSpieler();
    std::this_thread::sleep_for(500ms);
    ASSERT_EQ(r.stoppe(), 0) << r.log();

    const auto zeilen = r.zeilen();
    ASSERT_FALSE(zeilen.empty());
    EXPECT_EQ(zeilen.back(), json({{"event", "done"}}));
    const auto zeitachse = r.ereignis("zeitachse");
    ASSERT_TRUE(zeitachse);
    for (const char* k : {"them", "me"}) {
        EXPECT_EQ((*zeitachse)[k]["luecken"], 0) << zeitachse->dump();
        EXPECT_EQ((*zeitachse)[k]["ueberlappungen"], 0) << zeitachse->dump();
    }

    // Fixed chunks keep every sample, so "them" is the chunks end to end.
    const auto me = liesWav(dir_ + "/aufnahme/mikro_roh.wav");
    ASSERT_TRUE(me);
    const auto chunks = chunksAneinander(r, "them");
    ASSERT_TRUE(chunks);
    const std::vector<float>& them = *chunks;
    EXPECT_NEAR(double(them.size()), double(me->size()), 0.1 * kRate);

    // Half-second windows every two seconds through the speech.
    const std::size_t beginn = ersterLauterSample(them, 0.05f);
    int fenster = 0;
    int groessterVersatz = 0;
    for (std::size_t von = beginn; von + kRate < std::min(me->size(), them.size());
         von += 2 * static_cast<std::size_t>(kRate)) {
        if (energie(them, von, von + 8000) < 1.0) continue;
        const int v = besterVersatz(them, *me, von, 8000, 480);
        groessterVersatz = std::max(groessterVersatz, std::abs(v));
        ++fenster;
    }
    EXPECT_GE(fenster, 8);
    EXPECT_LE(groessterVersatz, 32) << "Versatz in Samples bei 16 kHz";
    RecordProperty("groesster_versatz_ms", std::to_string(groessterVersatz / kRate * 1000));
}

TEST_F(Ende2Ende, TheEchoOfTheFarEndIsRemovedFromTheMicrophone) {
    starteServer("getrennt");
    const std::string fern = sprache("fern", "de", kTextFern, 12, 48000, 2);
    const std::string nah = sprache("nah", "en", kTextNah, 10, 44100, 1);
    // The microphone hears the far end 40 ms later, dull and at half level,
    // and after it the near end alone.
    const std::string mikro = dir_ + "/mikro.wav";
    ASSERT_EQ(
        sh("sox -q " + fern + " -r 44100 -c 1 " + dir_ + "/echo.wav lowpass 3000 vol 0.5 pad 0.04"),
        0);
    ASSERT_EQ(sh("sox -q " + nah + " " + dir_ + "/nah_spaet.wav pad 13"), 0);
    ASSERT_EQ(sh("sox -q -m " + dir_ + "/echo.wav " + dir_ + "/nah_spaet.wav " + mikro), 0);

    Rekorder r(dir_, {"--no-video"});
    ASSERT_TRUE(r.warteAuf("started", 30s)) << r.log();
    spiele("fern", fern);
    spiele("mikro", mikro);
    warteAufSpieler();
    std::this_thread::sleep_for(500ms);
    ASSERT_EQ(r.stoppe(), 0) << r.log();

    // A sink that starts playing shifts the server's timing readings of its
    // monitor; the stamps must not follow that into the timeline.
    const auto zeitachse = r.ereignis("zeitachse");
    ASSERT_TRUE(zeitachse);
    for (const char* k : {"them", "me"}) {
        EXPECT_EQ((*zeitachse)[k]["luecken"], 0) << zeitachse->dump();
        EXPECT_EQ((*zeitachse)[k]["ueberlappungen"], 0) << zeitachse->dump();
    }
    const auto echo = r.ereignis("echo");
    ASSERT_TRUE(echo) << r.log();
    EXPECT_GT((*echo)["verzoegerung_ms"].get<double>(), 0.0) << echo->dump();

    const auto roh = liesWav(dir_ + "/aufnahme/mikro_roh.wav");
    ASSERT_TRUE(roh);
    const std::vector<float> me = kanal(r, "me", roh->size());
    const std::size_t t = ersterLauterSample(*roh, 0.02f);
    ASSERT_LT(t + 22 * kRate, roh->size());
    const auto s = [&](double sekunden) { return t + static_cast<std::size_t>(sekunden * kRate); };
    // Far end only, once the canceller had four seconds to learn the path.
    const double echoRoh = energie(*roh, s(4), s(11.5));
    const double echoMe = energie(me, s(4), s(11.5));
    ASSERT_GT(echoRoh, 1.0);
    const double daempfungDb = 10 * std::log10(echoRoh / std::max(echoMe, 1e-12));
    EXPECT_GE(daempfungDb, 20.0);
    // The near end alone passes.
    const double nahRoh = energie(*roh, s(13.5), s(21));
    const double nahMe = energie(me, s(13.5), s(21));
    ASSERT_GT(nahRoh, 1.0);
    EXPECT_GT(nahMe / nahRoh, 0.25) << "Nahsprache gedaempft";
    RecordProperty("echo_daempfung_db", std::to_string(daempfungDb));
}

TEST_F(Ende2Ende, WithoutASoundServerOnlyTheErrorLineAndStatusTwo) {
    setenv("PULSE_SERVER", ("unix:" + dir_ + "/gibt-es-nicht").c_str(), 1);
    Rekorder r(dir_, {"--no-video"});
    EXPECT_EQ(r.warteAufEnde(30s), 2) << r.log();
    const auto zeilen = r.zeilen();
    ASSERT_EQ(zeilen.size(), 1u);
    EXPECT_EQ(zeilen[0]["event"], "error");
    EXPECT_NE(zeilen[0]["message"].get<std::string>().find("Tonserver"), std::string::npos);
}

TEST_F(Ende2Ende, WithoutTheMicrophoneTheSystemAudioStillRecords) {
    starteServer("gleich");
    // The client's configured microphone is missing from the server.
    setenv("PULSE_SOURCE", "gibt-es-nicht", 1);
    const std::string rede = sprache("fern", "de", kTextFern, 4, 48000, 2);
    Rekorder r(dir_, {"--no-video"});
    ASSERT_TRUE(r.warteAuf("started", 30s)) << r.log();
    const auto degraded = r.ereignis("degraded");
    ASSERT_TRUE(degraded);
    EXPECT_EQ((*degraded)["channel"], "me");
    const auto started = r.ereignis("started");
    EXPECT_EQ((*started)["mic"], false);
    EXPECT_EQ((*started)["system"], true);
    spiele("fern", rede);
    warteAufSpieler();
    ASSERT_EQ(r.stoppe(), 0) << r.log();
    EXPECT_FALSE(r.chunks("them").empty());
    EXPECT_TRUE(r.chunks("me").empty());
    EXPECT_EQ(r.zeilen().back(), json({{"event", "done"}}));
}

}  // namespace
}  // namespace hoerspur
