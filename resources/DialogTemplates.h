#pragma once
// The dialog templates 100 (About box), 102 (main window) and 131 (cancel
// warning) as plain data: every control with its id, kind, caption and
// rectangle in dialog units. The window layer turns them into widgets; the
// control ids are kept so that tests and code find controls by id.

#include <cstddef>

namespace devupdate::res {

// Template ids.
constexpr int IDD_ABOUTBOX = 100;
constexpr int IDD_UPDATE_DIALOG = 102;
constexpr int IDD_WARNING = 131;

// Control ids of the three templates.
constexpr int IDC_STATIC = -1;  // a control without an id
constexpr int IDOK = 1;
constexpr int IDC_PORT_LIST = 1001;
constexpr int IDC_FILE_EDIT = 1002;
constexpr int IDC_OPEN = 1003;
constexpr int IDC_BROWSE = 1005;
constexpr int IDC_UPDATE = 1007;
constexpr int IDC_CANCEL_RUN = 1008;
constexpr int IDC_MESSAGE = 1013;
constexpr int IDC_EXIT = 1014;
constexpr int IDC_UPDATE_INFO = 1015;
constexpr int IDC_HEADER_APPLICATION = 1016;
constexpr int IDC_HEADER_STATUS = 1017;
constexpr int IDC_HEADER_PROGRESS = 1018;
constexpr int IDC_PROGRESS_FIRST = 1020;  // run display bars: 1020..1029
constexpr int IDC_YES = 1040;
constexpr int IDC_NO = 1041;
constexpr int IDC_WARNING_TEXT = 1042;
constexpr int IDC_VERSION_TEXT = 1044;

// Icon resource of the program.
constexpr int IDI_PROGRAM = 128;

enum class ControlKind {
    PushButton,
    DefPushButton,
    Edit,
    DropDownList,  // a combo box whose list cannot be typed into
    GroupBox,
    StaticText,
    Icon,  // caption unused; shows IDI_PROGRAM
};

// Style bits of a control.
enum ControlStyle : unsigned {
    STYLE_NONE = 0,
    STYLE_TABSTOP = 1u << 0,
    STYLE_HIDDEN = 1u << 1,      // not visible when created
    STYLE_DISABLED = 1u << 2,
    STYLE_GROUP = 1u << 3,
    STYLE_BORDER = 1u << 4,
    STYLE_READONLY = 1u << 5,
    STYLE_AUTOHSCROLL = 1u << 6,
    STYLE_VSCROLL = 1u << 7,
    STYLE_NOPREFIX = 1u << 8,   // '&' is shown, not a mnemonic
};

// Style bits of a dialog window.
enum DialogStyle : unsigned {
    DS_NONE = 0,
    DS_CAPTION = 1u << 0,
    DS_SYSMENU = 1u << 1,
    DS_MODALFRAME = 1u << 2,
    DS_VISIBLE = 1u << 3,
    DS_APPWINDOW = 1u << 4,  // has a task-bar button
};

struct SDialogControl {
    int id;
    ControlKind kind;
    const char* caption;
    int x, y, w, h;  // dialog units
    unsigned style;  // ControlStyle bits
};

struct SDialogTemplate {
    int id;
    const char* caption;
    int width, height;  // dialog units
    int fontPointSize;
    const char* fontFace;  // the original face; the window layer substitutes
    unsigned style;        // DialogStyle bits
    const SDialogControl* controls;  // in tab order
    std::size_t controlCount;
};

// The template with this id, or nullptr when there is none.
const SDialogTemplate* FindDialogTemplate(int id);

// The control with this id in a template, or nullptr. IDC_STATIC finds none.
const SDialogControl* FindDialogControl(const SDialogTemplate& dialog, int id);

}  // namespace devupdate::res
