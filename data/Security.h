// The password dialog of the company's security check.
#pragma once

#include "framework/dialog.h"
#include "res/resource.h"

class CPasswordDlg : public framework::CDialog {
public:
    explicit CPasswordDlg(QWidget* parent = nullptr) : CDialog(IDD, parent) {}
    enum { IDD = IDD_PASSWORD_DIALOG };
};
