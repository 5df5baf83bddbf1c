// The password dialog of the company's security check.
//
// The accepted passwords stay in this object's memory: they are compared here and
// never put into a control, so no window, screen reader or accessibility client can
// read them. The two hidden edits of the template (IDC_EXPECTED1_EDIT,
// IDC_EXPECTED2_EDIT) are kept so the dialog's controls are those of its template,
// but stay empty. The typed password shows as bullets and is cleared from its edit
// and from memory when the dialog closes, whichever way it closes.
#pragma once

#include <string>

#include "framework/dialog.h"
#include "res/resource.h"

class CPasswordDlg : public framework::CDialog {
public:
    explicit CPasswordDlg(QWidget* parent = nullptr);
    ~CPasswordDlg() override;
    enum { IDD = IDD_PASSWORD_DIALOG };

    std::string m_strExpected1;  // an accepted password, in memory only
    std::string m_strPassword;   // IDC_PASSWORD_EDIT: what the user typed
    std::string m_strExpected2;  // the other accepted password, in memory only

    // OK: closes with OK when the typed password equals either accepted one exactly,
    // else says "Password Incorrect" and stays open with the typed text as it was.
    void OnOK() override;
    void OnCancel() override;

protected:
    void DoDataExchange(framework::CDataExchange* pDX) override;

private:
    void ClearPassword();
};

// Overwrites a secret's bytes before emptying the string, so that the text does not
// linger in freed memory.
void WipeSecret(std::string& secret);
