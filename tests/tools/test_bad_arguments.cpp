// The tools given what a hostile but realistic user gives them: special files in
// place of a company file, layouts that do not fit, wrong numbers, folders they may
// not write, passwords outside Windows-1252. Each run is a child process with a time
// limit, so that a tool that waits on a pipe fails the test instead of hanging it,
// and each answer is checked word for word.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "btrieve/file.h"
#include "btrieve/writer.h"
#include "data/layouts.h"
#include "tests/support/run_shell.h"
#ifndef _WIN32
#include "tests/btrieve/bound_socket.h"
#endif
#include "tests/btrieve/key_segment.h"

namespace fs = std::filesystem;

namespace {

class TempFolder {
public:
    TempFolder() {
        std::string tmpl = (fs::temp_directory_path() / "bad-arguments-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
        path_ = tmpl;
        fs::permissions(path_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                   fs::perms::others_read | fs::perms::others_exec);
    }
    ~TempFolder() {
        std::error_code ec;
        for (const auto& e : fs::recursive_directory_iterator(path_, ec))
            if (e.is_directory(ec)) fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Outcome {
    bool finished = false;  // false: killed at the time limit
    int exitCode = -1;
    std::string out, err;
};

// Runs program with args, stdout and stderr to files, and kills it when it has not
// ended within 30 seconds. asNobody: when the tests run as root, the child drops to
// the unprivileged user 65534 first, so that file permissions bind it.
Outcome run(const char* program, const std::vector<std::string>& args, bool asNobody = false) {
    static TempFolder scratch;
    const std::string outPath = scratch / "out", errPath = scratch / "err";
#ifdef _WIN32
    // No time limit here: the cases that could wait (pipes) are POSIX ones.
    (void)asNobody;
    std::string line = "'" + std::string(program) + "'";
    for (const auto& a : args) line += " '" + a + "'";
    Outcome r;
    r.exitCode = testsupport::runShell(line + " >'" + outPath + "' 2>'" + errPath + "'");
    r.finished = true;
    r.out = slurp(outPath);
    r.err = slurp(errPath);
    return r;
#else
    const int outFd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int errFd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<char*> argv{const_cast<char*>(program)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const bool drop = asNobody && ::geteuid() == 0;

    Outcome r;
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (outFd < 0 || errFd < 0 || ::dup2(outFd, 1) < 0 || ::dup2(errFd, 2) < 0) ::_exit(126);
        if (drop && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(125);
        ::execv(program, argv.data());
        ::_exit(127);
    }
    if (outFd >= 0) ::close(outFd);
    if (errFd >= 0) ::close(errFd);
    if (pid < 0) return r;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            r.err = slurp(errPath);
            return r;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    r.finished = true;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = slurp(outPath);
    r.err = slurp(errPath);
    return r;
#endif
}

Outcome btrexport(const std::vector<std::string>& args, bool asNobody = false) {
    return run(BTREXPORT_PATH, args, asNobody);
}
Outcome mkcompany(const std::vector<std::string>& args, bool asNobody = false) {
    return run(MKCOMPANY_PATH, args, asNobody);
}

// The first line a tool wrote to stderr.
std::string firstLine(const std::string& s) { return s.substr(0, s.find('\n')); }

// ---- btrexport: special files and path problems -----------------------------

#ifndef _WIN32
TEST(BtrexportBadFiles, SpecialFilesAreAnsweredAtOnceWithWhatTheyAre) {
    TempFolder dir;
    const std::string fifo = dir / "customer.dat", sock = dir / "journal.dat", folder = dir / "permiss.dat";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const specialfiles::BoundSocket bound(sock);
    ASSERT_TRUE(bound.bound());
    fs::create_directory(folder);
    fs::create_symlink("loop-b", dir / "loop-a");
    fs::create_symlink("loop-a", dir / "loop-b");
    const std::string tooLong = dir / std::string(300, 'n');
    struct Case {
        std::string path, answer;
    };
    const Case cases[] = {
        {fifo, "status 1021 (a named pipe, not a file)"},
        {sock, "status 1022 (a socket, not a file)"},
        {folder, "status 1020 (a folder, not a file)"},
        {"/dev/null", "status 1023 (a device, not a file)"},
        {"/dev/zero", "status 1023 (a device, not a file)"},
        {dir / "loop-a", "status 1024 (symbolic links in a loop)"},
        {tooLong, "status 11 (file name too long)"},
        {dir / "missing.dat", "status 12 (file not found)"},
    };
    for (const Case& c : cases) {
        for (const std::vector<std::string>& mode :
             {std::vector<std::string>{"--info"}, {"--raw"}, {"--layout", "customer"}}) {
            std::vector<std::string> args = mode;
            args.push_back(c.path);
            const Outcome r = btrexport(args);
            ASSERT_TRUE(r.finished) << mode[0] << " " << c.path << " did not end";
            EXPECT_EQ(r.exitCode, 1) << c.path;
            EXPECT_EQ(r.err, "btrexport: " + c.path + ": " + c.answer + "\n");
            EXPECT_EQ(r.out, "") << c.path;
        }
    }
}

TEST(BtrexportBadFiles, AFileTheUserMayNotReadIsPermissionDenied) {
    TempFolder dir;
    const std::string locked = dir / "customer.dat";
    std::ofstream(locked) << "secret";
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    const Outcome r = btrexport({"--info", locked}, /*asNobody=*/true);
    ASSERT_TRUE(r.finished);
    if (r.exitCode == 125) GTEST_SKIP() << "running as root and unable to act as an ordinary user";
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "btrexport: " + locked + ": status 46 (permission denied)\n");
}

#endif

// ---- btrexport: layouts that do not fit ---------------------------------------

class BtrexportWrongLayout : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempFolder;
        const Outcome r = mkcompany({*dir_ / "co", "--customers", "12", "--journal-rows", "40"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string file(const std::string& name) { return *dir_ / ("co/" + name); }
    static TempFolder* dir_;
};
TempFolder* BtrexportWrongLayout::dir_ = nullptr;

TEST_F(BtrexportWrongLayout, EachLayoutOnAnotherFileIsRefusedSayingWhatDiffers) {
    const std::string customerKeysMissing =
        "KEY01 (Phone at 51, 21 bytes) is missing; KEY02 (Fax at 72, 21 bytes) is missing; "
        "KEY03 (BillName at 919, 31 bytes) is missing; KEY04 (nindex at 2786, 4 bytes) is missing";
    struct Case {
        const char* layout;
        const char* file;
        std::string difference;
    };
    const Case cases[] = {
        {"permiss", "customer.dat",
         "record length 2790, the layout's 35; KEY00 (UserName at 0, 17 bytes) differs from the file's key 0 "
         "(1 segment(s), first at 0, 21 bytes)"},
        {"customer", "journal.dat",
         "record length 259, the layout's 2790; KEY00 (custID at 0, 21 bytes) differs from the file's key 0 "
         "(1 segment(s), first at 9, 2 bytes); " + customerKeysMissing},
        {"customer", "permiss.dat",
         "record length 35, the layout's 2790; KEY00 (custID at 0, 21 bytes) differs from the file's key 0 "
         "(1 segment(s), first at 0, 17 bytes); " + customerKeysMissing},
        {"journal", "customer.dat",
         "record length 2790, the layout's 259; KEY00 (nindex at 9, 2 bytes) differs from the file's key 0 "
         "(1 segment(s), first at 0, 21 bytes)"},
        {"journal", "permiss.dat",
         "record length 35, the layout's 259; KEY00 (nindex at 9, 2 bytes) differs from the file's key 0 "
         "(1 segment(s), first at 0, 17 bytes)"},
        {"permiss", "journal.dat",
         "record length 259, the layout's 35; KEY00 (UserName at 0, 17 bytes) differs from the file's key 0 "
         "(1 segment(s), first at 9, 2 bytes)"},
    };
    for (const Case& c : cases) {
        const Outcome r = btrexport({"--layout", c.layout, file(c.file)});
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(r.exitCode, 1) << c.layout << " on " << c.file;
        EXPECT_EQ(r.err, "btrexport: " + file(c.file) + ": does not fit the " + c.layout + " layout: " +
                             c.difference + "\n");
        EXPECT_EQ(r.out, "") << "rows printed through the " << c.layout << " layout from " << c.file;
    }
    // Each layout on its own file still exports.
    for (const char* name : {"customer", "journal", "permiss"}) {
        const Outcome r = btrexport({"--layout", name, file(std::string(name) + ".dat")});
        EXPECT_EQ(r.exitCode, 0) << name << ": " << r.err;
    }
}

TEST(BtrexportLayoutCheck, RecordLengthAloneOrKeysAloneAreEnoughToRefuse) {
    TempFolder dir;
    const layouts::Layout& p = layouts::permiss();
    auto write = [&](const std::string& name, uint32_t recordLength, uint16_t keyAt, uint16_t keyLength) {
        btrieve::WriterOptions o;
        o.pageSize = 512;
        o.recordLength = recordLength;
        o.keys.push_back({{testkeys::keySegment(keyAt, keyLength, btrieve::DataType::ZString)}});
        std::string rec(recordLength, '\0');
        rec.replace(0, 5, "ADMIN");
        rec[17] = 'N';
        EXPECT_EQ(btrieve::writeFile(dir / name, o, {rec}), btrieve::Status::Success);
        return dir / name;
    };
    const std::string longer = write("longer.dat", p.recordLength + 5, 0, 17);
    Outcome r = btrexport({"--layout", "permiss", longer});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "btrexport: " + longer + ": does not fit the permiss layout: record length 40, the layout's 35\n");
    EXPECT_EQ(r.out, "");

    const std::string shortKey = write("shortkey.dat", p.recordLength, 0, 10);
    r = btrexport({"--layout", "permiss", shortKey});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "btrexport: " + shortKey +
                         ": does not fit the permiss layout: KEY00 (UserName at 0, 17 bytes) differs from the "
                         "file's key 0 (1 segment(s), first at 0, 10 bytes)\n");
    EXPECT_EQ(r.out, "");

    const std::string fits = write("fits.dat", p.recordLength, 0, 17);
    r = btrexport({"--layout", "permiss", fits});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "UserName,Inactive,Password\r\nADMIN,N,\r\n");
}

// ---- mkcompany ----------------------------------------------------------------

TEST(MkcompanyBadArguments, TheMessageNamesTheArgumentAndWhatIsWrong) {
    TempFolder dir;
    const std::string c = dir / "c";
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{c, "--customers", "-1"}, "--customers -1: cannot be negative"},
        {{c, "--customers", "abc"}, "--customers abc: not a whole number"},
        {{c, "--customers", "12x"}, "--customers 12x: not a whole number"},
        {{c, "--customers", ""}, "--customers : not a whole number"},
        {{c, "--customers", "1000001"}, "--customers 1000001: more than 1000000, the most mkcompany writes"},
        {{c, "--customers", "99999999999999999999999"},
         "--customers 99999999999999999999999: more than 1000000, the most mkcompany writes"},
        {{c, "--journal-rows", "10000001"}, "--journal-rows 10000001: more than 10000000, the most mkcompany writes"},
        {{c, "--seed", "-5"}, "--seed -5: cannot be negative"},
        {{c, "--seed", "4294967296"}, "--seed 4294967296: more than 4294967295, the most mkcompany writes"},
        {{c, "--customers"}, "--customers needs a number"},
        {{c, "--security", "everyone"}, "--security everyone: not one of none, vexel-password, lesser-user, no-vexel"},
        {{c, "--security"}, "--security needs one of none, vexel-password, lesser-user, no-vexel"},
        {{c, "--password"}, "--password needs the password"},
        {{c, "--password", ""}, "--password: a password has 1 to 16 characters, not 0"},
        {{c, "--password", "12345678901234567"}, "--password: a password has 1 to 16 characters, not 17"},
        {{c, "--password", "\xC4\x80" "bc"}, "--password: the character \"\xC4\x80\" (U+0100) has no Windows-1252 form"},
        {{c, "--password", "key\xF0\x9F\x94\x91"},
         "--password: the character \"\xF0\x9F\x94\x91\" (U+1F511) has no Windows-1252 form"},
        {{c, "--password", "M\xFCller"}, "--password: not valid UTF-8 text"},  // Latin-1 bytes, not UTF-8
        {{c, "--password", "\xC0\xAF"}, "--password: not valid UTF-8 text"},    // an overlong '/'
        {{c, "--frobnicate"}, "unknown option --frobnicate"},
        {{c, dir / "d"}, "one folder only: " + dir / "d" + " is a second"},
        {{}, "no folder given"},
    };
    for (const Case& k : cases) {
#ifdef _WIN32
        // A Windows command line is UTF-16: bytes that are not UTF-8 cannot reach a program.
        if (k.message.find("not valid UTF-8") != std::string::npos) {
            std::printf("[ not run  ] %s (no such argument on Windows)\n", k.message.c_str());
            continue;
        }
#endif
        const Outcome r = mkcompany(k.args);
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(r.exitCode, 2) << k.message;
        EXPECT_EQ(firstLine(r.err), "mkcompany: " + k.message);
        EXPECT_NE(r.err.find("usage: mkcompany"), std::string::npos) << k.message;
        EXPECT_FALSE(fs::exists(c)) << k.message;
    }
    // Seventeen bytes of UTF-8 are eight characters: within the limit.
    const Outcome r = mkcompany({c, "--customers", "1", "--journal-rows", "0", "--password", "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
}

TEST(MkcompanyBadArguments, PasswordsAreWrittenAsWindows1252) {
    TempFolder dir;
    const std::string c = dir / "c";
    // "Müller€‘" typed as UTF-8: ü is 0xFC, € 0x80, ‘ 0x91 in Windows-1252.
    const Outcome r = mkcompany({c, "--customers", "2", "--journal-rows", "5", "--security", "vexel-password",
                             "--password", "M\xC3\xBCller\xE2\x82\xAC\xE2\x80\x98"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::unique_ptr<btrieve::File> f;
    ASSERT_EQ(btrieve::File::open(c + "/permiss.dat", f), btrieve::Status::Success);
    const btrieve::FieldDef* user = layouts::permiss().field("UserName");
    const btrieve::FieldDef* pass = layouts::permiss().field("Password");
    std::string stored;
    f->forEachRecord([&](btrieve::RecordAddress, const std::string& rec) {
        if (rec.compare(user->offset, 6, std::string("VEXEL\0", 6)) == 0)
            stored = rec.substr(pass->offset, pass->length).c_str();
        return true;
    });
    EXPECT_EQ(stored, "M\xFCller\x80\x91");
}

#ifndef _WIN32
TEST(MkcompanyBadFolders, PermissionProblemsAreSaidAsSuch) {
    TempFolder dir;
    const std::string closed = dir / "closed";
    fs::create_directory(closed);
    ASSERT_EQ(::chmod(closed.c_str(), 0555), 0);
    Outcome r = mkcompany({closed, "--customers", "1", "--journal-rows", "0"}, /*asNobody=*/true);
    ASSERT_TRUE(r.finished);
    if (r.exitCode == 125) GTEST_SKIP() << "running as root and unable to act as an ordinary user";
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "mkcompany: cannot write in folder " + closed + ": permission denied\n");
    EXPECT_TRUE(fs::is_empty(closed));

    r = mkcompany({closed + "/sub", "--customers", "1"}, /*asNobody=*/true);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "mkcompany: cannot create folder " + closed + "/sub: permission denied\n");
}

TEST(MkcompanyBadFolders, AFolderRootMayNotWriteEither) {
    // sysfs refuses new files even to root; mounted read-only, it says so instead.
    if (!fs::is_directory("/sys/kernel")) GTEST_SKIP() << "no /sys/kernel to try";
    const bool readOnly = ::access("/sys/kernel", W_OK) != 0 && errno == EROFS;
    const Outcome r = mkcompany({"/sys/kernel", "--customers", "1"});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, std::string("mkcompany: cannot write in folder /sys/kernel: ") +
                         (readOnly ? "read-only file system" : "permission denied") + "\n");
}

TEST(MkcompanyBadFolders, SomethingOtherThanAFolderInTheWay) {
    TempFolder dir;
    const std::string file = dir / "file", fifo = dir / "fifo";
    std::ofstream(file) << "x";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    struct Case {
        std::string target, message;
    };
    const Case cases[] = {
        {file, "cannot create folder " + file + ": it exists and is not a folder"},
        {fifo, "cannot create folder " + fifo + ": it exists and is not a folder"},
        {"/dev/null", "cannot create folder /dev/null: it exists and is not a folder"},
        {file + "/co", "cannot create folder " + file + "/co: part of the path is a file, not a folder"},
    };
    for (const Case& k : cases) {
        const Outcome r = mkcompany({k.target, "--customers", "1"});
        ASSERT_TRUE(r.finished) << k.target << " did not end";
        EXPECT_EQ(r.exitCode, 1) << k.target;
        EXPECT_EQ(r.err, "mkcompany: " + k.message + "\n");
    }
    // A pipe in place of a company file counts as a file there: nothing is written
    // and nothing waits on it.
    const std::string co = dir / "co";
    fs::create_directory(co);
    ASSERT_EQ(::mkfifo((co + "/journal.dat").c_str(), 0644), 0);
    const Outcome r = mkcompany({co, "--customers", "1"});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "mkcompany: " + co + "/journal.dat already exists; not overwriting a company\n");
    EXPECT_FALSE(fs::exists(co + "/customer.dat"));
}
#endif


#ifdef _WIN32
// Named pipes, sockets, /dev devices, symbolic links, permission bits and sysfs as
// POSIX has them.
#define POSIX_ONLY(suite, name) \
    TEST(suite, name) { GTEST_SKIP() << "POSIX special files, links and permissions: not on Windows"; }
POSIX_ONLY(BtrexportBadFiles, SpecialFilesAreAnsweredAtOnceWithWhatTheyAre)
POSIX_ONLY(BtrexportBadFiles, AFileTheUserMayNotReadIsPermissionDenied)
POSIX_ONLY(MkcompanyBadFolders, PermissionProblemsAreSaidAsSuch)
POSIX_ONLY(MkcompanyBadFolders, AFolderRootMayNotWriteEither)
POSIX_ONLY(MkcompanyBadFolders, SomethingOtherThanAFolderInTheWay)
#endif

}  // namespace
