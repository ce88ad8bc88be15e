// One scan of the observed processes' accessibility trees: a depth-first walk
// under a budget of nodes, depth and time that collects the nodes carrying
// participant names and video tiles, and on request one text line per node.
//
// Main thread only; a Durchlauf belongs to one abtasten() call.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "observer/zeile.h"
#include "observer/zoom_prozess.h"
#include "platform/barrierefreiheit.h"

namespace hoerspur {

// The attributes read at every node, in this order.
inline constexpr std::array<std::string_view, 9> ATTRIBUTE = {
    "AXTitle",           "AXValue",   "AXDescription", "AXHelp",    "AXValueDescription",
    "AXRoleDescription", "AXSubrole", "AXIdentifier",  "AXSelected"};

// Seconds on a monotonic clock.
using MonoUhr = std::function<double()>;

// The walk of one process in one scan and its budget.
class Durchlauf {
  public:
    static constexpr int MAX_KNOTEN = 6000;
    static constexpr int MAX_TIEFE = 60;  // roots are level 1
    static constexpr double MAX_SEKUNDEN = 4.0;

    Durchlauf(MonoUhr uhr, int knotenBudget = MAX_KNOTEN, int tiefenBudget = MAX_TIEFE,
              double sekundenBudget = MAX_SEKUNDEN);

    // true, and from then on `gekappt`, once the node or time budget is spent.
    bool amEnde();

    // Owned by the walk that holds this Durchlauf.
    std::vector<Zeile> zeilen;
    int knoten = 0;
    bool gekappt = false;

    // fest nach dem Bau
    const int maxKnoten;
    const int maxTiefe;
    const double maxSekunden;

  private:
    MonoUhr uhr_;
    double startSekunden_;
};

struct Abtastung {
    std::vector<Zeile> zeilen;     // pre-order within a process, processes in order
    std::vector<std::string> roh;  // tree lines, only when asked for
    bool gekappt = false;          // a process walk hit its node or time budget
    int knoten = 0;                // nodes visited in all processes
};

// The message timeout for every call on an observed application, in seconds.
inline constexpr double ZEITLIMIT_SEKUNDEN = 1.5;

// Walks the tree of every process, in order. With `allesMitschreiben` every node
// with at least one attribute also becomes a tree line.
Abtastung abtasten(Barrierefreiheit& bf, const std::vector<ZoomProzess>& prozesse,
                   bool allesMitschreiben, const MonoUhr& uhr);

// Visits `element` at level `tiefe` and its subtree.
void gehe(Barrierefreiheit& bf, const BfElement& element, int tiefe, Durchlauf& d,
          bool allesMitschreiben, std::vector<std::string>& roh);

}  // namespace hoerspur
