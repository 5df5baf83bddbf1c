#include "skins/SkinControls.h"

#include "framework/dialog.h"
#include "platform/platform.h"
#include "platform/text.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <qdrawutil.h>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <mutex>

namespace skins {
namespace {

// ApplySkin failures, as the COM results an ActiveX control would give.
constexpr long kNoInterface = static_cast<long>(0x80004002u);
constexpr long kNullPointer = static_cast<long>(0x80004003u);

std::string storedProperty(const framework::PropertyMap& properties, const char* name) {
    const auto it = properties.find(name);
    return it == properties.end() ? std::string() : it->second;
}

QString captionOf(const framework::ActiveXCreateInfo& info) {
    const std::string stored = storedProperty(info.properties, "Caption");
    return platform::fromAnsi(stored.empty() ? info.caption : stored);
}

QString sectionOf(const framework::ActiveXCreateInfo& info, const char* fallback) {
    const QString s = platform::fromAnsi(storedProperty(info.properties, "Text")).trimmed();
    return s.isEmpty() ? QString::fromLatin1(fallback) : s;
}

QFont withOverride(QFont font, const FontOverride& o) {
    if (!o.family.isEmpty()) font.setFamily(o.family);
    if (o.points > 0) font.setPointSizeF(o.points);
    if (o.weight > 0) font.setWeight(static_cast<QFont::Weight>(std::clamp(o.weight, 1, 1000)));
    return font;
}

// --- accessibility ---------------------------------------------------------------

class SkinButtonAccessible : public QAccessibleWidget {
public:
    explicit SkinButtonAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::Button) {}
    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) {
            const QString explicitName = widget()->accessibleName();
            return explicitName.isEmpty() ? button()->text() : explicitName;
        }
        return QAccessibleWidget::text(t);
    }
    // The states Qt gives any child widget, and whether the button is held down.
    QAccessible::State state() const override {
        const QWidget* w = widget();
        QAccessible::State s;
        s.invisible = !w->isVisible();
        s.focusable = w->focusPolicy() != Qt::NoFocus;
        s.focused = w->hasFocus();
        s.disabled = !w->isEnabled();
        s.pressed = button()->isDown();
        return s;
    }
    QStringList actionNames() const override {
        QStringList names{pressAction()};
        names << QAccessibleWidget::actionNames();
        return names;
    }
    void doAction(const QString& name) override {
        if (name == pressAction()) {
            button()->click();  // does nothing while disabled
            return;
        }
        QAccessibleWidget::doAction(name);
    }
};

class SkinLabelAccessible : public QAccessibleWidget {
public:
    explicit SkinLabelAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::StaticText) {}
    QString text(QAccessible::Text t) const override {
        const QString value = static_cast<SkinLabel*>(widget())->text();
        if (t == QAccessible::Name) {
            const QString explicitName = widget()->accessibleName();
            return explicitName.isEmpty() ? value : explicitName;
        }
        if (t == QAccessible::Value) return value;
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* skinAccessibleFactory(const QString& className, QObject* object) {
    QWidget* w = qobject_cast<QWidget*>(object);
    if (!w) return nullptr;
    if (className == QLatin1String("skins::SkinButton")) return new SkinButtonAccessible(w);
    if (className == QLatin1String("skins::SkinLabel")) return new SkinLabelAccessible(w);
    if (className == QLatin1String("skins::SkinFormWidget")) return new QAccessibleWidget(w, QAccessible::Pane);
    return nullptr;
}

void ensureAccessibility() {
    static std::once_flag once;
    std::call_once(once, [] { QAccessible::installFactory(skinAccessibleFactory); });
}

}  // namespace

QFont storedFont(const framework::PropertyMap& properties, const QFont& base) {
    QFont font = base;
    const std::string family = storedProperty(properties, "FontName");
    if (!family.empty()) font.setFamily(QString::fromStdString(platform::mapFontFamily(family)));
    bool ok = false;
    const double points = QString::fromStdString(storedProperty(properties, "FontSize")).toDouble(&ok);
    if (ok && points > 0) font.setPointSizeF(points);
    const int weight = QString::fromStdString(storedProperty(properties, "FontWeight")).toInt(&ok);
    if (ok && weight > 0) font.setWeight(static_cast<QFont::Weight>(std::clamp(weight, 1, 1000)));
    return font;
}

