// Where a click lands in every dialog built from a template: pressed through
// the window, the way the window system delivers it, at the centre of each
// control. A control must get the click itself; a group box, static text or
// icon must let it through to what lies below.

#include "DialogBuilder.h"
#include "DialogTemplates.h"

#include <QApplication>
#include <QDialog>
#include <QMouseEvent>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

using namespace devupdate;
using namespace devupdate::res;

namespace {

// Records which widget a press reaches first and eats it, so that pressing
// a button or opening a list has no effect on the next press.
class CPressCatcher : public QObject {
public:
    CPressCatcher() { qApp->installEventFilter(this); }
    ~CPressCatcher() override { qApp->removeEventFilter(this); }
    QWidget* TakeReceiver()
    {
        QWidget* receiver = m_receiver;
        m_receiver = nullptr;
        return receiver;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // The press passes the window first, then the widget under the pointer.
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget == nullptr ||
            (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonRelease))
            return false;
        if (m_receiver == nullptr && event->type() == QEvent::MouseButtonPress)
            m_receiver = widget;
        return true;
    }

private:
    QWidget* m_receiver = nullptr;
};

bool IsPassive(res::ControlKind kind)
{
    return kind == res::ControlKind::GroupBox || kind == res::ControlKind::StaticText ||
           kind == res::ControlKind::Icon;
}

// The widget built for a control: by id, or for a control without one, the
// child placed at the control's top-left corner.
QWidget* WidgetOf(const QDialog& dialog, const res::SDialogTemplate& source, const res::SDialogControl& control,
                  const std::map<int, QWidget*>& byId)
{
    if (control.id != res::IDC_STATIC)
        return byId.at(control.id);
    const CDialogUnits units(DialogFont(source));
    const QPoint corner = units.Rect(control.x, control.y, control.w, control.h).topLeft();
    for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->geometry().topLeft() == corner)
            return child;
    }
    return nullptr;
}

class DialogPointerTest : public ::testing::TestWithParam<int> {};

TEST_P(DialogPointerTest, EveryControlTakesTheClickAtItsCentreAndFramesLetItThrough)
{
    const res::SDialogTemplate& source = RequireDialogTemplate(GetParam());
    QDialog dialog;
    const std::map<int, QWidget*> byId = BuildDialog(dialog, source);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    CPressCatcher catcher;

    for (std::size_t i = 0; i < source.controlCount; ++i) {
        const res::SDialogControl& control = source.controls[i];
        const std::string name = std::string(control.caption) + " (" + std::to_string(control.id) + ")";
        QWidget* widget = WidgetOf(dialog, source, control, byId);
        ASSERT_NE(widget, nullptr) << name;
        if (widget->isHidden())
            continue;
        QTest::mousePress(dialog.windowHandle(), Qt::LeftButton, Qt::NoModifier, widget->geometry().center());
        QWidget* receiver = catcher.TakeReceiver();
        ASSERT_NE(receiver, nullptr) << name;
        const bool reachedWidget = receiver == widget || widget->isAncestorOf(receiver);
        if (IsPassive(control.kind))
            EXPECT_FALSE(reachedWidget) << name << " took the click";
        else
            EXPECT_TRUE(reachedWidget) << name << " did not get the click, " << receiver->metaObject()->className()
                                       << " " << receiver->objectName().toStdString() << " did";
    }
}

INSTANTIATE_TEST_SUITE_P(EveryTemplate, DialogPointerTest,
                         ::testing::Values(res::IDD_ABOUTBOX, res::IDD_UPDATE_DIALOG, res::IDD_WARNING));

}  // namespace
