#include "framework/cmdtarget.h"

#include <QString>

#include "framework/dialog.h"
#include "framework/dialog_template.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace framework {
namespace {

CWinApp*& currentApp() {
    static CWinApp* app = nullptr;
    return app;
}

TraceSink& traceSink() {
    static TraceSink sink;
    return sink;
}

}  // namespace

// ---- CCmdTarget -----------------------------------------------------------

const MessageMap* CCmdTarget::GetThisMessageMap() {
    static const MessageMapEntry entries[] = {{Message::None, 0u, 0, nullptr, nullptr}};
    static const MessageMap map{nullptr, entries};
    return &map;
}
const MessageMap* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

const EventSinkMap* CCmdTarget::GetThisEventSinkMap() {
    static const EventSinkEntry entries[] = {{0, 0, nullptr, nullptr, nullptr}};
    static const EventSinkMap map{nullptr, entries};
    return &map;
}
const EventSinkMap* CCmdTarget::GetEventSinkMap() const { return GetThisEventSinkMap(); }

const MessageMapEntry* CCmdTarget::FindMessageEntry(Message message, unsigned code, int id) const {
    for (const MessageMap* map = GetMessageMap(); map; map = map->base ? map->base() : nullptr) {
        for (const MessageMapEntry* e = map->entries; e->message != Message::None; ++e) {
            if (e->message != message) continue;
            if (message == Message::Command && (e->id != id || e->code != code)) continue;
            return e;
        }
    }
    return nullptr;
}

const EventSinkEntry* CCmdTarget::FindEventEntry(int controlId, int dispid) const {
    for (const EventSinkMap* map = GetEventSinkMap(); map; map = map->base ? map->base() : nullptr) {
        for (const EventSinkEntry* e = map->entries; e->invoke; ++e)
            if (e->controlId == controlId && e->dispid == dispid) return e;
    }
    return nullptr;
}

bool CCmdTarget::OnCmdMsg(int id, unsigned code) {
    const MessageMapEntry* entry = FindMessageEntry(Message::Command, code, id);
    if (!entry) return false;
    trace(entry->handler);
    entry->invoke(this, nullptr);
    return true;
}

// ---- CWinApp --------------------------------------------------------------

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp(const char*) : m_pszHelpFilePath() { currentApp() = this; }

CWinApp::~CWinApp() {
    if (currentApp() == this) currentApp() = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::Run() {
    if (m_pszHelpFilePath.empty()) m_pszHelpFilePath = helpFilePath();
    InitInstance();
    return 0;
}

void CWinApp::Enable3dControlsStatic() { trace("Enable3dControlsStatic"); }

void CWinApp::OnHelpIndex() {
    if (m_pszHelpFilePath.empty()) m_pszHelpFilePath = helpFilePath();
    auto& help = platform::services().help;
    if (!help || !help->winHelp(m_pszHelpFilePath, HELP_CONTENTS, 0))
        AfxMessageBox("Unable to start the help for this program.", platform::MB_ICONSTOP);
}

void CWinApp::OnHelp() { OnHelpIndex(); }

QIcon CWinApp::LoadIcon(int resourceId) const {
    QIcon icon;
    const std::vector<std::string>* files = findIconResource(resourceId);
    if (!files) return icon;
    const std::string folder = platform::programFolder();
    for (const std::string& file : *files) {
        const std::string path = folder + "/" + file;
        if (platform::isFile(path)) icon.addFile(platform::fromFileName(path));
    }
    return icon;
}

CWinApp* AfxGetApp() { return currentApp(); }

void AfxEnableControlContainer() { trace("AfxEnableControlContainer"); }

// ---- Program-wide services ------------------------------------------------

std::string applicationTitle() {
    const std::string name = platform::programBaseName();
    return name.empty() ? std::string("openinvoice") : name;
}

std::string helpFilePath() { return platform::programFolder() + "/" + platform::programBaseName() + ".html"; }

int AfxMessageBox(const std::string& text, unsigned style) {
    if ((style & 0xF0u) == 0) style |= platform::MB_ICONEXCLAMATION;
    auto& boxes = platform::services().messageBox;
    if (!boxes) return IDOK;
    return boxes->messageBox(text, applicationTitle(), style);
}

std::string commandErrorText(const std::exception& error) {
    using Cause = platform::FileError::Cause;
    if (const auto* file = dynamic_cast<const platform::FileError*>(&error)) {
        const std::string& name = file->fileName();
        switch (file->cause()) {
        case Cause::FileNotFound: return name + " was not found.";
        case Cause::BadPath: return name + " contains an invalid path.";
        case Cause::TooManyOpenFiles:
            return name + " could not be opened because there are too many open files.";
        case Cause::AccessDenied: return "Access to " + name + " was denied.";
        case Cause::InvalidFile:
            return "An invalid file handle was associated with " + name + ".";
        case Cause::RemoveCurrentDir:
            return name + " could not be removed because it is the current directory.";
        case Cause::DirectoryFull:
            return name + " could not be created because the directory is full.";
        case Cause::BadSeek: return "Seek failed on " + name + ".";
        case Cause::HardIO:
            return "A hardware I/O error was reported while accessing " + name + ".";
        case Cause::SharingViolation:
            return "A sharing violation occurred while accessing " + name + ".";
        case Cause::LockViolation:
            return "A locking violation occurred while accessing " + name + ".";
        case Cause::DiskFull: return "Disk full while accessing " + name + ".";
        case Cause::EndOfFile:
            return "An attempt was made to access " + name + " past its end.";
        case Cause::None:
        case Cause::Generic: break;
        }
        return "An unexpected error occurred while accessing " + name + ".";
    }
    const std::string what = error.what();
    return what.empty() ? std::string("An unsupported operation was attempted.") : what;
}

void ReportCommandError(const std::exception& error) {
    AfxMessageBox(commandErrorText(error), platform::MB_OK | platform::MB_ICONSTOP);
}

void setTraceSink(TraceSink sink) { traceSink() = std::move(sink); }

void trace(const std::string& event) {
    if (traceSink()) traceSink()(event);
}

}  // namespace framework