SkinFormWidget* formOfDialog(const QWidget* control) {
    for (const QWidget* w = control ? control->parentWidget() : nullptr; w; w = w->parentWidget()) {
        if (auto* form = w->findChild<SkinFormWidget*>(QString(), Qt::FindDirectChildrenOnly)) return form;
        if (w->isWindow()) break;
    }
    return nullptr;
}

// --- skin form -------------------------------------------------------------------

SkinFormWidget::SkinFormWidget(const framework::ActiveXCreateInfo& info, QWidget* parent)
    : QWidget(parent), skin_(defaultSkin()), dialog_(parent) {
    ensureAccessibility();
    // The form draws nothing of its own: it must not hide or catch what lies below it.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    if (dialog_) dialog_->installEventFilter(this);
    const std::string start = storedProperty(info.properties, "SkinFile");
    if (!start.empty()) setSkinFile(start);
    skinParent();
}

SkinFormWidget::~SkinFormWidget() {
    if (dialog_) dialog_->removeEventFilter(this);
}

void SkinFormWidget::setSkinFile(const std::string& name) {
    std::shared_ptr<const Skin> loaded = loadSkin(resolveSkinFile(name));
    if (!loaded) return;
    skin_ = std::move(loaded);
    skinParent();
}

void SkinFormWidget::skinParent() {
    if (!dialog_) return;
    // The whole window (menu bar, texts, edits, lists, push buttons) takes the skin's
    // colours, so that nothing in it keeps another look.
    QWidget* window = dialog_->window();
    window->setPalette(skin_->palette);
    // A menu bar writes its titles in the button text colour; on the window's own
    // background they need the window's text colour.
    for (QMenuBar* bar : window->findChildren<QMenuBar*>()) {
        QPalette barPalette = skin_->palette;
        barPalette.setColor(QPalette::ButtonText, skin_->palette.color(QPalette::WindowText));
        bar->setPalette(barPalette);
    }
    // Menus are windows of their own and take no colours from the bar they drop from.
    for (QMenu* menu : window->findChildren<QMenu*>()) menu->setPalette(skin_->palette);
    // The application's main window sets the look of the program's other windows too:
    // plain dialogs, message boxes and file dialogs. Windows with a form of their own
    // (the About box) keep theirs.
    const framework::CWinApp* app = framework::AfxGetApp();
    if (app && app->m_pMainWnd && app->m_pMainWnd->GetWindow() == window &&
        qobject_cast<QApplication*>(QCoreApplication::instance()))
        QApplication::setPalette(skin_->palette);
    window->update();
}

bool SkinFormWidget::eventFilter(QObject* watched, QEvent* event) {
    if (watched == dialog_ && event->type() == QEvent::Paint) paintBackground(dialog_);
    return QWidget::eventFilter(watched, event);
}

void SkinFormWidget::paintBackground(QWidget* target) const {
    const FormLook& f = skin_->form;
    QPainter p(target);
    const QRect r = target->rect();
    QLinearGradient gradient(0, 0, 0, r.height());
    gradient.setColorAt(0, f.top);
    gradient.setColorAt(1, f.bottom);
    p.fillRect(r, gradient);
    if (!f.image.isNull()) {
        switch (f.imageMode) {
        case FormLook::ImageMode::Tile: p.drawTiledPixmap(r, f.image); break;
        case FormLook::ImageMode::Center: {
            QRect box(QPoint(), f.image.deviceIndependentSize().toSize());
            box.moveCenter(r.center());
            p.drawPixmap(box, f.image);
            break;
        }
        case FormLook::ImageMode::Stretch: p.drawPixmap(r, f.image); break;
        }
    }
    if (f.borderWidth > 0) {
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(f.border, f.borderWidth));
        p.setBrush(Qt::NoBrush);
        const qreal half = f.borderWidth / 2.0;
        p.drawRoundedRect(QRectF(r).adjusted(half, half, -half, -half), f.radius, f.radius);
    }
}

// --- the look of skin buttons and labels -------------------------------------------

