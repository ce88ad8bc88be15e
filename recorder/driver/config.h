// The recorder's settings, read once from the command line and never changed after.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace hoerspur {

struct Config {
    std::string outDir;  // current working directory when the Config is made
    double chunkSeconds = 25.0;
    double sampleRate = 16000.0;
    bool turnMode = true;
    double minSeconds = 1.2;
    double maxSeconds = 4.0;
    double silenceSeconds = 0.6;
    float silenceRms = 0.006f;
    bool video = true;
    double videoWarten = 120.0;
    bool echo = true;
    bool rohMikro = true;
    std::vector<std::string> echoDatei;
    bool ohneNachfilter = false;
    std::optional<std::string> chunkOrdner;
    bool fensterProbe = false;
    bool alleFenster = false;
    std::optional<std::string> fensterWahl;
    bool zeitachseTest = false;

    Config();
};

// Parses an argument vector (index 0, the program path, is never examined).
// Never fails and never prints: unknown arguments are skipped, unreadable or
// unusable numbers leave the field as it was.
Config parseArgs(int argc, const char* const* argv);

// Whether the options select a recording rather than one of the side modes
// (--echo-datei with three paths, --zeitachse-test, --fenster-wahl, --fenster-probe).
bool istAufnahme(const Config& c);

}  // namespace hoerspur
