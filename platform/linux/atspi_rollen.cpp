#include "platform/linux/atspi_rollen.h"

namespace hoerspur {

AxRolle axRolle(AtspiRole rolle) {
    switch (rolle) {
        case ATSPI_ROLE_APPLICATION:
            return {"AXApplication"};
        case ATSPI_ROLE_FRAME:
        case ATSPI_ROLE_WINDOW:
            return {"AXWindow", "AXStandardWindow"};
        case ATSPI_ROLE_DIALOG:
        case ATSPI_ROLE_ALERT:
        case ATSPI_ROLE_FILE_CHOOSER:
        case ATSPI_ROLE_COLOR_CHOOSER:
        case ATSPI_ROLE_FONT_CHOOSER:
            return {"AXWindow", "AXDialog"};
        case ATSPI_ROLE_PUSH_BUTTON:
            return {"AXButton"};
        // A toggle stays a button so that a toggling participants button is found.
        case ATSPI_ROLE_TOGGLE_BUTTON:
            return {"AXButton", "AXToggle"};
        case ATSPI_ROLE_PUSH_BUTTON_MENU:
            return {"AXMenuButton"};
        case ATSPI_ROLE_CHECK_BOX:
            return {"AXCheckBox"};
        case ATSPI_ROLE_RADIO_BUTTON:
            return {"AXRadioButton"};
        case ATSPI_ROLE_COMBO_BOX:
            return {"AXPopUpButton"};
        case ATSPI_ROLE_AUTOCOMPLETE:
            return {"AXComboBox"};
        case ATSPI_ROLE_MENU_BAR:
            return {"AXMenuBar"};
        case ATSPI_ROLE_MENU:
        case ATSPI_ROLE_POPUP_MENU:
            return {"AXMenu"};
        case ATSPI_ROLE_MENU_ITEM:
        case ATSPI_ROLE_CHECK_MENU_ITEM:
        case ATSPI_ROLE_RADIO_MENU_ITEM:
        case ATSPI_ROLE_TEAROFF_MENU_ITEM:
            return {"AXMenuItem"};
        case ATSPI_ROLE_TOOL_BAR:
            return {"AXToolbar"};
        case ATSPI_ROLE_PAGE_TAB_LIST:
            return {"AXTabGroup"};
        case ATSPI_ROLE_PAGE_TAB:
            return {"AXRadioButton", "AXTabButton"};
        case ATSPI_ROLE_LABEL:
        case ATSPI_ROLE_STATIC:
        case ATSPI_ROLE_CAPTION:
        case ATSPI_ROLE_ACCELERATOR_LABEL:
            return {"AXStaticText"};
        case ATSPI_ROLE_HEADING:
            return {"AXHeading"};
        case ATSPI_ROLE_LINK:
            return {"AXLink"};
        case ATSPI_ROLE_ENTRY:
        case ATSPI_ROLE_EDITBAR:
            return {"AXTextField"};
        case ATSPI_ROLE_PASSWORD_TEXT:
            return {"AXTextField", "AXSecureTextField"};
        case ATSPI_ROLE_TEXT:
        case ATSPI_ROLE_TERMINAL:
            return {"AXTextArea"};
        case ATSPI_ROLE_DOCUMENT_WEB:
        case ATSPI_ROLE_DOCUMENT_FRAME:
            return {"AXWebArea"};
        case ATSPI_ROLE_LIST:
        case ATSPI_ROLE_LIST_BOX:
            return {"AXList"};
        case ATSPI_ROLE_TABLE:
            return {"AXTable"};
        case ATSPI_ROLE_TREE:
        case ATSPI_ROLE_TREE_TABLE:
            return {"AXOutline"};
        case ATSPI_ROLE_TABLE_ROW:
            return {"AXRow"};
        case ATSPI_ROLE_TREE_ITEM:
            return {"AXRow", "AXOutlineRow"};
        case ATSPI_ROLE_TABLE_CELL:
        case ATSPI_ROLE_COLUMN_HEADER:
        case ATSPI_ROLE_ROW_HEADER:
        case ATSPI_ROLE_TABLE_COLUMN_HEADER:
        case ATSPI_ROLE_TABLE_ROW_HEADER:
            return {"AXCell"};
        case ATSPI_ROLE_IMAGE:
        case ATSPI_ROLE_ICON:
        case ATSPI_ROLE_DESKTOP_ICON:
        case ATSPI_ROLE_IMAGE_MAP:
            return {"AXImage"};
        case ATSPI_ROLE_SCROLL_BAR:
            return {"AXScrollBar"};
        case ATSPI_ROLE_SCROLL_PANE:
            return {"AXScrollArea"};
        case ATSPI_ROLE_SPLIT_PANE:
            return {"AXSplitGroup"};
        case ATSPI_ROLE_SEPARATOR:
            return {"AXSplitter"};
        case ATSPI_ROLE_SLIDER:
        case ATSPI_ROLE_DIAL:
            return {"AXSlider"};
        case ATSPI_ROLE_SPIN_BUTTON:
            return {"AXIncrementor"};
        case ATSPI_ROLE_PROGRESS_BAR:
            return {"AXProgressIndicator"};
        case ATSPI_ROLE_LEVEL_BAR:
            return {"AXLevelIndicator"};
        case ATSPI_ROLE_TOOL_TIP:
            return {"AXHelpTag"};
        default:
            return {"AXGroup"};
    }
}

bool istFensterRolle(AtspiRole rolle) {
    switch (rolle) {
        case ATSPI_ROLE_FRAME:
        case ATSPI_ROLE_WINDOW:
        case ATSPI_ROLE_DIALOG:
        case ATSPI_ROLE_ALERT:
        case ATSPI_ROLE_FILE_CHOOSER:
        case ATSPI_ROLE_COLOR_CHOOSER:
        case ATSPI_ROLE_FONT_CHOOSER:
            return true;
        default:
            return false;
    }
}

bool istTextRolle(AtspiRole rolle) {
    switch (rolle) {
        case ATSPI_ROLE_LABEL:
        case ATSPI_ROLE_STATIC:
        case ATSPI_ROLE_CAPTION:
        case ATSPI_ROLE_ACCELERATOR_LABEL:
            return true;
        default:
            return false;
    }
}

}  // namespace hoerspur
