// A thin wrapper over a control's widget, in the shape of the framework's window
// class: DDX_Control attaches a member object (CSkinLabel, CBtrvdcp1, a list box)
// to the control the template created, on the first exchange only.
#pragma once

#include <string>

class QWidget;

namespace framework {

class CWnd {
public:
    virtual ~CWnd() = default;
    // Attaches to widget; later calls while attached do nothing.
    void Attach(QWidget* widget) { if (!widget_) { widget_ = widget; OnAttach(); } }
    QWidget* GetWidget() const { return widget_; }
    bool IsAttached() const { return widget_ != nullptr; }
    // Forgets the widget when the dialog that owns it is destroyed.
    void Detach() { widget_ = nullptr; }

    // Window operations on the attached widget; without a widget they do nothing
    // and the queries answer 0 / false / "".
    void ShowWindow(int showCommand);        // SW_HIDE hides, any other command shows
    bool IsWindowVisible() const;            // the control's own visible flag
    void EnableWindow(bool enable);
    int GetDlgCtrlID() const;                // the template id, 0 when none
    void SetWindowText(const std::string& text);
    std::string GetWindowText() const;

protected:
    virtual void OnAttach() {}

private:
    QWidget* widget_ = nullptr;
};

// The same operations for a control reached by its dialog id (GetDlgItem).
void ShowWindow(QWidget* control, int showCommand);
bool IsWindowVisible(const QWidget* control);
int GetDlgCtrlID(const QWidget* control);
// A control's text: an edit's, a static's or a button's text, else the widget's title.
void SetWindowText(QWidget* control, const std::string& text);  // unchanged text is not rewritten
std::string GetWindowText(const QWidget* control);

}  // namespace framework
