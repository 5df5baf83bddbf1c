// The About box: product name, the maker's notice and links, over its own stored skin.
#pragma once

#include "framework/dialog.h"
#include "res/resource.h"

class CAboutDlg : public framework::CDialog {
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

    enum { IDD = IDD_ABOUTBOX };

    // The web and mail links, plain statics for now.
    framework::CWnd m_MailLink;
    framework::CWnd m_WebLink;

protected:
    void DoDataExchange(framework::CDataExchange* pDX) override;
};
