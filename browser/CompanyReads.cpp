// A company file that cannot be read while the window runs (a share gone, a backup
// half restored, another program's file in its place, a damaged page, Peachtree in
// the middle of a commit): the user is told once per action, in the sentences of the
// start-up report, and the window keeps what it showed rather than show it afresh.
#include "app/OpenInvoiceDlg.h"
#include "framework/cmdtarget.h"

bool COpenInvoiceDlg::ReadCompany(CBtrvdcp1& data, const char* meanwhile, const std::function<void()>& action) {
    try {
        action();
        return true;
    } catch (const CBtrvdcpException& error) {
        if (m_bStartingUp) throw;
        const BtrvDataControl* control = data.control();
        std::string text;
        if (control && error.fileName() == control->fileName())
            text = control->errorText(error.status());
        else if (!error.fileName().empty())
            text = companyFileErrorText(error.status(), platform::mapWindowsPath(error.fileName()));
        else
            text = framework::commandErrorText(error);
        framework::AfxMessageBox(text + " " + meanwhile);
        return false;
    }
}
