// The desktop's accessibility service through AT-SPI (libatspi on the
// accessibility bus), mapped onto the attribute and role names the observer
// reads. docs/atspi-rollen.md lists the mapping.
//
// - The trust check is true when the accessibility bus and its registry answer;
//   it also connects libatspi to exactly that bus.
// - Writing "AXManualAccessibility" or "AXEnhancedUserInterface" true switches
//   the session's accessibility on (org.a11y.Status IsEnabled), which makes
//   toolkits that wait for it build their trees.
// - Every call on an application waits at most its messaging timeout.
//
// Thread safety: one thread at a time (libatspi is not thread-safe).
#pragma once

#include <memory>

#include "platform/barrierefreiheit.h"

namespace hoerspur {

// Connects lazily: nothing talks to a bus before freigabe().
std::unique_ptr<Barrierefreiheit> atspiBarrierefreiheit();

}  // namespace hoerspur
