#include "app/OpenInvoiceDlg.h"

#include <QIcon>

#include "browser/CustomerFields.h"
#include "framework/cmdtarget.h"

BEGIN_MESSAGE_MAP(COpenInvoiceDlg, framework::CDialog)
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_EN_CHANGE(IDC_SEARCH_EDIT, OnChangeSearchEdit)
    ON_COMMAND(ID_SKIN_GREY, OnSkinGrey)
    ON_COMMAND(ID_SKIN_MILITARY, OnSkinMilitary)
    ON_COMMAND(ID_SKIN_ZHELEZO, OnSkinZhelezo)
    ON_COMMAND(ID_SKIN_OTHER, OnSkinOther)
    ON_COMMAND(ID_FILE_EXIT, OnFileExit)
    ON_BN_CLICKED(IDC_BUTTON2, OnButton2)
    ON_COMMAND(ID_WEB_PRODUCTNEWS, OnWebProductNews)
    ON_COMMAND(ID_WEB_EMAILFRIEND, OnWebEmailFriend)
    ON_COMMAND(ID_WEB_EMAILUS, OnWebEmailUs)
    ON_COMMAND(ID_WEB_PEACHTREESTUFF, OnWebPeachtreeStuff)
END_MESSAGE_MAP()

using skins::SkinButton;

BEGIN_EVENTSINK_MAP(COpenInvoiceDlg, framework::CDialog)
    ON_EVENT(COpenInvoiceDlg, IDC_SKINFORM, 5, OnSkinFormEvent, VTS_DISPATCH)
    ON_EVENT(COpenInvoiceDlg, IDC_SKINFORM, 6, OnSkinFormEvent, VTS_DISPATCH VTS_I4 VTS_I2 VTS_I2)
    ON_EVENT(COpenInvoiceDlg, IDC_SKINFORM, 10, OnSkinFormEvent, VTS_DISPATCH VTS_I4 VTS_I2 VTS_I2)
    ON_EVENT(COpenInvoiceDlg, IDC_SKINFORM, 2, OnSkinFormEvent, VTS_DISPATCH VTS_I4 VTS_I2 VTS_I2)
    ON_EVENT(COpenInvoiceDlg, IDC_SKINFORM, 3, OnSkinFormEvent, VTS_DISPATCH VTS_I4 VTS_I2 VTS_I2)
    ON_EVENT(COpenInvoiceDlg, IDC_SKINFORM, 11, OnSkinFormEvent, VTS_DISPATCH VTS_I4 VTS_I2 VTS_I2)
    ON_EVENT(COpenInvoiceDlg, IDC_PREV_BUTTON, SkinButton::DISPID_CLICK, OnClickPrevButton, VTS_NONE)
    ON_EVENT(COpenInvoiceDlg, IDC_PREV_BUTTON, SkinButton::DISPID_PRESS, OnSkinButtonPress, VTS_NONE)
    ON_EVENT(COpenInvoiceDlg, IDC_PREV_BUTTON, SkinButton::DISPID_RELEASE, OnSkinButtonRelease, VTS_NONE)
    ON_EVENT(COpenInvoiceDlg, IDC_DETAIL_BUTTON, SkinButton::DISPID_CLICK, OnClickDetailButton, VTS_NONE)
    ON_EVENT(COpenInvoiceDlg, IDC_DETAIL_BUTTON, SkinButton::DISPID_PRESS, OnSkinButtonPress, VTS_NONE)
    ON_EVENT(COpenInvoiceDlg, IDC_DETAIL_BUTTON, SkinButton::DISPID_RELEASE, OnSkinButtonRelease, VTS_NONE)
    ON_EVENT(COpenInvoiceDlg, IDC_NEXT_BUTTON, SkinButton::DISPID_CLICK, OnClickNextButton, VTS_NONE)
    ON_EVENT(COpenInvoiceDlg, IDC_NEXT_BUTTON, SkinButton::DISPID_PRESS, OnSkinButtonPress, VTS_NONE)
    ON_EVENT(COpenInvoiceDlg, IDC_NEXT_BUTTON, SkinButton::DISPID_RELEASE, OnSkinButtonRelease, VTS_NONE)
    ON_EVENT(COpenInvoiceDlg, IDC_BALANCE_FILTER_BUTTON, SkinButton::DISPID_CLICK, OnClickBalanceFilterButton, VTS_NONE)
    ON_EVENT(COpenInvoiceDlg, IDC_PRINT_BUTTON, SkinButton::DISPID_CLICK, OnClickPrintButton, VTS_NONE)
    ON_EVENT(COpenInvoiceDlg, IDC_SOUND_BUTTON, SkinButton::DISPID_CLICK, OnClickSoundButton, VTS_NONE)
