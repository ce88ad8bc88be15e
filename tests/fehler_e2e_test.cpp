// The shipped recorder under faults, end to end: each case a short story against
// the real binary and a private sound server (scripts/pulse-fixture), with what the
// host relies on asserted: the exit status and the "error" line, nothing truncated,
// no corrupt or empty WAV left, "done" last, both channels aligned.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
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
namespace fs = std::filesystem;

constexpr double kRate = 16000;

// The samples of a WAV file whose header declares exactly what the file holds, at
// least one sample; nothing (and a test failure) for anything else.
std::optional<std::vector<float>> ganzeWav(const std::string& pfad) {
    const std::string bytes = liesDatei(pfad);
    auto u32 = [&](std::size_t o) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[o])) |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[o + 1])) << 8 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[o + 2])) << 16 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[o + 3])) << 24;
    };
    if (bytes.size() < 46 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0 ||
        u32(4) != bytes.size() - 8 || u32(40) != bytes.size() - 44) {
        ADD_FAILURE() << pfad << ": " << bytes.size() << " bytes, header does not match";
        return std::nullopt;
    }
    return liesWav(pfad);
}

class Fehlerfall : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(quellenOrdner().empty()) << "HOERSPUR_QUELLEN fehlt";
        dir_ = neuerOrdner("hs-fehler");
        ASSERT_FALSE(dir_.empty());
        chmod(dir_.c_str(), 0755);  // "nobody" must reach the folders below
        ton_.emplace(dir_ + "/ton");
        ordner_ = dir_ + "/aufnahme";
        unsetenv("PULSE_SOURCE");
    }

    void TearDown() override {
        ton_.reset();
        if (!HasFailure()) sh("rm -rf " + dir_);
    }

    void starteServer() { ASSERT_TRUE(ton_->starte("gleich")); }

    // Plays a sox-made signal into the default sink on a thread of its own.
    void spiele(const std::string& soxSynth) {
        const std::string datei = dir_ + "/signal" + std::to_string(zaehler_++) + ".wav";
        ASSERT_EQ(sh("sox -q -n -r 48000 -c 2 " + datei + " " + soxSynth), 0);
        ton_->spieleImHintergrund("fern", datei);
    }
    void warteAufSpieler() { ton_->warteAufSpieler(); }

    // What the host finds in the folder after a stop: every announced chunk is a
    // whole WAV, every chunk file was announced, and no hidden leftovers.
    void pruefeChunks(Rekorder& r) {
        std::set<std::string> angekuendigt;
        for (const char* k : {"me", "them"}) {
            for (const auto& [index, c] : r.chunks(k)) {
                const std::string pfad = c["path"].get<std::string>();
                angekuendigt.insert(pfad);
                const auto samples = ganzeWav(pfad);
                ASSERT_TRUE(samples) << pfad;
                const double dauer = c["t1"].get<double>() - c["t0"].get<double>();
                EXPECT_NEAR(static_cast<double>(samples->size()), dauer * kRate, 0.01 * kRate);
            }
        }
        for (const auto& e : fs::directory_iterator(ordner_)) {
            const std::string name = e.path().filename().string();
            EXPECT_NE(name[0], '.') << name;
            if (name.rfind("chunk_", 0) == 0) {
                EXPECT_TRUE(angekuendigt.count(e.path().string())) << name;
            }
        }
    }

    std::string dir_;
    std::string ordner_;
    std::optional<PulseFixtur> ton_;
    int zaehler_ = 0;
};

// The only line of a run refused before capture.
void erwarteNurFehler(Rekorder& r, const std::string& meldung) {
    EXPECT_EQ(r.warteAufEnde(30s), 2) << r.log();
    const auto zeilen = r.zeilen();
    ASSERT_EQ(zeilen.size(), 1u) << r.ausgabe();
    EXPECT_EQ(zeilen[0], json({{"event", "error"}, {"message", meldung}}));
    EXPECT_EQ(r.log().find("Capture gestartet"), std::string::npos);
}

