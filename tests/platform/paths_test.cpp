#include "platform/detail.h"
#include "platform/platform.h"
#include "platform/testing.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace platform;
using testsupport::ScopedCurrentFolder;
using testsupport::ScopedEnv;
using testsupport::writeFile;

namespace {

std::string backslashed(std::string s) {
    for (char& c : s)
        if (c == '/') c = '\\';
    return s;
}

}  // namespace

TEST(MapWindowsPath, MatchesEachComponentRegardlessOfCase) {
    QTemporaryDir dir;
    writeFile(dir.path() + "/PeachW/Company One/CUSTOMER.DAT", "x");
    const std::string root = dir.path().toStdString();
    EXPECT_EQ(mapWindowsPath(backslashed(root + "/peachw/COMPANY ONE/customer.dat")),
              root + "/PeachW/Company One/CUSTOMER.DAT");
    // Doubled backslashes, as pasted from a configuration file, collapse.
    EXPECT_EQ(mapWindowsPath(root + "\\\\peachw\\\\company one\\customer.dat"),
              root + "/PeachW/Company One/CUSTOMER.DAT");
    // From the first component that does not exist, the given spelling stays.
    EXPECT_EQ(mapWindowsPath(backslashed(root + "/peachw/New Folder/Journal.dat")),
              root + "/PeachW/New Folder/Journal.dat");
    EXPECT_EQ(mapWindowsPath(backslashed(root + "/peachw/")), root + "/PeachW/");
}

TEST(MapWindowsPath, LeavesNativePathsAndRelativeNamesAlone) {
    QTemporaryDir dir;
    writeFile(dir.path() + "/Data/File.txt", "x");
    const std::string native = dir.path().toStdString() + "/data/file.txt";
    EXPECT_EQ(mapWindowsPath(native), native);
    EXPECT_EQ(mapWindowsPath(""), "");
    ScopedCurrentFolder cwd;
    writeFile(cwd.path() + "/Sub/Name.kxi", "x");
    EXPECT_EQ(mapWindowsPath("sub\\name.kxi"), "Sub/Name.kxi");
}

TEST(MapWindowsPath, DriveLettersGoThroughTheWinePrefix) {
    QTemporaryDir prefix;
    writeFile(prefix.path() + "/drive_c/PEACHW/Company/customer.dat", "x");
    {
        ScopedEnv wine("WINEPREFIX", prefix.path().toStdString());
        EXPECT_EQ(mapWindowsPath("C:\\peachw\\company\\CUSTOMER.DAT"),
                  prefix.path().toStdString() + "/drive_c/PEACHW/Company/customer.dat");
        EXPECT_EQ(mapWindowsPath("c:/PEACHW"), prefix.path().toStdString() + "/drive_c/PEACHW");
    }
    {
        // A dosdevices entry names the drive's folder.
        QTemporaryDir other;
        writeFile(other.path() + "/Files/a.txt", "x");
        QDir().mkpath(prefix.path() + "/dosdevices");
        QFile::link(other.path(), prefix.path() + "/dosdevices/d:");
        ScopedEnv wine("WINEPREFIX", prefix.path().toStdString());
        EXPECT_EQ(mapWindowsPath("D:\\files\\A.TXT"), prefix.path().toStdString() + "/dosdevices/d:/Files/a.txt");
    }
    {
        // Without a prefix the drive is the root folder.
        QTemporaryDir dir;
        writeFile(dir.path() + "/Peach/x.dat", "x");
        ScopedEnv wine("WINEPREFIX", "/nonexistent/prefix");
        const std::string rest = dir.path().toStdString().substr(1);
        EXPECT_EQ(mapWindowsPath("C:\\" + backslashed(rest) + "\\PEACH\\X.DAT"), dir.path().toStdString() + "/Peach/x.dat");
    }
}

TEST(WindowsDirectory, WindirThenWinePrefixThenOwnFolder) {
    const auto real = realServices();
    QTemporaryDir home;
    ScopedEnv data("XDG_DATA_HOME", home.path().toStdString() + "/data");
    {
        ScopedEnv windir("WINDIR", std::string("/srv/windows"));
        EXPECT_EQ(real.system->windowsDirectory(260), "/srv/windows");
        EXPECT_EQ(real.system->windowsDirectory(5), "/srv");
        EXPECT_EQ(real.system->windowsDirectory(0), "");
    }
    ScopedEnv noWindir("WINDIR", std::nullopt);
    QTemporaryDir prefix;
    QDir().mkpath(prefix.path() + "/drive_c/windows");
    {
        ScopedEnv wine("WINEPREFIX", prefix.path().toStdString());
        EXPECT_EQ(real.system->windowsDirectory(), prefix.path().toStdString() + "/drive_c/windows");
    }
    ScopedEnv noWine("WINEPREFIX", "/nonexistent/prefix");
    const std::string own = home.path().toStdString() + "/data/openinvoice/windows";
    EXPECT_EQ(real.system->windowsDirectory(), own);
    EXPECT_TRUE(QFileInfo(QString::fromStdString(own)).isDir());  // created on demand
}