template <typename Look>
const Look& SkinLook<Look>::of(const QWidget* control) const {
    std::shared_ptr<const Skin> skin = given_;
    if (!skin) {
        const SkinFormWidget* form = formOfDialog(control);
        skin = form ? form->currentSkin() : defaultSkin();
    }
    if (skin != lookOf_) {
        look_ = (skin.get()->*fetch_)(section_);
        lookOf_ = std::move(skin);
    }
    return look_;
}

template class SkinLook<ButtonLook>;
template class SkinLook<LabelLook>;

// --- skin button -----------------------------------------------------------------

SkinButton::SkinButton(const framework::ActiveXCreateInfo& info, QWidget* parent)
    : QAbstractButton(parent), look_(&Skin::button, sectionOf(info, "Button")) {
    ensureAccessibility();
    setText(captionOf(info));
    storedFont_ = storedFont(info.properties, parent ? parent->font() : QApplication::font());
    setFont(storedFont_);
    setFocusPolicy(Qt::ClickFocus);  // not a tab stop; keys work once it has the focus
    setAttribute(Qt::WA_Hover);
    connect(this, &QAbstractButton::pressed, this, [this] {
        if (moving_ || pressOpen_) return;  // the mouse came back over the button
        pressOpen_ = true;
        emit axEvent(DISPID_PRESS, {});
    });
    connect(this, &QAbstractButton::released, this, [this] {
        if (moving_ || !pressOpen_) return;  // the mouse left the button, still held
        pressOpen_ = false;
        emit axEvent(DISPID_RELEASE, {});
    });
    connect(this, &QAbstractButton::clicked, this, [this] { emit axEvent(DISPID_CLICK, {}); });
}

void SkinButton::applySkin(const SkinFormInterface& form) {
    look_.apply(form);
    update();
}

QSize SkinButton::sizeHint() const {
    const QFontMetrics fm(withOverride(font(), look().font));
    return QSize(fm.horizontalAdvance(text()) + 12, fm.height() + 8);
}

void SkinButton::paintEvent(QPaintEvent*) {
    const ButtonLook& lk = look();
    const ButtonStateLook& st = !isEnabled() ? lk.disabled
                              : isDown()     ? lk.pressed
                              : underMouse() ? lk.hover
                                             : lk.normal;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(lk.borderWidth / 2.0, lk.borderWidth / 2.0,
                                               -lk.borderWidth / 2.0, -lk.borderWidth / 2.0);
    const qreal radius = std::min<qreal>(lk.radius, std::min(box.width(), box.height()) / 2);
    if (!st.image.isNull()) {
        qDrawBorderPixmap(&p, rect(), lk.slice, st.image);
    } else {
        QLinearGradient gradient(0, 0, 0, height());
        gradient.setColorAt(0, st.top);
        gradient.setColorAt(1, st.bottom);
        p.setBrush(gradient);
        p.setPen(lk.borderWidth > 0 ? QPen(st.border, lk.borderWidth) : QPen(Qt::NoPen));
        p.drawRoundedRect(box, radius, radius);
    }
    if (hasFocus()) {
        QPen pen(lk.focus, 1, Qt::DotLine);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        const qreal inset = lk.borderWidth + 1.5;
        p.drawRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset),
                          std::max<qreal>(0, radius - 2), std::max<qreal>(0, radius - 2));
    }
    p.setFont(withOverride(font(), lk.font));
    p.setPen(st.text);
    QRect textBox = rect();
    if (isDown()) textBox.translate(0, 1);
    p.drawText(textBox, Qt::AlignCenter | Qt::TextSingleLine, text());
}

