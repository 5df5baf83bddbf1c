// The command target (the root of every class with a message map) and the
// application object, with the program-wide services of the framework: the
// application title, message boxes, the command-error report and a trace hook.
#pragma once

#include <QIcon>
#include <exception>
#include <functional>
#include <string>

#include "framework/message_map.h"
#include "framework/win.h"

namespace framework {

class CDialog;

class CCmdTarget {
public:
    CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;
    virtual ~CCmdTarget() = default;

    static const MessageMap* GetThisMessageMap();
    virtual const MessageMap* GetMessageMap() const;
    static const EventSinkMap* GetThisEventSinkMap();
    virtual const EventSinkMap* GetEventSinkMap() const;

    // The first entry for (message, code, id), this class's table first.
    const MessageMapEntry* FindMessageEntry(Message message, unsigned code, int id) const;
    const EventSinkEntry* FindEventEntry(int controlId, int dispid) const;

    // Runs the handler of a command or notification; false when none handles it.
    // Errors raised by the handler pass through to the caller.
    virtual bool OnCmdMsg(int id, unsigned code);
};

class CWinApp : public CCmdTarget {
public:
    // appName is ignored: the title always comes from the program file's name.
    explicit CWinApp(const char* appName = nullptr);
    ~CWinApp() override;

    virtual BOOL InitInstance();
    // Runs the program: InitInstance, then (only when it returns TRUE) nothing more,
    // since this program never enters a message loop of its own. Returns 0.
    int Run();

    void Enable3dControlsStatic();
    // The icon resource's images, found below the program folder; a null icon when
    // none of them is there.
    QIcon LoadIcon(int resourceId) const;    // a no-op here: the 3-D look is the default

    CDialog* m_pMainWnd = nullptr;
    std::string m_pszHelpFilePath;    // the program's path with the extension replaced

    void OnHelpIndex();               // help on the help file, HELP_CONTENTS
    void OnHelp();                    // the default help: the same contents page

    DECLARE_MESSAGE_MAP()
};

CWinApp* AfxGetApp();
void AfxEnableControlContainer();     // a no-op here: hosting is always on

// The program file's name without its extension.
std::string applicationTitle();
// The help file: the program's path with its extension replaced by ".html".
std::string helpFilePath();

// A message box with OK only and the application title as caption; without an icon
// in style, the exclamation icon is added.
int AfxMessageBox(const std::string& text, unsigned style = 0);

// The framework's wording for an error that ended a command, and its report (stop icon).
std::string commandErrorText(const std::exception& error);
void ReportCommandError(const std::exception& error);

// A hook that observes the framework's dispatch ("OnClickNextButton") and the steps
// the program traces; empty by default. Tests install one to record the order.
using TraceSink = std::function<void(const std::string&)>;
void setTraceSink(TraceSink sink);
void trace(const std::string& event);

}  // namespace framework
