// live_race: a reader process and a writer process on one company at once.
//
//   live_race [--seconds S] [--commits N] [--seed X] [--follow] [--keep]
//
// Makes a company with mkcompany in a scratch folder, seals its records
// (live_writer --prepare), starts live_reader, then live_writer for N commits or S
// seconds, whichever comes first (default 3 seconds); when the writer has stopped, tells the reader to make its final
// checks. Fails when either process crashes, hangs (is still running well past its
// time: it is killed) or reports a failure. --follow passes on to the reader: the
// table it keeps open must show the writer's last version too. --keep leaves the
// scratch folder for a look.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

pid_t start(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "live_race: cannot start %s\n", args[0].c_str());
        return -1;
    }
    return pid;
}

// Waits up to seconds for pid; kills it past that. Describes what went wrong, or
// returns an empty string when it exited with 0.
std::string finish(pid_t pid, const char* name, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (true) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (r < 0) return std::string(name) + ": lost";
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return std::string(name) + ": hung (killed after " + std::to_string(static_cast<int>(seconds)) + " s)";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (WIFSIGNALED(status)) return std::string(name) + ": crashed with signal " + std::to_string(WTERMSIG(status));
    if (WEXITSTATUS(status) != 0) return std::string(name) + ": exit " + std::to_string(WEXITSTATUS(status));
    return {};
}

std::string run(const std::vector<std::string>& args, const char* name, double seconds) {
    const pid_t pid = start(args);
    return pid < 0 ? std::string(name) + ": not started" : finish(pid, name, seconds);
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 3;
    std::string commits;
    unsigned long seed = 1;
    bool follow = false, keep = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc) seconds = std::atof(argv[++i]);
        else if (a == "--commits" && i + 1 < argc) commits = argv[++i];
        else if (a == "--seed" && i + 1 < argc) seed = std::strtoul(argv[++i], nullptr, 10);
        else if (a == "--follow") follow = true;
        else if (a == "--keep") keep = true;
        else {
            std::fprintf(stderr, "usage: live_race [--seconds S] [--commits N] [--seed X] [--follow] [--keep]\n");
            return 2;
        }
    }
    std::string folder = (fs::temp_directory_path() / "live_race_XXXXXX").string();
    if (!::mkdtemp(folder.data())) {
        std::perror("live_race: mkdtemp");
        return 1;
    }
    const std::string company = folder + "/company", log = folder + "/versions.log", stop = folder + "/stop";
    std::vector<std::string> problems;
    auto check = [&](const std::string& problem) {
        if (!problem.empty()) problems.push_back(problem);
        return problem.empty();
    };
    // Generous limits: the sanitizer build runs several times slower.
    const double setup = 300, slack = 120;
    if (check(run({MKCOMPANY_PATH, company, "--customers", "80", "--journal-rows", "800"}, "mkcompany", setup)) &&
        check(run({LIVE_WRITER_PATH, company, log, "--prepare"}, "live_writer --prepare", setup))) {
        std::vector<std::string> readerArgs = {LIVE_READER_PATH, company, log, stop, "--seed", std::to_string(seed * 2 + 1)};
        if (follow) readerArgs.push_back("--follow");
        const pid_t reader = start(readerArgs);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::vector<std::string> writerArgs = {LIVE_WRITER_PATH, company, log, "--seconds", std::to_string(seconds),
                                               "--seed", std::to_string(seed * 2)};
        if (!commits.empty()) writerArgs.insert(writerArgs.end(), {"--commits", commits});
        check(run(writerArgs, "live_writer", seconds + slack));
        std::ofstream(stop).put('\n');
        check(reader < 0 ? "live_reader: not started" : finish(reader, "live_reader", slack));
    }
    if (keep) std::printf("live_race: the company and log are in %s\n", folder.c_str());
    else fs::remove_all(folder);
    for (const auto& p : problems) std::printf("live_race: FAILED: %s\n", p.c_str());
    return problems.empty() ? 0 : 1;
}
