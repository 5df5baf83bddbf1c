// Paths that name something other than a readable file: a folder, a named pipe, a
// socket, devices, a loop of symbolic links, a name too long, a file the user may
// not read. Each must be refused with its own status, quickly: an open that waits
// on a pipe fails the test instead of hanging it.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstring>
#include <functional>
#include <future>

#include "btrieve/file.h"
#include "btrieve/status.h"
#include "btrieve/writer.h"
#ifndef _WIN32
#include "bound_socket.h"
#endif
#include "test_file_util.h"
#include "key_segment.h"

using namespace btrieve;
using namespace filetest;

namespace {

#ifndef _WIN32
// Opens path on another thread. When the open has not returned within the limit,
// the test fails and unblock is called so that the stuck open can end.
Status openWithin(const std::string& path, const std::function<void()>& unblock = {}) {
    auto pending = std::async(std::launch::async, [path] {
        std::unique_ptr<File> f;
        const Status s = File::open(path, f);
        if (ok(s) != (f != nullptr)) ADD_FAILURE() << path << ": the file and the status disagree";
        return s;
    });
    if (pending.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << path << ": the open did not return";
        if (unblock) unblock();
    }
    return pending.get();
}

// A small valid file: two 8-byte records on one key.
std::string goodFile(const TempDir& dir) {
    WriterOptions o;
    o.pageSize = 512;
    o.recordLength = 8;
    o.keys.push_back({{testkeys::keySegment(0, 8, DataType::String)}});
    const std::string path = dir.file("good.dat");
    EXPECT_EQ(writeFile(path, o, {"AAAAAAAA", "BBBBBBBB"}), Status::Success);
    return path;
}

// Runs as an ordinary user for its lifetime when the tests run as root, who may
// read any file: "nobody" (65534), back to root at the end.
class AsOrdinaryUser {
public:
    AsOrdinaryUser() : wasRoot_(::geteuid() == 0) {
        if (wasRoot_) active_ = ::setegid(65534) == 0 && ::seteuid(65534) == 0;
    }
    ~AsOrdinaryUser() {
        if (wasRoot_) {
            (void)::seteuid(0);
            (void)::setegid(0);
        }
    }
    // False when root could not give up its rights here.
    bool ready() const { return !wasRoot_ || active_; }

private:
    bool wasRoot_;
    bool active_ = false;
};

#endif

TEST(BadInputs, EachKindOfNonFileHasItsOwnMessage) {
    EXPECT_EQ(statusText(Status::IsDirectory), "status 1020 (a folder, not a file)");
    EXPECT_EQ(statusText(Status::IsPipe), "status 1021 (a named pipe, not a file)");
    EXPECT_EQ(statusText(Status::IsSocket), "status 1022 (a socket, not a file)");
    EXPECT_EQ(statusText(Status::IsDevice), "status 1023 (a device, not a file)");
    EXPECT_EQ(statusText(Status::LinkLoop), "status 1024 (symbolic links in a loop)");
    EXPECT_EQ(statusText(Status::NameTooLong), "status 11 (file name too long)");
    EXPECT_EQ(statusText(Status::AccessDenied), "status 46 (permission denied)");
}

#ifndef _WIN32
TEST(BadInputs, SpecialFilesAreRefusedWithoutWaiting) {
    TempDir dir;
    fs::create_directory(dir.file("folder"));
    EXPECT_EQ(openWithin(dir.file("folder")), Status::IsDirectory);
    EXPECT_EQ(openWithin(dir.file("folder") + "/"), Status::IsDirectory);

    // A pipe nobody writes to: a blocking open would wait here forever.
    const std::string fifo = dir.file("customer.dat");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const auto releaseFifo = [&fifo] {
        const int w = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (w >= 0) ::close(w);
    };
    EXPECT_EQ(openWithin(fifo, releaseFifo), Status::IsPipe);
    // The same through a symbolic link.
    fs::create_symlink(fifo, dir.file("link-to-fifo"));
    EXPECT_EQ(openWithin(dir.file("link-to-fifo"), releaseFifo), Status::IsPipe);

    const specialfiles::BoundSocket sock(dir.file("sock"));
    ASSERT_TRUE(sock.bound()) << "could not make a socket to test with";
    EXPECT_EQ(openWithin(dir.file("sock")), Status::IsSocket);

    for (const char* device : {"/dev/null", "/dev/zero", "/dev/full"}) {
        if (!fs::exists(device)) continue;
        EXPECT_EQ(openWithin(device), Status::IsDevice) << device;
    }
}

TEST(BadInputs, PathProblemsHaveTheirOwnStatus) {
    TempDir dir;
    fs::create_symlink(dir.file("b"), dir.file("a"));
    fs::create_symlink(dir.file("a"), dir.file("b"));
    EXPECT_EQ(openWithin(dir.file("a")), Status::LinkLoop);
    fs::create_symlink("self", dir.file("self"));
    EXPECT_EQ(openWithin(dir.file("self")), Status::LinkLoop);

    EXPECT_EQ(openWithin(dir.file(std::string(300, 'n'))), Status::NameTooLong);  // one name past 255
    std::string deep = dir.file("");
    while (deep.size() < 5000) deep += "d/";
    EXPECT_EQ(openWithin(deep + "x.dat"), Status::NameTooLong);  // a path past 4096

    // A file used as a folder: no such file.
    const std::string plain = dir.put("plain", "text");
    EXPECT_EQ(openWithin(plain + "/customer.dat"), Status::FileNotFound);
    EXPECT_EQ(openWithin(dir.file("missing.dat")), Status::FileNotFound);
}

TEST(BadInputs, PermissionDeniedIsSaidAsSuch) {
    TempDir dir;
    const std::string good = goodFile(dir);
    const std::string locked = dir.put("locked.dat", std::string(1024, 'x'));
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    fs::create_directory(dir.file("closed"));
    const std::string hidden = dir.file("closed/customer.dat");
    fs::copy_file(good, hidden);
    ASSERT_EQ(::chmod(dir.file("closed").c_str(), 0700), 0);
    ASSERT_EQ(::chmod(good.c_str(), 0644), 0);

    AsOrdinaryUser user;
    if (!user.ready()) GTEST_SKIP() << "running as root and unable to act as an ordinary user";
    if (::geteuid() == 0) GTEST_SKIP() << "running as root";
    EXPECT_EQ(openWithin(locked), Status::AccessDenied);
    EXPECT_EQ(openWithin(hidden), Status::AccessDenied);  // the folder may not be searched
    EXPECT_EQ(openWithin(good), Status::Success);         // what may be read still opens
}

TEST(BadInputs, ARegularFileStillReadsNormally) {
    TempDir dir;
    const std::string good = goodFile(dir);
    fs::create_symlink(good, dir.file("link.dat"));
    for (const std::string& path : {good, dir.file("link.dat")}) {
        const ReadResult r = readFile(path);
        EXPECT_EQ(r.open, Status::Success) << path;
        EXPECT_EQ(r.scan, Status::Success) << path;
        EXPECT_EQ(r.records.size(), 2u) << path;
    }
}

#else
// Named pipes, sockets, /dev devices, symbolic links and permission bits as POSIX
// has them; the Windows counterparts are the file-access layer's own tests.
#define POSIX_ONLY(name) \
    TEST(BadInputs, name) { GTEST_SKIP() << "POSIX special files, links and permissions: not on Windows"; }
POSIX_ONLY(SpecialFilesAreRefusedWithoutWaiting)
POSIX_ONLY(PathProblemsHaveTheirOwnStatus)
POSIX_ONLY(PermissionDeniedIsSaidAsSuch)
POSIX_ONLY(ARegularFileStillReadsNormally)
#endif

}  // namespace
