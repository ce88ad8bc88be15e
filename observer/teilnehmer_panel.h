// The meeting client's participants button: found by its role and label, pressed
// to open the collapsed participants list (whose names are missing from the tree
// while it is closed) and pressed again to restore what the user left.
//
// Main thread only.
#pragma once

#include <optional>
#include <vector>

#include "observer/zoom_prozess.h"
#include "platform/barrierefreiheit.h"

namespace hoerspur {

// Budget of one root's search.
inline constexpr int KNOPF_MAX_TIEFE = 50;
inline constexpr int KNOPF_MAX_KNOTEN = 6000;

// The first element in pre-order under `element` (itself included) whose role
// contains "button" or "taste" and whose title, description, help or identifier
// contains "teilnehmer" or "participants" (all in lower case). `knoten` counts
// the visited elements across one root's search.
std::optional<BfElement> teilnehmerKnopf(Barrierefreiheit& bf, const BfElement& element, int tiefe,
                                         int& knoten);

// Presses the first participants button found in the processes' trees; true when
// a press succeeded, and then the pressed button goes to `gedrueckt` when given. A
// failing press moves on to the next root.
bool teilnehmerPanelUmschalten(Barrierefreiheit& bf, const std::vector<ZoomProzess>& prozesse,
                               BfElement* gedrueckt = nullptr);

}  // namespace hoerspur
