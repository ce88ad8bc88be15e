// Soak: hours of simulated call through the whole recording (both captures,
// resampling, timelines, echo path, chunk files), paced like devices but many
// times faster than real time, with a drifting microphone clock and lost
// buffers. Reports compute seconds per hour of audio, resident memory after
// the first minutes and at the end, and how far the two channels are apart.
//
// HOERSPUR_SOAK_STUNDEN (default 2) and HOERSPUR_SOAK_ZEITRAFFER (default 30)
// change length and pace. Much faster paces outrun the echo path on a busy
// machine and then measure its queue, not the recording.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/sim/sim_plattform.h"
#include "recorder/capture/zeitachse.h"
#include "recorder/driver/aufnahme.h"
#include "tests/prozessorzeit.h"
#include "tests/zeilen_mitschnitt.h"

namespace {

using namespace hoerspur;

double umgebungsZahl(const char* name, double standard) {
    const char* text = std::getenv(name);
    return text != nullptr ? std::atof(text) : standard;
}

double residentMiB() {
    std::ifstream status("/proc/self/status");
    std::string zeile;
    while (std::getline(status, zeile)) {
        if (zeile.rfind("VmRSS:", 0) == 0) return std::atof(zeile.c_str() + 6) / 1024.0;
    }
    return 0.0;
}

SimPlan quelle(std::uint64_t seed, float amplitude, std::uint32_t kanaele, std::uint32_t puffer,
               double sekunden) {
    SimPlan p;
    p.signal = SimSignal::rauschen(seed, amplitude);
    p.format = AudioFormat{48000.0, kanaele, SampleArt::float32, false};
    p.pufferFrames = puffer;
    p.frames = static_cast<std::uint64_t>(sekunden * 48000.0);
    p.startSekunden = 1000.0;
    return p;
}

void BM_AufnahmeSoak(benchmark::State& state) {
    const double stunden = umgebungsZahl("HOERSPUR_SOAK_STUNDEN", 2.0);
    const double zeitraffer = umgebungsZahl("HOERSPUR_SOAK_ZEITRAFFER", 30.0);
    const double sekunden = stunden * 3600.0;

    for (auto _ : state) {
        char vorlage[] = "/tmp/hoerspur-soak-XXXXXX";
        const std::string ordner = mkdtemp(vorlage);

        // The far end is noise; the microphone hears it as an echo at half level.
        // Its clock runs 0.03 % fast and it loses one buffer in 5000.
        SimPlan mikro = quelle(11, 0.15f, 1, 4096, sekunden / 1.0003);
        mikro.drift = 0.0003;
        for (std::uint64_t k = 2500; k < *mikro.frames / 4096; k += 5000) mikro.weglassen.insert(k);
        SimSzenario szenario;
        szenario.mikrofon.quelle = SimQuelle::ausPlan(mikro);
        szenario.systemAudio.quelle = SimQuelle::ausPlan(quelle(11, 0.3f, 2, 480, sekunden));
        for (SimQuelle* q : {&szenario.mikrofon.quelle, &szenario.systemAudio.quelle}) {
            q->tempo = SimTempo::echtzeit;
            q->zeitraffer = zeitraffer;
        }
        SimUmgebung umgebung = baueSimPlattform(szenario);

        Config konfig;
        konfig.outDir = ordner;
        konfig.video = false;
        ZeilenMitschnitt mitschnitt;  // the chunk lines are not the point here

        const double cpuVorher = prozessorSekunden();
        std::atomic<bool> fertig{false};
        double rssNachAnlauf = 0.0;
        double rssSpitze = 0.0;
        std::thread waechter([&] {
            // "After the first minutes": ten minutes of audio.
            const double anlaufWand = 600.0 / zeitraffer;
            const auto start = std::chrono::steady_clock::now();
            while (!fertig) {
                const double rss = residentMiB();
                rssSpitze = std::max(rssSpitze, rss);
                const double wand =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                if (rssNachAnlauf == 0.0 && wand >= anlaufWand) rssNachAnlauf = rss;
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
        });

        {
            Aufnahme aufnahme(konfig, umgebung.plattform);
            aufnahme.starte();
            umgebung.mikrofon->warte([](const SimMikrofonAufrufe& a) { return a.erschoepft; },
                                     std::chrono::hours(24));
            umgebung.systemAudio->warte([](const SimSystemAudioAufrufe& a) { return a.erschoepft; },
                                        std::chrono::hours(24));
            aufnahme.shutdown();
            aufnahme.warteAufEnde();
            const double cpu = prozessorSekunden() - cpuVorher;
            fertig = true;
            waechter.join();

            const auto me = aufnahme.zeitMe().geschrieben();
            const auto them = aufnahme.zeitThem().geschrieben();
            state.counters["audio_stunden"] = stunden;
            state.counters["rechen_s_pro_audiostunde"] = cpu / stunden;
            state.counters["kernanteil_prozent"] = 100.0 * cpu / sekunden;
            state.counters["rss_nach_10min_MiB"] = rssNachAnlauf;
            state.counters["rss_spitze_MiB"] = rssSpitze;
            state.counters["rss_zuwachs_MiB"] = rssSpitze - rssNachAnlauf;
            state.counters["me_minus_them_samples"] = static_cast<double>(me - them);
            state.counters["them_minus_soll_samples"] =
                static_cast<double>(them) - sekunden * 16000.0;
            state.counters["me_luecken"] = static_cast<double>(aufnahme.zeitMe().luecken());
            state.counters["me_ueberlappungen"] =
                static_cast<double>(aufnahme.zeitMe().ueberlappungen());
        }
        std::filesystem::remove_all(ordner);
    }
}
BENCHMARK(BM_AufnahmeSoak)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
