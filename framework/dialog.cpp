#include "framework/dialog.h"

#include <QAbstractItemView>
#include <QDialog>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMetaMethod>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <charconv>
#include <iostream>
#include <stdexcept>

#include "framework/event_relay.h"
#include "framework/listbox.h"
#include "platform/text.h"

namespace framework {
namespace {

// Thrown by CDataExchange::Fail and caught by UpdateData only.
struct DataExchangeFailure {};

// Windows fonts are narrower than the ones that stand in for them here: a static
// whose text would not fit its rectangle gets a slightly smaller font, down to a
// limit, so that its caption is not cut.
void fitLabelText(QLabel* label) {
    QFont font = label->font();
    if (font.pixelSize() <= 0 || label->text().isEmpty()) return;
    const int flags = int(label->alignment()) | Qt::TextWordWrap;
    for (int size = font.pixelSize(); size >= 8; --size) {
        font.setPixelSize(size);
        const QRect needed = QFontMetrics(font).boundingRect(
            QRect(0, 0, label->width(), 10000), flags, label->text());
        if (needed.width() <= label->width() && needed.height() <= label->height()) break;
    }
    if (font.pixelSize() != label->font().pixelSize()) label->setFont(font);
}

QPainter*& currentPainter() {
    static QPainter* painter = nullptr;
    return painter;
}

}  // namespace

// ---- Event relay ----------------------------------------------------------

EventRelay::EventRelay(QObject* control, Callback callback)
    : QObject(control), callback_(std::move(callback)) {
    const QMetaObject* meta = control->metaObject();
    const int signal = meta->indexOfSignal("axEvent(int,QVariantList)");
    if (signal < 0) return;
    const int slot = metaObject()->indexOfSlot("relay(int,QVariantList)");
    connected_ = static_cast<bool>(
        QObject::connect(control, meta->method(signal), this, metaObject()->method(slot)));
}

void EventRelay::relay(int dispid, const QVariantList& args) {
    if (callback_) callback_(dispid, args);
}

// ---- The window -----------------------------------------------------------

// The dialog's top-level window: routes Enter, Escape, the close box and painting
// to the CDialog that owns it.
class DialogWindow : public QDialog {
public:
    DialogWindow(CDialog* owner, QWidget* parent) : QDialog(parent), owner_(owner) {}

    void accept() override { owner_->SendCommand(IDOK); }
    void reject() override { owner_->SendCommand(IDCANCEL); }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const bool plain = event->modifiers() == Qt::NoModifier ||
                           event->modifiers() == Qt::KeypadModifier;
        if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
            owner_->SendCommand(defaultCommand());
            return;
        }
        if (plain && event->key() == Qt::Key_Escape) {
            owner_->SendCommand(IDCANCEL);
            return;
        }
        QWidget::keyPressEvent(event);
    }

private:
    // The focused push button, else the default push button, else IDOK.
    int defaultCommand() const {
        if (auto* focused = qobject_cast<QPushButton*>(focusWidget()))
            if (focused->isVisible() && focused->isEnabled()) return GetDlgCtrlID(focused);
        for (const auto& [id, control] : owner_->controls_) {
            auto* button = qobject_cast<QPushButton*>(control);
            if (button && button->isDefault() && button->isEnabled() && !button->isHidden())
                return id;
        }
        return IDOK;
    }

    CDialog* owner_;
};

// The client area below the menu bar; the controls are its children.
class ClientArea : public QWidget {
public:
    ClientArea(CDialog* owner, QWidget* parent) : QWidget(parent), owner_(owner) {
        setObjectName(QStringLiteral("clientArea"));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        currentPainter() = &painter;
        owner_->paintMessage();
        currentPainter() = nullptr;
    }

private:
    CDialog* owner_;
};

// ---- Data exchange --------------------------------------------------------

void CDataExchange::Fail(QWidget* control) {
    if (control) control->setFocus();
    throw DataExchangeFailure{};
}

