#include "skin_fixture.h"

#include <QAccessible>
#include <QSignalSpy>
#include <QTest>

namespace {

// The dispids a control raised, in order.
class EventLog {
public:
    explicit EventLog(QObject* control) {
        spy_ = std::make_unique<QSignalSpy>(control, SIGNAL(axEvent(int,QVariantList)));
    }
    std::vector<int> ids() const {
        std::vector<int> out;
        for (const QList<QVariant>& args : *spy_) {
            out.push_back(args.at(0).toInt());
            EXPECT_TRUE(args.at(1).toList().isEmpty());
        }
        return out;
    }
    void clear() { spy_->clear(); }
private:
    std::unique_ptr<QSignalSpy> spy_;
};

}  // namespace

class SkinButtonTest : public SkinTest {
protected:
    SkinButtonTest() {
        dialog.resize(300, 200);
        button = new skins::SkinButton(info(1003, "IDC_DETAIL_BUTTON", "Show Detail",
                                            {{"FontName", "MS Sans Serif"}, {"FontSize", "8.25"},
                                             {"FontWeight", "400"}, {"Text", "Button"}}),
                                       &dialog);
        button->setGeometry(20, 20, 99, 26);
        dialog.show();
        QApplication::setActiveWindow(&dialog);
    }
    QWidget dialog;
    skins::SkinButton* button = nullptr;
};

TEST_F(SkinButtonTest, MouseRaisesPressReleaseThenClick) {
    EventLog log(button);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(log.ids(), (std::vector<int>{2, 3, 1}));
    // Released outside the button: press and release, no click.
    log.clear();
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(250, 150));
    EXPECT_EQ(log.ids(), (std::vector<int>{2, 3}));
    // Dragged out and back in while held: still one press and one release.
    log.clear();
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(5, 5));
    QMouseEvent out(QEvent::MouseMove, QPointF(250, 150), button->mapToGlobal(QPointF(250, 150)),
                    Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(button, &out);
    EXPECT_FALSE(button->isDown());
    QMouseEvent back(QEvent::MouseMove, QPointF(6, 6), button->mapToGlobal(QPointF(6, 6)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(button, &back);
    EXPECT_TRUE(button->isDown());
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(6, 6));
    EXPECT_EQ(log.ids(), (std::vector<int>{2, 3, 1}));
    // A disabled button raises nothing.
    log.clear();
    button->setEnabled(false);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(log.ids().empty());
}

TEST_F(SkinButtonTest, SpaceAndEnterActivateOnlyWithTheFocus) {
    EXPECT_FALSE(button->focusPolicy() & Qt::TabFocus);  // not a tab stop
    EventLog log(button);
    button->setFocus();
    ASSERT_TRUE(button->hasFocus());
    QTest::keyClick(button, Qt::Key_Space);
    EXPECT_EQ(log.ids(), (std::vector<int>{2, 3, 1}));
    log.clear();
    QTest::keyClick(button, Qt::Key_Return);
    QTest::keyClick(button, Qt::Key_Enter);
    EXPECT_EQ(log.ids(), (std::vector<int>{2, 3, 1, 2, 3, 1}));
    log.clear();
    QTest::keyClick(button, Qt::Key_A);
    EXPECT_TRUE(log.ids().empty());
}

TEST_F(SkinButtonTest, StoredFontAndCaption) {
    EXPECT_EQ(button->text(), "Show Detail");
    EXPECT_EQ(button->font().family(), "Liberation Sans");
    EXPECT_DOUBLE_EQ(button->font().pointSizeF(), 8.25);
    EXPECT_EQ(button->font().weight(), QFont::Normal);
    // The caption fits the template's 66 x 16 dialog units (99 x 26 pixels here).
    EXPECT_LE(button->sizeHint().width(), 99);
}

TEST_F(SkinButtonTest, AccessibleAsAPushButtonWithAPressAction) {
    button->setAccessibleDescription("IDC_DETAIL_BUTTON");
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(button);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::Button);
    EXPECT_EQ(iface->text(QAccessible::Name), "Show Detail");
    EXPECT_EQ(iface->text(QAccessible::Description), "IDC_DETAIL_BUTTON");
    QAccessibleActionInterface* actions = iface->actionInterface();
    ASSERT_NE(actions, nullptr);
    EXPECT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
    EventLog log(button);
    actions->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(log.ids(), (std::vector<int>{2, 3, 1}));
}

TEST_F(SkinButtonTest, ScreenReaderHearsHeldDisabledAndHidden) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(button);
    ASSERT_NE(iface, nullptr);
    EXPECT_FALSE(iface->state().pressed);
    EXPECT_FALSE(iface->state().disabled);
    EXPECT_FALSE(iface->state().invisible);
    EXPECT_EQ(iface->state().focusable, button->focusPolicy() != Qt::NoFocus);
    QTest::mousePress(button, Qt::LeftButton);
    EXPECT_TRUE(iface->state().pressed);
    QTest::mouseRelease(button, Qt::LeftButton);
    EXPECT_FALSE(iface->state().pressed);
    button->setEnabled(false);
    EXPECT_TRUE(iface->state().disabled);
    button->hide();
    EXPECT_TRUE(iface->state().invisible);
}

