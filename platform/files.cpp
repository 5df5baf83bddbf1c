// Questions to the file system, the current folder and the per-user folder.
#include "platform/platform.h"
#include "platform/text.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {

std::string programBaseName() {
    return toFileName(QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
}

bool isFile(const std::string& name) { return !name.empty() && QFileInfo(fromFileName(name)).isFile(); }

bool isFolder(const std::string& name) { return !name.empty() && QFileInfo(fromFileName(name)).isDir(); }

std::string readableFile(const std::string& name) {
    const QFileInfo info(fromFileName(name));
    if (name.empty() || !info.isFile() || !info.isReadable()) return {};
    return toFileName(info.absoluteFilePath());
}

std::string besideFile(const std::string& file, const std::string& name) {
    const QString n = fromFileName(name);
    if (QFileInfo(n).isAbsolute()) return name;
    return toFileName(QFileInfo(fromFileName(file)).absolutePath() + QLatin1Char('/') + n);
}

std::string currentFolder() { return toFileName(QDir::currentPath()); }

std::string userDataFolder(const std::string& name) {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    std::string data = xdg && xdg[0] == '/' ? std::string(xdg) : std::string();
    if (data.empty()) data = toFileName(QDir::homePath()) + "/.local/share";
    return data + "/" + name;
}

std::string enterFolder(const std::string& folder) {
    const QString path = fromFileName(folder);
    if (!QDir().mkpath(path)) return "cannot create the folder " + folder + ": " + std::strerror(errno);
    if (!QDir::setCurrent(path)) return "cannot use the folder " + folder + " as the working folder";
    return {};
}

}  // namespace platform
