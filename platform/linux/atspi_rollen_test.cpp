// The role table: the roles the observer's rules depend on must come out under
// the names those rules test for.
#include "platform/linux/atspi_rollen.h"

#include <gtest/gtest.h>

#include <string>

namespace hoerspur {
namespace {

TEST(AtspiRollen, RolesTheObserverTestsForKeepTheirMeaning) {
    // Buttons, including toggles, are found by the participants search ("button").
    EXPECT_STREQ(axRolle(ATSPI_ROLE_PUSH_BUTTON).rolle, "AXButton");
    EXPECT_STREQ(axRolle(ATSPI_ROLE_TOGGLE_BUTTON).rolle, "AXButton");
    EXPECT_STREQ(axRolle(ATSPI_ROLE_TOGGLE_BUTTON).unterrolle, "AXToggle");
    // Controls whose labels are settings are kept out of the name rows.
    EXPECT_STREQ(axRolle(ATSPI_ROLE_CHECK_BOX).rolle, "AXCheckBox");
    EXPECT_STREQ(axRolle(ATSPI_ROLE_RADIO_BUTTON).rolle, "AXRadioButton");
    EXPECT_STREQ(axRolle(ATSPI_ROLE_PAGE_TAB).rolle, "AXRadioButton");
    EXPECT_STREQ(axRolle(ATSPI_ROLE_COMBO_BOX).rolle, "AXPopUpButton");
    EXPECT_STREQ(axRolle(ATSPI_ROLE_PUSH_BUTTON_MENU).rolle, "AXMenuButton");
    EXPECT_STREQ(axRolle(ATSPI_ROLE_TOOL_BAR).rolle, "AXToolbar");
    // The menu bar's subtree is skipped; tab lists are where tiles live.
    EXPECT_STREQ(axRolle(ATSPI_ROLE_MENU_BAR).rolle, "AXMenuBar");
    EXPECT_STREQ(axRolle(ATSPI_ROLE_PAGE_TAB_LIST).rolle, "AXTabGroup");
    EXPECT_STREQ(axRolle(ATSPI_ROLE_LABEL).rolle, "AXStaticText");
    EXPECT_STREQ(axRolle(ATSPI_ROLE_APPLICATION).rolle, "AXApplication");
    EXPECT_STREQ(axRolle(ATSPI_ROLE_DIALOG).unterrolle, "AXDialog");
}

TEST(AtspiRollen, EveryRoleHasANameAndOnlyButtonsSayButton) {
    for (int r = 0; r < ATSPI_ROLE_LAST_DEFINED; ++r) {
        const AxRolle ax = axRolle(static_cast<AtspiRole>(r));
        ASSERT_NE(ax.rolle, nullptr);
        const std::string name = ax.rolle;
        EXPECT_EQ(name.rfind("AX", 0), 0u) << r;
        // A role named like a button would make its node a participants-button
        // candidate: only pressable roles may carry the word.
        if (name.find("Button") != std::string::npos) {
            EXPECT_TRUE(r == ATSPI_ROLE_PUSH_BUTTON || r == ATSPI_ROLE_TOGGLE_BUTTON ||
                        r == ATSPI_ROLE_RADIO_BUTTON || r == ATSPI_ROLE_PAGE_TAB ||
                        r == ATSPI_ROLE_COMBO_BOX || r == ATSPI_ROLE_PUSH_BUTTON_MENU)
                << r << " " << name;
        }
    }
    EXPECT_TRUE(istFensterRolle(ATSPI_ROLE_FRAME));
    EXPECT_FALSE(istFensterRolle(ATSPI_ROLE_PANEL));
    EXPECT_TRUE(istTextRolle(ATSPI_ROLE_LABEL));
    EXPECT_FALSE(istTextRolle(ATSPI_ROLE_ENTRY));
}

}  // namespace
}  // namespace hoerspur
