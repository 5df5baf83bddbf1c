#include "platform/detail.h"
#include "platform/platform.h"
#include "platform/testing.h"
#include "platform/text.h"
#include "test_support.h"

#include <QFileInfo>
#include <QThread>
#include <gtest/gtest.h>

using namespace platform;
using testsupport::ScopedCurrentFolder;
using testsupport::writeFile;

TEST(Shell, MissingFilesAndProgramsGiveShellCodes) {
    ScopedCurrentFolder cwd;
    const auto real = realServices();
    EXPECT_EQ(real.shell->shellOpen("output.txt", SW_SHOWNORMAL), 2);
    EXPECT_EQ(real.shell->shellOpen("no folder\\output.txt", SW_SHOWNORMAL), 3);
    EXPECT_EQ(real.shell->shellOpen("", SW_SHOWNORMAL), 2);
    EXPECT_EQ(real.shell->runProgram("/nonexistent/browser", {"http://x"}, SW_SHOW), 2u);
    EXPECT_EQ(real.shell->runProgram("", {}, SW_SHOW), 2u);
    EXPECT_GT(real.shell->runProgram("true", {"--ignored"}, SW_SHOW), 31u);
}

// A web name without a scheme (the About box's "www." link) is opened as the http
// address it stands for, as the Windows shell opens it, not looked for as a file:
// the desktop is asked for the http handler, and with none set up the answer is "no
// association" (31), not "file not found" (2).
TEST(Shell, AWebNameWithoutASchemeOpensAsAnHttpAddress) {
    ScopedCurrentFolder cwd;
    writeFile(cwd.path() + "/bin/xdg-mime", "#!/bin/sh\necho \"$@\" >> \"$(dirname \"$0\")/asked\"\n");
    QFile::setPermissions(cwd.path() + "/bin/xdg-mime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const char* path = std::getenv("PATH");
    testsupport::ScopedEnv onPath("PATH", cwd.str() + "/bin:" + (path ? path : "/usr/bin:/bin"));
    const auto real = realServices();
    EXPECT_EQ(real.shell->shellOpen("www.openinvoice.example", SW_SHOWNORMAL), 31);
    EXPECT_EQ(real.shell->shellOpen("WWW.openinvoice.example/peach.asp", SW_SHOWNORMAL), 31);
    EXPECT_EQ(testsupport::readFile(cwd.path() + "/bin/asked"),
              "query default x-scheme-handler/http\nquery default x-scheme-handler/http\n");
    EXPECT_EQ(real.shell->shellOpen("www", SW_SHOWNORMAL), 2);  // a file name after all
}

TEST(Shell, ProgramsGetEachArgumentWholeAndNoShell) {
    ScopedCurrentFolder cwd;
    const auto real = realServices();
    const std::string hostile = "a b; touch injected \"$(touch injected2)\" | `touch injected3` &";
    ASSERT_GT(real.shell->runProgram("touch", {hostile}, SW_SHOW), 31u);
    for (int i = 0; i < 100 && !QFileInfo::exists(QString::fromStdString(hostile)); ++i) QThread::msleep(20);
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(hostile)));
    for (const char* name : {"a", "b", "injected", "injected2", "injected3"}) EXPECT_FALSE(QFileInfo::exists(name)) << name;
}

TEST(Shell, CommandLinesSplitIntoProgramAndArguments) {
    using V = std::vector<std::string>;
    EXPECT_EQ(splitCommandLine("browser --new-window \"%1\""), (V{"browser", "--new-window", "%1"}));
    EXPECT_EQ(splitCommandLine("  \"/opt/my browser\"\t-x  "), (V{"/opt/my browser", "-x"}));
    EXPECT_EQ(splitCommandLine("say \"a \"\"quoted\"\" word\" \"\""), (V{"say", "a \"quoted\" word", ""}));
    EXPECT_EQ(splitCommandLine(""), V{});
}

TEST(Shell, DesktopEntryBecomesAnAssociationCommand) {
    QTemporaryDir dir;
    writeFile(dir.path() + "/browser.desktop",
              "[Desktop Action new]\nExec=wrong %u\n"
              "[Desktop Entry]\nName=Browser\nExec=/opt/my\\sbrowser --new-window %U\nType=Application\n");
    const std::string exec = detail::desktopFileExec(dir.path().toStdString() + "/browser.desktop");
    EXPECT_EQ(exec, "/opt/my browser --new-window %U");
    EXPECT_EQ(detail::desktopExecToCommand(exec), "/opt/my browser --new-window \"%1\"");
    EXPECT_EQ(detail::desktopExecToCommand("viewer %i %c %f %F"), "viewer \"%1\"");
    EXPECT_EQ(detail::desktopExecToCommand("run --rate=100%% %u"), "run --rate=100% \"%1\"");
    EXPECT_EQ(detail::desktopExecToCommand("plain"), "plain");
    EXPECT_EQ(detail::desktopFileExec(dir.path().toStdString() + "/missing.desktop"), "");
}

TEST(Shell, WindowsFiltersBecomeQtNameFilters) {
    EXPECT_EQ(detail::qtNameFilters("Skins (*.skn)|*.skn||"), QStringList{"Skins (*.skn)"});
    EXPECT_EQ(detail::qtNameFilters("Skins (*.skn)|*.skn"), QStringList{"Skins (*.skn)"});
    EXPECT_EQ(detail::qtNameFilters("Text|*.txt;*.log|All files (*.*)|*.*||"),
              (QStringList{"Text (*.txt *.log)", "All files (*.*)"}));
    EXPECT_TRUE(detail::qtNameFilters("").isEmpty());
}

TEST(Help, OpensTheHtmlPageThroughTheShell) {
    ScopedCurrentFolder cwd;
    platform::testing::ScopedTestServices doubles;
    const auto real = realServices();
    writeFile(cwd.path() + "/openinvoice.html", "<html></html>");
    EXPECT_TRUE(real.help->winHelp(cwd.str() + "/openinvoice.html", 3, 0));
    // The Windows help file's name finds the page beside it.
    EXPECT_TRUE(real.help->winHelp(cwd.str() + "/openinvoice.HLP", 3, 0));
    ASSERT_EQ(doubles.shell->opens.size(), 2u);
    EXPECT_EQ(doubles.shell->opens[1].target, cwd.str() + "/openinvoice.html");

    EXPECT_FALSE(real.help->winHelp(cwd.str() + "/other.HLP", 3, 0));
    doubles.shell->openResult = 31;
    EXPECT_FALSE(real.help->winHelp(cwd.str() + "/openinvoice.html", 3, 0));
    EXPECT_EQ(doubles.shell->opens.size(), 3u);
}

TEST(AnsiText, Windows1252RoundTrip) {
    EXPECT_EQ(fromAnsi("\x80 12.50"), QString::fromUtf8("\u20AC 12.50"));
    EXPECT_EQ(fromAnsi("Caf\xe9 \x93quoted\x94"), QString::fromUtf8("Caf\u00E9 \u201Cquoted\u201D"));
    std::string all;
    for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
    EXPECT_EQ(toAnsi(fromAnsi(all)), all);
    EXPECT_EQ(toAnsi(QString::fromUtf8("\u4E2D")), "?");
}