TEST_F(Fehlerfall, AFolderThatCannotTakeTheCallIsAnErrorBeforeAnyCapture) {
    starteServer();
    std::ofstream(dir_ + "/datei") << "x";
    fs::create_directory(dir_ + "/schreibgeschuetzt");
    chmod((dir_ + "/schreibgeschuetzt").c_str(), 0555);
    std::string lang = dir_;
    while (lang.size() < 4096 - 40) lang += "/" + std::string(200, 'l');
    lang.resize(4096 - 40);
    struct Fall {
        std::string out;
        std::string meldung;
        bool alsNobody = false;
    };
    const Fall faelle[] = {
        {dir_ + "/datei", "\" nicht anlegbar: Not a directory"},
        {"/proc/hoerspur", "\" nicht anlegbar: No such file or directory"},
        {lang, "\": Pfad zu lang fuer die Chunk-Dateien: File name too long"},
        // Root may write anywhere: as the unprivileged user when the tests run as root.
        {dir_ + "/schreibgeschuetzt", "\" nicht beschreibbar: Permission denied", true},
    };
    for (const Fall& f : faelle) {
        Rekorder::Start start;
        start.optionen = {"--out", f.out, "--no-video"};
        start.alsNobody = f.alsNobody;
        Rekorder r(dir_, start);
        erwarteNurFehler(r, "Ausgabeordner \"" + f.out + f.meldung);
        EXPECT_NE(r.log().find("[hoerspur] Ausgabeordner \"" + f.out), std::string::npos);
    }
    EXPECT_TRUE(fs::is_empty(dir_ + "/schreibgeschuetzt"));
}

TEST_F(Fehlerfall, ASecondRecorderOnTheSameFolderIsTurnedAwayAndTheFirstCallStaysIntact) {
    starteServer();
    Rekorder erster(dir_, {"--no-video", "--kein-echo"});
    ASSERT_TRUE(erster.warteAuf("started", 30s)) << erster.log();
    spiele("synth 3 pinknoise vol 0.3");
    fs::create_directory(dir_ + "/zweiter");
    Rekorder::Start start;
    start.optionen = {"--out", ordner_, "--no-video"};
    // Its own standard streams: the first recorder's stay as they are.
    Rekorder zweiter(dir_ + "/zweiter", start);
    erwarteNurFehler(
        zweiter, "Ausgabeordner \"" + ordner_ + "\" wird schon von einer anderen Aufnahme benutzt");
    warteAufSpieler();
    ASSERT_EQ(erster.stoppe(), 0) << erster.log();
    EXPECT_EQ(erster.zeilen().back(), json({{"event", "done"}}));
    pruefeChunks(erster);
    const auto roh = ganzeWav(ordner_ + "/mikro_roh.wav");
    ASSERT_TRUE(roh);
    EXPECT_GT(roh->size(), 2.5 * kRate);
}

