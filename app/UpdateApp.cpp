#include "UpdateApp.h"

#include "TerminationSignals.h"
#include "UpdateDlg.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

bool CUpdateApp::ParseCommandLine(int argc, char* argv[])
{
    if (argc <= 1)
        return true;
    if (argc > 2 || argv[1][0] == '-' || argv[1][0] == '\0') {
        std::fprintf(stderr, "usage: %s [FILE]\n", argv[0]);
        return false;
    }
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(argv[1], error);
    m_startFile = error ? std::string(argv[1]) : absolute.string();
    return true;
}

bool CUpdateApp::InitInstance()
{
    CUpdateDlg dialog;
    const CTerminationSignals termination([&dialog](int) { dialog.OnTerminationSignal(); });
    if (m_startFile)
        dialog.OpenAtStart(*m_startFile);
    dialog.exec();  // the dialog's result is not used
    return false;
}
