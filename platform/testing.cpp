#include "platform/testing.h"

namespace platform::testing {

bool RecordingSound::playSound(const std::string& name, unsigned flags) {
    calls.push_back({name, flags});
    return result;
}

void RecordingSound::messageBeep(unsigned type) { beeps.push_back(type); }

std::vector<std::string> RecordingSound::names() const {
    std::vector<std::string> out;
    for (const Call& c : calls) out.push_back(c.name);
    return out;
}

long RecordingShell::shellOpen(const std::string& target, int showCommand) {
    opens.push_back({target, showCommand});
    return openResult;
}

std::string RecordingShell::htmlAssociation() {
    ++associationQueries;
    return association;
}

unsigned RecordingShell::runProgram(const std::string& program, const std::vector<std::string>& arguments,
                                   int showCommand) {
    runs.push_back({program, arguments, showCommand});
    return runResult;
}

bool RecordingHelp::winHelp(const std::string& helpFile, unsigned command, unsigned long data) {
    calls.push_back({helpFile, command, data});
    return result;
}

std::string FakeSystem::windowsDirectory(size_t bufferSize) {
    ++windowsDirectoryQueries;
    if (bufferSize == 0) return {};
    return windowsFolder.substr(0, bufferSize - 1);
}

std::string FakeSystem::programPath() { return program; }

int RecordingMessageBox::messageBox(const std::string& text, const std::string& caption, unsigned style) {
    calls.push_back({text, caption, style});
    return answer;
}

std::optional<std::string> ScriptedFileDialog::openFile(const OpenFileRequest& request) {
    requests.push_back(request);
    return answer;
}

ScopedTestServices::ScopedTestServices()
    : previous_(install(Services{sound, shell, help, system, messageBox, fileDialog})) {}

ScopedTestServices::~ScopedTestServices() { install(previous_); }

}  // namespace platform::testing