END_EVENTSINK_MAP()

COpenInvoiceDlg::COpenInvoiceDlg(QWidget* parent) : CDialog(IDD, parent) {
    m_strSearch = "";
    m_strBillAddr1 = "";
    m_strBillAddr2 = "";
    m_strCityStateZip = "";
    m_strFax = "";
    m_strBillName = "";
    m_strPhone = "";
    m_nIndex = 0;
    m_strCustID = "";
    m_strContact = "";
    m_strEmail = "";
    m_strDataPath = "";
    m_strSecPassword = "";
    m_strSecStatus = "";
    if (framework::CWinApp* app = framework::AfxGetApp()) m_hIcon = app->LoadIcon(IDR_MAINFRAME);
}

COpenInvoiceDlg::~COpenInvoiceDlg() = default;

void COpenInvoiceDlg::DoDataExchange(framework::CDataExchange* pDX) {
    using framework::DDX_Control;
    using framework::DDX_Text;
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_INVOICE_LIST, m_InvoiceList);
    DDX_Text(pDX, IDC_SEARCH_EDIT, m_strSearch);
    DDX_Text(pDX, IDC_BILLADDR1_EDIT, m_strBillAddr1);
    DDX_Text(pDX, IDC_BILLADDR2_EDIT, m_strBillAddr2);
    DDX_Text(pDX, IDC_CITYSTATEZIP_EDIT, m_strCityStateZip);
    DDX_Text(pDX, IDC_FAX_EDIT, m_strFax);
    DDX_Text(pDX, IDC_BILLNAME_EDIT, m_strBillName);
    DDX_Text(pDX, IDC_PHONE_EDIT, m_strPhone);
    DDX_Text(pDX, IDC_NINDEX_EDIT, m_nIndex);
    DDX_Text(pDX, IDC_CUSTID_EDIT, m_strCustID);
    DDX_Control(pDX, IDC_SKINFORM, m_SkinForm);
    DDX_Control(pDX, IDC_CUSTOMER_DATA, m_CustomerData);
    DDX_Control(pDX, IDC_JOURNAL_DATA, m_JournalData);
    DDX_Text(pDX, IDC_CONTACT_EDIT, m_strContact);
    DDX_Text(pDX, IDC_EMAIL_EDIT, m_strEmail);
    DDX_Text(pDX, IDC_DATAPATH_EDIT, m_strDataPath);
    DDX_Text(pDX, IDC_SECPASSWORD_EDIT, m_strSecPassword);
    DDX_Control(pDX, IDC_PERMISS_DATA, m_PermissData);
    DDX_Text(pDX, IDC_SECSTATUS_EDIT, m_strSecStatus);
    DDX_Control(pDX, IDC_BALANCE_VALUE, m_BalanceLabel);
}

namespace {

// The sentence that reports a start-up error: a company file's error names the file
// and what is wrong with it; any other error is worded as the framework words it.
std::string StartUpErrorText(const std::exception& error) {
    const auto* data = dynamic_cast<const CBtrvdcpException*>(&error);
    if (data && !data->fileName().empty())
        return companyFileErrorText(data->status(), platform::mapWindowsPath(data->fileName()));
    return framework::commandErrorText(error);
}

// Start-up fails closed. The first error about the company is reported once, in the
// framework's error report (stop icon); what needs the company is skipped from there
// on, everything else still runs (skins among it), and with no security result the
// window enters restricted mode.
class StartUp {
public:
    explicit StartUp(COpenInvoiceDlg& dlg) : dlg_(dlg) {}

    bool failed() const { return failed_; }

    // Runs step; false, with the error reported when it is the first, if it raised.
    template <class Step>
    bool Run(Step&& step) {
        try {
            step();
            return true;
        } catch (const std::exception& error) {
            Fail(StartUpErrorText(error));
            return false;
        }
    }

    void Fail(const std::string& text) {
        if (!failed_) framework::AfxMessageBox(text, platform::MB_OK | platform::MB_ICONSTOP);
        failed_ = true;
    }