TEST(ProgramFiles, CurrentFolderThenProgramSubfolderIgnoringCase) {
    ScopedCurrentFolder cwd;
    QTemporaryDir program;
    platform::testing::ScopedTestServices doubles;
    doubles.system->program = program.path().toStdString() + "/openinvoice";
    writeFile(program.path() + "/sounds/click.wav", "RIFF");
    writeFile(program.path() + "/sounds/Boink.WAV", "RIFF");
    writeFile(program.path() + "/skins/Grey.skn", "[Skin]");
    auto sound = [](const std::string& name) { return resolveProgramFile(name, "sounds"); };

    EXPECT_EQ(sound("click.wav"), program.path().toStdString() + "/sounds/click.wav");
    EXPECT_EQ(sound("boink.wav"), program.path().toStdString() + "/sounds/Boink.WAV");
    writeFile(cwd.path() + "/CLICK.wav", "RIFF");
    EXPECT_EQ(sound("click.wav"), cwd.str() + "/CLICK.wav");  // the current folder first
    EXPECT_EQ(sound("missing.wav"), "");
    EXPECT_EQ(sound("grey.skn"), "");  // each kind in its own subfolder
    EXPECT_EQ(resolveProgramFile("grey.skn", "skins"), program.path().toStdString() + "/skins/Grey.skn");
    EXPECT_EQ(sound(""), "");
    // A name with a folder is taken as it stands, not looked up in the sound folder.
    EXPECT_EQ(sound("elsewhere/click.wav"), "");
    QDir().mkpath(cwd.path() + "/sounds");
    EXPECT_EQ(sound("sounds/../CLICK.wav"), cwd.str() + "/CLICK.wav");
}

TEST(ProgramFolder, BesideTheProgramOrInstalledUnderShare) {
    ScopedCurrentFolder cwd;
    QTemporaryDir prefix;
    platform::testing::ScopedTestServices doubles;
    const std::string root = prefix.path().toStdString();
    // A build tree: the files lie beside the program, even in a folder called bin
    // when there is no share/openinvoice beside it.
    doubles.system->program = root + "/build/app/openinvoice";
    EXPECT_EQ(programFolder(), root + "/build/app");
    doubles.system->program = root + "/bin/openinvoice";
    EXPECT_EQ(programFolder(), root + "/bin");
    // Installed into a prefix: <prefix>/share/openinvoice, and the sounds are found
    // there from any current folder.
    writeFile(prefix.path() + "/share/openinvoice/sounds/click.wav", "RIFF");
    EXPECT_EQ(programFolder(), root + "/share/openinvoice");
    EXPECT_EQ(resolveProgramFile("click.wav", "sounds"), root + "/share/openinvoice/sounds/click.wav");
}

TEST(UserFolder, XdgDataHomeWhenAbsoluteAndEnteredOnceCreated) {
    ScopedCurrentFolder cwd;
    QTemporaryDir home;
    ScopedEnv homeEnv("HOME", home.path().toStdString());
    ScopedEnv relative("XDG_DATA_HOME", "relative/data");
    EXPECT_EQ(userDataFolder("openinvoice"), home.path().toStdString() + "/.local/share/openinvoice");
    ScopedEnv absolute("XDG_DATA_HOME", cwd.str() + "/data");
    const std::string folder = userDataFolder("openinvoice");
    EXPECT_EQ(folder, cwd.str() + "/data/openinvoice");

    EXPECT_EQ(enterFolder(folder), "");
    EXPECT_EQ(currentFolder(), folder);
    EXPECT_TRUE(isFolder(folder));
    writeFile(cwd.path() + "/plain", "x");
    EXPECT_EQ(enterFolder(cwd.str() + "/plain/below").rfind("cannot create the folder " + cwd.str() + "/plain/below: ", 0),
              0u);
    EXPECT_EQ(currentFolder(), folder);  // a failure leaves the current folder as it was
}

TEST(SoundFiles, MissingFilePlaysDefaultUnlessForbidden) {
    ScopedCurrentFolder cwd;
    platform::testing::ScopedTestServices doubles;
    doubles.system->program = cwd.str() + "/openinvoice";
    const auto real = realServices();
    EXPECT_FALSE(real.sound->playSound("nothing.wav", SND_FILENAME | SND_ASYNC | SND_NODEFAULT));
    EXPECT_TRUE(real.sound->playSound("nothing.wav", SND_FILENAME | SND_ASYNC));
    EXPECT_TRUE(real.sound->playSound("", 0));  // stops, with nothing playing
}

TEST(Fonts, DialogFontsMapToAnInstalledSansSerif) {
    EXPECT_EQ(mapFontFamily("MS Sans Serif"), "Liberation Sans");
    EXPECT_EQ(mapFontFamily("ms shell dlg"), "Liberation Sans");
    EXPECT_EQ(mapFontFamily("Courier New"), "Courier New");
}
