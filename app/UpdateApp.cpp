#include "UpdateApp.h"

#include "ProgramStart.h"
#include "StringTable.h"
#include "TerminationSignals.h"
#include "UpdateDlg.h"

#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::res;
using namespace devupdate::update;

namespace {

const char* const USAGE =
    "usage: %s [FILE]\n"
    "       %s --help | --version\n"
    "\n"
    "Opens the update window. FILE, when given, is put in the file field and\n"
    "checked at once. Qt's own options (-platform, -display ...) are taken too.\n"
    "\n"
    "  -h, --help  print this text\n"
    "  --version   print the program's name and version\n";

}  // namespace

std::optional<int> CUpdateApp::AnswerWithoutWindow(int argc, char* argv[])
{
    if (argc != 2)
        return std::nullopt;
    const std::string name = ProgramName("update");
    const std::string_view arg = argv[1];
    if (arg == "--help" || arg == "-h") {
        std::printf(USAGE, name.c_str(), name.c_str());
        return 0;
    }
    if (arg == "--version") {
        std::printf("%s %s\n", name.c_str(), res::PROGRAM_VERSION);
        return 0;
    }
    return std::nullopt;
}

bool CUpdateApp::ParseCommandLine(int argc, char* argv[])
{
    // "--" ends the options: "update -- -x.upd" opens the file "-x.upd".
    const bool optionsEnded = argc > 1 && std::string_view(argv[1]) == "--";
    const int first = optionsEnded ? 2 : 1;
    if (argc <= first)
        return true;
    const char* file = argv[first];
    if (argc > first + 1 || (file[0] == '-' && !optionsEnded) || file[0] == '\0') {
        std::fprintf(stderr, "usage: %s [FILE]\n", ProgramName("update").c_str());
        return false;
    }
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(file, error);
    m_startFile = error ? std::string(file) : absolute.string();
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