namespace {

QWidget* requireControl(CDataExchange* pDX, int id) {
    QWidget* control = pDX->m_pDlgWnd->GetDlgItem(id);
    if (!control)
        throw std::logic_error("dialog " + std::to_string(pDX->m_pDlgWnd->GetTemplateId()) +
                               " has no control " + std::to_string(id));
    return control;
}

}  // namespace

void DDX_Text(CDataExchange* pDX, int id, std::string& value) {
    QWidget* control = requireControl(pDX, id);
    if (pDX->m_bSaveAndValidate)
        value = GetWindowText(control);
    else
        SetWindowText(control, value);
}

void DDX_Text(CDataExchange* pDX, int id, int& value) {
    QWidget* control = requireControl(pDX, id);
    if (!pDX->m_bSaveAndValidate) {
        SetWindowText(control, std::to_string(value));
        return;
    }
    const std::string text = GetWindowText(control);
    size_t begin = text.find_first_not_of(" \t");
    size_t end = text.find_last_not_of(" \t");
    int parsed = 0;
    bool ok = false;
    if (begin != std::string::npos) {
        const char* first = text.data() + begin;
        const char* last = text.data() + end + 1;
        if (*first == '+') ++first;  // from_chars takes '-' only
        auto [ptr, ec] = std::from_chars(first, last, parsed);
        ok = ec == std::errc() && ptr == last && first != last;
    }
    if (!ok) {
        AfxMessageBox("Please enter an integer.");
        pDX->Fail(control);
    }
    value = parsed;
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    if (control.IsAttached()) return;
    control.Attach(requireControl(pDX, id));
    pDX->m_pDlgWnd->attached_.push_back(&control);
}

void DDX_LBString(CDataExchange* pDX, int id, std::string& value) {
    auto* list = qobject_cast<QListWidget*>(requireControl(pDX, id));
    if (!list) throw std::logic_error("control " + std::to_string(id) + " is not a list box");
    if (pDX->m_bSaveAndValidate) {
        const int row = list->currentRow();
        value = row >= 0 && list->item(row)->isSelected() ? platform::toAnsi(list->item(row)->text())
                                                          : std::string();
        return;
    }
    const QString wanted = platform::fromAnsi(value);
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->text().startsWith(wanted, Qt::CaseInsensitive)) {
            list->setCurrentRow(i);
            return;
        }
    }
}

// ---- CDialog --------------------------------------------------------------

BEGIN_MESSAGE_MAP(CDialog, CCmdTarget)
    ON_COMMAND(IDOK, OnOK)
    ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(int templateId, QWidget* parent) : templateId_(templateId), parent_(parent) {}

CDialog::~CDialog() { destroyWindow(); }

const DialogTemplate* CDialog::GetTemplate() const { return findDialogTemplate(templateId_); }

QDialog* CDialog::GetWindow() const { return window_.get(); }

QWidget* CDialog::GetDlgItem(int id) const {
    for (const auto& [controlId, control] : controls_)
        if (controlId == id) return control;
    return nullptr;
}

