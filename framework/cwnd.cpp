#include "framework/cwnd.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QVariant>
#include <QWidget>

#include "platform/text.h"
#include "framework/win.h"

namespace framework {

void ShowWindow(QWidget* control, int showCommand) {
    if (control) control->setVisible(showCommand != SW_HIDE);
}

bool IsWindowVisible(const QWidget* control) { return control && !control->isHidden(); }

int GetDlgCtrlID(const QWidget* control) {
    return control ? control->property("controlId").toInt() : 0;
}

void CWnd::ShowWindow(int showCommand) { framework::ShowWindow(widget_, showCommand); }
bool CWnd::IsWindowVisible() const { return framework::IsWindowVisible(widget_); }
void CWnd::EnableWindow(bool enable) { if (widget_) widget_->setEnabled(enable); }
int CWnd::GetDlgCtrlID() const { return framework::GetDlgCtrlID(widget_); }

void SetWindowText(QWidget* control, const std::string& text) {
    if (!control) return;
    const QString t = platform::fromAnsi(text);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        // An unchanged text is left alone, so that it raises no change notification.
        // A new text shows from its start, as long addresses are read from the left;
        // the edit being typed into keeps its caret at the end.
        if (edit->text() != t) {
            edit->setText(t);
            if (!edit->hasFocus()) edit->setCursorPosition(0);
        }
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        label->setText(t);
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        button->setText(t);
    } else {
        control->setWindowTitle(t);
    }
}

std::string GetWindowText(const QWidget* control) {
    if (!control) return {};
    if (auto* edit = qobject_cast<const QLineEdit*>(control)) return platform::toAnsi(edit->text());
    if (auto* label = qobject_cast<const QLabel*>(control)) return platform::toAnsi(label->text());
    if (auto* button = qobject_cast<const QAbstractButton*>(control))
        return platform::toAnsi(button->text());
    return platform::toAnsi(control->windowTitle());
}

void CWnd::SetWindowText(const std::string& text) { framework::SetWindowText(widget_, text); }
std::string CWnd::GetWindowText() const { return framework::GetWindowText(widget_); }

}  // namespace framework
