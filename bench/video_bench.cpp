// Cost of the video path on Linux. Counters are ratios measured in one run:
// "kern_anteil" is process CPU seconds per second of video (0.10 = a tenth of
// one core); "server_kern_anteil" the X server's share for the same seconds.
//
// - Writer: 1280 x 800 pictures at 15 per second with a desktop background, a
//   moving square and a tile of drifting colours (a participant's video),
//   encoded as fast as the writer takes them, and the same paced in real time
//   (with the pictures the writer refused).
// - X11 stream (and stream plus writer): a window of our test client with the
//   same kind of moving content on a private Xvfb (scripts/x11-fixture), at the
//   output's size and at 1920 x 1080 (scaled).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <sys/wait.h>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/ffmpeg_video_schreiber.h"
#include "platform/linux/x11_fenster_aufnahme.h"
#include "platform/uhr.h"

namespace {

using namespace std::chrono_literals;
using hoerspur::BgraPuffer;

constexpr int kBreite = 1280;
constexpr int kHoehe = 800;
constexpr double kBildrate = 15.0;

double prozessorSekunden() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) * 1e-6;
}

// User and system seconds of another process, from /proc.
double prozessorSekundenVon(int pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const auto klammer = text.rfind(')');
    if (klammer == std::string::npos) return 0.0;
    std::istringstream rest(text.substr(klammer + 2));
    std::string feld;
    double utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> feld; ++i) {
        if (i == 14) utime = std::stod(feld);
        if (i == 15) stime = std::stod(feld);
    }
    return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// One second of pictures, made before measuring so that drawing is not counted.
std::vector<BgraPuffer> eineSekundeBilder() {
    std::vector<BgraPuffer> bilder(static_cast<std::size_t>(kBildrate));
    for (std::size_t k = 0; k < bilder.size(); ++k) {
        BgraPuffer& p = bilder[k];
        p.setzeGroesse(kBreite, kHoehe);
        for (int y = 0; y < kHoehe; ++y) {
            std::uint8_t* z = p.zeile(y);
            for (int x = 0; x < kBreite; ++x) {
                // A desktop: soft gradient with a fine static texture (text-like).
                const int textur = ((x * 7 + y * 13) % 23 < 3) ? 60 : 0;
                z[4 * x] = static_cast<std::uint8_t>(180 - y / 8 - textur);
                z[4 * x + 1] = static_cast<std::uint8_t>(170 - x / 16 - textur);
                z[4 * x + 2] = static_cast<std::uint8_t>(150 - textur);
                z[4 * x + 3] = 255;
            }
        }
        const int schritt = static_cast<int>(k) * 4;
        for (int y = 100; y < 100 + 360; ++y) {
            std::uint8_t* z = p.zeile(y);
            for (int x = 600; x < 600 + 640; ++x) {
                z[4 * x] = static_cast<std::uint8_t>((x / 16) * 8 + schritt * 3);
                z[4 * x + 1] = static_cast<std::uint8_t>((y / 16) * 12 + schritt * 2);
                z[4 * x + 2] = static_cast<std::uint8_t>((x / 16 + y / 16) * 6 + schritt);
            }
        }
        const int qx = 40 + static_cast<int>(k) * 30;
        for (int y = 600; y < 680; ++y) {
            std::uint8_t* z = p.zeile(y);
            for (int x = qx; x < qx + 80; ++x) z[4 * x] = z[4 * x + 1] = z[4 * x + 2] = 255;
        }
    }
    return bilder;
}

std::string neuerOrdner() {
    char vorlage[] = "/tmp/hs-videobench-XXXXXX";
    return mkdtemp(vorlage) != nullptr ? vorlage : "";
}