namespace {

// The window's menu bar from its menu template; each command goes to the dialog.
QMenuBar* buildMenuBar(const MenuTemplate& menu, CDialog* dialog, QWidget* window) {
    auto* bar = new QMenuBar(window);
    bar->setObjectName(QString::fromStdString(menu.idName));
    bar->setNativeMenuBar(false);
    std::function<void(QMenu*, const MenuItem&)> addItem = [&](QMenu* into, const MenuItem& item) {
        if (!item.items.empty() || item.id == 0) {
            QMenu* sub = into->addMenu(platform::fromAnsi(item.text));
            for (const MenuItem& child : item.items) addItem(sub, child);
            return;
        }
        QAction* action = into->addAction(platform::fromAnsi(item.text));
        action->setObjectName(QString::fromStdString(item.idName));
        action->setData(item.id);
        const int id = item.id;
        QObject::connect(action, &QAction::triggered, window, [dialog, id] { dialog->SendCommand(id); });
    };
    for (const MenuItem& top : menu.menus) {
        QMenu* m = bar->addMenu(platform::fromAnsi(top.text));
        for (const MenuItem& child : top.items) addItem(m, child);
    }
    return bar;
}

// --- one function per control kind ---------------------------------------------------

QWidget* makeEdit(const ControlTemplate& c, CDialog* dialog, QWidget* parent) {
    auto* edit = new QLineEdit(platform::fromAnsi(c.caption), parent);
    edit->setFrame(c.style & (WS_BORDER));
    if (c.style & ES_PASSWORD) edit->setEchoMode(QLineEdit::Password);
    if (c.style & ES_READONLY) edit->setReadOnly(true);
    if (const int id = c.id; id != IDC_STATIC)
        QObject::connect(edit, &QLineEdit::textChanged, parent, [dialog, id] { dialog->SendCommand(id, EN_CHANGE); });
    return edit;
}

QWidget* makeListBox(const ControlTemplate& c, int baseUnitX, QWidget* parent) {
    auto* list = new ListBoxWidget(c.style & LBS_SORT, c.style & LBS_USETABSTOPS, baseUnitX, parent);
    if (c.exStyle & WS_EX_CLIENTEDGE)
        list->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    else if (c.style & WS_BORDER)
        list->setFrameStyle(QFrame::Box | QFrame::Plain);
    else
        list->setFrameStyle(QFrame::NoFrame);
    list->setVerticalScrollBarPolicy((c.style & WS_VSCROLL) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    list->setHorizontalScrollBarPolicy((c.style & WS_HSCROLL) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    return list;
}

QWidget* makePushButton(const ControlTemplate& c, CDialog* dialog, QWidget* parent) {
    auto* button = new QPushButton(platform::fromAnsi(c.caption), parent);
    button->setAutoDefault(false);
    button->setDefault((c.style & 0x0F) == BS_DEFPUSHBUTTON);
    if (const int id = c.id; id != IDC_STATIC)
        QObject::connect(button, &QPushButton::clicked, parent, [dialog, id] { dialog->SendCommand(id, BN_CLICKED); });
    return button;
}

QWidget* makeStatic(const ControlTemplate& c, QWidget* parent) {
    auto* label = new QLabel(platform::fromAnsi(c.caption), parent);
    label->setTextFormat(Qt::PlainText);
    Qt::Alignment align = Qt::AlignTop | Qt::AlignLeft;
    if ((c.style & SS_TYPEMASK) == SS_CENTER) align = Qt::AlignTop | Qt::AlignHCenter;
    if ((c.style & SS_TYPEMASK) == SS_RIGHT) align = Qt::AlignTop | Qt::AlignRight;
    label->setAlignment(align);
    label->setWordWrap(true);
    return label;
}

QWidget* makePicture(const ControlTemplate& c, QWidget* parent) {
    auto* frame = new QFrame(parent);
    if ((c.exStyle & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE)) || (c.style & SS_SUNKEN)) {
        frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        frame->setLineWidth((c.exStyle & WS_EX_DLGMODALFRAME) ? 2 : 1);
    }
    return frame;
}

// nullptr when the class is not registered or its factory makes nothing.
QWidget* makeActiveX(const ControlTemplate& c, CDialog* dialog, QWidget* parent) {
    const ActiveXFactory* factory = findActiveXClass(c.className);
    if (!factory) return nullptr;
    ActiveXCreateInfo info{c.id, c.idName, c.caption, c.properties};
    QWidget* widget = (*factory)(info, parent);
    if (!widget) return nullptr;
    if (widget->parentWidget() != parent) widget->setParent(parent);
    new EventRelay(widget, [dialog, id = c.id](int dispid, const QVariantList& args) {
        dialog->FireEvent(id, dispid, args);
    });
    return widget;
}

QWidget* makeControl(const ControlTemplate& c, CDialog* dialog, QWidget* parent) {
    switch (c.kind) {
    case ControlKind::Edit: return makeEdit(c, dialog, parent);
    case ControlKind::ListBox: return makeListBox(c, dialog->GetBaseUnits().x, parent);
    case ControlKind::PushButton: return makePushButton(c, dialog, parent);
    case ControlKind::Static: return makeStatic(c, parent);
    case ControlKind::Picture: return makePicture(c, parent);
    case ControlKind::ActiveX: return makeActiveX(c, dialog, parent);
    }
    return nullptr;
}

// A tab stop takes the focus by tab and click; statics and pictures never; an ActiveX
// control by click when its class asks for it; other controls by click only.
Qt::FocusPolicy focusPolicyOf(const ControlTemplate& c, const QWidget* widget) {
    if (c.style & WS_TABSTOP) return Qt::StrongFocus;
    switch (c.kind) {
    case ControlKind::Static:
    case ControlKind::Picture: return Qt::NoFocus;
    case ControlKind::ActiveX: return (widget->focusPolicy() & Qt::ClickFocus) ? Qt::ClickFocus : Qt::NoFocus;
    default: return Qt::ClickFocus;
    }
}

// What every control takes from its row: place, font fitting, id, names, focus,
// enabled and visible state.
void applySharedProperties(const ControlTemplate& c, QWidget* widget, const QRect& rect, const QFont& font) {
    widget->setGeometry(rect);
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setFont(font);
        fitLabelText(label);
    }
    widget->setProperty("controlId", c.id);
    widget->setObjectName(QString::fromStdString(c.idName));
    widget->setAccessibleDescription(QString::fromStdString(c.idName));
    if (!c.accessibleName.empty())
        widget->setAccessibleName(platform::fromAnsi(c.accessibleName));
    else if (!c.caption.empty())
        widget->setAccessibleName(platform::fromAnsi(c.caption));
    widget->setFocusPolicy(focusPolicyOf(c, widget));
    if (c.style & WS_DISABLED) widget->setEnabled(false);
    widget->setVisible(c.style & WS_VISIBLE);
}

}  // namespace