TEST_F(Fehlerfall, AfterASoundServerRestartBothChannelsComeBackAlignedAndTheGapIsReported) {
    starteServer();
    Rekorder r(dir_, {"--no-video", "--kein-echo", "--legacy-chunks", "--chunk", "2"});
    ASSERT_TRUE(r.warteAuf("started", 30s)) << r.log();
    spiele("synth 0.005 sine 1000 vol 0.9 pad 0.5 0.5");
    warteAufSpieler();
    std::this_thread::sleep_for(500ms);
    ASSERT_EQ(ton_->rufe("toete"), 0);
    std::this_thread::sleep_for(1500ms);
    ASSERT_TRUE(ton_->starte("gleich"));
    ASSERT_TRUE(r.warteAufLog("[hoerspur] System-Audio wieder verbunden", 15s)) << r.log();
    ASSERT_TRUE(r.warteAufLog("[hoerspur] Mikrofon wieder verbunden", 15s)) << r.log();
    std::this_thread::sleep_for(500ms);
    spiele("synth 0.005 sine 1000 vol 0.9 pad 0.5 0.5");
    warteAufSpieler();
    std::this_thread::sleep_for(500ms);
    ASSERT_EQ(r.stoppe(), 0) << r.log();

    const auto zeilen = r.zeilen();
    EXPECT_EQ(zeilen.back(), json({{"event", "done"}}));
    const auto zeitachse = r.ereignis("zeitachse");
    ASSERT_TRUE(zeitachse);
    for (const char* k : {"them", "me"}) {
        EXPECT_GE((*zeitachse)[k]["luecken"].get<int>(), 1) << zeitachse->dump();
        EXPECT_GE((*zeitachse)[k]["luecken_ms"].get<double>(), 1500) << zeitachse->dump();
    }
    const std::string log = r.log();
    EXPECT_NE(log.find("[hoerspur] SCStream gestoppt: "), std::string::npos) << log;
    EXPECT_NE(log.find("[hoerspur] Mikrofon gestoppt: "), std::string::npos) << log;
    pruefeChunks(r);

    // Both clicks, before and after the restart, sit at the same place in both
    // channels: "me" from the raw file, "them" rebuilt from its chunks.
    const auto me = ganzeWav(ordner_ + "/mikro_roh.wav");
    ASSERT_TRUE(me);
    const auto them = chunksAneinander(r, "them");
    ASSERT_TRUE(them);
    const std::size_t meA = ersterLauterSample(*me, 0.5f);
    const std::size_t themA = ersterLauterSample(*them, 0.5f);
    const std::size_t meB = ersterLauterSample(*me, 0.5f, meA + static_cast<std::size_t>(kRate));
    const std::size_t themB =
        ersterLauterSample(*them, 0.5f, themA + static_cast<std::size_t>(kRate));
    ASSERT_LT(meB, me->size());
    ASSERT_LT(themB, them->size());
    EXPECT_NEAR(static_cast<double>(meA), static_cast<double>(themA), 32);
    EXPECT_NEAR(static_cast<double>(meB), static_cast<double>(themB), 32);
    RecordProperty("versatz_nach_neustart_ms",
                   std::to_string((double(meB) - double(themB)) / kRate * 1000));
}

TEST_F(Fehlerfall, AHostThatClosesItsPipeNeitherEndsNorStallsTheRecording) {
    starteServer();
    Rekorder::Start start;
    start.optionen = {"--out", ordner_, "--no-video"};
    start.ausgabeInRohr = true;
    Rekorder r(dir_, start);
    ASSERT_TRUE(r.warteAuf("started", 30s)) << r.log();
    r.schliesseRohr();  // like `hoerspur ... | head -1`
    spiele("synth 3 pinknoise vol 0.3");
    warteAufSpieler();
    EXPECT_FALSE(r.beendet()) << r.log();
    ASSERT_EQ(r.stoppe(), 0) << r.log();
    const std::string log = r.log();
    EXPECT_NE(log.find("[hoerspur] Standardausgabe nicht schreibbar (Broken pipe): "
                       "Ereigniszeilen gehen verloren"),
              std::string::npos)
        << log;
    // The files are whole: the raw file's header declares all of it.
    const auto roh = ganzeWav(ordner_ + "/mikro_roh.wav");
    ASSERT_TRUE(roh);
    EXPECT_GT(roh->size(), 2.5 * kRate);
    for (const auto& e : fs::directory_iterator(ordner_)) {
        if (e.path().extension() == ".wav") {
            EXPECT_TRUE(ganzeWav(e.path().string()));
        }
    }
}

TEST_F(Fehlerfall, AHostThatStopsReadingNeverHoldsUpTheRecordingAndTheStopEndsInFiveSeconds) {
    starteServer();
    Rekorder::Start start;
    start.optionen = {"--out", ordner_, "--no-video", "--legacy-chunks", "--chunk", "1"};
    start.ausgabeInRohr = true;
    start.rohrVoll = true;  // not even "started" fits
    Rekorder r(dir_, start);
    r.liesNie();
    ASSERT_TRUE(r.warteAufLog("[hoerspur] System-Audio-Capture gestartet", 30s)) << r.log();
    spiele("synth 4 pinknoise vol 0.3");
    warteAufSpieler();
    const auto signal = std::chrono::steady_clock::now();
    EXPECT_EQ(r.stoppe(10s), 0) << r.log();
    const double sekunden =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - signal).count();
    EXPECT_LT(sekunden, 5.5);
    RecordProperty("stop_sekunden_ohne_leser", std::to_string(sekunden));
    // Capture and files went on all the same: about 4 s in the raw file and in chunks.
    const auto roh = ganzeWav(ordner_ + "/mikro_roh.wav");
    ASSERT_TRUE(roh);
    EXPECT_GT(roh->size(), 3.5 * kRate);
    int chunks = 0;
    for (const auto& e : fs::directory_iterator(ordner_)) {
        if (e.path().filename().string().rfind("chunk_", 0) == 0) {
            EXPECT_TRUE(ganzeWav(e.path().string()));
            ++chunks;
        }
    }
    EXPECT_GE(chunks, 6);
}

