#include "recorder/driver/config.h"

#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

namespace hoerspur {

namespace {

std::string aktuellerOrdner() {
    std::string puffer(256, '\0');
    while (true) {
        if (getcwd(puffer.data(), puffer.size()) != nullptr) {
            puffer.resize(std::strlen(puffer.c_str()));
            return puffer;
        }
        if (errno != ERANGE) return ".";  // removed working directory: write beside it
        puffer.resize(puffer.size() * 2);
    }
}

// Whole-argument C-locale strtod: no leading white space, no trailing text.
std::optional<double> leseZahl(const char* text) {
    if (text == nullptr || *text == '\0') return std::nullopt;
    switch (*text) {
        case ' ':
        case '\t':
        case '\n':
        case '\v':
        case '\f':
        case '\r':
            return std::nullopt;
        default:
            break;
    }
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    char* ende = nullptr;
    const double wert = cLocale != static_cast<locale_t>(0) ? strtod_l(text, &ende, cLocale)
                                                            : std::strtod(text, &ende);
    if (ende == text || *ende != '\0') return std::nullopt;
    return wert;
}

// Largest double below 2^63: products at or above it do not fit a signed 64-bit count.
constexpr double kGrenze64 = 9223372036854775808.0;

// The rest of the program multiplies durations and rates into sample counts; a
// value that makes such a count meaningless is treated like an unreadable number.
// Chunk lengths must also be positive: a zero length would cut empty chunks forever.
bool dauerBrauchbar(double sekunden, double rate) {
    if (!std::isfinite(sekunden) || sekunden < 0.0) return false;
    const double samples = sekunden * rate;
    return std::isfinite(samples) && samples < kGrenze64;
}

bool rateBrauchbar(double rate, const Config& c) {
    if (!std::isfinite(rate) || rate <= 0.0) return false;
    // Every duration already set must still give a representable sample count.
    for (double sekunden :
         {c.chunkSeconds, c.minSeconds, c.maxSeconds, c.silenceSeconds, c.videoWarten, 0.8}) {
        if (!dauerBrauchbar(sekunden, rate)) return false;
    }
    return true;
}

}  // namespace

Config::Config() : outDir(aktuellerOrdner()) {}

Config parseArgs(int argc, const char* const* argv) {
    Config c;
    if (argc < 2 || argv == nullptr) return c;

    enum class Art { Text, Zahl, Flag, OptionalText, Drei };
    enum class Feld {
        OutDir,
        Chunk,
        Rate,
        Max,
        VideoWarten,
        ChunkOrdner,
        FensterWahl,
        EchoDatei,
        LegacyChunks,
        Video,
        NoVideo,
        Echo,
        KeinEcho,
        KeinRohMikro,
        OhneNachfilter,
        FensterProbe,
        Alle,
        ZeitachseTest
    };
    struct Option {
        std::string_view text;
        Art art;
        Feld feld;
    };
    static constexpr Option kOptionen[] = {
        {"--out", Art::Text, Feld::OutDir},
        {"--chunk", Art::Zahl, Feld::Chunk},
        {"--rate", Art::Zahl, Feld::Rate},
        {"--legacy-chunks", Art::Flag, Feld::LegacyChunks},
        {"--max", Art::Zahl, Feld::Max},
        {"--video", Art::Flag, Feld::Video},
        {"--no-video", Art::Flag, Feld::NoVideo},
        {"--video-warten", Art::Zahl, Feld::VideoWarten},
        {"--echo", Art::Flag, Feld::Echo},
        {"--kein-echo", Art::Flag, Feld::KeinEcho},
        {"--kein-roh-mikro", Art::Flag, Feld::KeinRohMikro},
        {"--echo-datei", Art::Drei, Feld::EchoDatei},
        {"--ohne-nachfilter", Art::Flag, Feld::OhneNachfilter},
        {"--chunk-ordner", Art::OptionalText, Feld::ChunkOrdner},
        {"--fenster-probe", Art::Flag, Feld::FensterProbe},
        {"--alle", Art::Flag, Feld::Alle},
        {"--fenster-wahl", Art::OptionalText, Feld::FensterWahl},
        {"--zeitachse-test", Art::Flag, Feld::ZeitachseTest},
    };

    int i = 1;
    while (i < argc) {
        const char* arg = argv[i];
        const Option* option = nullptr;
        if (arg != nullptr) {
            for (const Option& o : kOptionen) {
                if (o.text == arg) {
                    option = &o;
                    break;
                }
            }
        }
        if (option == nullptr) {
            ++i;
            continue;
        }

        if (option->art == Art::Flag) {
            switch (option->feld) {
                case Feld::LegacyChunks:
                    c.turnMode = false;
                    break;
                case Feld::Video:
                    c.video = true;
                    break;
                case Feld::NoVideo:
                    c.video = false;
                    break;
                case Feld::Echo:
                    c.echo = true;
                    break;
                case Feld::KeinEcho:
                    c.echo = false;
                    break;
                case Feld::KeinRohMikro:
                    c.rohMikro = false;
                    break;
                case Feld::OhneNachfilter:
                    c.ohneNachfilter = true;
                    break;
                case Feld::FensterProbe:
                    c.fensterProbe = true;
                    break;
                case Feld::Alle:
                    c.alleFenster = true;
                    break;
                case Feld::ZeitachseTest:
                    c.zeitachseTest = true;
                    break;
                default:
                    break;
            }
            ++i;
            continue;
        }

        if (option->art == Art::Drei) {
            std::vector<std::string> werte;
            for (int k = 1; k <= 3 && i + k < argc; ++k) {
                werte.emplace_back(argv[i + k] != nullptr ? argv[i + k] : "");
            }
            const bool vollstaendig = werte.size() == 3;
            c.echoDatei = std::move(werte);
            if (!vollstaendig) break;
            i += 4;
            continue;
        }

        // Options with one value.
        if (i + 1 >= argc) {
            if (option->feld == Feld::ChunkOrdner) c.chunkOrdner.reset();
            if (option->feld == Feld::FensterWahl) c.fensterWahl.reset();
            break;
        }
        const char* wert = argv[i + 1] != nullptr ? argv[i + 1] : "";
        i += 2;

        switch (option->feld) {
            case Feld::OutDir:
                c.outDir = wert;
                break;
            case Feld::ChunkOrdner:
                c.chunkOrdner = std::string(wert);
                break;
            case Feld::FensterWahl:
                c.fensterWahl = std::string(wert);
                break;
            case Feld::Chunk:
                if (auto z = leseZahl(wert); z && *z > 0.0 && dauerBrauchbar(*z, c.sampleRate))
                    c.chunkSeconds = *z;
                break;
            case Feld::Max:
                if (auto z = leseZahl(wert); z && *z > 0.0 && dauerBrauchbar(*z, c.sampleRate))
                    c.maxSeconds = *z;
                break;
            case Feld::VideoWarten:
                if (auto z = leseZahl(wert); z && dauerBrauchbar(*z, c.sampleRate))
                    c.videoWarten = *z;
                break;
            case Feld::Rate:
                if (auto z = leseZahl(wert); z && rateBrauchbar(*z, c)) c.sampleRate = *z;
                break;
            default:
                break;
        }
    }
    return c;
}

bool istAufnahme(const Config& c) {
    return c.echoDatei.size() != 3 && !c.zeitachseTest && !c.fensterWahl && !c.fensterProbe;
}

}  // namespace hoerspur