int CDialog::DoModal() {
    const DialogTemplate* dialogTemplate = GetTemplate();
    if (!dialogTemplate || window_) return -1;
    ended_ = false;
    result_ = 0;

    window_ = std::make_unique<DialogWindow>(this, parent_);
    QDialog* window = window_.get();
    window->setObjectName(QString::fromStdString(dialogTemplate->idName));
    window->setWindowTitle(platform::fromAnsi(dialogTemplate->caption));
    window->setAccessibleDescription(QString::fromStdString(dialogTemplate->idName));
    const QFont font = dialogFont(dialogTemplate->fontName, dialogTemplate->fontPoints);
    window->setFont(font);
    baseUnits_ = baseUnits(font);

    Qt::WindowFlags flags = Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    // A window with a minimise box is a main window (task-bar button); others are dialogs.
    if (dialogTemplate->style & WS_MINIMIZEBOX)
        flags |= Qt::Window | Qt::WindowMinimizeButtonHint;
    else
        flags |= Qt::Dialog;
    window->setWindowFlags(flags);
    window->setWindowModality(Qt::ApplicationModal);

    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetFixedSize);  // not resizable
    if (const MenuTemplate* menu = findMenuTemplate(dialogTemplate->menuId))
        layout->setMenuBar(buildMenuBar(*menu, this, window));
    client_ = new ClientArea(this, window);
    client_->setFixedSize(MulDiv(dialogTemplate->cx, baseUnits_.x, 4),
                          MulDiv(dialogTemplate->cy, baseUnits_.y, 8));
    layout->addWidget(client_);

    if (!createControls()) {
        destroyWindow();
        return -1;
    }

    BOOL focusDefault = TRUE;
    try {
        focusDefault = OnInitDialog();
    } catch (const std::exception& error) {
        ReportCommandError(error);
    }
    if (!ended_ && window_) {
        window->show();
        window->activateWindow();
        if (focusDefault) focusFirstTabStop();
        window->exec();
    }
    const int result = result_;
    destroyWindow();
    return result;
}

