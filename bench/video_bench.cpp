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

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/ffmpeg_video_schreiber.h"
#include "platform/linux/x11_fenster_aufnahme.h"
#include "platform/uhr.h"
#include "tests/dateien.h"
#include "tests/fixtur.h"
#include "tests/prozessorzeit.h"
#include "tests/testfenster.h"

namespace {

using namespace std::chrono_literals;
using hoerspur::BgraPuffer;
using hoerspur::prozessorSekunden;
using hoerspur::prozessorSekundenVon;

constexpr int kBreite = 1280;
constexpr int kHoehe = 800;
constexpr double kBildrate = 15.0;

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
    return hoerspur::neuerOrdner("hs-videobench");
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
    explicit Bildquelle(const std::string& groesse) : server_(neuerOrdner()) {
        server_.starte("ohne-wm");
        if (!server_.laeuft()) return;
        server_.setzeDisplay();
        serverPid_ = server_.serverPid();
        fenster_ = std::make_unique<hoerspur::Testfenster>(std::vector<std::string>{
            "--groesse", groesse, "--position", "0,0", "--bewegt", "--kachel"});
    }
    std::uint32_t fenster() const { return fenster_ ? fenster_->id() : 0; }
    int serverPid() const { return serverPid_; }

  private:
    hoerspur::X11Fixtur server_;
    int serverPid_ = 0;
    std::unique_ptr<hoerspur::Testfenster> fenster_;  // goes before its server
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
