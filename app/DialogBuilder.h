#pragma once
// Turns the dialog templates of resources/ into Qt widgets. Positions and
// sizes stay in dialog units until here: x * baseX / 4 and y * baseY / 8,
// with baseX the average width of the 52 letters and baseY the height of the
// dialog font (8 pt, the system's default sans face standing in for the
// template's face), so the layout keeps the original proportions.
//
// Every control with an id gets the object name "ctl<id>" and the property
// "controlId"; controls without an id get neither.

#include "DialogTemplates.h"

#include <QFont>
#include <QIcon>
#include <QRect>

#include <map>

class QDialog;
class QWidget;

class CDialogUnits {
public:
    explicit CDialogUnits(const QFont& font);
    int BaseX() const { return m_baseX; }
    int BaseY() const { return m_baseY; }
    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int w, int h) const;

private:
    int m_baseX;
    int m_baseY;
};

// The dialog font of a template: the system's default face at its size.
QFont DialogFont(const devupdate::res::SDialogTemplate& dialog);

// Sets caption, font, window flags and fixed client size of the dialog from
// the template and creates its controls as children, in tab order. Returns
// the controls that have an id, by id. Group boxes, static texts and icons
// never take the pointer, whatever their place in the template.
std::map<int, QWidget*> BuildDialog(QDialog& dialog, const devupdate::res::SDialogTemplate& source);

// The template with this id; aborts when the resource table lacks it (a
// build fault, not a run-time condition).
const devupdate::res::SDialogTemplate& RequireDialogTemplate(int id);

// Icon 128 with its 32 x 32 and 16 x 16 images.
QIcon ProgramIcon();
