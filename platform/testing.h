// Test doubles for every platform service: each records its calls and answers at
// once, without showing a window, playing a sound or starting a program.
#pragma once

#include "platform/platform.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform::testing {

class RecordingSound final : public SoundService {
public:
    struct Call { std::string name; unsigned flags; };
    std::vector<Call> calls;
    std::vector<unsigned> beeps;  // message beeps, by type
    bool result = true;
    bool playSound(const std::string& name, unsigned flags) override;
    void messageBeep(unsigned type) override;
    std::vector<std::string> names() const;
};

class RecordingShell final : public ShellService {
public:
    struct Open { std::string target; int showCommand; };
    struct Run { std::string program; std::vector<std::string> arguments; int showCommand; };
    std::vector<Open> opens;
    std::vector<Run> runs;
    int associationQueries = 0;
    long openResult = 42;        // above 32: success
    std::string association;     // what htmlAssociation answers
    unsigned runResult = 33;     // above 31: success
    long shellOpen(const std::string& target, int showCommand) override;
    std::string htmlAssociation() override;
    unsigned runProgram(const std::string& program, const std::vector<std::string>& arguments,
                        int showCommand) override;
};

class RecordingHelp final : public HelpService {
public:
    struct Call { std::string helpFile; unsigned command; unsigned long data; };
    std::vector<Call> calls;
    bool result = true;
    bool winHelp(const std::string& helpFile, unsigned command, unsigned long data) override;
};

class FakeSystem final : public SystemService {
public:
    std::string windowsFolder = "/nonexistent/windows";
    std::string program = "/nonexistent/openinvoice";
    int windowsDirectoryQueries = 0;
    std::string windowsDirectory(size_t bufferSize = 260) override;
    std::string programPath() override;
};

class RecordingMessageBox final : public MessageBoxService {
public:
    struct Call { std::string text; std::string caption; unsigned style; };
    std::vector<Call> calls;
    int answer = IDOK;
    int messageBox(const std::string& text, const std::string& caption, unsigned style) override;
};

class ScriptedFileDialog final : public FileDialogService {
public:
    std::vector<OpenFileRequest> requests;
    std::optional<std::string> answer;  // nothing: the user cancels
    std::optional<std::string> openFile(const OpenFileRequest& request) override;
};

// Installs a fresh double for every service for as long as it lives, then puts the
// services back as they were. The doubles stay reachable through its members.
class ScopedTestServices {
public:
    ScopedTestServices();
    ~ScopedTestServices();
    ScopedTestServices(const ScopedTestServices&) = delete;
    ScopedTestServices& operator=(const ScopedTestServices&) = delete;

    std::shared_ptr<RecordingSound> sound = std::make_shared<RecordingSound>();
    std::shared_ptr<RecordingShell> shell = std::make_shared<RecordingShell>();
    std::shared_ptr<RecordingHelp> help = std::make_shared<RecordingHelp>();
    std::shared_ptr<FakeSystem> system = std::make_shared<FakeSystem>();
    std::shared_ptr<RecordingMessageBox> messageBox = std::make_shared<RecordingMessageBox>();
    std::shared_ptr<ScriptedFileDialog> fileDialog = std::make_shared<ScriptedFileDialog>();

private:
    Services previous_;
};

}  // namespace platform::testing
