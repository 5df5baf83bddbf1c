// The only door to the operating system. Every service is an interface with a real
// implementation and a test double (platform/testing.h); the program reaches them
// through platform::services(), which tests replace with doubles so that nothing
// blocks on a dialog, a sound or a browser.
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

// Sound flags, with their Windows values.
constexpr unsigned SND_ASYNC = 0x0001;
constexpr unsigned SND_NODEFAULT = 0x0002;
constexpr unsigned SND_FILENAME = 0x00020000;

class SoundService {
public:
    virtual ~SoundService() = default;
    // Starts the wave file name (bare names resolve against the current folder, then
    // the program's own sound folder) and returns at once; a new sound replaces the one
    // playing. A missing file plays the default sound unless SND_NODEFAULT is given.
    virtual bool playSound(const std::string& name, unsigned flags) = 0;
    // The system's alert sound for a message type (MessageBeep with MB_ICONEXCLAMATION
    // and the like); returns at once.
    virtual void messageBeep(unsigned type) = 0;
};

// Show commands for shellOpen (Windows values).
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOW = 5;

class ShellService {
public:
    virtual ~ShellService() = default;
    // Opens target (file, URL, "mailto:") with the verb "open". Returns a value above 32
    // on success, as ShellExecute does; 2 file not found, 31 no association, etc.
    virtual long shellOpen(const std::string& target, int showCommand) = 0;
    // The command line registered for HTML files, in the Windows form of an
    // association ("browser --new-window \"%1\""), empty when there is none: the
    // fallback route for opening a URL when shellOpen fails.
    virtual std::string htmlAssociation() = 0;
    // Starts program with arguments, each handed to it as one argument exactly as it
    // stands: no shell, no splitting, no expansion. A program name without a folder is
    // looked up on the PATH. Returns a value above 31 on success, as WinExec does: 2 when
    // the program is not found, 11 when it cannot be started.
    virtual unsigned runProgram(const std::string& program, const std::vector<std::string>& arguments,
                                int showCommand) = 0;
};

// Splits a command line into program and arguments: blanks separate words, double
// quotes group blanks into a word, and two double quotes inside quotes stand for one.
std::vector<std::string> splitCommandLine(const std::string& commandLine);

class HelpService {
public:
    virtual ~HelpService() = default;
    // Opens the help file with a command (HELP_CONTENTS = 3) and data; false when the
    // help service could not be started.
    virtual bool winHelp(const std::string& helpFile, unsigned command, unsigned long data) = 0;
};

class SystemService {
public:
    virtual ~SystemService() = default;
    // The Windows directory (e.g. "C:\\WINDOWS"), at most bufferSize-1 characters.
    virtual std::string windowsDirectory(size_t bufferSize = 260) = 0;
    // The running program's full path.
    virtual std::string programPath() = 0;
};

// Message box styles and results (Windows values).
constexpr unsigned MB_OK = 0x0000;
constexpr unsigned MB_ICONSTOP = 0x0010;
constexpr unsigned MB_ICONEXCLAMATION = 0x0030;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

class MessageBoxService {
public:
    virtual ~MessageBoxService() = default;
    // Modal message box with text, caption and style; returns the button pressed.
    virtual int messageBox(const std::string& text, const std::string& caption, unsigned style) = 0;
};

struct OpenFileRequest {
    std::string defaultExtension;
    std::string initialFileName;
    std::string filter;   // Windows form: "Skin Files (*.skn)|*.skn||"
    unsigned flags = 0;
};

class FileDialogService {
public:
    virtual ~FileDialogService() = default;
    // The chosen file's full path, or nothing when the user cancelled.
    virtual std::optional<std::string> openFile(const OpenFileRequest& request) = 0;
};

struct Services {
    std::shared_ptr<SoundService> sound;
    std::shared_ptr<ShellService> shell;
    std::shared_ptr<HelpService> help;
    std::shared_ptr<SystemService> system;
    std::shared_ptr<MessageBoxService> messageBox;
    std::shared_ptr<FileDialogService> fileDialog;
};

