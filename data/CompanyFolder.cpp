// Finding the company folder at start, and the dialog that chooses it.
#include "data/CompanyFolder.h"

#include <QListWidget>
#include <iostream>

#include "app/OpenInvoiceDlg.h"
#include "platform/platform.h"

using platform::FileError;
using platform::TextFile;

namespace {

constexpr unsigned LBN_SELCHANGE = 1;

constexpr const char* kStartKey = "Company0";  // the company Peachtree opened last
constexpr const char* kRecentKey = "Company";  // every recent company
constexpr size_t kValueStart = 9;              // after the eight-character key and '='

// The settings file as the user finds it on this system.
std::string shownPath(const std::string& path) {
    const std::string mapped = platform::mapWindowsPath(path);
    return mapped.empty() ? path : mapped;
}

// The company folder named by the settings file's last "Company0" line; empty when
// there is none. A settings file that cannot be read ends the start-up here, with a
// message that says how to go on.
std::string startCompany(const std::string& settingsFile) {
    std::vector<std::string> folders;
    try {
        folders = companyfolder::settingsValues(settingsFile, kStartKey);
    } catch (const FileError& error) {
        const bool missing = error.cause() == FileError::Cause::FileNotFound ||
                             error.cause() == FileError::Cause::BadPath;
        throw companyfolder::CompanyFolderError(
            "The Peachtree settings file " + shownPath(settingsFile) +
            (missing ? " was not found" : std::string(" could not be read: ") +
                                              platform::fileErrorCauseText(error.cause())) +
            ", and " + companyfolder::kDataPathFile +
            " names no company folder, so no company is open.\n\n"
            "Choose the company folder with \"Select Peach Company\" on the File menu; "
            "it takes effect the next time you start Vexel.");
    }
    return folders.empty() ? std::string() : folders.back();
}

}  // namespace

namespace companyfolder {

std::string settingsFilePath() {
    return platform::services().system->windowsDirectory(260) + "\\paw70.ini";
}

std::vector<std::string> settingsValues(const std::string& settingsFile, const std::string& key) {
    TextFile file(settingsFile, TextFile::modeRead | TextFile::shareDenyNone | TextFile::typeText);
    std::vector<std::string> values;
    std::string line;
    while (file.readString(line))
        if (line.compare(0, key.size(), key) == 0)
            values.push_back(line.size() > kValueStart ? line.substr(kValueStart) : std::string());
    return values;
}

void writeDataPathFile(const std::string& path) {
    TextFile file(kDataPathFile, TextFile::modeCreate | TextFile::modeWrite);
    file.writeString(path);
    file.close();
}

}  // namespace companyfolder

// Reads the company folder and names the three company files on the data controls.
// A missing data-path file counts as an empty one. The folder taken from the settings
// file is remembered in a new data-path file; when that cannot be written, the user is
// told so, the folder is still used and the next start finds it the same way.
void COpenInvoiceDlg::LocateCompanyFolder() {
    using namespace companyfolder;
    const std::string settingsFile = settingsFilePath();
    m_strDataPath.clear();
    try {
        TextFile dataPath(kDataPathFile, TextFile::modeRead | TextFile::shareDenyNone | TextFile::typeText);
        dataPath.readString(m_strDataPath);
    } catch (const FileError& error) {
        if (error.cause() != FileError::Cause::FileNotFound) throw;
    }

    if (m_strDataPath.empty()) {
        m_strDataPath = startCompany(settingsFile);
        if (!m_strDataPath.empty()) {
            try {
                writeDataPathFile(m_strDataPath);
            } catch (const FileError& error) {
                std::cerr << framework::applicationTitle() << ": " << error.what() << '\n';
                framework::AfxMessageBox("The company folder " + shownPath(m_strDataPath) +
                                         " could not be written to " + kDataPathFile + " (" +
                                         platform::fileErrorCauseText(error.cause()) +
                                         "), so Vexel uses it for this run only and looks it up in "
                                         "paw70.ini again at the next start.");
            }
        }
    }

    m_CustomerData.SetFileName(m_strDataPath + "\\customer.dat");
    m_CustomerData.SetFileMode(1);
    m_JournalData.SetFileName(m_strDataPath + "\\journal.dat");
    m_JournalData.SetFileMode(1);
    m_PermissData.SetFileName(m_strDataPath + "\\permiss.dat");
    m_PermissData.SetFileMode(1);
}

// ---- CCompanyDlg ----------------------------------------------------------------

BEGIN_MESSAGE_MAP(CCompanyDlg, framework::CDialog)
    ON_BN_CLICKED(IDC_SHOW_RECENT_BUTTON, OnShowRecentList)
    {framework::Message::Command, LBN_SELCHANGE, IDC_RECENT_LIST,
     &framework::detail::invokeMessage<&CCompanyDlg::OnSelchangeRecentList>, "OnSelchangeRecentList"},
END_MESSAGE_MAP()

CCompanyDlg::CCompanyDlg(QWidget* parent) : CDialog(IDD, parent) {}

void CCompanyDlg::DoDataExchange(framework::CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    framework::DDX_Control(pDX, IDC_RECENT_LIST, m_RecentList);
    framework::DDX_Text(pDX, IDC_COMPANY_PATH_EDIT, m_strPath);
    // The selection is only read: showing the members never moves it.
    if (pDX->m_bSaveAndValidate) framework::DDX_LBString(pDX, IDC_RECENT_LIST, m_strRecent);
}

BOOL CCompanyDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    // The user's choice in the list (mouse or keyboard) is its selection change.
    if (auto* list = qobject_cast<QListWidget*>(GetDlgItem(IDC_RECENT_LIST)))
        QObject::connect(list, &QListWidget::currentRowChanged, GetWindow(),
                         [this] { SendCommand(IDC_RECENT_LIST, LBN_SELCHANGE); });
    return TRUE;
}

// Lists every company of the settings file's "Company" lines, in the file's order,
// after what the list holds, and takes the first entry into the path field. With no
// such line nothing changes.
void CCompanyDlg::OnShowRecentList() {
    platform::services().sound->playSound(sounds::kRecentList, sounds::kFlags);
    const std::vector<std::string> folders =
        companyfolder::settingsValues(companyfolder::settingsFilePath(), kRecentKey);
    if (folders.empty()) return;
    for (const std::string& folder : folders) m_RecentList.InsertString(-1, folder);
    m_RecentList.SetCurSel(0);
    m_strPath = m_RecentList.GetText(0);
    UpdateData(FALSE);
}

void CCompanyDlg::OnSelchangeRecentList() {
    const int selected = m_RecentList.GetCurSel();
    if (selected < 0) return;
    m_strPath = m_RecentList.GetText(selected);
    UpdateData(FALSE);
}

// Writes the path field, as the user left it, to the data-path file for the next
// start. A file that cannot be written is reported and the dialog stays open.
void CCompanyDlg::OnOK() {
    if (!UpdateData(TRUE)) return;
    companyfolder::writeDataPathFile(m_strPath);
    framework::AfxMessageBox("New company will take effect next time you start Vexel");
    EndDialog(framework::IDOK);
}
