// The About box: product name, the maker's notice and links, over its own stored skin.
#pragma once

#include "framework/dialog.h"
#include "links/LinkStatic.h"
#include "res/resource.h"

class CAboutDlg : public framework::CDialog {
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

    enum { IDD = IDD_ABOUTBOX };

    // The web and mail links: the statics' texts are their targets.
    CLinkStatic m_MailLink;
    CLinkStatic m_WebLink;

protected:
    void DoDataExchange(framework::CDataExchange* pDX) override;
};
