#include "platform/linux/x11_eigenschaften.h"

#include <gtest/gtest.h>

#include <string>

namespace hoerspur {
namespace {

constexpr X11TextTypen TYPEN{301, 31, 302};  // UTF8_STRING, STRING, COMPOUND_TEXT
constexpr std::uint32_t CARDINAL = 6;
constexpr std::uint32_t ATOM = 4;

X11Eigenschaft e(std::uint32_t typ, std::uint8_t format, std::string_view bytes) {
    return {typ, format, bytes};
}

TEST(X11Eigenschaften, TitlesBecomeUtf8WhateverTheClientWrote) {
    using namespace std::string_literals;
    EXPECT_EQ(x11Text(e(301, 8, "Besprechung \xE2\x80\x93 Team"), TYPEN, true),
              "Besprechung \u2013 Team");
    EXPECT_EQ(x11Text(e(31, 8, "Caf\xE9"), TYPEN, false), "Caf\u00e9");  // Latin-1
    EXPECT_EQ(x11Text(e(302, 8, "Zoom Meeting"), TYPEN, false), "Zoom Meeting");
    EXPECT_EQ(x11Text(e(301, 8,
                        "A\xFF"
                        "B"),
                      TYPEN, true),
              "A\uFFFDB");
    EXPECT_EQ(x11Text(e(301, 8, "vorn\0hinten"s), TYPEN, true), "vorn");
    EXPECT_EQ(x11Text(e(301, 8, ""), TYPEN, true), "");
    // An EWMH name must be UTF-8; other types, formats or none read as absent.
    EXPECT_FALSE(x11Text(e(31, 8, "Caf\xE9"), TYPEN, true));
    EXPECT_FALSE(x11Text(e(301, 16, "abcd"), TYPEN, true));
    EXPECT_FALSE(x11Text(e(CARDINAL, 8, "abcd"), TYPEN, false));
    EXPECT_FALSE(x11Text(e(0, 8, "abcd"), TYPEN, false));
}

TEST(X11Eigenschaften, WmClassToleratesMissingTerminatorsAndWrongTypes) {
    using namespace std::string_literals;
    const auto k = x11WmKlasse(e(31, 8, "Navigator\0firefox\0"s), TYPEN);
    ASSERT_TRUE(k);
    EXPECT_EQ(k->instanz, "Navigator");
    EXPECT_EQ(k->klasse, "firefox");
    EXPECT_EQ(x11WmKlasse(e(31, 8, "zoom\0zoom"s), TYPEN)->klasse, "zoom");
    EXPECT_EQ(x11WmKlasse(e(31, 8, "nur-instanz"), TYPEN)->klasse, "");
    EXPECT_EQ(x11WmKlasse(e(301, 8, "\xC3\xBC\0K\xC3\xBC"s), TYPEN)->klasse, "K\u00fc");
    EXPECT_FALSE(x11WmKlasse(e(31, 8, "\0\0"s), TYPEN));
    EXPECT_FALSE(x11WmKlasse(e(31, 32, "zoom"), TYPEN));
    EXPECT_FALSE(x11WmKlasse(e(CARDINAL, 8, "zoom"), TYPEN));
}

TEST(X11Eigenschaften, ListsOf32BitValuesNeedTheirTypeAndFormat) {
    const std::uint32_t werte[2] = {4711, 0xFFFFFFFF};
    const std::string_view bytes(reinterpret_cast<const char*>(werte), sizeof werte);
    EXPECT_EQ(x11Werte32(e(CARDINAL, 32, bytes), CARDINAL),
              (std::vector<std::uint32_t>{4711, 0xFFFFFFFF}));
    EXPECT_EQ(x11Werte32(e(CARDINAL, 32, bytes.substr(0, 7)), CARDINAL).size(), 1u);
    EXPECT_TRUE(x11Werte32(e(CARDINAL, 8, bytes), CARDINAL).empty());
    EXPECT_TRUE(x11Werte32(e(ATOM, 32, bytes), CARDINAL).empty());
    EXPECT_TRUE(x11Werte32(e(0, 32, bytes), 0).empty());
}

TEST(X11Eigenschaften, LayerFollowsWindowTypeAndKeepAboveOrBelow) {
    const X11Zustand kein;
    X11Zustand oben;
    oben.oben = true;
    X11Zustand unten;
    unten.unten = true;
    X11Zustand modal;
    modal.modal = true;
    EXPECT_EQ(x11Ebene(X11FensterTyp::normal, kein), 0);
    EXPECT_EQ(x11Ebene(X11FensterTyp::dialog, kein), 0);
    EXPECT_EQ(x11Ebene(X11FensterTyp::splash, kein), 0);
    EXPECT_EQ(x11Ebene(X11FensterTyp::utility, kein), 3);
    EXPECT_EQ(x11Ebene(X11FensterTyp::toolbar, kein), 3);
    EXPECT_EQ(x11Ebene(X11FensterTyp::dock, kein), 20);
    EXPECT_EQ(x11Ebene(X11FensterTyp::notification, kein), 25);
    EXPECT_EQ(x11Ebene(X11FensterTyp::menu, kein), 101);
    EXPECT_EQ(x11Ebene(X11FensterTyp::tooltip, kein), 200);
    EXPECT_EQ(x11Ebene(X11FensterTyp::dnd, kein), 500);
    EXPECT_EQ(x11Ebene(X11FensterTyp::normal, oben), 3);
    EXPECT_EQ(x11Ebene(X11FensterTyp::normal, unten), -1);
    EXPECT_EQ(x11Ebene(X11FensterTyp::dialog, modal), 8);
    EXPECT_EQ(x11Ebene(X11FensterTyp::dock, unten), 20);  // below only lowers ordinary windows
    X11Zustand beides = oben;
    beides.unten = true;
    EXPECT_EQ(x11Ebene(X11FensterTyp::normal, beides), 3);
}

}  // namespace
}  // namespace hoerspur
