// The one error type of everything that touches the operating system or files.
// Backends turn native errors (errno, pa_context_errno, X errors) into it in one
// helper each; the side that catches it makes a log line, an event or an exit status.
#pragma once

#include <stdexcept>
#include <string>

namespace hoerspur {

class PlattformFehler : public std::runtime_error {
  public:
    // `beschreibung` is the short German text shown to people (event "message").
    PlattformFehler(std::string domain, long code, std::string beschreibung);

    const std::string& domain() const { return domain_; }
    long code() const { return code_; }
    const std::string& beschreibung() const { return beschreibung_; }
    // The full textual form for log lines: domain, code and description.
    // what() returns the same text.
    const std::string& vollText() const { return vollText_; }

  private:
    std::string domain_;
    long code_;
    std::string beschreibung_;
    std::string vollText_;
};

// Errors the recorder raises itself carry this domain.
inline constexpr const char* kFehlerDomain = "hoerspur";

// Errors the C library reports through errno (files, folders, descriptors).
inline constexpr const char* kPosixDomain = "posix";

// `was` (what failed, with the path it concerns) followed by ": " and the system's
// reason for `fehlerNummer` (an errno value, which becomes the code).
PlattformFehler posixFehler(const std::string& was, int fehlerNummer);

}  // namespace hoerspur
