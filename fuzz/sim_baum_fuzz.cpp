// The simulated-tree reader on arbitrary JSON text: a scenario is read or refused
// with SzenarioFehler, never crashes; what it accepts can be walked.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/sim/sim_baum_szenario.h"

namespace {

void gehe(hoerspur::SimBarrierefreiheit& bf, const hoerspur::BfElement& e, int tiefe, int& knoten) {
    if (tiefe > 300 || ++knoten > 20000) return;
    for (const char* name : {"AXRole", "AXTitle", "AXWindows", "AXFocusedWindow"}) bf.lies(e, name);
    bf.fuehreAus(e, "AXPress");
    const hoerspur::BfWert kinder = bf.lies(e, "AXChildren");
    if (const auto* liste = std::get_if<std::vector<hoerspur::BfElement>>(&kinder)) {
        for (const auto& k : *liste) gehe(bf, k, tiefe + 1, knoten);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* daten, std::size_t groesse) {
    const std::string_view text(reinterpret_cast<const char*>(daten), groesse);
    try {
        hoerspur::SimBaumSzenario s = hoerspur::parseSimBaum(text);
        std::vector<std::int32_t> pids;
        for (const auto& a : s.anwendungen) pids.push_back(a.pid);
        hoerspur::SimUhr uhr(0.0, false);
        hoerspur::SimBarrierefreiheit bf(std::move(s), uhr);
        (void)bf.prozessListe();
        for (const std::int32_t pid : pids) {
            int knoten = 0;
            gehe(bf, bf.anwendung(pid), 0, knoten);
        }
    } catch (const hoerspur::SzenarioFehler&) {
    }
    return 0;
}
