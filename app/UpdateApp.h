#pragma once
// CUpdateApp: starts the program's one window and ends the program when it
// closes. Needs a QApplication.

class CUpdateApp {
public:
    // Runs the main window modally; false: no further message loop is to
    // run, the program ends.
    bool InitInstance();
};
