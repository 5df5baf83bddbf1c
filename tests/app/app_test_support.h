// The application tests' fixture: doubles, a temporary current folder holding a
// company without users (so the window starts without a message), the program's
// templates and controls registered, and an application object.
#pragma once

#include <QLineEdit>
#include <QString>

#include "app/OpenInvoice.h"
#include "app/OpenInvoiceDlg.h"
#include "small_company.h"
#include "window_test_support.h"

namespace apptest {

class AppTest : public windowtest::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        RegisterProgramResources();
        smallcompany::writeCompany({});
    }

    static QLineEdit* edit(framework::CDialog& dlg, int id) {
        return qobject_cast<QLineEdit*>(dlg.GetDlgItem(id));
    }

    std::vector<std::string> soundNames() const { return services.sound->names(); }

    COpenInvoiceApp app;
};

}  // namespace apptest
