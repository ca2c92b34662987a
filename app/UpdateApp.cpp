#include "UpdateApp.h"

#include "TerminationSignals.h"
#include "UpdateDlg.h"

bool CUpdateApp::InitInstance()
{
    CUpdateDlg dialog;
    const CTerminationSignals termination([&dialog](int) { dialog.OnTerminationSignal(); });
    dialog.exec();  // the dialog's result is not used
    return false;
}
