#include "recorder/video/eingabe.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

namespace hoerspur {
namespace {

using Json = nlohmann::json;

Json zoomFenster() {
    return Json::parse(R"({"id": 4294967295, "titel": "Zoom Meeting", "bundle": "us.zoom.xos",
        "app": "zoom.us", "x": -12.5, "y": 40, "breite": 1280, "hoehe": 800.0,
        "sichtbar": true, "ebene": -3})");
}

std::optional<Eingabe> lies(const Json& fenster) {
    return leseEingabe(Json{{"fenster", Json::array({fenster})}}.dump());
}

TEST(Eingabe, DecodesEveryFieldAndIgnoresKeysItDoesNotKnow) {
    Json f = zoomFenster();
    f["farbe"] = "blau";
    const std::optional<Eingabe> e =
        leseEingabe(Json{{"fenster", Json::array({f, f})}, {"version", 2}}.dump());
    ASSERT_TRUE(e);
    ASSERT_EQ(e->fenster.size(), 2u);
    EXPECT_EQ(e->fenster[0], FensterInfo(4294967295u, "Zoom Meeting", "us.zoom.xos", "zoom.us",
                                         -12.5, 40, 1280, 800, true, -3));
    EXPECT_TRUE(leseEingabe(R"({"fenster": []})"));
    // Integral values written as decimals are the same integers.
    f["id"] = 7.0;
    f["ebene"] = 1e2;
    ASSERT_TRUE(lies(f));
    EXPECT_EQ(lies(f)->fenster[0].ebene, 100);
}

TEST(Eingabe, EveryKeyIsRequiredWithItsExactType) {
    for (const char* schluessel :
         {"id", "titel", "bundle", "app", "x", "y", "breite", "hoehe", "sichtbar", "ebene"}) {
        Json f = zoomFenster();
        f.erase(schluessel);
        EXPECT_FALSE(lies(f)) << "ohne " << schluessel;
        f[schluessel] = nullptr;
        EXPECT_FALSE(lies(f)) << schluessel << " null";
    }
    const std::pair<const char*, Json> falsch[] = {
        {"id", -1},
        {"id", 4294967296.0},
        {"id", 0.5},
        {"id", "7"},
        {"ebene", 0.5},
        {"ebene", 1e19},
        {"ebene", true},
        {"x", "1"},
        {"breite", false},
        {"sichtbar", 1},
        {"sichtbar", "true"},
        {"titel", 5},
        {"bundle", Json::array()},
        {"app", Json::object()},
    };
    for (const auto& [schluessel, wert] : falsch) {
        Json f = zoomFenster();
        f[schluessel] = wert;
        EXPECT_FALSE(lies(f)) << schluessel << " = " << wert.dump();
    }
    // JSON has no infinity; a literal beyond double's range is not a finite number.
    std::string text = Json{{"fenster", Json::array({zoomFenster()})}}.dump();
    text.replace(text.find("\"breite\":1280"), 13, "\"breite\":1e999");
    EXPECT_FALSE(leseEingabe(text));
}

TEST(Eingabe, DocumentsThatAreNoWindowListAreRefusedWithoutHarm) {
    EXPECT_FALSE(leseEingabe(""));
    EXPECT_FALSE(leseEingabe("[]"));
    EXPECT_FALSE(leseEingabe(R"({"fenster": {}})"));
    EXPECT_FALSE(leseEingabe(R"({"fenster": [1]})"));
    EXPECT_FALSE(leseEingabe(R"({"Fenster": []})"));
    EXPECT_FALSE(leseEingabe(R"({"fenster": []} x)"));
    EXPECT_FALSE(leseEingabe("{\"fenster\": [], \"t\": \"\xC3\x28\"}"));  // not UTF-8

    // Deep nesting ends neither in a stack overflow nor in a huge tree.
    const std::string tief =
        R"({"fenster": [], "x": )" + std::string(200000, '[') + std::string(200000, ']') + "}";
    EXPECT_FALSE(leseEingabe(tief));

    // A document past the limit is refused unread, even a valid one.
    std::string gross = R"({"fenster": [], "rest": ")";
    gross.append(MAX_EINGABE_BYTES, 'a');
    gross += "\"}";
    EXPECT_FALSE(leseEingabe(gross));
}

}  // namespace
}  // namespace hoerspur
