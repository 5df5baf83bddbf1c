#include "platform/testing.h"

#include <gtest/gtest.h>

using namespace platform;
using platform::testing::ScopedTestServices;

TEST(TestDoubles, RecordInOrderAndAnswerAsConfigured) {
    ScopedTestServices doubles;
    services().sound->playSound("click.wav", SND_FILENAME | SND_ASYNC);
    services().sound->playSound("boink.wav", SND_FILENAME);
    ASSERT_EQ(doubles.sound->calls.size(), 2u);
    EXPECT_EQ(doubles.sound->calls[0].name, "click.wav");
    EXPECT_EQ(doubles.sound->calls[0].flags, 0x00020001u);
    EXPECT_EQ(doubles.sound->names(), (std::vector<std::string>{"click.wav", "boink.wav"}));

    doubles.shell->openResult = 2;
    doubles.shell->association = "browser \"%1\"";
    EXPECT_EQ(services().shell->shellOpen("http://example.invalid", SW_SHOW), 2);
    EXPECT_EQ(services().shell->htmlAssociation(), "browser \"%1\"");
    EXPECT_EQ(services().shell->runProgram("browser", {"x"}, SW_SHOWNORMAL), 33u);
    ASSERT_EQ(doubles.shell->opens.size(), 1u);
    EXPECT_EQ(doubles.shell->opens[0].showCommand, SW_SHOW);
    EXPECT_EQ(doubles.shell->runs[0].program, "browser");
    EXPECT_EQ(doubles.shell->runs[0].arguments, std::vector<std::string>{"x"});
    services().sound->messageBeep(MB_ICONEXCLAMATION);
    EXPECT_EQ(doubles.sound->beeps, std::vector<unsigned>{MB_ICONEXCLAMATION});

    EXPECT_EQ(services().messageBox->messageBox("Text", "Caption", MB_ICONEXCLAMATION), IDOK);
    ASSERT_EQ(doubles.messageBox->calls.size(), 1u);
    EXPECT_EQ(doubles.messageBox->calls[0].caption, "Caption");
    EXPECT_EQ(doubles.messageBox->calls[0].style, MB_ICONEXCLAMATION);

    EXPECT_FALSE(services().fileDialog->openFile({"", "", "Skins (*.skn)|*.skn", 6}).has_value());
    doubles.fileDialog->answer = "/skins/x.skn";
    EXPECT_EQ(services().fileDialog->openFile({}).value(), "/skins/x.skn");
    EXPECT_EQ(doubles.fileDialog->requests.at(0).flags, 6u);

    doubles.system->windowsFolder = "/w/windows";
    EXPECT_EQ(services().system->windowsDirectory(4), "/w/");
    EXPECT_TRUE(services().help->winHelp("x.html", 3, 0));
    EXPECT_EQ(doubles.help->calls.at(0).command, 3u);
}

TEST(TestDoubles, ScopeRestoresTheServicesBefore) {
    const Services before = services();
    {
        ScopedTestServices outer;
        {
            ScopedTestServices inner;
            EXPECT_EQ(services().sound, inner.sound);
        }
        EXPECT_EQ(services().sound, outer.sound);
    }
    EXPECT_EQ(services().sound, before.sound);
    EXPECT_EQ(services().messageBox, before.messageBox);
}

TEST(TestDoubles, InstallKeepsServicesLeftEmpty) {
    ScopedTestServices doubles;
    auto sound = std::make_shared<platform::testing::RecordingSound>();
    Services partial;
    partial.sound = sound;
    const Services previous = install(partial);
    EXPECT_EQ(services().sound, sound);
    EXPECT_EQ(services().messageBox, doubles.messageBox);  // not replaced by nothing
    install(previous);
    EXPECT_EQ(services().sound, doubles.sound);
}
