// The one conversion between the program's 8-bit text (Windows-1252 bytes, as the
// company files and state files hold it) and Qt's strings, used at the widget boundary.
#pragma once

#include <QString>
#include <string>

namespace platform {

// Windows-1252 bytes to a QString. The five bytes that code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the control characters of the same value.
QString fromAnsi(const std::string& bytes);

// A QString to Windows-1252 bytes; characters the code page cannot hold become '?'.
std::string toAnsi(const QString& text);

// File names are not company text: they travel in the system's own file-name encoding.
QString fromFileName(const std::string& name);
std::string toFileName(const QString& name);

}  // namespace platform
