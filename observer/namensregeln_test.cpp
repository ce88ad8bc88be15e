// Which accessibility texts the observer takes for names, tiles and speakers:
// tables of texts as meeting clients write them, grouped by what must happen.
#include "observer/namensregeln.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/klammern_schritt_fuer_schritt.h"

namespace hoerspur {
namespace {

TEST(Namensregeln, PeoplesNamesAsClientsShowThemPass) {
    for (const char* name : {
             "Anna Berg", "Jean-Luc Favre",
             "\xC3\x89lodie",                 // Élodie
             "M\xC3\xBCller & S\xC3\xB6hne",  // Müller & Söhne
             "Zo\xC3\xAB M\xC3\xBCller-\xC5\x9E"
             "ahin",                                            // Zoë Müller-Şahin
             "\xC5\x81ukasz \xC5\xBB\xC3\xB3\xC5\x82\xC4\x87",  // Łukasz Żółć
             "\xE7\x8E\x8B\xE5\xB0\x8F\xE8\x8A\xB3",            // 王小芳: letters outside ASCII
             "\xD0\x9E\xD0\xBB\xD1\x8C\xD0\xB3\xD0\xB0 "
             "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2\xD0\xB0",
             "Anna Berg (Host, me)",  // trailing groups do not count
             "Anna Berg (Gast) (Ich)",
             "  Carla Diaz\n",         // surrounding white space
             "O'Neil \xC2\xB7 Smith",  // the middle dot is a connector word
             "Zoe\xCC\x88 Berg",       // decomposed ë is one character
         }) {
        EXPECT_TRUE(siehtWieNameAus(name)) << name;
    }
}

TEST(Namensregeln, NoiseOfTheInterfaceIsNoName) {
    for (const char* text : {
             // too short, too long, empty after the groups
             "Al",
             "Jo",
             "Z\xCC\x88o",  // 2 characters
             "(Gast)",
             "   ",
             // digits of any script: times, counts, rooms
             "10:45",
             "Raum 3",
             "Teams 12",
             "Anna \xD9\xA3",  // Arabic-Indic three
             // interface words, matched as plain substrings
             "Meeting Room",
             "Stummschalten",
             "Chat",
             "Einladen",
             "Teilnehmer (3)",
             "Ansicht",
             "Barbara",
             "Grouper",
             "Textmarker",
             // structure of the words
             "anna berg",
             "Anna berg",
             "Anna Maria Berg Tal Ost",
             "\xC2\xBF"
             "Anna?",
         }) {
        EXPECT_FALSE(siehtWieNameAus(text)) << text;
    }
    const std::string lang48 = "Anne" + std::string(44, 'e');
    EXPECT_TRUE(siehtWieNameAus(lang48));
    EXPECT_FALSE(siehtWieNameAus(lang48 + "e"));
}

TEST(Namensregeln, NoteTakingBotsAreRejectedInAnyCase) {
    for (const char* bot : {"Fireflies Notetaker", "Otter.ai", "READ.AI Notes", "Fathom",
                            "Tl;dv Recorder", "Meeting Bot", "Zoom AI Companion", "Notetaker"}) {
        EXPECT_TRUE(istMeetingBot(bot)) << bot;
        EXPECT_FALSE(siehtWieNameAus(bot)) << bot;
    }
    EXPECT_FALSE(istMeetingBot("Otto Reader"));
}

TEST(Namensregeln, TrailingGroupsGoOneAfterTheOther) {
    const std::vector<std::pair<std::string, std::string>> faelle = {
        {"Anna Berg (Gast)", "Anna Berg"},
        {"Anna Berg (Gast) (Ich)", "Anna Berg"},
        {"Anna (extern) Berg", "Anna  Berg"},
        {"Anna) (Berg", "Anna) (Berg"},
        {"Anna (Berg", "Anna (Berg"},
        {"  Anna  ", "  Anna  "},  // nothing removed, nothing trimmed
        {"(a) Anna \t", "Anna"},
        {"Anna ((x) y)", "Anna ("},
    };
    for (const auto& [ein, aus] : faelle) EXPECT_EQ(ohneKlammerGruppen(ein), aus) << ein;
}

TEST(Namensregeln, TrailingGroupRemovalMatchesTheStepByStepRule) {
    std::mt19937 zufall(7);
    const char zeichen[] = {'(', ')', ' ', '\t', 'a', 'b'};
    for (int i = 0; i < 20000; ++i) {
        std::string t(zufall() % 14, ' ');
        for (char& z : t) z = zeichen[zufall() % sizeof zeichen];
        ASSERT_EQ(ohneKlammerGruppen(t), klammernSchrittFuerSchritt(t)) << "[" << t << "]";
    }
}

TEST(Namensregeln, LongRunsOfGroupsCostLinearTime) {
    std::string t = "Anna";
    for (int i = 0; i < 200000; ++i) t += " (x)";
    EXPECT_EQ(ohneKlammerGruppen(t), "Anna");
    EXPECT_TRUE(siehtWieNameAus(t));
}

struct KachelFall {
    const char* rolle;
    const char* beschreibung;  // nullptr: attribute missing
    const char* rollenText;    // AXRoleDescription, nullptr: missing
    std::optional<Kachel> erwartet;
};

TEST(Namensregeln, VideoTilesNameTheirPersonAndTheSpeaker) {
    const std::vector<KachelFall> faelle = {
        {"AXTabGroup", "Anna Berg, Video on, Active speaker", nullptr, Kachel{"Anna Berg", true}},
        {"AXTabGroup", "Anna Berg, Video off", nullptr, Kachel{"Anna Berg", false}},
        {"AXTabGroup", "Jean-Luc Favre, Stummschaltung aktiv, Aktiver Sprecher", nullptr,
         Kachel{"Jean-Luc Favre", true}},
        {"AXTabGroup", "  \xC3\x89lodie Dubois , muted", nullptr,
         Kachel{"\xC3\x89lodie Dubois", false}},
        {"AXTabGroup", "Carla Diaz", "video render", Kachel{"Carla Diaz", false}},
        {"AXTabGroup", "Anna Berg (Host), Video on", nullptr, Kachel{"Anna Berg (Host)", false}},
        // not a tile: no tile words, another role, no description
        {"AXTabGroup", "Anna Berg", "tab group", std::nullopt},
        {"AXGroup", "Anna Berg, Video on, Active speaker", nullptr, std::nullopt},
        {"AXTabGroup", nullptr, "video", std::nullopt},
        {"AXTabGroup", "", "video", std::nullopt},
        // a tile whose person is no name
        {"AXTabGroup", "Fireflies Notetaker, Video on", nullptr, std::nullopt},
        {"AXTabGroup", "Raum 3, Video off", nullptr, std::nullopt},
    };
    for (const KachelFall& f : faelle) {
        Felder felder;
        if (f.beschreibung) felder["AXDescription"] = f.beschreibung;
        if (f.rollenText) felder["AXRoleDescription"] = f.rollenText;
        const auto k = kachelName(f.rolle, felder);
        ASSERT_EQ(k.has_value(), f.erwartet.has_value())
            << f.rolle << " " << (f.beschreibung ? f.beschreibung : "-");
        if (k) {
            EXPECT_EQ(k->name, f.erwartet->name);
            EXPECT_EQ(k->spricht, f.erwartet->spricht) << f.beschreibung;
        }
    }
}

TEST(Namensregeln, RowLabelComesFromTheFirstNonEmptyField) {
    Zeile z{"AXStaticText",
            {{"AXTitle", ""}, {"AXValue", "Carla Diaz (Gast)"}, {"AXDescription", "Anna"}}};
    EXPECT_EQ(z.beschriftung(), "Anna");
    z.felder.erase("AXDescription");
    EXPECT_EQ(z.beschriftung(), "Carla Diaz (Gast)");
    EXPECT_EQ(z.reinerName(), "Carla Diaz");
    z.felder.clear();
    EXPECT_EQ(z.beschriftung(), "");
}

}  // namespace
}  // namespace hoerspur
