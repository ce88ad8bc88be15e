#include "recorder/video/fenster_info.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace hoerspur {

FensterInfo::FensterInfo(std::uint32_t id_, std::string titel_, std::string bundle_,
                         std::string app_, double x_, double y_, double breite_, double hoehe_,
                         bool sichtbar_, std::int64_t ebene_)
    : id(id_),
      titel(std::move(titel_)),
      bundle(std::move(bundle_)),
      app(std::move(app_)),
      x(x_),
      y(y_),
      breite(breite_),
      hoehe(hoehe_),
      sichtbar(sichtbar_),
      ebene(ebene_) {}

std::vector<FensterInfo> metadaten(const TeilbarerInhalt& inhalt) {
    std::vector<FensterInfo> liste;
    liste.reserve(inhalt.fenster.size());
    for (const TeilbaresFenster& f : inhalt.fenster) {
        if (!f.app) continue;
        // Sizes are reported non-negative whatever way round a frame was given.
        liste.emplace_back(f.id, f.titel.value_or(""), f.app->bundleId, f.app->name, f.rahmen.x,
                           f.rahmen.y, std::fabs(f.rahmen.breite), std::fabs(f.rahmen.hoehe),
                           f.aufBildschirm, f.ebene);
    }
    return liste;
}

std::optional<std::string_view> meetingApp(std::string_view bundle) {
    for (const MeetingBundle& m : MEETING_BUNDLES) {
        if (m.id == bundle) return m.name;
    }
    return std::nullopt;
}

bool istBrowser(std::string_view bundle) {
    return std::find(BROWSER_BUNDLES.begin(), BROWSER_BUNDLES.end(), bundle) !=
               BROWSER_BUNDLES.end() ||
           bundle.starts_with(CHROME_APP_PRAEFIX) || bundle.starts_with(EDGE_APP_PRAEFIX);
}

std::string anzeigeName(std::string_view bundle, std::string_view app) {
    if (const auto name = meetingApp(bundle)) return std::string(*name);
    return std::string(app.empty() ? bundle : app);
}

}  // namespace hoerspur
