#include "recorder/driver/echo_datei_modus.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "basis/ausgabe.h"
#include "basis/text.h"
#include "recorder/audiofiles/channel_chunker.h"
#include "recorder/audiofiles/wav_datei.h"
#include "recorder/driver/ereignisse.h"
#include "recorder/echo/echo_strecke.h"

namespace hoerspur {

namespace {

constexpr double RATE = 16000.0;
// 0.3 s per piece, reference first, as the live recording would deliver it.
constexpr std::size_t STUECK = 4800;

}  // namespace

int echoDateiModus(const Config& konfig, std::FILE* ergebnis) {
    const std::optional<std::vector<float>> mikro = liesWav(konfig.echoDatei[0]);
    const std::optional<std::vector<float>> referenz =
        mikro ? liesWav(konfig.echoDatei[1]) : std::nullopt;
    if (!mikro || !referenz) {
        log("[hoerspur] --echo-datei: WAV nicht lesbar");
        return 2;
    }

    EchoStrecke strecke(20);
    strecke.nachfilter(!konfig.ohneNachfilter);

    std::vector<float> ausgabe;
    ausgabe.reserve(mikro->size());

    std::unique_ptr<ChannelChunker> chunker;
    if (konfig.chunkOrdner) {
        std::error_code ignoriert;
        std::filesystem::create_directories(*konfig.chunkOrdner, ignoriert);
        // Turn mode with fixed limits, whatever the command line says for recordings.
        chunker = std::make_unique<ChannelChunker>(
            "me", *konfig.chunkOrdner, RATE, konfig.chunkSeconds, true, 1.2, 15.0, 0.6, 0.006f);
        chunker->gemeldet = [](const GeschriebenerChunk& chunk) { emit(zeileChunk(chunk)); };
    }
    strecke.ausgabe = [&](std::span<const float> samples, std::span<const bool> sprache) {
        ausgabe.insert(ausgabe.end(), samples.begin(), samples.end());
        if (chunker) chunker->append(samples, sprache);
    };

    const auto start = std::chrono::steady_clock::now();
    const std::size_t laenge = std::max(mikro->size(), referenz->size());
    for (std::size_t i = 0; i < laenge; i += STUECK) {
        if (i < referenz->size()) {
            strecke.referenz(std::span<const float>(*referenz).subspan(
                i, std::min(STUECK, referenz->size() - i)));
        }
        if (i < mikro->size()) {
            strecke.mikro(
                std::span<const float>(*mikro).subspan(i, std::min(STUECK, mikro->size() - i)));
        }
    }
    strecke.abschliessen();
    if (chunker) chunker->finalizeRemainder();

    try {
        writeWav(ausgabe, RATE, konfig.echoDatei[2]);
    } catch (const std::exception& fehler) {
        log(std::string("[hoerspur] --echo-datei: Schreiben fehlgeschlagen: ") + fehler.what());
        return 2;
    }

    const double rechenzeit =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::string zeile = zeileEchoDatei(
        strecke.statistik(), static_cast<double>(mikro->size()) / RATE, rechenzeit,
        static_cast<std::int64_t>(ausgabe.size()), chunker ? chunker->ohneSprache() : 0);
    zeile += '\n';
    std::fputs(zeile.c_str(), ergebnis);
    std::fflush(ergebnis);
    return 0;
}

}  // namespace hoerspur
