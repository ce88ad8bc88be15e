// Test helper: the files of a test: a new folder for them, a file's text and
// the lines of a text.
#pragma once

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace hoerspur {

// A new empty folder "/tmp/<name>-XXXXXX"; empty when none can be made.
inline std::string neuerOrdner(const std::string& name) {
    std::string vorlage = "/tmp/" + name + "-XXXXXX";
    return mkdtemp(vorlage.data()) != nullptr ? vorlage : "";
}

// The whole file, byte for byte; empty when it cannot be read.
inline std::string liesDatei(const std::string& pfad) {
    std::ifstream f(pfad, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// The lines of `text` without their line feeds; a last line without one
// counts as well.
inline std::vector<std::string> zeilenVon(const std::string& text) {
    std::vector<std::string> zeilen;
    std::istringstream s(text);
    for (std::string zeile; std::getline(s, zeile);) zeilen.push_back(zeile);
    return zeilen;
}

}  // namespace hoerspur
