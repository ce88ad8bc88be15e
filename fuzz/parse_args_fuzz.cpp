// Arbitrary argument vectors: parsing must never crash and must keep every
// number it accepts usable as a sample count.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "recorder/driver/config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Arguments are separated by NUL bytes; a few option names are made likely.
    static const char* const kOptionen[] = {"--out",
                                            "--chunk",
                                            "--rate",
                                            "--legacy-chunks",
                                            "--max",
                                            "--video",
                                            "--no-video",
                                            "--video-warten",
                                            "--echo",
                                            "--kein-echo",
                                            "--kein-roh-mikro",
                                            "--echo-datei",
                                            "--ohne-nachfilter",
                                            "--chunk-ordner",
                                            "--fenster-probe",
                                            "--alle",
                                            "--fenster-wahl",
                                            "--zeitachse-test"};
    std::vector<std::string> teile{"hoerspur"};
    std::string aktuell;
    for (std::size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\0') {
            teile.push_back(aktuell);
            aktuell.clear();
        } else if (static_cast<unsigned char>(c) >= 0xE0 && aktuell.empty()) {
            teile.emplace_back(kOptionen[static_cast<unsigned char>(c) % 18]);
        } else {
            aktuell.push_back(c);
        }
    }
    teile.push_back(aktuell);
    std::vector<const char*> argv;
    for (const auto& t : teile) argv.push_back(t.c_str());

    const hoerspur::Config c = hoerspur::parseArgs(static_cast<int>(argv.size()), argv.data());
    if (!std::isfinite(c.sampleRate) || c.sampleRate <= 0) std::abort();
    for (double s : {c.chunkSeconds, c.maxSeconds, c.videoWarten}) {
        if (!std::isfinite(s) || s < 0 || !(s * c.sampleRate < 9.2e18)) std::abort();
    }
    if (c.echoDatei.size() > 3) std::abort();
    return 0;
}
