#include "DialogTemplates.h"

#include <iterator>

namespace devupdate::res {

namespace {

constexpr SDialogControl kAboutControls[] = {
    {IDC_STATIC, ControlKind::Icon, "", 11, 17, 20, 20, STYLE_NONE},
    {IDC_VERSION_TEXT, ControlKind::StaticText, "Update Version", 40, 22, 119, 8, STYLE_NOPREFIX},
    {IDOK, ControlKind::DefPushButton, "OK", 178, 34, 50, 14, STYLE_TABSTOP | STYLE_GROUP},
};

constexpr SDialogControl kUpdateControls[] = {
    {IDC_PORT_LIST, ControlKind::DropDownList, "", 13, 22, 54, 109, STYLE_TABSTOP | STYLE_VSCROLL},
    {IDC_FILE_EDIT, ControlKind::Edit, "", 13, 71, 312, 12,
     STYLE_TABSTOP | STYLE_BORDER | STYLE_AUTOHSCROLL},
    {IDC_BROWSE, ControlKind::PushButton, "Browse...", 13, 92, 50, 14, STYLE_TABSTOP},
    {IDC_OPEN, ControlKind::PushButton, "Open", 281, 92, 50, 14, STYLE_TABSTOP | STYLE_HIDDEN},
    {IDC_UPDATE, ControlKind::PushButton, "Update", 13, 135, 50, 14, STYLE_TABSTOP},
    {IDC_CANCEL_RUN, ControlKind::PushButton, "Cancel", 72, 135, 50, 14, STYLE_TABSTOP},
    {IDC_EXIT, ControlKind::DefPushButton, "Exit", 281, 136, 50, 14, STYLE_TABSTOP},
    {IDC_UPDATE_INFO, ControlKind::GroupBox, "Update info", 7, 157, 324, 49, STYLE_NONE},
    {IDC_HEADER_APPLICATION, ControlKind::StaticText, "application", 13, 192, 64, 8, STYLE_GROUP},
    {IDC_HEADER_PROGRESS, ControlKind::StaticText, "progress", 181, 192, 40, 8, STYLE_GROUP},
    {IDC_HEADER_STATUS, ControlKind::StaticText, "status", 256, 192, 33, 8, STYLE_GROUP},
    {IDC_STATIC, ControlKind::GroupBox, "Com-Port", 7, 7, 66, 36, STYLE_NONE},
    {IDC_STATIC, ControlKind::GroupBox, "Update file", 7, 57, 324, 59, STYLE_NONE},
    {IDC_MESSAGE, ControlKind::Edit, "", 13, 172, 312, 12,
     STYLE_BORDER | STYLE_READONLY | STYLE_AUTOHSCROLL},
};

constexpr SDialogControl kWarningControls[] = {
    {IDC_YES, ControlKind::DefPushButton, "Yes", 160, 66, 50, 14, STYLE_TABSTOP},
    {IDC_NO, ControlKind::PushButton, "No", 221, 66, 50, 14, STYLE_TABSTOP},
    {IDC_WARNING_TEXT, ControlKind::StaticText, "Static", 7, 7, 264, 58, STYLE_NONE},
};

constexpr SDialogTemplate kTemplates[] = {
    {IDD_ABOUTBOX, "Info about Update", 235, 55, 8, "MS Sans Serif",
     DS_CAPTION | DS_SYSMENU | DS_MODALFRAME, kAboutControls, std::size(kAboutControls)},
    {IDD_UPDATE_DIALOG, "Update", 341, 222, 8, "MS Sans Serif",
     DS_CAPTION | DS_SYSMENU | DS_MODALFRAME | DS_VISIBLE | DS_APPWINDOW, kUpdateControls,
     std::size(kUpdateControls)},
    {IDD_WARNING, "Warning", 278, 87, 8, "MS Sans Serif", DS_CAPTION | DS_SYSMENU | DS_MODALFRAME,
     kWarningControls, std::size(kWarningControls)},
};

}  // namespace

const SDialogTemplate* FindDialogTemplate(int id)
{
    for (const SDialogTemplate& dialog : kTemplates) {
        if (dialog.id == id)
            return &dialog;
    }
    return nullptr;
}

const SDialogControl* FindDialogControl(const SDialogTemplate& dialog, int id)
{
    if (id == IDC_STATIC)
        return nullptr;
    for (std::size_t i = 0; i < dialog.controlCount; ++i) {
        if (dialog.controls[i].id == id)
            return &dialog.controls[i];
    }
    return nullptr;
}

}  // namespace devupdate::res
