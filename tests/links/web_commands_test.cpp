// The four commands of "Corvane On The Web": their targets, and silence on failure.
#include <gtest/gtest.h>

#include "app/OpenInvoiceDlg.h"
#include "platform/testing.h"
#include "res/resource.h"

namespace {

struct Command { int id; const char* target; };

const Command kCommands[] = {
    {ID_WEB_PRODUCTNEWS, "http://www.openinvoice.example"},
    {ID_WEB_PEACHTREESTUFF, "http://www.openinvoice.example/peach.asp"},
    {ID_WEB_EMAILUS, "mailto:postmaster@openinvoice.example"},
    {ID_WEB_EMAILFRIEND, "http://www.openinvoice.example/vexelfwd.asp"},
};

TEST(WebCommands, EachOpensItsTargetAndRunningTwiceOpensTwice) {
    platform::testing::ScopedTestServices services;
    COpenInvoiceDlg dlg;
    for (const Command& c : kCommands) {
        SCOPED_TRACE(c.target);
        services.shell->opens.clear();
        EXPECT_TRUE(dlg.SendCommand(c.id));
        EXPECT_TRUE(dlg.SendCommand(c.id));
        ASSERT_EQ(services.shell->opens.size(), 2u);
        EXPECT_EQ(services.shell->opens[0].target, c.target);
        EXPECT_EQ(services.shell->opens[1].target, c.target);
        EXPECT_EQ(services.shell->opens[0].showCommand, platform::SW_SHOWNORMAL);
    }
    EXPECT_TRUE(services.sound->calls.empty());
}

TEST(WebCommands, FailureFallsBackToTheBrowserThenStaysSilent) {
    platform::testing::ScopedTestServices services;
    services.shell->openResult = 31;  // e.g. no mail program set up
    services.shell->association = "browser --new-window \"%1\"";
    COpenInvoiceDlg dlg;
    dlg.SendCommand(ID_WEB_EMAILUS);
    ASSERT_EQ(services.shell->runs.size(), 1u);
    EXPECT_EQ(services.shell->runs[0].program, "browser");
    EXPECT_EQ(services.shell->runs[0].arguments,
              (std::vector<std::string>{"--new-window", "mailto:postmaster@openinvoice.example"}));
    EXPECT_EQ(services.shell->runs[0].showCommand, platform::SW_SHOWNORMAL);

    // Nothing opens at all: no message, no beep, no sound.
    services.shell->runResult = 2;
    for (const Command& c : kCommands) dlg.SendCommand(c.id);
    services.shell->association.clear();
    for (const Command& c : kCommands) dlg.SendCommand(c.id);
    EXPECT_TRUE(services.messageBox->calls.empty());
    EXPECT_TRUE(services.sound->beeps.empty());
    EXPECT_TRUE(services.sound->calls.empty());
}

}  // namespace
