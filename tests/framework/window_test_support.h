// Shared helpers of the window tests: platform doubles and a temporary current
// folder for each test, a recorder of the framework's trace, and ways to run a
// modal dialog without ever blocking.
#pragma once

#include <QApplication>
#include <QDir>
#include <QObject>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "framework/cmdtarget.h"
#include "framework/dialog.h"
#include "platform/testing.h"

namespace windowtest {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        previousFolder_ = QDir::currentPath();
        QDir::setCurrent(folder_.path());
        framework::setTraceSink([this](const std::string& event) { traced.push_back(event); });
    }
    void TearDown() override {
        framework::setTraceSink({});
        QDir::setCurrent(previousFolder_);
    }

    // Runs dialog modally; body runs once the modal loop is going. The dialog is
    // ended with IDCANCEL afterwards if body left it open. Returns DoModal's result.
    static int runModal(framework::CDialog& dialog, const std::function<void()>& body) {
        QObject guard;  // cancels the timer when DoModal returns without a loop
        QTimer::singleShot(0, &guard, [&dialog, &body] {
            body();
            if (dialog.GetWindow() && dialog.GetWindow()->isVisible()) dialog.EndDialog(framework::IDCANCEL);
        });
        return dialog.DoModal();
    }

    // Closes, with the close box's route, the top-level dialog named objectName as
    // soon as the next modal loop runs; returns whether it was found through *found.
    static void closeWhenShown(const QString& objectName, std::shared_ptr<bool> found) {
        QTimer::singleShot(0, qApp, [objectName, found] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (w->objectName() == objectName && w->isVisible()) {
                    *found = true;
                    w->close();
                    return;
                }
            }
        });
    }

    int tracedIndex(const std::string& event) const {
        for (size_t i = 0; i < traced.size(); ++i)
            if (traced[i] == event) return static_cast<int>(i);
        return -1;
    }

    platform::testing::ScopedTestServices services;
    std::vector<std::string> traced;

private:
    QTemporaryDir folder_;
    QString previousFolder_;
};

}  // namespace windowtest
