// The observer's three files in the call folder and its log:
//   "zoom-namen.jsonl"       one JSON object per scan, appended line by line;
//   "zoom-namen-befund.txt"  the findings report, rewritten whole;
//   "zoom-baum.txt"          the tree of the first scan, written once.
// Formats in docs/beobachter-dateien.md. A reader that opens a file at any
// moment sees whole lines: the JSON lines are appended with one write each, the
// other two files are replaced by renaming a complete new file over them.
//
// Main thread only. Write errors are not reported: the findings still reach
// standard error and the run goes on.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "observer/zeile.h"

namespace hoerspur {

inline constexpr const char* SPUR_DATEI = "zoom-namen.jsonl";
inline constexpr const char* BEFUND_DATEI = "zoom-namen-befund.txt";
inline constexpr const char* BAUM_DATEI = "zoom-baum.txt";
inline constexpr const char* LOG_PRAEFIX = "[zoom-namen] ";

// The JSON object of one row: "rolle", "name" (cleaned), "roh" (the label as
// read), then every attribute of the row.
nlohmann::ordered_json zeileAlsJson(const Zeile& zeile);

// The rows as one JSON array with sorted keys: equal texts mean equal rows.
std::string abdruck(const std::vector<Zeile>& zeilen);

// "2026-03-05T14:07:09Z" for milliseconds since 1970 (UTC, whole seconds).
std::string isoZeit(std::int64_t unixMs);

// Replaces the file at `pfad` by a complete new one with `inhalt`: written to a
// temporary file in the same folder, synced, renamed over the old one. false on
// any failure (the old file then stays as it was).
bool schreibeAtomar(const std::string& pfad, const std::string& inhalt);

// The findings report: lines collected in order, each logged when added.
class Befund {
  public:
    Befund(std::string pfad, std::function<std::int64_t()> unixMs);

    // Adds a line and writes "[zoom-namen] " + text to standard error.
    void befund(const std::string& text);
    // Rewrites the file: time stamp line, 72 hyphens, every line so far.
    void sichern();

    const std::vector<std::string>& zeilen() const { return zeilen_; }

  private:
    const std::string pfad_;
    const std::function<std::int64_t()> unixMs_;
    std::vector<std::string> zeilen_;
};

// The JSON-lines file. The first line of a run creates it empty (replacing an
// older run's file); a failed open drops the line and the next line tries again.
class Spur {
  public:
    explicit Spur(std::string pfad);
    ~Spur();
    Spur(const Spur&) = delete;
    Spur& operator=(const Spur&) = delete;

    // Appends the object as one compact line. A line that cannot be written
    // whole is cut off again, so the file always ends with a whole line.
    void schreibe(const nlohmann::ordered_json& zeile);
    void schliesse();

  private:
    const std::string pfad_;
    int fd_ = -1;
    std::int64_t laengeBytes_ = 0;  // file size after the last whole line
};

// Writes the tree dump: three header lines, 72 hyphens, the tree lines.
void schreibeBaumDatei(const std::string& pfad, const std::vector<std::string>& roh);

}  // namespace hoerspur
