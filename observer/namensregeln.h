// Which accessibility texts are participants' names, which nodes are video tiles
// and whether a tile shows the active speaker. Pure functions on texts already
// read from the tree; every function answers for any input.
//
// Reentrant.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "observer/zeile.h"

namespace hoerspur {

// Roles whose nodes are never taken by the general name test: controls whose
// labels name a setting, not a person.
inline constexpr std::array<std::string_view, 7> KNOPFROLLEN = {
    "AXCheckBox", "AXMenuButton", "AXRadioButton", "AXPopUpButton",
    "AXToolbar",  "AXTabGroup",   "AXMenuBar"};

// Interface words (lower case); a text containing any of them is not a name.
inline constexpr std::array<std::string_view, 40> UNWORTE = {
    "zoom",       "meeting",    "fenster",      "window",        "ansicht",   "view",
    "chat",       "teilnehmer", "participants", "einstellungen", "settings",  "reaktionen",
    "bildschirm", "share",      "freigeben",    "aufnehmen",     "record",    "beenden",
    "stumm",      "mute",       "video",        "audio",         "gruppe",    "group",
    "taste",      "button",     "text",         "menue",         "menu",      "symbol",
    "leiste",     "bar",        "panel",        "dialog",        "warteraum", "waiting",
    "einladen",   "invite",     "sicherheit",   "security"};

// Markers (lower case) of note-taking bots that join calls as participants.
inline constexpr std::array<std::string_view, 8> BOT_MARKER = {
    "fireflies", "notetaker", "otter.ai",    "fathom",
    "tl;dv",     "read.ai",   "meeting bot", "ai companion"};

// The text with trailing parenthesised groups removed: while the last ")" lies
// after the last "(", the part between them goes and the rest is trimmed of
// spaces and tabs. «Anna Berg (Gast) (Ich)» gives «Anna Berg».
std::string ohneKlammerGruppen(std::string_view text);

// Whether the lower-cased text contains a bot marker.
bool istMeetingBot(std::string_view text);

// Whether the text looks like a person's name: 3 to 48 characters, no digit, no
// bot, no interface word, 1 to 4 words each starting with an upper-case letter,
// a non-ASCII letter, or made of connectors only ("&", "+", "-", "/", "·").
bool siehtWieNameAus(std::string_view text);

// The person of a video tile and whether the tile marks them as speaking.
struct Kachel {
    std::string name;
    bool spricht = false;
};

// For an "AXTabGroup" whose description or role description marks it as a video
// tile: the name before the description's first comma, if it looks like a name.
std::optional<Kachel> kachelName(std::string_view rolle, const Felder& felder);

}  // namespace hoerspur
