// The company's user security: the program's own Peachtree user, "VEXEL" (or, with
// fewer rights, "vexel"), and the password question.
#include "data/Security.h"

#include <optional>

#include "app/OpenInvoiceDlg.h"
#include "framework/cmdtarget.h"
#include "framework/cwnd.h"

namespace {

const char* const kNoUsers = "_NO_USERS";
const char* const kNotFound = "_NOT_FOUND";
const char* const kNoPassword = "NONE";  // a stored password meaning "no password"
const char* const kUser = "VEXEL";       // the program's user
const char* const kLesserUser = "vexel"; // the same with fewer rights

const char* const kNoVexelUser =
    "Peachtree security is enabled for this company, i.e. (Users & Passwords Have Been Set Up),   "
    "but there isn't a 'VEXEL' user defined.   You must add a user named 'VEXEL'.   "
    "See Vexel Help Subject - Peachtree Security ";

// The result of a find that the security check may pass over: found, or no such
// user. Anything else means the permissions file could not be read, and the check
// must not go on as if the user were simply missing.
void RequireReadable(CBtrvdcp1& permissions, short status, const std::string& criteria) {
    const auto st = static_cast<btrieve::Status>(status);
    if (st == btrieve::Status::Success || st == btrieve::Status::EndOfFile ||
        st == btrieve::Status::KeyNotFound)
        return;
    const std::string file = permissions.control() ? permissions.control()->fileName() : std::string();
    throw CBtrvdcpException(st, file, "FindFirst(\"" + criteria + "\")");
}

// Asks for password; true when the user gave it.
bool AskPassword(QWidget* parent, const std::string& password) {
    CPasswordDlg dlg(parent);
    dlg.m_strExpected1 = password;
    dlg.m_strExpected2 = password;
    return dlg.DoModal() == framework::IDOK;
}

}  // namespace

void WipeSecret(std::string& secret) {
    volatile char* p = secret.data();
    for (size_t i = 0; i < secret.size(); ++i) p[i] = '\0';
    secret.clear();
}

// ---- CPasswordDlg -------------------------------------------------------------

CPasswordDlg::CPasswordDlg(QWidget* parent) : CDialog(IDD, parent) {}

CPasswordDlg::~CPasswordDlg() {
    WipeSecret(m_strExpected1);
    WipeSecret(m_strExpected2);
    WipeSecret(m_strPassword);
}

// Only the typed password is exchanged; the accepted ones never reach a control.
void CPasswordDlg::DoDataExchange(framework::CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    framework::DDX_Text(pDX, IDC_PASSWORD_EDIT, m_strPassword);
}

void CPasswordDlg::OnOK() {
    if (!UpdateData(TRUE)) return;
    if (m_strPassword == m_strExpected2 || m_strPassword == m_strExpected1) {
        ClearPassword();
        EndDialog(framework::IDOK);
        return;
    }
    framework::AfxMessageBox("Password Incorrect");
}

void CPasswordDlg::OnCancel() {
    ClearPassword();
    CDialog::OnCancel();
}

void CPasswordDlg::ClearPassword() {
    WipeSecret(m_strPassword);
    if (QWidget* edit = GetDlgItem(IDC_PASSWORD_EDIT)) framework::SetWindowText(edit, "");
}

// ---- The main window's check --------------------------------------------------

namespace {

// Looks for the user name (exactly; the find's status says nothing more than the name
// read back). When it is there, m_strSecStatus names it and its password is asked
// for: 0 when it has none, 1 when the user gave it; nothing when the user is missing
// or the question was cancelled. The lesser user "vexel" hides the balance and
// "Show Detail" before the question, for good.
std::optional<int> CheckUser(COpenInvoiceDlg& dlg, const std::string& name) {
    CBtrvdcp1& permissions = dlg.m_PermissData;
    const std::string criteria = "UserName = " + name;
    RequireReadable(permissions, permissions.FindFirst(criteria), criteria);
    if (permissions.GetFieldValue("UserName").toString() != name) return std::nullopt;
    if (name == kLesserUser) {
        framework::ShowWindow(dlg.GetDlgItem(IDC_BALANCE_VALUE), framework::SW_HIDE);
        framework::ShowWindow(dlg.GetDlgItem(IDC_DETAIL_BUTTON), framework::SW_HIDE);
    }
    std::string password = permissions.GetFieldValue("Password").toString();
    dlg.m_strSecStatus = name;
    dlg.UpdateData(FALSE);
    std::optional<int> result;
    if (password == kNoPassword) result = 0;
    else if (AskPassword(dlg.GetWindow(), password)) result = 1;
    WipeSecret(password);
    return result;
}

}  // namespace

// Looks up the program's Peachtree user: 0 no password needed, 1 accepted, -1 restricted.
// m_strSecStatus ends up "_NO_USERS", "_NOT_FOUND" or the name of the user found;
// m_strSecPassword is never given a password.
int COpenInvoiceDlg::CheckSecurity() {
    if (m_PermissData.GetRecordCount() == 0) {
        m_strSecStatus = kNoUsers;
        UpdateData(FALSE);
        return 0;
    }
    m_strSecStatus = kNotFound;
    UpdateData(FALSE);
    for (const char* user : {kUser, kLesserUser})
        if (const std::optional<int> result = CheckUser(*this, user)) return *result;
    framework::AfxMessageBox(kNoVexelUser);
    return -1;
}

// The hidden security button: asks for a password with nothing accepted but an empty
// one, and ignores the answer.
void COpenInvoiceDlg::OnButton2() {
    CPasswordDlg dlg(GetWindow());
    dlg.DoModal();
}