bool CDialog::createControls() {
    for (const ControlTemplate& c : GetTemplate()->controls) {
        QWidget* widget = makeControl(c, this, client_);
        if (!widget) return false;
        applySharedProperties(c, widget, mapDialogRect(baseUnits_, c.x, c.y, c.cx, c.cy), window_->font());
        controls_.emplace_back(c.id, widget);
    }

    // Drawing order: the first control on top. Tab order: template order.
    for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) it->second->raise();
    QWidget* previous = nullptr;
    for (const auto& [id, control] : controls_) {
        if (!(control->focusPolicy() & Qt::TabFocus)) continue;
        if (previous) QWidget::setTabOrder(previous, control);
        previous = control;
    }
    return true;
}

void CDialog::focusFirstTabStop() {
    for (const auto& [id, control] : controls_) {
        if ((control->focusPolicy() & Qt::TabFocus) && !control->isHidden() && control->isEnabled()) {
            control->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

void CDialog::destroyWindow() {
    for (CWnd* member : attached_) member->Detach();
    attached_.clear();
    controls_.clear();
    client_ = nullptr;
    window_.reset();
}

void CDialog::EndDialog(int result) {
    result_ = result;
    ended_ = true;
    if (window_) window_->done(result);
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    if (!window_) return FALSE;
    CDataExchange dx(this, saveAndValidate);
    try {
        DoDataExchange(&dx);
    } catch (const DataExchangeFailure&) {
        return FALSE;
    }
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

bool CDialog::SendCommand(int id, unsigned code) {
    try {
        if (OnCmdMsg(id, code)) return true;
        if (code == BN_CLICKED && id >= kFirstAppCommand && id <= kLastAppCommand)
            if (CWinApp* app = AfxGetApp()) return app->OnCmdMsg(id, code);
    } catch (const std::exception& error) {
        ReportCommandError(error);
        return true;
    }
    return false;
}

bool CDialog::FireEvent(int controlId, int dispid, const QVariantList& args) {
    const EventSinkEntry* entry = FindEventEntry(controlId, dispid);
    if (!entry) return false;
    try {
        trace(entry->handler);
        entry->invoke(this, args);
    } catch (const std::exception& error) {
        // As an event sink hands a failure back to the control: the window goes on.
        std::cerr << applicationTitle() << ": " << entry->handler << " (control " << controlId
                  << ", event " << dispid << ") failed: " << error.what() << '\n';
    }
    return true;
}

bool CDialog::Dispatch(Message message, void* result) {
    const MessageMapEntry* entry = FindMessageEntry(message, 0, 0);
    if (!entry) return false;
    trace(entry->handler);
    entry->invoke(this, result);
    return true;
}

void CDialog::paintMessage() {
    inPaint_ = true;
    try {
        if (!Dispatch(Message::Paint)) Default();
    } catch (const std::exception& error) {
        inPaint_ = false;
        ReportCommandError(error);
    }
    inPaint_ = false;
}

void CDialog::Default() {}

void CDialog::SetIcon(const QIcon& icon, BOOL) {
    if (window_) window_->setWindowIcon(icon);
}

bool CDialog::IsIconic() const { return window_ && window_->isMinimized(); }

QWidget* CDialog::GetClientArea() const { return client_; }

// ---- CPaintDC -------------------------------------------------------------

CPaintDC::CPaintDC(CDialog* dialog) : dialog_(dialog), painter_(currentPainter()) {}

void CPaintDC::EraseBackground() {
    QWidget* client = dialog_->GetClientArea();
    if (painter_ && client) painter_->fillRect(client->rect(), client->palette().window());
}

void CPaintDC::DrawIcon(int x, int y, const QIcon& icon) {
    if (painter_) icon.paint(painter_, QRect(x, y, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)));
}

QRect CPaintDC::ClientRect() const {
    QWidget* client = dialog_->GetClientArea();
    return client ? client->rect() : QRect();
}

}  // namespace framework
