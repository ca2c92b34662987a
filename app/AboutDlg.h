#pragma once
// CAboutDlg: the About box (template 100): the program icon, "Update
// Version V1.5" and "OK". Shown modally by the main window.

#include <QDialog>

class CAboutDlg : public QDialog {
public:
    explicit CAboutDlg(QWidget* parent);
    // Appends " V1.5" to the version text of the template.
    bool OnInitDialog();
};