void BM_VideoSchreiberKodiert(benchmark::State& state) {
    const std::vector<BgraPuffer> bilder = eineSekundeBilder();
    const std::string ordner = neuerOrdner();
    constexpr int kBilder = 300;  // 20 s of video
    double cpu = 0, videoSekunden = 0;
    for (auto _ : state) {
        auto s = hoerspur::neuerFfmpegVideoSchreiber(ordner + "/video.mp4");
        s->fuegeEingangHinzu(hoerspur::H264Einstellungen{});
        if (!s->starteSchreiben()) {
            state.SkipWithError(s->fehlerText().c_str());
            std::filesystem::remove_all(ordner);
            return;
        }
        s->starteSitzung(0.0);
        const double start = prozessorSekunden();
        for (int k = 0; k < kBilder; ++k) {
            while (!s->bereitFuerMehr()) std::this_thread::sleep_for(200us);
            s->haengeAn(bilder[static_cast<std::size_t>(k) % bilder.size()].bild(), k / kBildrate);
        }
        s->beende();
        cpu += prozessorSekunden() - start;
        videoSekunden += kBilder / kBildrate;
        state.counters["datei_kbit_pro_s"] =
            static_cast<double>(std::filesystem::file_size(ordner + "/video.mp4")) * 8.0 / 1000.0 /
            (kBilder / kBildrate);
    }
    state.counters["kern_anteil"] = cpu / videoSekunden;
    std::filesystem::remove_all(ordner);
}

void BM_VideoSchreiberEchtzeit(benchmark::State& state) {
    const std::vector<BgraPuffer> bilder = eineSekundeBilder();
    const std::string ordner = neuerOrdner();
    constexpr double kSekunden = 10.0;
    double cpu = 0;
    int verworfen = 0, angeboten = 0;
    for (auto _ : state) {
        auto s = hoerspur::neuerFfmpegVideoSchreiber(ordner + "/video.mp4");
        s->fuegeEingangHinzu(hoerspur::H264Einstellungen{});
        s->starteSchreiben();
        const double start = prozessorSekunden();
        const double t0 = hoerspur::hostSekunden();
        s->starteSitzung(t0);
        for (int k = 0; k < kSekunden * kBildrate; ++k) {
            const double faellig = t0 + k / kBildrate;
            std::this_thread::sleep_for(
                std::chrono::duration<double>(std::max(0.0, faellig - hoerspur::hostSekunden())));
            ++angeboten;
            if (!s->haengeAn(bilder[static_cast<std::size_t>(k) % bilder.size()].bild(),
                             hoerspur::hostSekunden())) {
                ++verworfen;
            }
        }
        s->beende();
        cpu += prozessorSekunden() - start;
        state.SetIterationTime(kSekunden);
    }
    state.counters["kern_anteil"] = cpu / (kSekunden * static_cast<double>(state.iterations()));
    state.counters["verworfen_anteil"] = static_cast<double>(verworfen) / angeboten;
    std::filesystem::remove_all(ordner);
}

