// The update tool's window program.

#include "ProgramStart.h"
#include "UpdateApp.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    (void)PrepareProgramStart();
    QApplication application(argc, argv);
    CUpdateApp updateApp;
    updateApp.InitInstance();
    return 0;
}
