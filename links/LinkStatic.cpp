#include "links/LinkStatic.h"

#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <cstdio>

#include "framework/cmdtarget.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

// Static styles, as the label's alignment carries them.
bool centred(const QLabel* l) { return l->alignment() & Qt::AlignHCenter; }
bool rightAligned(const QLabel* l) { return l->alignment() & Qt::AlignRight; }
bool centredVertically(const QLabel* l) { return l->alignment() & Qt::AlignVCenter; }

QColor systemHighlight() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance())
               ? QGuiApplication::palette().color(QPalette::Highlight)
               : QPalette().color(QPalette::Highlight);
}

}  // namespace

// Routes the label's mouse and visibility events to the control.
class CLinkStatic::Events : public QObject {
public:
    Events(CLinkStatic* link, QLabel* label) : QObject(label), link_(link), label_(label) {
        label->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != label_) return false;
        switch (event->type()) {
        case QEvent::MouseMove:
            link_->OnMouseMove(static_cast<QMouseEvent*>(event)->position().toPoint());
            return false;
        case QEvent::MouseButtonPress:
            if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) return false;
            pressed_ = label_->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint());
            return true;
        case QEvent::MouseButtonRelease: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton) return false;
            const bool click = pressed_ && label_->rect().contains(mouse->position().toPoint());
            pressed_ = false;
            if (click) link_->OnClicked();  // used up here; the dialog never sees it
            return true;
        }
        case QEvent::KeyPress: {
            // With the keyboard focus, Enter or the space bar opens the link.
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key != Qt::Key_Return && key != Qt::Key_Enter && key != Qt::Key_Space) return false;
            link_->OnClicked();
            return true;
        }
        case QEvent::FocusIn:
        case QEvent::FocusOut:
            link_->m_bFocus = event->type() == QEvent::FocusIn;
            link_->Redraw();
            return false;
        case QEvent::Hide:
            if (QWidget::mouseGrabber() == label_) label_->releaseMouse();
            return false;
        default:
            return false;
        }
    }

private:
    CLinkStatic* link_;
    QLabel* label_;
    bool pressed_ = false;
};

CLinkStatic::CLinkStatic()
    : m_crLink(0, 0, 238), m_crVisited(85, 26, 139), m_crHover(systemHighlight()) {}

CLinkStatic::~CLinkStatic() {
    if (QLabel* l = label(); l && QWidget::mouseGrabber() == l) l->releaseMouse();
    delete m_events.data();
}

QLabel* CLinkStatic::label() const { return qobject_cast<QLabel*>(GetWidget()); }

void CLinkStatic::OnAttach() { PreSubclassWindow(); }

void CLinkStatic::PreSubclassWindow() {
    QLabel* l = label();
    if (!l) return;
    // The static's text is the target unless one was given; an empty static shows it.
    if (m_strUrl.empty()) m_strUrl = GetWindowText();
    if (GetWindowText().empty()) SetWindowText(m_strUrl);
    l->setWordWrap(false);
    l->setMouseTracking(true);  // moves without a button held, for the hover
    l->setFocusPolicy(Qt::TabFocus);  // reachable with Tab, shown in the hover colour
    BuildFont();
    FitToText();
    LoadLinkCursor();
    l->setToolTip(platform::fromAnsi(m_strUrl));
    m_events = new Events(this, l);
    Redraw();
}

void CLinkStatic::SetUrl(const std::string& url) {
    m_strUrl = url;
    if (QLabel* l = label()) {
        FitToText();
        l->setToolTip(platform::fromAnsi(m_strUrl));
    }
}

void CLinkStatic::SetColors(const QColor& link, const QColor& visited, const QColor& hover) {
    m_crLink = link;
    m_crVisited = visited;
    m_crHover = hover.isValid() ? hover : systemHighlight();
    Redraw();
}

void CLinkStatic::SetVisited(BOOL visited) {
    m_bVisited = visited;
    Redraw();
}

void CLinkStatic::SetLinkCursor(const std::optional<QCursor>& cursor) {
    m_hLinkCursor = cursor;
    if (!m_hLinkCursor) LoadLinkCursor();
    else if (QLabel* l = label()) l->setCursor(*m_hLinkCursor);
}

void CLinkStatic::SetUnderline(BOOL underline) {
    m_bUnderline = underline;
    if (label()) BuildFont();
}

void CLinkStatic::SetFitToText(BOOL fit) {
    m_bFitToText = fit;
    FitToText();
}

void CLinkStatic::BuildFont() {
    QLabel* l = label();
    m_fontLink = l->font();
    m_fontLink.setUnderline(m_bUnderline);
    l->setFont(m_fontLink);
    l->update();
}

