// The real platform services and the table through which the program reaches them.
#include "platform/detail.h"
#include "platform/platform.h"
#include "platform/text.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QSoundEffect>
#include <QStandardPaths>
#include <QTextStream>
#include <QUrl>
#include <cstdio>
#include <unistd.h>

namespace platform {
namespace {

bool haveGui() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr; }
bool haveWidgets() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

// ShellExecute and WinExec result values used here.
constexpr long kShellOk = 42;
constexpr long kNoAssociation = 31;
constexpr unsigned kFileNotFound = 2;
constexpr unsigned kBadFormat = 11;
constexpr unsigned kExecOk = 33;

class RealSound final : public SoundService {
public:
    bool playSound(const std::string& name, unsigned flags) override {
        if (name.empty()) {  // an empty name stops the sound that is playing
            if (effect_) effect_->stop();
            return true;
        }
        const std::string path = resolveProgramFile(name, "sounds");
        if (path.empty()) {
            if (flags & SND_NODEFAULT) return false;
            if (haveWidgets()) QApplication::beep();
            return true;
        }
        // Without an audio device the sound is skipped quietly.
        if (!haveGui() || QMediaDevices::audioOutputs().isEmpty()) return false;
        if (!effect_) effect_ = new QSoundEffect(QCoreApplication::instance());
        effect_->stop();  // a new sound replaces the one playing
        effect_->setSource(QUrl::fromLocalFile(fromFileName(path)));
        effect_->play();
        return true;
    }

    void messageBeep(unsigned) override {
        if (haveWidgets()) QApplication::beep();
    }

private:
    QPointer<QSoundEffect> effect_;  // owned by the application object
};

bool looksLikeUrl(const std::string& target) {
    // A scheme of two or more letters before ':' ("http:", "mailto:"); "C:" is a drive.
    const size_t colon = target.find(':');
    if (colon == std::string::npos || colon < 2) return false;
    for (size_t i = 0; i < colon; ++i) {
        const char c = target[i];
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
        if (!ok) return false;
    }
    return true;
}

bool openWithDesktop(const QUrl& url) {
    if (haveGui()) return QDesktopServices::openUrl(url);
    return QProcess::startDetached(QStringLiteral("xdg-open"), {url.toString()});
}

// The desktop entry that handles a MIME type ("firefox-esr.desktop"), as the desktop's
// own query tells it; nothing when there is none. unknown is set when the query itself
// could not run, so that nothing can be said.
QString defaultHandler(const QString& mimeType, bool* unknown = nullptr) {
    QProcess query;
    query.start(QStringLiteral("xdg-mime"), {"query", "default", mimeType});
    const bool ran = query.waitForStarted(2000) && query.waitForFinished(3000) &&
                     query.exitStatus() == QProcess::NormalExit;
    if (unknown) *unknown = !ran;
    return ran ? QString::fromUtf8(query.readAllStandardOutput()).trimmed() : QString();
}

// A web name without a scheme ("www.example.com/page"), which the Windows shell opens
// as a web address, as the http URL it stands for; other targets as they are.
std::string withWebScheme(const std::string& target) {
    const bool web = target.size() > 4 && QString::fromLatin1(target.data(), 4).compare(
                                              QLatin1String("www."), Qt::CaseInsensitive) == 0;
    return web ? "http://" + target : target;
}

class RealShell final : public ShellService {
public:
    long shellOpen(const std::string& given, int) override {
        if (given.empty()) return kFileNotFound;
        const std::string target = withWebScheme(given);
        if (looksLikeUrl(target)) {
            const QUrl url(fromAnsi(target));
            if (!url.isValid()) return kFileNotFound;
            // A scheme nobody handles ("mailto:" with no mail program set up) has no
            // association; the opener would only show an error of its own.
            bool unknown = false;
            const QString scheme = url.scheme().toLower();
            if (scheme != QLatin1String("file") &&
                defaultHandler("x-scheme-handler/" + scheme, &unknown).isEmpty() && !unknown)
                return kNoAssociation;
            return openWithDesktop(url) ? kShellOk : kNoAssociation;
        }
        std::string path = target;
        for (char& c : path)
            if (c == '\\') c = '/';
        path = detail::matchPathCase(mapWindowsPath(path));
        if (const int missing = detail::missingFileCode(path); missing != 0) return missing;
        const QUrl url = QUrl::fromLocalFile(QFileInfo(fromFileName(path)).absoluteFilePath());
        return openWithDesktop(url) ? kShellOk : kNoAssociation;
    }