// The services in use: the real ones unless a test installed others.
Services& services();
// Installs services (tests); returns the previous set.
Services install(Services replacement);
// The real implementations.
Services realServices();

// Maps a Windows path ("C:\\PEACHW\\Company\\customer.dat") to a path on this system:
// backslashes become slashes, a drive letter goes through a Wine prefix where one
// exists, and each component matches an existing entry regardless of case. A path
// that is already native comes back unchanged.
std::string mapWindowsPath(const std::string& path);

// The font family to use for a Windows font name: "MS Sans Serif" (not on this
// system) becomes a close, narrow sans-serif that is installed (Liberation Sans);
// other names come back unchanged.
std::string mapFontFamily(const std::string& windowsFamily);

// The folder of the program's own files (sounds/, skins/, icons/ and the help page):
// the running program's folder (services().system->programPath() without its file
// name), or <prefix>/share/openinvoice for a program installed in <prefix>/bin.
std::string programFolder();

// Where a file of the program's own (a wave file, a skin) given by name is found: a
// name with a folder as it stands (after mapWindowsPath), a bare name in the current
// folder, then in <program folder>/<subfolder> ("sounds", "skins"). The full path, or
// empty when there is no such file.
std::string resolveProgramFile(const std::string& name, const std::string& subfolder);

// The running program's file name without its folder and extension ("openinvoice").
std::string programBaseName();

// File names here are in the system's own encoding (platform::fromFileName).
// Whether name is a file (links followed), or a folder.
bool isFile(const std::string& name);
bool isFolder(const std::string& name);
// The full path of a file that exists and may be read, else empty.
std::string readableFile(const std::string& name);
// name as it stands when it is absolute, else name in the folder that holds file.
std::string besideFile(const std::string& file, const std::string& name);
// The current folder.
std::string currentFolder();

// The folder for one user's own files of the program name: $XDG_DATA_HOME/name, or
// ~/.local/share/name when XDG_DATA_HOME is unset or relative (the XDG base directory
// rules ignore a relative one).
std::string userDataFolder(const std::string& name);
// Creates folder (with its parents) when missing and makes it the current folder.
// Empty, or the reason in words when it cannot.
std::string enterFolder(const std::string& folder);

// A file error, as the framework's file class raises it: the file's name and the cause.
class FileError : public std::runtime_error {
public:
    enum class Cause { None, Generic, FileNotFound, BadPath, TooManyOpenFiles, AccessDenied,
                       InvalidFile, RemoveCurrentDir, DirectoryFull, BadSeek, HardIO,
                       SharingViolation, LockViolation, DiskFull, EndOfFile };
    FileError(Cause cause, std::string fileName);
    Cause cause() const { return cause_; }
    const std::string& fileName() const { return fileName_; }
private:
    Cause cause_;
    std::string fileName_;
};

// The cause in words ("file not found"), for reports and FileError::what().
const char* fileErrorCauseText(FileError::Cause cause);

// A text file opened by name, buffered, with line reads, position queries and string
// writes (the framework's standard text-file class). Opening failures raise FileError,
// and so do failed reads and writes. In text mode (typeText) a written "\n" goes to the
// file as "\r\n"; reads accept both line ends. Bytes are never re-encoded. Sharing flags
// are accepted but not enforced: this system has no mandatory file locks.
class TextFile {
public:
    enum Mode : unsigned {
        modeRead = 0x0000, modeWrite = 0x0001, modeReadWrite = 0x0002,
        shareDenyNone = 0x0040, modeNoTruncate = 0x10000, modeCreate = 0x1000, typeText = 0x4000,
    };
    TextFile(const std::string& fileName, unsigned mode);  // throws FileError
    ~TextFile();
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;

    // Reads one line without its line break; false at the end of the file.
    bool readString(std::string& line);
    void writeString(const std::string& text);
    unsigned long long getPosition() const;
    unsigned long long getLength() const;
    void close();
    const std::string& fileName() const { return fileName_; }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string fileName_;
};

}  // namespace platform