// A private X server with one window of the test client, for the stream benchmarks.
class Bildquelle {
  public:
    Bildquelle(const std::string& groesse) {
        skript_ = std::string(HOERSPUR_QUELLEN_DIR) + "/scripts/x11-fixture";
        dir_ = neuerOrdner();
        FILE* f = popen(
            (skript_ + " starte " + dir_ + " ohne-wm " + std::to_string(getpid())).c_str(), "r");
        char zeile[64] = {};
        if (f != nullptr && std::fgets(zeile, sizeof zeile, f) != nullptr) display_ = zeile;
        if (f != nullptr) pclose(f);
        while (!display_.empty() && display_.back() == '\n') display_.pop_back();
        if (display_.empty()) return;
        setenv("DISPLAY", display_.c_str(), 1);
        std::ifstream pid(dir_ + "/xvfb.pid");
        pid >> serverPid_;
        // The client lives while its standard input stays open.
        int aus[2], ein[2];
        if (pipe(aus) != 0 || pipe(ein) != 0) return;
        client_ = fork();
        if (client_ == 0) {
            dup2(ein[0], 0);
            dup2(aus[1], 1);
            close(aus[0]);
            close(ein[1]);
            execl(HS_TESTFENSTER_PFAD, HS_TESTFENSTER_PFAD, "--groesse", groesse.c_str(),
                  "--position", "0,0", "--bewegt", "--kachel", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(aus[1]);
        close(ein[0]);
        eingabe_ = ein[1];
        FILE* von = fdopen(aus[0], "r");
        if (von != nullptr && std::fgets(zeile, sizeof zeile, von) != nullptr) {
            std::sscanf(zeile, "fenster %u", &fenster_);
        }
        if (von != nullptr) std::fclose(von);
    }
    ~Bildquelle() {
        if (eingabe_ >= 0) close(eingabe_);
        if (client_ > 0) {
            kill(client_, SIGTERM);
            waitpid(client_, nullptr, 0);
        }
        if (!dir_.empty()) std::system((skript_ + " beende " + dir_).c_str());
        unsetenv("DISPLAY");
    }
    std::uint32_t fenster() const { return fenster_; }
    int serverPid() const { return serverPid_; }

  private:
    std::string skript_, dir_, display_;
    int serverPid_ = 0;
    pid_t client_ = -1;
    int eingabe_ = -1;
    std::uint32_t fenster_ = 0;
};

// state.range(0): window width (1280 at the output's size, 1920 scaled down);
// state.range(1): 1 when the pictures also go through the writer.
void BM_X11FensterStrom(benchmark::State& state) {
    const bool mitSchreiber = state.range(1) != 0;
    const std::string groesse = state.range(0) == 1280 ? "1280x800" : "1920x1080";
    Bildquelle quelle(groesse);
    if (quelle.fenster() == 0) {
        state.SkipWithError("Xvfb oder Testfenster startet nicht");
        return;
    }
    const std::string ordner = neuerOrdner();
    constexpr double kSekunden = 10.0;
    double cpu = 0, serverCpu = 0;
    std::atomic<int> vollstaendig{0}, verworfen{0};
    for (auto _ : state) {
        std::unique_ptr<hoerspur::VideoSchreiber> s;
        std::once_flag sitzung;
        if (mitSchreiber) {
            s = hoerspur::neuerFfmpegVideoSchreiber(ordner + "/video.mp4");
            s->fuegeEingangHinzu(hoerspur::H264Einstellungen{});
            s->starteSchreiben();
        }
        auto aufnahme = hoerspur::neueX11FensterAufnahme();
        const double start = prozessorSekunden();
        const double serverStart = prozessorSekundenVon(quelle.serverPid());
        auto strom = aufnahme->starteFensterStrom(
            quelle.fenster(), hoerspur::FensterStromKonfiguration{},
            [&](const hoerspur::FensterBild& b) {
                if (b.status != hoerspur::BildStatus::vollstaendig) return;
                ++vollstaendig;
                if (!s) return;
                std::call_once(sitzung, [&] { s->starteSitzung(b.praesentationSekunden); });
                if (!s->haengeAn(b.bild, b.praesentationSekunden)) ++verworfen;
            },
            [](const std::string&) {});
        std::this_thread::sleep_for(std::chrono::duration<double>(kSekunden));
        strom->stoppe();
        if (s) s->beende();
        cpu += prozessorSekunden() - start;
        serverCpu += prozessorSekundenVon(quelle.serverPid()) - serverStart;
        state.SetIterationTime(kSekunden);
    }
    const double sekunden = kSekunden * static_cast<double>(state.iterations());
    state.counters["kern_anteil"] = cpu / sekunden;
    state.counters["server_kern_anteil"] = serverCpu / sekunden;
    state.counters["bilder_pro_s"] = vollstaendig.load() / sekunden;
    if (mitSchreiber) {
        state.counters["verworfen_anteil"] =
            vollstaendig.load() > 0 ? static_cast<double>(verworfen.load()) / vollstaendig.load()
                                    : 0.0;
    }
    std::filesystem::remove_all(ordner);
}

}  // namespace

BENCHMARK(BM_VideoSchreiberKodiert)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_VideoSchreiberEchtzeit)->Iterations(1)->Unit(benchmark::kSecond)->UseManualTime();
BENCHMARK(BM_X11FensterStrom)
    ->Args({1280, 0})
    ->Args({1920, 0})
    ->Args({1920, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseManualTime();

BENCHMARK_MAIN();
