#include "DialogBuilder.h"

#include "ProgramIcon.h"

#include <QComboBox>
#include <QDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>

#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace devupdate;
using namespace devupdate::res;

namespace {

constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int kIconPixels = 32;

QWidget* CreateControl(const res::SDialogControl& control, QWidget* parent)
{
    const QString caption = QString::fromUtf8(control.caption);
    switch (control.kind) {
    case res::ControlKind::PushButton:
    case res::ControlKind::DefPushButton: {
        auto* button = new QPushButton(caption, parent);
        button->setDefault(control.kind == res::ControlKind::DefPushButton);
        return button;
    }
    case res::ControlKind::Edit: {
        auto* edit = new QLineEdit(parent);
        edit->setReadOnly((control.style & res::STYLE_READONLY) != 0);
        edit->setFrame((control.style & res::STYLE_BORDER) != 0);
        return edit;
    }
    case res::ControlKind::DropDownList: {
        auto* list = new QComboBox(parent);
        list->setEditable(false);
        list->setMaxVisibleItems(10);
        return list;
    }
    case res::ControlKind::GroupBox:
        return new QGroupBox(caption, parent);
    case res::ControlKind::StaticText: {
        auto* label = new QLabel(caption, parent);
        label->setTextFormat(Qt::PlainText);
        // Static texts are top aligned and wrap at their width.
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(true);
        return label;
    }
    case res::ControlKind::Icon: {
        auto* label = new QLabel(parent);
        label->setPixmap(ProgramIcon().pixmap(kIconPixels, kIconPixels));
        return label;
    }
    }
    return nullptr;
}

void PlaceControl(QWidget& widget, const res::SDialogControl& control, const CDialogUnits& units)
{
    QRect rect = units.Rect(control.x, control.y, control.w, control.h);
    if (control.kind == res::ControlKind::DropDownList) {
        // The template's height includes the opened list; the closed box
        // takes the height of one line.
        rect.setHeight(widget.sizeHint().height());
    } else if (control.kind == res::ControlKind::Icon) {
        rect.setSize(QSize(kIconPixels, kIconPixels));
    }
    widget.setGeometry(rect);
}

bool FramesOrLabelsOnly(res::ControlKind kind)
{
    return kind == res::ControlKind::GroupBox || kind == res::ControlKind::StaticText ||
           kind == res::ControlKind::Icon;
}

// Group boxes and static texts only frame and label the controls. A template
// may list a group box after the controls inside it, which would put its
// widget on top of them, taking every click, hover and wheel turn meant for
// them. So they let the pointer through, and they are stacked below the
// controls, group boxes lowest, so that they are drawn beneath them too.
void LetPointerThrough(const std::vector<QWidget*>& passive)
{
    for (QWidget* widget : passive) {
        widget->setAttribute(Qt::WA_TransparentForMouseEvents);
        if (qobject_cast<QGroupBox*>(widget) == nullptr)
            widget->lower();
    }
    for (QWidget* widget : passive) {
        if (qobject_cast<QGroupBox*>(widget) != nullptr)
            widget->lower();
    }
}

void ApplyStyle(QWidget& widget, const res::SDialogControl& control)
{
    if (control.style & res::STYLE_HIDDEN)
        widget.hide();
    if (control.style & res::STYLE_DISABLED)
        widget.setEnabled(false);
    if (control.kind == res::ControlKind::Edit && !(control.style & res::STYLE_TABSTOP))
        widget.setFocusPolicy(Qt::ClickFocus);
}

}  // namespace

CDialogUnits::CDialogUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int letters = static_cast<int>(sizeof kLetters) - 1;
    m_baseX = (metrics.horizontalAdvance(QString::fromLatin1(kLetters)) + letters / 2) / letters;
    m_baseY = metrics.height();
}

int CDialogUnits::X(int units) const
{
    return (units * m_baseX + 2) / 4;
}

int CDialogUnits::Y(int units) const
{
    return (units * m_baseY + 4) / 8;
}

QRect CDialogUnits::Rect(int x, int y, int w, int h) const
{
    // Convert the edges, not the size, so neighbouring controls line up.
    const int left = X(x);
    const int top = Y(y);
    return QRect(left, top, X(x + w) - left, Y(y + h) - top);
}

QFont DialogFont(const res::SDialogTemplate& dialog)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(dialog.fontPointSize);
    return font;
}

std::map<int, QWidget*> BuildDialog(QDialog& dialog, const res::SDialogTemplate& source)
{
    const QFont font = DialogFont(source);
    const CDialogUnits units(font);
    dialog.setFont(font);
    dialog.setWindowTitle(QString::fromUtf8(source.caption));
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (source.style & res::DS_SYSMENU)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    dialog.setWindowFlags(flags);
    dialog.setFixedSize(units.X(source.width), units.Y(source.height));

    std::map<int, QWidget*> byId;
    std::vector<QWidget*> passive;
    for (std::size_t i = 0; i < source.controlCount; ++i) {
        const res::SDialogControl& control = source.controls[i];
        QWidget* widget = CreateControl(control, &dialog);
        PlaceControl(*widget, control, units);
        ApplyStyle(*widget, control);
        if (FramesOrLabelsOnly(control.kind))
            passive.push_back(widget);
        if (control.id != res::IDC_STATIC) {
            widget->setObjectName(QStringLiteral("ctl%1").arg(control.id));
            widget->setProperty("controlId", control.id);
            byId[control.id] = widget;
        }
    }
    LetPointerThrough(passive);
    return byId;
}

const res::SDialogTemplate& RequireDialogTemplate(int id)
{
    const res::SDialogTemplate* dialog = res::FindDialogTemplate(id);
    if (dialog == nullptr) {
        std::fprintf(stderr, "dialog template %d missing from the resources\n", id);
        std::abort();
    }
    return *dialog;
}

QIcon ProgramIcon()
{
    QIcon icon;
    icon.addPixmap(QPixmap(res::PROGRAM_ICON_32));
    icon.addPixmap(QPixmap(res::PROGRAM_ICON_16));
    return icon;
}