    std::string htmlAssociation() override {
        const QString id = defaultHandler(QStringLiteral("text/html"));
        if (id.isEmpty()) return {};
        QStringList dirs;
        const QString home = qEnvironmentVariable("XDG_DATA_HOME", QDir::homePath() + "/.local/share");
        dirs << home;
        const QString system = qEnvironmentVariable("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
        dirs << system.split(':', Qt::SkipEmptyParts);
        // Desktop file ids map '-' to subfolders ("kde-foo.desktop" -> kde/foo.desktop).
        QStringList names{id};
        if (id.contains('-')) names << QString(id).replace(id.indexOf('-'), 1, '/');
        for (const QString& dir : dirs) {
            for (const QString& name : names) {
                const QString file = dir + "/applications/" + name;
                if (!QFileInfo::exists(file)) continue;
                const std::string exec = detail::desktopFileExec(toFileName(file));
                if (!exec.empty()) return detail::desktopExecToCommand(exec);
            }
        }
        return {};
    }

    unsigned runProgram(const std::string& program, const std::vector<std::string>& arguments,
                        int) override {
        if (program.empty()) return kFileNotFound;
        const QString name = fromFileName(program);
        const QString found = name.contains('/') ? (QFileInfo(name).isFile() ? name : QString())
                                                 : QStandardPaths::findExecutable(name);
        if (found.isEmpty()) return kFileNotFound;
        QStringList args;
        for (const std::string& a : arguments) args << fromFileName(a);
        // Started directly, never through a shell: each argument reaches the program whole.
        return QProcess::startDetached(found, args) ? kExecOk : kBadFormat;
    }
};

class RealHelp final : public HelpService {
public:
    bool winHelp(const std::string& helpFile, unsigned command, unsigned long) override {
        constexpr unsigned HELP_QUIT = 2;
        if (command == HELP_QUIT) return true;
        // Our help is an HTML page: a name with another extension finds the page beside it.
        const QFileInfo given(fromFileName(detail::matchPathCase(mapWindowsPath(helpFile))));
        QString page;
        if (given.isFile()) {
            page = given.absoluteFilePath();
        } else {
            const QString base = given.absolutePath() + "/" + given.completeBaseName();
            for (const char* ext : {".html", ".htm"}) {
                const QFileInfo candidate(fromFileName(detail::matchPathCase(toFileName(base + ext))));
                if (candidate.isFile()) {
                    page = candidate.absoluteFilePath();
                    break;
                }
            }
        }
        // A missing page is reported by the caller, as a help program that cannot start.
        if (page.isEmpty() || !services().shell) return false;
        return services().shell->shellOpen(toFileName(page), SW_SHOWNORMAL) > 32;
    }
};

class RealSystem final : public SystemService {
public:
    std::string windowsDirectory(size_t bufferSize) override {
        if (bufferSize == 0) return {};
        std::string dir = detail::windowsDirectory();
        if (dir.size() > bufferSize - 1) dir.resize(bufferSize - 1);
        return dir;
    }
    std::string programPath() override {
        if (QCoreApplication::instance()) return toFileName(QCoreApplication::applicationFilePath());
        char buffer[4096];
        const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
    }
};

class RealMessageBox final : public MessageBoxService {
public:
    int messageBox(const std::string& text, const std::string& caption, unsigned style) override {
        if (!haveWidgets()) {
            std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
            return IDOK;
        }
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        switch (style & 0xF0u) {
        case 0x10: icon = QMessageBox::Critical; break;
        case 0x20: icon = QMessageBox::Question; break;
        case 0x30: icon = QMessageBox::Warning; break;
        case 0x40: icon = QMessageBox::Information; break;
        default: break;
        }
        constexpr unsigned MB_OKCANCEL = 0x1;
        const bool withCancel = (style & 0x0Fu) == MB_OKCANCEL;
        QMessageBox box(icon, fromAnsi(caption), fromAnsi(text),
                        withCancel ? (QMessageBox::Ok | QMessageBox::Cancel) : QMessageBox::Ok,
                        QApplication::activeWindow());
        box.setAccessibleName(fromAnsi(caption));
        box.setAccessibleDescription(fromAnsi(text));
        const int pressed = box.exec();
        return pressed == QMessageBox::Cancel ? IDCANCEL : IDOK;
    }
};

class RealFileDialog final : public FileDialogService {
public:
    std::optional<std::string> openFile(const OpenFileRequest& request) override {
        if (!haveWidgets()) return std::nullopt;
        QFileDialog dialog(QApplication::activeWindow());
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        const QStringList filters = detail::qtNameFilters(request.filter);
        if (!filters.isEmpty()) dialog.setNameFilters(filters);
        if (!request.defaultExtension.empty())
            dialog.setDefaultSuffix(fromFileName(request.defaultExtension));
        if (!request.initialFileName.empty()) dialog.selectFile(fromFileName(request.initialFileName));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
        return toFileName(dialog.selectedFiles().constFirst());
    }
};

void fillFrom(Services& target, const Services& source) {
    if (!target.sound) target.sound = source.sound;
    if (!target.shell) target.shell = source.shell;
    if (!target.help) target.help = source.help;
    if (!target.system) target.system = source.system;
    if (!target.messageBox) target.messageBox = source.messageBox;
    if (!target.fileDialog) target.fileDialog = source.fileDialog;
}

}  // namespace

Services realServices() {
    Services s;
    s.sound = std::make_shared<RealSound>();
    s.shell = std::make_shared<RealShell>();
    s.help = std::make_shared<RealHelp>();
    s.system = std::make_shared<RealSystem>();
    s.messageBox = std::make_shared<RealMessageBox>();
    s.fileDialog = std::make_shared<RealFileDialog>();
    return s;
}

Services& services() {
    static Services current = realServices();
    return current;
}

Services install(Services replacement) {
    // A service left empty in the replacement stays as it is.
    fillFrom(replacement, services());
    Services previous = services();
    services() = std::move(replacement);
    return previous;
}

std::vector<std::string> splitCommandLine(const std::string& commandLine) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (size_t i = 0; i < commandLine.size(); ++i) {
        const char c = commandLine[i];
        if (c == '"') {
            if (quoted && i + 1 < commandLine.size() && commandLine[i + 1] == '"') {
                word.push_back('"');  // "" inside quotes: one quote
                ++i;
            } else {
                quoted = !quoted;
            }
            inWord = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inWord) words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word.push_back(c);
            inWord = true;
        }
    }
    if (inWord) words.push_back(std::move(word));
    return words;
}

