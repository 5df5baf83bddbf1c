// The skin controls hosted in dialog templates: the skin form (ActiveX class
// "SkinForm"), which holds the current skin and paints its dialog's background in it;
// skin buttons ("SkinButton") and skin labels ("SkinLabel"), which draw themselves in
// the skin a form hands them through ApplySkin. Stored properties read here:
//   all controls  Caption, FontName, FontSize (points), FontWeight (400 normal, 700 bold),
//                 Text (the .skn section the control draws from: "Button", "Label", ...)
//   skin form     SkinFile (the starting skin)
#pragma once

#include "framework/activex.h"
#include "framework/cwnd.h"
#include "skins/Skin.h"

#include <QAbstractButton>
#include <QPointer>
#include <QVariantList>
#include <QWidget>
#include <memory>
#include <string>

namespace skins {

// What a form hands to ApplySkin: the skin it holds now.
class SkinFormInterface {
public:
    virtual ~SkinFormInterface() = default;
    virtual std::shared_ptr<const Skin> currentSkin() const = 0;
};

class SkinFormWidget : public QWidget, public SkinFormInterface {
    Q_OBJECT
public:
    SkinFormWidget(const framework::ActiveXCreateInfo& info, QWidget* parent);
    ~SkinFormWidget() override;

    // Loads the skin at once and repaints the dialog. A missing or malformed file
    // changes nothing and shows nothing: the form keeps the skin it has.
    void setSkinFile(const std::string& name);
    std::shared_ptr<const Skin> currentSkin() const override { return skin_; }

signals:
    void axEvent(int dispid, const QVariantList& args);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void skinParent();
    void paintBackground(QWidget* target) const;

    std::shared_ptr<const Skin> skin_;
    QPointer<QWidget> dialog_;
};

// The form of the dialog a control lives on, if there is one.
SkinFormWidget* formOfDialog(const QWidget* control);

// What a skin button or label draws with: the skin ApplySkin gave it (until then its
// dialog's form rules, else the built-in default) and the look of its .skn section in
// that skin, taken again only when the skin changes.
template <typename Look>
class SkinLook {
public:
    using Fetch = Look (Skin::*)(const QString& section) const;
    SkinLook(Fetch fetch, QString section) : fetch_(fetch), section_(std::move(section)) {}
    void apply(const SkinFormInterface& form) { given_ = form.currentSkin(); }
    // The skin the last ApplySkin gave, nullptr before the first.
    const std::shared_ptr<const Skin>& applied() const { return given_; }
    const Look& of(const QWidget* control) const;

private:
    Fetch fetch_;
    QString section_;
    std::shared_ptr<const Skin> given_;
    mutable Look look_;
    mutable std::shared_ptr<const Skin> lookOf_;  // the skin look_ was taken from
};

class SkinButton : public QAbstractButton {
    Q_OBJECT
public:
    SkinButton(const framework::ActiveXCreateInfo& info, QWidget* parent);
    void applySkin(const SkinFormInterface& form);
    // The skin the last ApplySkin gave, nullptr before the first.
    std::shared_ptr<const Skin> appliedSkin() const { return look_.applied(); }
    QSize sizeHint() const override;

    // The events a skin button fires, by dispid: the click, and one press and one
    // release per press, wherever the mouse goes between.
    static constexpr int DISPID_CLICK = 1;
    static constexpr int DISPID_PRESS = 2;
    static constexpr int DISPID_RELEASE = 3;

signals:
    void axEvent(int dispid, const QVariantList& args);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    const ButtonLook& look() const { return look_.of(this); }

    // One press event and one release event per press, wherever the mouse goes between.
    bool pressOpen_ = false;
    bool moving_ = false;

    QFont storedFont_;
    SkinLook<ButtonLook> look_;
};

class SkinLabel : public QWidget {
    Q_OBJECT
public:
    SkinLabel(const framework::ActiveXCreateInfo& info, QWidget* parent);
    void setText(const QString& text);
    QString text() const { return text_; }
    void applySkin(const SkinFormInterface& form);
    // The skin the last ApplySkin gave, nullptr before the first.
    std::shared_ptr<const Skin> appliedSkin() const { return look_.applied(); }
    QSize sizeHint() const override;

signals:
    void axEvent(int dispid, const QVariantList& args);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const LabelLook& look() const { return look_.of(this); }

    QString text_;
    QFont storedFont_;
    SkinLook<LabelLook> look_;
};

// The control's font from its stored properties (FontName mapped to an installed family).
QFont storedFont(const framework::PropertyMap& properties, const QFont& base);

}  // namespace skins

using SkinFormInterface = skins::SkinFormInterface;

// The skin form's wrapper, bound to IDC_SKINFORM.
class CSkinForm : public framework::CWnd {
public:
    // A bare name resolves against the current folder, then <program folder>/skins.
    void SetSkinFile(const std::string& name);
    // The form interface handed to ApplySkin; nullptr while not attached.
    SkinFormInterface* GetSkinForm() const;
};

// The skin label's wrapper, bound to a label such as IDC_BALANCE_VALUE.
class CSkinLabel : public framework::CWnd {
public:
    // text is 8-bit Windows-1252 text (platform::fromAnsi converts it).
    void SetText(const std::string& text);
    long ApplySkin(SkinFormInterface* form, long value);
};

// ApplySkin on any skin button or label, reached by its dialog id: it draws at once in
// the skin the form holds now. Returns 0, or a failure value (nonzero) when control is
// not a skin button or label or form is null.
long ApplySkin(QWidget* control, SkinFormInterface* form, long value);

// The form interface of a skin form widget (GetDlgItem(IDC_SKINFORM)), else nullptr.
SkinFormInterface* GetSkinFormInterface(QWidget* control);

// Registers "SkinForm", "SkinButton" and "SkinLabel" with the framework.
void RegisterSkinControls();
