// The update tool's window program.

#include "UpdateApp.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    CUpdateApp updateApp;
    updateApp.InitInstance();
    return 0;
}