void CLinkStatic::FitToText() {
    QLabel* l = label();
    if (!l || !m_bFitToText) return;
    const QRect r = l->geometry();  // in the parent's coordinates
    int left = r.x(), top = r.y(), right = r.x() + r.width(), bottom = r.y() + r.height();
    // The text's extent as the label draws it, one line.
    const QRect extent = QFontMetrics(m_fontLink).boundingRect(QRect(0, 0, 1 << 20, 1 << 20),
                                                               Qt::TextSingleLine, l->text());
    const int w = extent.width();
    const int h = extent.height();
    // Signed halving: a text larger than the control widens it on both sides.
    if (centredVertically(l)) {
        const int d = (r.height() - h) / 2;
        top += d;
        bottom -= d;
    } else {
        bottom = top + h;
    }
    if (centred(l)) {
        const int d = (r.width() - w) / 2;
        left += d;
        right -= d;
    } else if (rightAligned(l)) {
        left = right - w;
    } else {
        right = left + w;
    }
    l->setGeometry(left, top, right - left, bottom - top);
}

void CLinkStatic::LoadLinkCursor() {
    if (!m_hLinkCursor) m_hLinkCursor = QCursor(Qt::PointingHandCursor);
    if (QLabel* l = label()) l->setCursor(*m_hLinkCursor);
}

void CLinkStatic::Redraw() {
    QLabel* l = label();
    if (!l) return;
    QPalette pal = l->palette();
    const bool lit = m_bHover || m_bFocus;
    pal.setColor(QPalette::WindowText, lit ? m_crHover : m_bVisited ? m_crVisited : m_crLink);
    l->setPalette(pal);
    l->repaint();
}

void CLinkStatic::OnMouseMove(const QPoint& point) {
    QLabel* l = label();
    if (!l) return;
    if (!m_bHover) {
        m_bHover = TRUE;
        Redraw();
        l->grabMouse();  // so that leaving the control is seen
    } else if (!l->rect().contains(point)) {
        m_bHover = FALSE;
        l->releaseMouse();
        Redraw();
    }
}

void CLinkStatic::OnClicked() {
    // A message box or the opened program must not find the mouse held by the link.
    if (QLabel* l = label(); l && m_bHover) {
        m_bHover = FALSE;
        l->releaseMouse();
    }
    const int code = OpenUrl(m_strUrl, platform::SW_SHOW);
    m_bVisited = code > 32;
    if (m_bVisited) {
        SetVisited(TRUE);
        return;
    }
    Redraw();
    platform::services().sound->messageBeep(platform::MB_ICONEXCLAMATION);
    ReportOpenError(code);
}

int CLinkStatic::OpenUrl(const std::string& target, int showCommand) {
    platform::ShellService& shell = *platform::services().shell;
    const long opened = shell.shellOpen(target, showCommand);
    if (static_cast<unsigned long>(opened) > 32) return static_cast<int>(opened);

    // The program registered for HTML files, with the target as its last argument.
    // A target that is empty or looks like an option is not handed over.
    if (target.empty() || target.front() == '-') return static_cast<int>(opened);
    std::string command = shell.htmlAssociation();
    if (command.empty()) return static_cast<int>(opened);
    size_t cut = command.find("\"%1\"");
    if (cut == std::string::npos) cut = command.find("%1");
    if (cut != std::string::npos) command.erase(cut);
    std::vector<std::string> words = platform::splitCommandLine(command);
    if (words.empty()) return static_cast<int>(opened);
    const std::string program = words.front();
    words.erase(words.begin());
    words.push_back(target);  // one argument, whatever blanks, quotes or symbols it holds
    return static_cast<int>(shell.runProgram(program, words, showCommand));
}

std::string CLinkStatic::OpenErrorText(int code) {
    switch (code) {
    case 0: return "The operating system is out\nof memory or resources.";
    case 2: return "The specified file was not found.";
    case 3: return "The specified path was not found.";
    case 5: return "The operating system denied\naccess to the specified file.";
    case 8: return "There was not enough memory to complete the operation.";
    case 11: return "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
    case 26: return "A sharing violation occurred. ";
    case 27: return "The filename association is\nincomplete or invalid.";
    case 28: return "The DDE transaction could not\nbe completed because the request timed out.";
    case 29: return "The DDE transaction failed.";
    case 30: return "The DDE transaction could not\nbe completed because other DDE transactions\n"
                    "were being processed.";
    case 31: return "There is no application associated\nwith the given filename extension.";
    case 32: return "The specified dynamic-link library was not found.";
    default: {
        char text[64];
        std::snprintf(text, sizeof text, "Unknown Error (%d) occurred.", code);
        return text;
    }
    }
}

void CLinkStatic::ReportOpenError(int code) {
    framework::AfxMessageBox("Unable to open hyperlink:\n\n" + OpenErrorText(code),
                             platform::MB_OK | platform::MB_ICONEXCLAMATION);
}
