#include "platform/linux/atspi_fehler.h"

namespace hoerspur {

PlattformFehler atspiFehler(const std::string& was, const DBusError* fehler) {
    if (fehler == nullptr || !dbus_error_is_set(fehler))
        return PlattformFehler(kAtspiDomain, 0, was);
    std::string text = was + ": " + (fehler->message != nullptr ? fehler->message : "");
    if (fehler->name != nullptr) text += std::string(" (") + fehler->name + ")";
    return PlattformFehler(kAtspiDomain, 1, text);
}

PlattformFehler atspiFehler(const std::string& was, const GError* fehler) {
    if (fehler == nullptr) return PlattformFehler(kAtspiDomain, 0, was);
    return PlattformFehler(kAtspiDomain, fehler->code,
                           was + ": " + (fehler->message != nullptr ? fehler->message : ""));
}

}  // namespace hoerspur
