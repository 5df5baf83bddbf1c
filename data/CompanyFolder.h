// The company-folder dialog: the user chooses the folder used from the next start.
#pragma once

#include "framework/dialog.h"
#include "res/resource.h"

class CCompanyDlg : public framework::CDialog {
public:
    explicit CCompanyDlg(QWidget* parent = nullptr) : CDialog(IDD, parent) {}
    enum { IDD = IDD_COMPANY_DIALOG };
};
