#pragma once
// CUpdateApp: starts the program's one window and ends the program when it
// closes. Needs a QApplication.

#include <optional>
#include <string>

class CUpdateApp {
public:
    // --help and --version, answered before a QApplication exists so that
    // they work without a display: the exit status when the command line
    // asked for one of them, else nothing.
    static std::optional<int> AnswerWithoutWindow(int argc, char* argv[]);
    // The command line left after Qt took its own options: "update [--] [FILE]".
    // FILE (made absolute, so that update.cfg remembers it from anywhere)
    // opens at start. False after printing the usage to stderr.
    bool ParseCommandLine(int argc, char* argv[]);
    // Runs the main window modally; false: no further message loop is to
    // run, the program ends.
    bool InitInstance();

private:
    std::optional<std::string> m_startFile;
};
