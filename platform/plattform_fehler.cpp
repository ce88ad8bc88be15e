#include "platform/plattform_fehler.h"

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

}  // namespace hoerspur
