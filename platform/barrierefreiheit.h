// The accessibility service of the desktop, as the observer uses it: a tree of
// elements per application, read attribute by attribute under a per-call
// messaging timeout, one attribute write and one action.
//
// Attribute and role names are those the observer reads ("AXRole", "AXTitle",
// "AXChildren", "AXButton", ...); each backend maps its own service onto them.
//
// Thread safety: one thread uses a Barrierefreiheit and its elements at a time.
// Failures never throw: a failed or timed-out call is a missing value or false.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace hoerspur {

// One element of an application's tree. Backends derive their own handles; the
// observer only passes them back. A handle stays usable as long as it is held,
// even when the element itself has gone (its reads then fail).
class BfKnoten {
  public:
    virtual ~BfKnoten() = default;
};
using BfElement = std::shared_ptr<const BfKnoten>;

// A value of another type than the ones below (a point, a size, a range):
// present, but nothing the observer reads.
struct BfAnderer {};

// The value of one attribute: missing (std::monostate, also for a failed call),
// a text, a number, a boolean, one element, a list of elements, or another type.
using BfWert = std::variant<std::monostate, std::string, double, bool, BfElement,
                            std::vector<BfElement>, BfAnderer>;

// Outcome of the trust check: whether this process may read other applications'
// trees, and if not, what is missing on this desktop (German, for the log).
struct BfFreigabe {
    bool vorhanden = false;
    std::string fehlt;
};

class Barrierefreiheit {
  public:
    virtual ~Barrierefreiheit() = default;

    // Whether this process may read the trees. Never asks the user.
    virtual BfFreigabe freigabe() = 0;

    // The application element of the process `pid`. Always an element; when no
    // application of that process is known its reads fail.
    virtual BfElement anwendung(std::int32_t pid) = 0;

    // Reads one attribute ("AXRole", "AXTitle", "AXChildren", ...).
    virtual BfWert lies(const BfElement& element, std::string_view attribut) = 0;

    // Writes a boolean attribute; false when refused or failed.
    virtual bool setze(const BfElement& element, std::string_view attribut, bool wert) = 0;

    // Performs an action ("AXPress"); false when the element has none or it failed.
    virtual bool fuehreAus(const BfElement& element, std::string_view aktion) = 0;

    // Every later call on elements of this element's application waits at most
    // `sekunden` for the application's answer.
    virtual void setzeZeitlimit(const BfElement& element, double sekunden) = 0;

    // Whether both handles name the same element.
    virtual bool gleich(const BfElement& a, const BfElement& b) = 0;

    // At the end of a run: undoes what setze() changed beyond the application
    // (a desktop-wide switch that would otherwise outlive the run). Bounded.
    virtual void stelleZurueck() {}
};

}  // namespace hoerspur
