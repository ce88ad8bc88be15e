#include "platform/plattform_fehler.h"

#include <cstring>
#include <utility>

namespace hoerspur {

namespace {
std::string baueVollText(const std::string& domain, long code, const std::string& beschreibung) {
    return "Error Domain=" + domain + " Code=" + std::to_string(code) + " \"" + beschreibung + "\"";
}
}  // namespace

PlattformFehler::PlattformFehler(std::string domain, long code, std::string beschreibung)
    : std::runtime_error(baueVollText(domain, code, beschreibung)),
      domain_(std::move(domain)),
      code_(code),
      beschreibung_(std::move(beschreibung)),
      vollText_(what()) {}

PlattformFehler posixFehler(const std::string& was, int fehlerNummer) {
    char puffer[256];
    // The GNU strerror_r returns the text, which may or may not be in `puffer`.
    const char* grund = strerror_r(fehlerNummer, puffer, sizeof puffer);
    return PlattformFehler(kPosixDomain, fehlerNummer, was + ": " + grund);
}

}  // namespace hoerspur
