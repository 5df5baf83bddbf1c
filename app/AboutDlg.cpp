#include "app/AboutDlg.h"

CAboutDlg::CAboutDlg(QWidget* parent) : CDialog(IDD, parent) {}

CAboutDlg::~CAboutDlg() = default;

void CAboutDlg::DoDataExchange(framework::CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    framework::DDX_Control(pDX, IDC_MAIL_LINK, m_MailLink);
    framework::DDX_Control(pDX, IDC_WEB_LINK, m_WebLink);
}
