// The company folder: which Peachtree company the program reads. The data-path file
// "DataPath.kxi" in the current folder names it on its first line; while that file
// is missing or names none, the last "Company0" line of Peachtree's settings file
// paw70.ini in the Windows directory does, and is then remembered in the data-path
// file. The company-folder dialog lets the user choose another folder for the next
// start.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "framework/dialog.h"
#include "framework/listbox.h"
#include "res/resource.h"

namespace companyfolder {

inline constexpr const char* kDataPathFile = "DataPath.kxi";

// The Peachtree settings file: the Windows directory followed by "\paw70.ini".
std::string settingsFilePath();

// The values of the settings file's lines that begin with key (case counts), in the
// file's order: each line from its tenth character on. A line's CR is never part of
// its value. Raises platform::FileError when the file cannot be read.
std::vector<std::string> settingsValues(const std::string& settingsFile, const std::string& key);

// Writes the data-path file anew holding path alone, without a line break. Raises
// platform::FileError when it cannot be written.
void writeDataPathFile(const std::string& path);

// Start-up cannot tell the company folder: the settings file it needs is missing or
// unreadable. The text names the file and tells the user how to go on.
class CompanyFolderError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace companyfolder

// The company-folder dialog: a path typed or taken from Peachtree's recent
// companies, written to the data-path file for the next start.
class CCompanyDlg : public framework::CDialog {
public:
    explicit CCompanyDlg(QWidget* parent = nullptr);
    enum { IDD = IDD_COMPANY_DIALOG };

    std::string m_strPath;               // IDC_COMPANY_PATH_EDIT
    framework::CListBox m_RecentList;    // IDC_RECENT_LIST
    std::string m_strRecent;             // the list's selected text

    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnShowRecentList();
    void OnSelchangeRecentList();

protected:
    void DoDataExchange(framework::CDataExchange* pDX) override;

    DECLARE_MESSAGE_MAP()
};
