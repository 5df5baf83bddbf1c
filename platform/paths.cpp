// Windows paths on this system: drive letters through a Wine prefix, backslashes,
// and file names that ignore case; also the program's own folder and the Windows
// directory's stand-in.
#include "platform/detail.h"
#include "platform/platform.h"
#include "platform/text.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <cstdlib>
#include <vector>

namespace platform {
namespace detail {
namespace {

bool hasDriveLetter(const std::string& p) {
    return p.size() >= 2 && p[1] == ':' &&
           ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) &&
           (p.size() == 2 || p[2] == '/' || p[2] == '\\');
}

bool isDir(const std::string& p) { return QFileInfo(fromFileName(p)).isDir(); }
bool exists(const std::string& p) { return QFileInfo::exists(fromFileName(p)); }

std::string join(const std::string& base, const std::string& name) {
    if (base.empty()) return name;
    if (base.back() == '/') return base + name;
    return base + "/" + name;
}

// A component as text: UTF-8 when it is valid UTF-8 (a native name), else the
// Windows-1252 text it was written in.
QString componentText(const std::string& c) {
    const QByteArray raw(c.data(), static_cast<qsizetype>(c.size()));
    const QString utf = QString::fromUtf8(raw);
    if (utf.toUtf8() == raw) return utf;
    return fromAnsi(c);
}

std::string envOr(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// base is "" (current folder), "/" or a folder path; rest holds slash-separated parts.
std::string matchFrom(const std::string& base, const std::string& rest) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= rest.size()) {
        const size_t slash = rest.find('/', start);
        const size_t end = slash == std::string::npos ? rest.size() : slash;
        if (end > start) parts.push_back(rest.substr(start, end - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    std::string current = base;
    bool matching = true;
    for (const std::string& part : parts) {
        std::string chosen = part;
        if (part != "." && part != ".." && matching) {
            if (!exists(join(current, part))) {
                const QString want = componentText(part);
                const QDir dir(fromFileName(current.empty() ? std::string(".") : current));
                const QStringList entries = dir.entryList(
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
                bool found = false;
                for (const QString& entry : entries) {
                    if (entry.compare(want, Qt::CaseInsensitive) == 0) {
                        chosen = toFileName(entry);
                        found = true;
                        break;
                    }
                }
                if (!found) {
                    matching = false;
                    chosen = toFileName(want);
                }
            }
        }
        current = join(current, chosen);
    }
    return current;
}

std::string collapseSlashes(const std::string& p) {
    std::string out;
    for (char c : p) {
        if (c == '/' && !out.empty() && out.back() == '/') continue;
        out.push_back(c);
    }
    return out;
}

std::string driveRoot(char letter) {
    const char lower = static_cast<char>(letter >= 'A' && letter <= 'Z' ? letter - 'A' + 'a' : letter);
    const std::string prefix = winePrefix();
    if (!prefix.empty()) {
        const std::string device = prefix + "/dosdevices/" + lower + ":";
        if (isDir(device)) return device;
        if (lower == 'c' && isDir(prefix + "/drive_c")) return prefix + "/drive_c";
    }
    return "/";
}

}  // namespace

std::string winePrefix() {
    const std::string env = envOr("WINEPREFIX");
    if (!env.empty()) return isDir(env) ? env : std::string();
    const std::string home = toFileName(QDir::homePath()) + "/.wine";
    return isDir(home) ? home : std::string();
}

std::string matchPathCase(const std::string& path) {
    if (path.empty()) return path;
    const std::string p = collapseSlashes(path);
    const bool trailing = p.size() > 1 && p.back() == '/';
    std::string result = p.front() == '/' ? matchFrom("/", p.substr(1)) : matchFrom("", p);
    if (trailing && !result.empty() && result.back() != '/') result.push_back('/');
    return result;
}

std::string windowsDirectory() {
    const std::string windir = envOr("WINDIR");
    if (!windir.empty()) return windir;
    const std::string prefix = winePrefix();
    if (!prefix.empty() && isDir(prefix + "/drive_c/windows")) return prefix + "/drive_c/windows";
    std::string data = envOr("XDG_DATA_HOME");
    if (data.empty()) data = toFileName(QDir::homePath()) + "/.local/share";
    const std::string own = data + "/openinvoice/windows";
    QDir().mkpath(fromFileName(own));
    return own;
}

int missingFileCode(const std::string& nativePath) {
    const QFileInfo info(fromFileName(nativePath));
    if (info.exists()) return 0;
    return info.absoluteDir().exists() ? 2 : 3;
}

}  // namespace detail

std::string mapWindowsPath(const std::string& path) {
    const bool windowsForm = path.find('\\') != std::string::npos || detail::hasDriveLetter(path);
    if (!windowsForm) return path;
    std::string p = path;
    for (char& c : p)
        if (c == '\\') c = '/';
    p = detail::collapseSlashes(p);
    const bool trailing = p.size() > 1 && p.back() == '/';
    std::string result;
    if (detail::hasDriveLetter(p)) {
        std::string rest = p.substr(2);
        while (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
        result = detail::matchFrom(detail::driveRoot(p[0]), rest);
    } else if (p.front() == '/') {
        result = detail::matchFrom("/", p.substr(1));
    } else {
        result = detail::matchFrom("", p);
    }
    if (trailing && !result.empty() && result.back() != '/') result.push_back('/');
    return result;
}

// In a build tree the program's own files lie beside it; installed as
// <prefix>/bin/openinvoice they lie in <prefix>/share/openinvoice, wherever the prefix
// is (/usr, /usr/local, a user's own prefix), so nothing depends on the current folder.
std::string programFolder() {
    const auto& system = services().system;
    if (!system) return {};
    const std::string program = system->programPath();
    if (program.empty()) return {};
    const QFileInfo exe(fromFileName(program));
    const QString beside = exe.absolutePath();
    if (QDir(beside).dirName() == QLatin1String("bin")) {
        const QString shared = QDir::cleanPath(beside + QLatin1String("/../share/openinvoice"));
        if (QFileInfo(shared).isDir()) return toFileName(shared);
    }
    return toFileName(beside);
}

std::string resolveProgramFile(const std::string& name, const std::string& subfolder) {
    if (name.empty()) return {};
    const bool hasFolder = name.find('/') != std::string::npos ||
                           name.find('\\') != std::string::npos || detail::hasDriveLetter(name);
    auto fileAt = [](const std::string& p) {
        const QFileInfo info(fromFileName(p));
        return info.isFile() ? toFileName(info.absoluteFilePath()) : std::string();
    };
    if (hasFolder) return fileAt(detail::matchPathCase(mapWindowsPath(name)));
    if (std::string here = fileAt(detail::matchPathCase(name)); !here.empty()) return here;
    const std::string folder = programFolder();
    if (folder.empty()) return {};
    return fileAt(detail::matchPathCase(folder + "/" + subfolder + "/" + name));
}

}  // namespace platform
