// The recording's output folder, made ready before any capture starts and held for
// the whole recording: created with its parents, proven writable with an unnamed
// file, checked that the longest file path the recording makes in it fits, and
// locked (flock on the folder itself, no extra file) so that a second recorder
// cannot write into it at the same time.
//
// Owns the folder's descriptor; the lock lasts until the object is destroyed or the
// process ends. Not thread-safe; made and dropped on the main thread.
#pragma once

#include <cstddef>
#include <string>

namespace hoerspur {

class AusgabeOrdner {
  public:
    // The longest name the recording gives a file in the folder (chunk names with
    // any index, the hidden name a replaced chunk passes through).
    static constexpr std::size_t LAENGSTER_NAME = 64;

    // Throws PlattformFehler (domain "posix") whose description names the folder
    // and says what is wrong with it and why. An empty path is the working folder.
    static AusgabeOrdner oeffne(const std::string& pfad);

    AusgabeOrdner(AusgabeOrdner&& anderer) noexcept;
    AusgabeOrdner& operator=(AusgabeOrdner&&) = delete;
    AusgabeOrdner(const AusgabeOrdner&) = delete;
    AusgabeOrdner& operator=(const AusgabeOrdner&) = delete;
    // Releases the lock.
    ~AusgabeOrdner();

  private:
    explicit AusgabeOrdner(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace hoerspur
