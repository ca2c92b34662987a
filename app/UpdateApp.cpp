#include "UpdateApp.h"

#include "UpdateDlg.h"

bool CUpdateApp::InitInstance()
{
    CUpdateDlg dialog;
    dialog.exec();  // the dialog's result is not used
    return false;
}
