// The update tool's window program: update [FILE].

#include "ProgramStart.h"
#include "UpdateApp.h"

#include <QApplication>

#include <optional>

using namespace devupdate::link;

int main(int argc, char* argv[])
{
    (void)PrepareProgramStart();
    NameProgramFromExecutable();
    if (const std::optional<int> status = CUpdateApp::AnswerWithoutWindow(argc, argv))
        return *status;
    QApplication application(argc, argv);
    CUpdateApp updateApp;
    if (!updateApp.ParseCommandLine(argc, argv))
        return 2;
    updateApp.InitInstance();
    return 0;
}
