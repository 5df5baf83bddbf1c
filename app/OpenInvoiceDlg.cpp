#include "app/OpenInvoiceDlg.h"

#include <QIcon>

#include "framework/cmdtarget.h"

using framework::trace;

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

BEGIN_EVENTSINK_MAP(COpenInvoiceDlg, framework::CDialog)
    ON_EVENT(COpenInvoiceDlg, IDC_SKINFORM, 5, OnSkinFormEvent, VTS_DISPATCH)
    ON_EVENT(COpenInvoiceDlg, IDC_SKINFORM, 6, OnSkinFormEvent, VTS_DISPATCH VTS_I4 VTS_I2 VTS_I2)
    ON_EVENT(COpenInvoiceDlg, IDC_SKINFORM, 10, OnSkinFormEvent, VTS_DISPATCH VTS_I4 VTS_I2 VTS_I2)
    ON_EVENT(COpenInvoiceDlg, IDC_SKINFORM, 2, OnSkinFormEvent, VTS_DISPATCH VTS_I4 VTS_I2 VTS_I2)
    ON_EVENT(COpenInvoiceDlg, IDC_SKINFORM, 3, OnSkinFormEvent, VTS_DISPATCH VTS_I4 VTS_I2 VTS_I2)
    ON_EVENT(COpenInvoiceDlg, IDC_SKINFORM, 11, OnSkinFormEvent, VTS_DISPATCH VTS_I4 VTS_I2 VTS_I2)
    ON_EVENT(COpenInvoiceDlg, IDC_PREV_BUTTON, 1, OnClickPrevButton, VTS_NONE)
    ON_EVENT(COpenInvoiceDlg, IDC_PREV_BUTTON, 2, OnSkinButtonPress, VTS_NONE)
    ON_EVENT(COpenInvoiceDlg, IDC_PREV_BUTTON, 3, OnSkinButtonRelease, VTS_NONE)
    ON_EVENT(COpenInvoiceDlg, IDC_DETAIL_BUTTON, 1, OnClickDetailButton, VTS_NONE)
    ON_EVENT(COpenInvoiceDlg, IDC_DETAIL_BUTTON, 2, OnSkinButtonPress, VTS_NONE)
    ON_EVENT(COpenInvoiceDlg, IDC_DETAIL_BUTTON, 3, OnSkinButtonRelease, VTS_NONE)
    ON_EVENT(COpenInvoiceDlg, IDC_NEXT_BUTTON, 1, OnClickNextButton, VTS_NONE)
    ON_EVENT(COpenInvoiceDlg, IDC_NEXT_BUTTON, 2, OnSkinButtonPress, VTS_NONE)
    ON_EVENT(COpenInvoiceDlg, IDC_NEXT_BUTTON, 3, OnSkinButtonRelease, VTS_NONE)
    ON_EVENT(COpenInvoiceDlg, IDC_BALANCE_FILTER_BUTTON, 1, OnClickBalanceFilterButton, VTS_NONE)
    ON_EVENT(COpenInvoiceDlg, IDC_PRINT_BUTTON, 1, OnClickPrintButton, VTS_NONE)
    ON_EVENT(COpenInvoiceDlg, IDC_SOUND_BUTTON, 1, OnClickSoundButton, VTS_NONE)
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

BOOL COpenInvoiceDlg::OnInitDialog() {
    trace("CDialog::OnInitDialog");
    CDialog::OnInitDialog();

    trace("SetIcon");
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    m_bSound = 1;

    trace("LocateCompanyFolder");
    LocateCompanyFolder();

    trace("m_PermissData.Open");
    m_PermissData.Open();
    trace("m_CustomerData.Open");
    m_CustomerData.Open();
    trace("m_JournalData.Open");
    m_JournalData.Open();

    trace("OnClickNextButton");
    OnClickNextButton();

    trace("CheckSecurity");
    const int security = CheckSecurity();

    trace("LoadFirstSkin");
    LoadFirstSkin();
    trace("ApplySkinToControls");
    ApplySkinToControls();

    if (security == -1) EnterRestrictedMode();

    trace("ApplySkinToControls");
    ApplySkinToControls();
    // TRUE: the focus goes to the first tab stop, the lookup box.
    return TRUE;
}

void COpenInvoiceDlg::EnterRestrictedMode() {
    trace("EnterRestrictedMode");
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