    // Opens a company file; false, with its error reported, when it cannot be read.
    bool Open(CBtrvdcp1& data) {
        short status = 0;
        if (!Run([&] { status = data.Open(); })) return false;
        if (status == 0) return true;
        const BtrvDataControl* control = data.control();
        Fail(control && !control->openError().empty()
                 ? control->openError()
                 : companyFileErrorText(static_cast<btrieve::Status>(status),
                                        control ? platform::mapWindowsPath(control->fileName()) : std::string()));
        return false;
    }

    // Takes back a display that failed: no part of a customer read from a file that
    // could not be read stays on show.
    void ClearCustomer() {
        for (const browser::CustomerText& shown : browser::kCustomerTexts) (dlg_.*shown.member).clear();
        dlg_.m_nIndex = 0;
        if (dlg_.m_InvoiceList.IsAttached()) dlg_.m_InvoiceList.ResetContent();
        dlg_.UpdateData(FALSE);
    }

private:
    COpenInvoiceDlg& dlg_;
    bool failed_ = false;
};

}  // namespace

BOOL COpenInvoiceDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    m_bSound = 1;

    // Errors of the first display go to the start-up's report, not the handler's.
    m_bStartingUp = true;
    StartUp startUp(*this);
    if (startUp.Run([&] { LocateCompanyFolder(); })) {
        startUp.Open(m_PermissData);
        const bool customers = startUp.Open(m_CustomerData);
        startUp.Open(m_JournalData);

        // The first customer, unless its file could not be opened. A move that met a
        // damaged page returns a status the display need not look at; the control
        // keeps it, and it counts as the display's error.
        if (customers) {
            bool shown = startUp.Run([&] { OnClickNextButton(); });
            if (const BtrvDataControl* control = m_CustomerData.control(); shown && !btrieve::ok(control->fault())) {
                startUp.Fail(companyFileErrorText(control->fault(), platform::mapWindowsPath(control->fileName())));
                shown = false;
            }
            if (!shown) startUp.ClearCustomer();
        }
    }

    m_bStartingUp = false;

    // The security result is known only when every company file could be read.
    int security = -1;
    if (!startUp.failed()) {
        startUp.Run([&] { security = CheckSecurity(); });
        if (startUp.failed()) security = -1;
    }

    try {
        LoadFirstSkin();
    } catch (const std::exception& error) {
        framework::ReportCommandError(error);  // the template's skin stays
    }
    ApplySkinToControls();

    if (security == -1) EnterRestrictedMode();

    ApplySkinToControls();
    // TRUE: the focus goes to the first tab stop, the lookup box.
    return TRUE;
}

void COpenInvoiceDlg::EnterRestrictedMode() {
    framework::AfxMessageBox("Vexel Controls will be disabled in this mode");
    for (int id : {IDC_BALANCE_FILTER_BUTTON, IDC_PREV_BUTTON, IDC_DETAIL_BUTTON, IDC_NEXT_BUTTON,
                   IDC_BALANCE_VALUE})
        framework::ShowWindow(GetDlgItem(id), framework::SW_HIDE);
}

void COpenInvoiceDlg::PlayWindowSound(const char* name) {
    if (m_bSound == 1) platform::services().sound->playSound(name, sounds::kFlags);
}

void COpenInvoiceDlg::OnOK() {}

void COpenInvoiceDlg::OnFileExit() { CDialog::OnOK(); }

void COpenInvoiceDlg::OnPaint() {
    if (!IsIconic()) {
        Default();
        return;
    }
    framework::CPaintDC dc(this);
    dc.EraseBackground();
    const int cxIcon = framework::GetSystemMetrics(framework::SM_CXICON);
    const int cyIcon = framework::GetSystemMetrics(framework::SM_CYICON);
    const QRect rect = dc.ClientRect();
    const int x = (rect.width() - cxIcon + 1) / 2;
    const int y = (rect.height() - cyIcon + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

framework::HCURSOR COpenInvoiceDlg::OnQueryDragIcon() { return m_hIcon; }

void COpenInvoiceDlg::OnSkinFormEvent(const QVariantList&) {}
void COpenInvoiceDlg::OnSkinButtonPress() {}
void COpenInvoiceDlg::OnSkinButtonRelease() {}