TEST_F(Fehlerfall, AFullDiskLosesNoAnnouncedChunkAndKeepsTheRawFilesHeaderTrue) {
    starteServer();
    // A file size limit stands in for a full disk: 80 kB, 2.5 s of audio per file.
    Rekorder::Start start;
    start.optionen = {"--out", ordner_, "--no-video", "--kein-echo"};
    start.dateiGrenzeBytes = 80 * 1024;
    Rekorder r(dir_, start);
    ASSERT_TRUE(r.warteAuf("started", 30s)) << r.log();
    // Turns of 1.5 s make chunks that fit; 5 s without a pause make chunks that do not.
    spiele("synth 1.5 pinknoise vol 0.3 pad 0 0.8 repeat 2");
    warteAufSpieler();
    spiele("synth 5 pinknoise vol 0.3");
    warteAufSpieler();
    ASSERT_EQ(r.stoppe(), 0) << r.log();

    EXPECT_EQ(r.zeilen().back(), json({{"event", "done"}}));
    const std::string log = r.log();
    const std::string rohFehler =
        "[hoerspur] Roh-Mikrofon-Schreibfehler: " + ordner_ + "/mikro_roh.wav: File too large\n";
    ASSERT_NE(log.find(rohFehler), std::string::npos) << log;
    EXPECT_EQ(log.find(rohFehler, log.find(rohFehler) + 1), std::string::npos);  // once
    EXPECT_NE(log.find("[hoerspur] WAV-Schreibfehler ("), std::string::npos) << log;
    EXPECT_NE(log.find(": File too large"), std::string::npos);
    pruefeChunks(r);
    EXPECT_FALSE(r.chunks("them").empty());
    // The raw file holds what fitted, and its header says so.
    const auto roh = ganzeWav(ordner_ + "/mikro_roh.wav");
    ASSERT_TRUE(roh);
    EXPECT_GT(roh->size(), 2.0 * kRate);
}

TEST_F(Fehlerfall, KilledMidCallEveryAnnouncedChunkIsWholeAndTheRawFileReadable) {
    starteServer();
    Rekorder r(dir_, {"--no-video", "--legacy-chunks", "--chunk", "1"});
    ASSERT_TRUE(r.warteAuf("started", 30s)) << r.log();
    spiele("synth 4 pinknoise vol 0.3");
    warteAufSpieler();
    r.signal(SIGKILL);
    EXPECT_EQ(r.warteAufEnde(10s), 128 + SIGKILL);

    // A line may have been lost with the process, a file written but not yet
    // announced; but every file there is whole, and every announced one is there.
    ASSERT_GE(r.chunks("them").size(), 2u);
    for (const auto& e : fs::directory_iterator(ordner_)) {
        const std::string name = e.path().filename().string();
        EXPECT_NE(name[0], '.') << name;
        if (name.rfind("chunk_", 0) == 0) {
            EXPECT_TRUE(ganzeWav(e.path().string())) << name;
        }
    }
    for (const char* k : {"me", "them"}) {
        for (const auto& [index, c] : r.chunks(k)) {
            EXPECT_TRUE(fs::exists(c["path"].get<std::string>()));
        }
    }
    // The raw file's header lags by at most a few seconds; what it declares reads.
    const auto roh = liesWav(ordner_ + "/mikro_roh.wav");
    ASSERT_TRUE(roh);
}

}  // namespace
}  // namespace hoerspur
