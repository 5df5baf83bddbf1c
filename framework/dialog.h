// Modal dialogs built from a registered dialog template, with dialog data exchange.
//
// DoModal creates the window and every control of the template in template order
// (ActiveX controls through their registered factories, with their stored
// properties), runs OnInitDialog, shows the window and runs it with QDialog::exec()
// until EndDialog. A control that cannot be created ends DoModal at once with -1,
// before OnInitDialog, with no window shown and no message.
//
// Routing: menu commands, push-button clicks and edit changes go through the
// dialog's message map; commands 0x8000..0xEFFF it does not handle go on to the
// application object. Enter sends the focused push button's id, else the default
// button's id, else IDOK; Escape and the close box send IDCANCEL. An exception
// escaping a command handler is reported (stop icon) and the window goes on. Events
// of hosted controls go through the event map; an exception escaping an event
// handler is swallowed with one line on standard error.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QVariantList>
#include <memory>
#include <string>
#include <vector>

#include "framework/cmdtarget.h"
#include "framework/cwnd.h"
#include "framework/dialog_template.h"
#include "framework/dialog_units.h"

class QDialog;
class QPainter;
class QWidget;

namespace framework {

class CDialog;

// Icon and cursor handles are Qt icons here.
using HICON = QIcon;
using HCURSOR = QIcon;

class CDataExchange {
public:
    CDataExchange(CDialog* dialog, BOOL saveAndValidate)
        : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}
    // Ends a saving exchange that cannot go on: puts the focus on the control and stops.
    [[noreturn]] void Fail(QWidget* control = nullptr);

    CDialog* m_pDlgWnd;
    BOOL m_bSaveAndValidate;  // TRUE: controls to members
};

void DDX_Text(CDataExchange* pDX, int id, std::string& value);
// Written with "%d"; read back as a decimal integer, else reported and failed.
void DDX_Text(CDataExchange* pDX, int id, int& value);
// Attaches control to the dialog's control on the first exchange only.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
// The list box's selected text (saving); selects the first entry with that text (loading).
void DDX_LBString(CDataExchange* pDX, int id, std::string& value);

class CDialog : public CCmdTarget {
public:
    explicit CDialog(int templateId, QWidget* parent = nullptr);
    ~CDialog() override;

    virtual int DoModal();
    void EndDialog(int result);
    // The control with this dialog id while the window exists, else nullptr.
    QWidget* GetDlgItem(int id) const;
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

    // The window while DoModal runs, else nullptr.
    QDialog* GetWindow() const;
    int GetTemplateId() const { return templateId_; }
    const DialogTemplate* GetTemplate() const;
    const BaseUnits& GetBaseUnits() const { return baseUnits_; }

    // Message routing, as the window uses it; true when a handler ran. The command
    // form reports an exception that escapes the handler.
    bool SendCommand(int id, unsigned code = BN_CLICKED);
    bool FireEvent(int controlId, int dispid, const QVariantList& args = {});
    // Runs the window's handler of Paint or QueryDragIcon; result receives a handler's
    // result (a QIcon for QueryDragIcon). False when the map has no such entry.
    bool Dispatch(Message message, void* result = nullptr);
    QWidget* GetClientArea() const;

    void SetIcon(const QIcon& icon, BOOL bigIcon);
    bool IsIconic() const;

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    // The framework's default handling of the message being handled (paint).
    void Default();

    DECLARE_MESSAGE_MAP()

private:
    friend class DialogWindow;
    friend class ClientArea;
    friend void DDX_Control(CDataExchange*, int, CWnd&);
    bool createControls();
    void destroyWindow();
    void focusFirstTabStop();
    void paintMessage();

    int templateId_;
    QWidget* parent_;
    std::unique_ptr<QDialog> window_;
    QWidget* client_ = nullptr;
    BaseUnits baseUnits_;
    std::vector<std::pair<int, QWidget*>> controls_;  // template order
    std::vector<CWnd*> attached_;                     // members attached by DDX_Control
    bool ended_ = false;
    int result_ = 0;
    bool inPaint_ = false;
};

// Painting of the client area inside the window's Paint handler; outside a paint
// it draws nothing.
class CPaintDC {
public:
    explicit CPaintDC(CDialog* dialog);
    void EraseBackground();                          // WM_ICONERASEBKGND
    void DrawIcon(int x, int y, const QIcon& icon);  // at its SM_CXICON x SM_CYICON size
    QRect ClientRect() const;

private:
    CDialog* dialog_;
    QPainter* painter_;
};

}  // namespace framework
