#include "app/OpenInvoice.h"

#include "app/AboutDlg.h"
#include "app/OpenInvoiceDlg.h"
#include "data/CBtrvdcp1.h"
#include "data/CompanyFolder.h"
#include "platform/platform.h"
#include "res/resource.h"
#include "res/templates.h"
#include "skins/SkinControls.h"

BEGIN_MESSAGE_MAP(COpenInvoiceApp, framework::CWinApp)
    ON_COMMAND(ID_INFO_ABOUT, OnAppAbout)
    ON_COMMAND(ID_FILE_SELECTCOMPANY, OnSelectCompany)
    ON_COMMAND(ID_INFO_HELP, CWinApp::OnHelpIndex)
    ON_COMMAND(framework::ID_DEFAULT_HELP, CWinApp::OnHelp)
END_MESSAGE_MAP()

COpenInvoiceApp::COpenInvoiceApp() : CWinApp(nullptr) {}

COpenInvoiceApp::~COpenInvoiceApp() = default;

BOOL COpenInvoiceApp::InitInstance() {
    framework::AfxEnableControlContainer();
    Enable3dControlsStatic();

    COpenInvoiceDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();  // the whole run; its result makes no difference
    m_pMainWnd = nullptr;
    // FALSE: the program ends with its main window, without a message loop of its own.
    return FALSE;
}

void COpenInvoiceApp::OnAppAbout() {
    // Plays whatever the main window's sound switch says.
    platform::services().sound->playSound(sounds::kAbout, sounds::kFlags);
    CAboutDlg aboutDlg;
    aboutDlg.DoModal();
}

void COpenInvoiceApp::OnSelectCompany() {
    CCompanyDlg dlg;
    dlg.DoModal();
}

void RegisterProgramResources() {
    res::RegisterResources();
    RegisterSkinControls();
    RegisterDataControl();
}