void SkinButton::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !event->isAutoRepeat()) {
        click();
        event->accept();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void SkinButton::mouseMoveEvent(QMouseEvent* event) {
    moving_ = true;
    QAbstractButton::mouseMoveEvent(event);
    moving_ = false;
}

void SkinButton::mouseReleaseEvent(QMouseEvent* event) {
    QAbstractButton::mouseReleaseEvent(event);
    // Released away from the button: no click, but the release still counts.
    if (event->button() == Qt::LeftButton && pressOpen_) {
        pressOpen_ = false;
        emit axEvent(DISPID_RELEASE, {});
    }
}

void SkinButton::enterEvent(QEnterEvent* event) {
    update();
    QAbstractButton::enterEvent(event);
}

void SkinButton::leaveEvent(QEvent* event) {
    update();
    QAbstractButton::leaveEvent(event);
}

// --- skin label ------------------------------------------------------------------

SkinLabel::SkinLabel(const framework::ActiveXCreateInfo& info, QWidget* parent)
    : QWidget(parent), text_(captionOf(info)), look_(&Skin::label, sectionOf(info, "Label")) {
    ensureAccessibility();
    storedFont_ = storedFont(info.properties, parent ? parent->font() : QApplication::font());
    setFont(storedFont_);
    setFocusPolicy(Qt::NoFocus);
}

// Assistive technology hears the text on show: an accessible name that was the
// label's text (the caption the window template gave it) follows the text, and so
// does a label without a name; a name of its own stays, and the text is its value.
void SkinLabel::setText(const QString& text) {
    if (text == text_) return;
    const QString name = accessibleName();
    const bool nameWasText = !name.isEmpty() && name == text_;
    text_ = text;
    update();
    if (nameWasText) {
        setAccessibleName(text);  // which tells of the new name
    } else if (name.isEmpty()) {
        QAccessibleEvent changed(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&changed);
    } else {
        QAccessibleValueChangeEvent changed(this, text);
        QAccessible::updateAccessibility(&changed);
    }
}

void SkinLabel::applySkin(const SkinFormInterface& form) {
    look_.apply(form);
    update();
}

QSize SkinLabel::sizeHint() const {
    const QFontMetrics fm(withOverride(font(), look().font));
    return QSize(fm.horizontalAdvance(text_), fm.height());
}

void SkinLabel::paintEvent(QPaintEvent*) {
    const LabelLook& lk = look();
    QPainter p(this);
    if (lk.background.alpha() > 0) p.fillRect(rect(), lk.background);
    p.setFont(withOverride(font(), lk.font));
    p.setPen(lk.text);
    p.drawText(rect(), static_cast<int>(lk.alignment) | Qt::TextSingleLine, text_);
}

}  // namespace skins

// --- wrappers and registration -----------------------------------------------------

void CSkinForm::SetSkinFile(const std::string& name) {
    if (auto* form = qobject_cast<skins::SkinFormWidget*>(GetWidget())) form->setSkinFile(name);
}

SkinFormInterface* CSkinForm::GetSkinForm() const {
    return qobject_cast<skins::SkinFormWidget*>(GetWidget());
}

void CSkinLabel::SetText(const std::string& text) {
    if (auto* label = qobject_cast<skins::SkinLabel*>(GetWidget())) label->setText(platform::fromAnsi(text));
}

long CSkinLabel::ApplySkin(SkinFormInterface* form, long value) {
    return ::ApplySkin(GetWidget(), form, value);
}

long ApplySkin(QWidget* control, SkinFormInterface* form, long) {
    if (!control || !form) return skins::kNullPointer;
    if (auto* button = qobject_cast<skins::SkinButton*>(control)) {
        button->applySkin(*form);
        return 0;
    }
    if (auto* label = qobject_cast<skins::SkinLabel*>(control)) {
        label->applySkin(*form);
        return 0;
    }
    return skins::kNoInterface;
}

SkinFormInterface* GetSkinFormInterface(QWidget* control) {
    return qobject_cast<skins::SkinFormWidget*>(control);
}

void RegisterSkinControls() {
    using framework::ActiveXCreateInfo;
    framework::registerActiveXClass("SkinForm", [](const ActiveXCreateInfo& info, QWidget* parent) -> QWidget* {
        return new skins::SkinFormWidget(info, parent);
    });
    framework::registerActiveXClass("SkinButton", [](const ActiveXCreateInfo& info, QWidget* parent) -> QWidget* {
        return new skins::SkinButton(info, parent);
    });
    framework::registerActiveXClass("SkinLabel", [](const ActiveXCreateInfo& info, QWidget* parent) -> QWidget* {
        return new skins::SkinLabel(info, parent);
    });
}
