// A static text control that behaves as a hyperlink: its text in link colours,
// underlined, a pointing hand and a tooltip with the target over it, and a click that
// opens the target through the shell and then shows the link as visited or says why
// the target could not be opened. Tab reaches it, and Enter or the space bar opens it.
//
// Bound to a dialog's static with DDX_Control, it takes the static's text as its target
// (or, with a target and no text, shows the target). Without a window the setters only
// store their values, and OpenUrl needs no object at all:
//   CLinkStatic::OpenUrl("Output.txt", platform::SW_SHOWNORMAL);
#pragma once

#include <QColor>
#include <QCursor>
#include <QFont>
#include <QPointer>
#include <optional>
#include <string>

#include "framework/cwnd.h"
#include "framework/win.h"

class QLabel;
class QObject;
class QPoint;

class CLinkStatic : public framework::CWnd {
public:
    CLinkStatic();
    ~CLinkStatic() override;
    CLinkStatic(const CLinkStatic&) = delete;
    CLinkStatic& operator=(const CLinkStatic&) = delete;

    // The target handed to the shell: a URL, a "mailto:" address or a file name.
    void SetUrl(const std::string& url);
    std::string GetUrl() const { return m_strUrl; }

    // An invalid hover colour stands for the system's highlight colour.
    void SetColors(const QColor& link, const QColor& visited, const QColor& hover = QColor());
    QColor GetLinkColor() const { return m_crLink; }
    QColor GetVisitedColor() const { return m_crVisited; }
    QColor GetHoverColor() const { return m_crHover; }

    void SetVisited(BOOL visited);
    BOOL IsVisited() const { return m_bVisited; }
    BOOL IsHover() const { return m_bHover; }

    // No cursor: the platform's pointing hand.
    void SetLinkCursor(const std::optional<QCursor>& cursor);
    std::optional<QCursor> GetLinkCursor() const { return m_hLinkCursor; }

    void SetUnderline(BOOL underline);
    BOOL IsUnderlined() const { return m_bUnderline; }

    void SetFitToText(BOOL fit);
    BOOL IsFitToText() const { return m_bFitToText; }

    // Opens target with the shell's "open" and the show command; when the shell cannot,
    // starts the program registered for HTML files with the target as its one last
    // argument. Returns the shell's or the program start's result code, above 32 meaning
    // success. Needs no window and no object.
    static int OpenUrl(const std::string& target, int showCommand);
    // "Unable to open hyperlink:" and the message for code, in a message box with the
    // exclamation icon.
    static void ReportOpenError(int code);
    // The message for a result code of OpenUrl.
    static std::string OpenErrorText(int code);

    // What a click does: opens the target, then marks the link visited or reports.
    void OnClicked();
    // A mouse move at point (client coordinates): takes or gives up the hover.
    void OnMouseMove(const QPoint& point);

protected:
    void OnAttach() override;  // the set-up when the dialog's static is bound

private:
    class Events;
    QLabel* label() const;
    void PreSubclassWindow();
    void FitToText();
    void LoadLinkCursor();
    void BuildFont();
    void Redraw();  // the colour for the state, drawn at once

    QColor m_crLink;
    QColor m_crVisited;
    QColor m_crHover;
    BOOL m_bHover = FALSE;
    BOOL m_bVisited = FALSE;
    BOOL m_bUnderline = TRUE;
    BOOL m_bFitToText = TRUE;
    bool m_bFocus = false;       // the keyboard focus is on the control
    std::string m_strUrl;
    QFont m_fontLink;
    std::optional<QCursor> m_hLinkCursor;
    QPointer<QObject> m_events;  // the control's event handling, while it has a window
};
