// A thin wrapper over a control's widget, in the shape of the framework's window
// class: DDX_Control attaches a member object (CSkinLabel, CBtrvdcp1, a list box)
// to the control the template created, on the first exchange only.
#pragma once

class QWidget;

namespace framework {

class CWnd {
public:
    virtual ~CWnd() = default;
    // Attaches to widget; later calls while attached do nothing.
    void Attach(QWidget* widget) { if (!widget_) { widget_ = widget; OnAttach(); } }
    QWidget* GetWidget() const { return widget_; }
    bool IsAttached() const { return widget_ != nullptr; }

protected:
    virtual void OnAttach() {}

private:
    QWidget* widget_ = nullptr;
};

}  // namespace framework