std::string mapFontFamily(const std::string& windowsFamily) {
    static const char* const kDialogFonts[] = {"MS Sans Serif", "MS Shell Dlg", "MS Shell Dlg 2",
                                               "Microsoft Sans Serif"};
    const QString family = QString::fromStdString(windowsFamily).trimmed();
    bool dialogFont = false;
    for (const char* name : kDialogFonts)
        dialogFont = dialogFont || family.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
    if (!dialogFont) return windowsFamily;
    const QString wanted = QStringLiteral("Liberation Sans");
    if (!haveGui() || QFontDatabase::families().contains(wanted)) return wanted.toStdString();
    return "Sans Serif";
}

namespace detail {

std::string desktopFileExec(const std::string& desktopFilePath) {
    QFile file(fromFileName(desktopFilePath));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    QTextStream in(&file);
    bool inEntry = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith('[')) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inEntry || !line.startsWith(QLatin1String("Exec"))) continue;
        const qsizetype eq = line.indexOf('=');
        if (eq < 0 || line.left(eq).trimmed() != QLatin1String("Exec")) continue;
        const QString raw = line.mid(eq + 1).trimmed();
        QString value;
        for (qsizetype i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\\' && i + 1 < raw.size()) {
                const QChar n = raw[++i];
                value += n == 's' ? QChar(' ') : n == 'n' ? QChar('\n') : n == 't' ? QChar('\t')
                       : n == 'r' ? QChar('\r') : n;
            } else {
                value += raw[i];
            }
        }
        return value.toStdString();
    }
    return {};
}

std::string desktopExecToCommand(const std::string& exec) {
    std::string out;
    bool placed = false;
    for (size_t i = 0; i < exec.size(); ++i) {
        if (exec[i] != '%' || i + 1 >= exec.size()) {
            out.push_back(exec[i]);
            continue;
        }
        const char code = exec[++i];
        if (code == '%') {
            out.push_back('%');
        } else if (code == 'u' || code == 'U' || code == 'f' || code == 'F') {
            if (!placed) out += "\"%1\"";
            placed = true;
        }
        // Other field codes (%i %c %k and the deprecated ones) expand to nothing here.
    }
    // Blanks left behind by removed field codes.
    std::string tidy;
    for (char c : out) {
        if (c == ' ' && (tidy.empty() || tidy.back() == ' ')) continue;
        tidy.push_back(c);
    }
    while (!tidy.empty() && tidy.back() == ' ') tidy.pop_back();
    return tidy;
}

QStringList qtNameFilters(const std::string& windowsFilter) {
    QStringList parts = QString::fromStdString(windowsFilter).split('|');
    while (!parts.isEmpty() && parts.constLast().isEmpty()) parts.removeLast();
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString label = parts[i].trimmed();
        QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
        for (QString& p : patterns) p = p.trimmed();
        const QString joined = patterns.join(' ');
        // Qt reads the patterns from the label's last parentheses; add them when absent.
        const qsizetype open = label.lastIndexOf('(');
        const qsizetype close = label.lastIndexOf(')');
        const bool labelHasThem = open >= 0 && close > open &&
            label.mid(open + 1, close - open - 1).split(QRegularExpression("[;\\s]+"), Qt::SkipEmptyParts)
                .join(' ') == joined;
        filters << (labelHasThem ? label : QStringLiteral("%1 (%2)").arg(label, joined));
    }
    return filters;
}

}  // namespace detail
}  // namespace platform
