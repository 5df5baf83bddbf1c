// Security and start-up tests: a company written with the engine's writer into the
// test's current folder (named there by "DataPath.kxi"), a scripted user who answers
// the password question, and a search of every widget for a secret.
#pragma once

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <deque>
#include <fstream>

#include "app_test_support.h"
#include "small_company.h"
#include "skins/SkinControls.h"

namespace securitytest {

using namespace smallcompany;

// Every text a widget shows or hands to an accessibility client.
inline QStringList widgetTexts(QWidget* w) {
    QStringList texts = {w->windowTitle(), w->toolTip(), w->statusTip(), w->whatsThis(),
                         w->accessibleName(), w->accessibleDescription()};
    if (auto* e = qobject_cast<QLineEdit*>(w)) texts << e->text() << e->displayText() << e->placeholderText();
    if (auto* l = qobject_cast<QLabel*>(w)) texts << l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) texts << b->text();
    if (auto* l = qobject_cast<skins::SkinLabel*>(w)) texts << l->text();
    if (auto* list = qobject_cast<QListWidget*>(w))
        for (int i = 0; i < list->count(); ++i) texts << list->item(i)->text();
    if (QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w)) {
        for (auto t : {QAccessible::Name, QAccessible::Value, QAccessible::Description, QAccessible::Help})
            texts << a->text(t);
        if (QAccessibleValueInterface* v = a->valueInterface()) texts << v->currentValue().toString();
        if (QAccessibleTextInterface* t = a->textInterface()) texts << t->text(0, t->characterCount());
    }
    return texts;
}

// The widgets of every window that show secret anywhere in their texts.
inline std::vector<std::string> widgetsShowing(const std::string& secret) {
    std::vector<std::string> found;
    const QString s = QString::fromLatin1(secret);
    for (QWidget* w : QApplication::allWidgets())
        for (const QString& text : widgetTexts(w))
            if (text.contains(s)) {
                found.push_back(w->objectName().toStdString() + ": " + text.toStdString());
                break;
            }
    return found;
}

// One answer to the password question: the text typed, then OK, Cancel or the close box.
struct Answer {
    enum Button { Ok, Cancel, CloseBox };
    std::string typed;
    Button button = Ok;
};

// What the user saw of one password question.
struct Question {
    QString title, prompt;
    bool bullets = false;
    std::string hiddenTexts;           // both hidden edits' texts, joined
    bool balanceVisible = true;        // IDC_BALANCE_VALUE of the main window, when asked
    bool detailVisible = true;         // IDC_DETAIL_BUTTON
    std::vector<std::string> showing;  // widgets showing a secret, before anything is typed
    size_t messagesBefore = 0;         // message boxes shown before the question
    std::vector<std::string> typedAfterOk;  // edit's text after each OK that kept it open
    bool clearedOnClose = false;       // the edit was empty once the dialog closed
};

