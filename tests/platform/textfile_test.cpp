#include "platform/platform.h"
#include "test_support.h"

#include <gtest/gtest.h>

using namespace platform;
using testsupport::readFile;
using testsupport::ScopedCurrentFolder;
using testsupport::writeFile;

namespace {

std::vector<std::string> readAll(const std::string& name) {
    TextFile f(name, TextFile::modeRead | TextFile::typeText);
    std::vector<std::string> lines;
    std::string line;
    while (f.readString(line)) lines.push_back(line);
    EXPECT_EQ(line, "");  // the failed read leaves nothing behind
    return lines;
}

FileError::Cause openFailure(const std::string& name, unsigned mode) {
    try {
        TextFile f(name, mode);
    } catch (const FileError& e) {
        EXPECT_EQ(e.fileName(), name);
        EXPECT_NE(std::string(e.what()).find(name), std::string::npos);
        return e.cause();
    }
    return FileError::Cause::None;
}

}  // namespace

TEST(TextFile, ReadsLinesWithoutTheirBreaks) {
    ScopedCurrentFolder cwd;
    writeFile("crlf.txt", "C:\\PEACHW\\Co\r\nsecond\r\n");
    writeFile("lf.txt", "grey.skn\n");
    writeFile("mixed.txt", "a\r\n\nlast without break");
    writeFile("empty.txt", "");
    writeFile("bytes.txt", "caf\xe9 \x80\r\n");
    EXPECT_EQ(readAll("crlf.txt"), (std::vector<std::string>{"C:\\PEACHW\\Co", "second"}));
    EXPECT_EQ(readAll("lf.txt"), (std::vector<std::string>{"grey.skn"}));
    EXPECT_EQ(readAll("mixed.txt"), (std::vector<std::string>{"a", "", "last without break"}));
    EXPECT_TRUE(readAll("empty.txt").empty());
    EXPECT_EQ(readAll("bytes.txt"), (std::vector<std::string>{"caf\xe9 \x80"}));  // bytes, unconverted
}

TEST(TextFile, TextModeWritesCrLfAndCreateEmptiesTheFile) {
    ScopedCurrentFolder cwd;
    writeFile("Output.txt", "an older, longer report\r\n\r\n\r\n");
    {
        TextFile f("Output.txt", TextFile::modeCreate | TextFile::modeWrite | TextFile::typeText);
        f.writeString("Name\n");
        f.writeString("\n");
        f.writeString("already\r\n");
        EXPECT_EQ(f.getPosition(), 17u);
        EXPECT_EQ(f.getLength(), 17u);
        f.close();
        f.close();  // a second close does nothing
    }
    EXPECT_EQ(readFile("Output.txt"), QByteArray("Name\r\n\r\nalready\r\n"));
    {
        TextFile f("1stskin.kxi", TextFile::modeCreate | TextFile::modeWrite | TextFile::typeText);
        f.writeString("grey.skn");
    }
    EXPECT_EQ(readFile("1stskin.kxi"), QByteArray("grey.skn"));
    {
        TextFile f("Output.txt", TextFile::modeCreate | TextFile::modeNoTruncate | TextFile::modeReadWrite);
        std::string line;
        EXPECT_TRUE(f.readString(line));
        EXPECT_EQ(line, "Name");
    }
}

TEST(TextFile, FailuresNameTheFileAndTheCause) {
    ScopedCurrentFolder cwd;
    EXPECT_EQ(openFailure("DataPath.kxi", TextFile::modeRead), FileError::Cause::FileNotFound);
    EXPECT_EQ(openFailure("no such folder/DataPath.kxi", TextFile::modeRead), FileError::Cause::BadPath);
    EXPECT_EQ(openFailure("no such folder/Output.txt", TextFile::modeCreate | TextFile::modeWrite),
              FileError::Cause::BadPath);
    QDir().mkpath("folder");
    EXPECT_EQ(openFailure("folder", TextFile::modeRead), FileError::Cause::AccessDenied);
    // Writing without create needs the file to exist.
    EXPECT_EQ(openFailure("absent.txt", TextFile::modeWrite), FileError::Cause::FileNotFound);

    writeFile("readonly.txt", "x\n");
    TextFile reader("readonly.txt", TextFile::modeRead);
    try {
        reader.writeString("y");
        ADD_FAILURE() << "writing to a file opened for reading";
    } catch (const FileError& e) {
        EXPECT_EQ(e.cause(), FileError::Cause::AccessDenied);
    }
}

TEST(TextFile, WindowsNamesReachTheFile) {
    ScopedCurrentFolder cwd;
    writeFile("Windows/PAW70.INI", "Company0=C:\\PEACHW\\X\r\n");
    std::string line;
    TextFile f(cwd.str() + "\\windows\\paw70.ini", TextFile::modeRead | TextFile::shareDenyNone);
    EXPECT_TRUE(f.readString(line));
    EXPECT_EQ(line, "Company0=C:\\PEACHW\\X");
    EXPECT_EQ(f.fileName(), cwd.str() + "\\windows\\paw70.ini");  // as given
}