TEST_F(SkinTest, LabelShowsAnsiTextAndExposesIt) {
    QWidget dialog;
    auto* label = new skins::SkinLabel(info(1037, "IDC_BALANCE_VALUE", "Balance",
                                            {{"FontName", "MS Sans Serif"}, {"FontSize", "9.75"},
                                             {"FontWeight", "700"}, {"Text", "Label"}}),
                                       &dialog);
    EXPECT_EQ(label->text(), "Balance");
    EXPECT_EQ(label->font().family(), "Liberation Sans");
    EXPECT_DOUBLE_EQ(label->font().pointSizeF(), 9.75);
    EXPECT_EQ(label->font().weight(), QFont::Bold);
    EXPECT_EQ(label->focusPolicy(), Qt::NoFocus);

    CSkinLabel wrapper;
    wrapper.Attach(label);
    wrapper.SetText("\x80" "1,234.56");
    EXPECT_EQ(label->text(), QString::fromUtf8("\u20AC1,234.56"));

    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(label);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::StaticText);
    EXPECT_EQ(iface->text(QAccessible::Name), QString::fromUtf8("\u20AC1,234.56"));
    EXPECT_EQ(iface->text(QAccessible::Value), QString::fromUtf8("\u20AC1,234.56"));
    wrapper.SetText("$0.00");
    EXPECT_EQ(iface->text(QAccessible::Name), "$0.00");
}

// The window template names a label by its caption; the name then follows the text
// on show, so a screen reader hears the balance, not "Balance". A name of the label's
// own stays, and the text is its value.
TEST_F(SkinTest, ALabelNamedByItsCaptionIsHeardByTheTextOnShow) {
    QWidget dialog;
    auto* label = new skins::SkinLabel(info(1037, "IDC_BALANCE_VALUE", "Balance", {{"Text", "Label"}}), &dialog);
    label->setAccessibleName("Balance");  // as the dialog gives it
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(label);
    ASSERT_NE(iface, nullptr);
    for (const char* text : {"$100.00", "", "$0.00"}) {
        label->setText(text);
        EXPECT_EQ(iface->text(QAccessible::Name), text);
    }
    label->setAccessibleName("Amount owed");
    label->setText("$5.00");
    EXPECT_EQ(iface->text(QAccessible::Name), "Amount owed");
    EXPECT_EQ(iface->text(QAccessible::Value), "$5.00");
}

TEST_F(SkinTest, FormIsAPaneDescribedByItsId) {
    QWidget dialog;
    auto* form = new skins::SkinFormWidget(info(1000, "IDC_SKINFORM", ""), &dialog);
    form->setAccessibleDescription("IDC_SKINFORM");
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(form);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::Pane);
    EXPECT_EQ(iface->text(QAccessible::Description), "IDC_SKINFORM");
}

TEST_F(SkinTest, RegisteredClassesBuildTheControlsFromTheirProperties) {
    RegisterSkinControls();
    QWidget dialog;
    for (const char* cls : {"SkinForm", "SkinButton", "SkinLabel"}) ASSERT_NE(framework::findActiveXClass(cls), nullptr);
    framework::ActiveXCreateInfo buttonInfo;
    buttonInfo.id = 1004;
    buttonInfo.caption = ">";  // the template's caption when no Caption property is stored
    QWidget* button = (*framework::findActiveXClass("SkinButton"))(buttonInfo, &dialog);
    ASSERT_NE(qobject_cast<skins::SkinButton*>(button), nullptr);
    EXPECT_EQ(qobject_cast<skins::SkinButton*>(button)->text(), ">");
    EXPECT_EQ(button->parentWidget(), &dialog);
    QWidget* label = (*framework::findActiveXClass("SkinLabel"))(info(1030, "IDC_FAX_CAPTION", "Fax"), &dialog);
    ASSERT_NE(qobject_cast<skins::SkinLabel*>(label), nullptr);
    EXPECT_EQ(qobject_cast<skins::SkinLabel*>(label)->text(), "Fax");
    QWidget* form = (*framework::findActiveXClass("SkinForm"))(info(1000, "IDC_SKINFORM", ""), &dialog);
    EXPECT_NE(GetSkinFormInterface(form), nullptr);
    // Every control declares the event signal the framework's event map connects to.
    for (QWidget* w : {button, label, form})
        EXPECT_GE(w->metaObject()->indexOfSignal("axEvent(int,QVariantList)"), 0);
}