class SecurityTest : public apptest::AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        // AppTest's company is replaced case by case.
        for (const char* f : {kCustomerFile, kJournalFile, kPermissFile, "DataPath.kxi"})
            QFile::remove(QString::fromStdString(companyFile(f)));
    }

    // Runs the main window's start-up with a scripted user answering the password
    // questions; body runs once the window is on show, then the window is closed.
    // secrets: texts no widget may show, checked at each question and after start-up.
    void runStartUp(COpenInvoiceDlg& dlg, std::vector<Answer> answers, const std::function<void()>& body = {},
                    std::vector<std::string> secrets = {}) {
        std::deque<Answer> script(answers.begin(), answers.end());
        questions.clear();
        unexpectedQuestions = 0;
        framework::setTraceSink([this](const std::string& event) { traced.push_back(event); });
        // Two timers: a timer does not fire again while its own handler runs, and the
        // body may open a question of its own.
        QTimer answering, showing;
        answering.setInterval(5);
        QObject::connect(&answering, &QTimer::timeout, [&] {
            if (QWidget* pw = visibleWindow("IDD_PASSWORD_DIALOG")) answer(dlg, pw, script, secrets);
        });
        bool ran = false;
        showing.setInterval(5);
        QObject::connect(&showing, &QTimer::timeout, [&] {
            if (ran || !dlg.GetWindow() || !dlg.GetWindow()->isVisible() || visibleWindow("IDD_PASSWORD_DIALOG"))
                return;
            ran = true;
            for (const std::string& secret : secrets)
                EXPECT_EQ(widgetsShowing(secret), std::vector<std::string>{}) << "after start-up";
            if (body) body();
            dlg.EndDialog(framework::IDCANCEL);
        });
        answering.start();
        showing.start();
        dlg.DoModal();
        EXPECT_TRUE(ran) << "the window never showed";
        EXPECT_TRUE(script.empty()) << script.size() << " answers left unused";
        EXPECT_EQ(unexpectedQuestions, 0) << "questions asked beyond the script";
    }

    std::vector<std::string> messages() const {
        std::vector<std::string> texts;
        for (const auto& c : services.messageBox->calls) texts.push_back(c.text);
        return texts;
    }

    static bool shown(COpenInvoiceDlg& dlg, int id) { return !dlg.GetDlgItem(id)->isHidden(); }

    // The five controls restricted mode hides.
    static std::vector<int> restrictedControls() {
        return {IDC_BALANCE_FILTER_BUTTON, IDC_PREV_BUTTON, IDC_DETAIL_BUTTON, IDC_NEXT_BUTTON, IDC_BALANCE_VALUE};
    }
    static std::vector<int> hiddenOf(COpenInvoiceDlg& dlg, const std::vector<int>& ids) {
        std::vector<int> hidden;
        for (int id : ids)
            if (!shown(dlg, id)) hidden.push_back(id);
        return hidden;
    }

    std::vector<Question> questions;
    int unexpectedQuestions = 0;

private:
    static QWidget* visibleWindow(const char* name) {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String(name) && w->isVisible()) return w;
        return nullptr;
    }

    void answer(COpenInvoiceDlg& dlg, QWidget* pw, std::deque<Answer>& script,
                const std::vector<std::string>& secrets) {
        auto* edit = pw->findChild<QLineEdit*>("IDC_PASSWORD_EDIT");
        ASSERT_NE(edit, nullptr);
        if (pw->property("securityTestSeen").isNull()) {
            pw->setProperty("securityTestSeen", true);
            Question q;
            q.title = pw->windowTitle();
            if (auto* label = pw->findChild<QLabel*>("IDC_STATIC")) q.prompt = label->text();
            q.bullets = edit->echoMode() == QLineEdit::Password;
            for (const char* hidden : {"IDC_EXPECTED1_EDIT", "IDC_EXPECTED2_EDIT"})
                if (auto* h = pw->findChild<QLineEdit*>(hidden)) q.hiddenTexts += h->text().toStdString();
            q.balanceVisible = shown(dlg, IDC_BALANCE_VALUE);
            q.detailVisible = shown(dlg, IDC_DETAIL_BUTTON);
            for (const std::string& secret : secrets)
                for (const std::string& w : widgetsShowing(secret)) q.showing.push_back(w);
            q.messagesBefore = services.messageBox->calls.size();
            questions.push_back(q);
        }
        if (script.empty()) {
            ++unexpectedQuestions;
            pw->close();
            return;
        }
        const Answer a = script.front();
        script.pop_front();
        edit->setFocus();
        // What is typed replaces what the field holds, as a user selecting all and typing.
        edit->selectAll();
        if (!edit->text().isEmpty()) QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, QString::fromLatin1(a.typed));
        if (a.button == Answer::CloseBox) pw->close();
        else
            QTest::mouseClick(pw->findChild<QPushButton*>(a.button == Answer::Ok ? "IDOK" : "IDCANCEL"),
                              Qt::LeftButton);
        if (pw->isVisible()) questions.back().typedAfterOk.push_back(edit->text().toStdString());
        else questions.back().clearedOnClose = edit->text().isEmpty();
    }
};

}  // namespace securitytest
