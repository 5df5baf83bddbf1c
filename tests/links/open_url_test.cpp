// Opening a target: the shell first, then the program registered for HTML files,
// started with the target as one argument and never through a shell.
#include <gtest/gtest.h>

#include "links/LinkStatic.h"
#include "platform/testing.h"

namespace {

using Args = std::vector<std::string>;

class OpenUrlTest : public ::testing::Test {
protected:
    OpenUrlTest() { services.shell->openResult = 2; }  // the shell cannot open it
    platform::testing::ScopedTestServices services;
};

TEST_F(OpenUrlTest, TheShellsSuccessIsTheAnswer) {
    services.shell->openResult = 42;
    services.shell->association = "browser \"%1\"";
    EXPECT_EQ(CLinkStatic::OpenUrl("http://www.openinvoice.example", platform::SW_SHOWNORMAL), 42);
    ASSERT_EQ(services.shell->opens.size(), 1u);
    EXPECT_EQ(services.shell->opens[0].showCommand, platform::SW_SHOWNORMAL);
    EXPECT_TRUE(services.shell->runs.empty());
    EXPECT_EQ(services.shell->associationQueries, 0);
}

TEST_F(OpenUrlTest, PlaceholderFormsOfTheAssociation) {
    const std::string target = "mailto:postmaster@openinvoice.example";
    struct Case { const char* command; const char* program; Args arguments; };
    const Case cases[] = {
        // Quoted placeholder: cut before the opening quote, the target goes unquoted.
        {"\"/opt/web browser/run\" --new-window \"%1\" --tail", "/opt/web browser/run", {"--new-window", target}},
        // Bare placeholder.
        {"browser -x %1 -y", "browser", {"-x", target}},
        // No placeholder: the target goes at the end.
        {"browser --new-tab", "browser", {"--new-tab", target}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        services.shell->runs.clear();
        services.shell->association = c.command;
        EXPECT_EQ(CLinkStatic::OpenUrl(target, platform::SW_SHOW), 33);
        ASSERT_EQ(services.shell->runs.size(), 1u);
        EXPECT_EQ(services.shell->runs[0].program, c.program);
        EXPECT_EQ(services.shell->runs[0].arguments, c.arguments);
        EXPECT_EQ(services.shell->runs[0].showCommand, platform::SW_SHOW);
    }
}

TEST_F(OpenUrlTest, ShellCharactersInTheTargetStayOneArgument) {
    services.shell->association = "browser \"%1\"";
    const std::string hostile = "http://x.example/a b\"; rm -rf ~; echo \"$(id)` | cat & %1 \"%1\"";
    CLinkStatic::OpenUrl(hostile, platform::SW_SHOW);
    ASSERT_EQ(services.shell->runs.size(), 1u);
    EXPECT_EQ(services.shell->runs[0].program, "browser");
    EXPECT_EQ(services.shell->runs[0].arguments, Args{hostile});

    // A very long target is no problem either: nothing is cut or overrun.
    const std::string longTarget = "http://x.example/" + std::string(5000, 'a');
    CLinkStatic::OpenUrl(longTarget, platform::SW_SHOW);
    EXPECT_EQ(services.shell->runs.back().arguments, Args{longTarget});

    // A target that would read as an option is not handed to the program.
    EXPECT_EQ(CLinkStatic::OpenUrl("--remote-debugging-port=9", platform::SW_SHOW), 2);
    EXPECT_EQ(services.shell->runs.size(), 2u);
}

TEST_F(OpenUrlTest, FailuresGiveTheRightCode) {
    // No association: the shell's code, not a lookup error.
    services.shell->openResult = 31;
    EXPECT_EQ(CLinkStatic::OpenUrl("http://www.openinvoice.example", platform::SW_SHOW), 31);
    EXPECT_TRUE(services.shell->runs.empty());
    // An association that is only blanks: the shell's code.
    services.shell->association = "   \"%1\"";
    EXPECT_EQ(CLinkStatic::OpenUrl("http://www.openinvoice.example", platform::SW_SHOW), 31);
    EXPECT_TRUE(services.shell->runs.empty());
    // The registered program cannot start: its code.
    services.shell->association = "browser %1";
    services.shell->runResult = 2;
    EXPECT_EQ(CLinkStatic::OpenUrl("http://www.openinvoice.example", platform::SW_SHOW), 2);
    EXPECT_EQ(services.shell->runs.size(), 1u);
}

}  // namespace
