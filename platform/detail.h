// Helpers of the platform services that carry logic worth testing on their own:
// path matching, the desktop-entry reading behind the HTML association, and the
// conversion of Windows file-dialog filters. Not for use outside platform/ and tests.
#pragma once

#include <QStringList>
#include <string>

namespace platform::detail {

// The Wine prefix: $WINEPREFIX, else ~/.wine, when that folder exists; else empty.
std::string winePrefix();

// Matches each component of a slash-separated path against the entries that exist,
// ignoring case where the exact spelling is absent, and keeps the given spelling from
// the first component that matches nothing. Relative paths start at the current folder.
std::string matchPathCase(const std::string& path);

// The Windows directory's stand-in on this system (see SystemService).
std::string windowsDirectory();

// The Exec value of a desktop entry file's [Desktop Entry] group, unescaped; empty
// when the file or the key is missing.
std::string desktopFileExec(const std::string& desktopFilePath);

// A desktop Exec line as a Windows-style association command: the first file or URL
// field code (%u %U %f %F) becomes "%1" in quotes, other field codes go, "%%" is "%".
std::string desktopExecToCommand(const std::string& exec);

// "Skins (*.skn)|*.skn||" -> {"Skins (*.skn)"}; patterns separated by ';' in the
// Windows form are separated by blanks in Qt's.
QStringList qtNameFilters(const std::string& windowsFilter);

// ShellExecute-style result for opening a file by name: 2 when the file is missing,
// 3 when its folder is missing, 0 when it exists.
int missingFileCode(const std::string& nativePath);

}  // namespace platform::detail
