// A company the window cannot read fails closed: one message names the file (or the
// folder) and what is wrong with it, in the framework's error report, nothing of the
// broken file is shown, the rest of the start-up still runs, and the window runs in
// restricted mode. Special files in place of a company file are answered at once.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <thread>

#include "read_override.h"
#include "security_fixture.h"

using namespace securitytest;
using apptest::WithoutReadOverride;

namespace {

const char* const kRestricted = "Vexel Controls will be disabled in this mode";

void truncateTo(const std::string& path, double share) {
    const auto size = std::filesystem::file_size(path);
    std::filesystem::resize_file(path, static_cast<uintmax_t>(static_cast<double>(size) * share));
}

void overwrite(const std::string& path, size_t offset, size_t length, char byte) {
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(static_cast<std::streamoff>(offset));
    f << std::string(length, byte);
}

// What a case makes of the company before the window starts, and what the user must
// be told.
struct BrokenCompany {
    const char* name;
    std::function<void()> damage;
    std::string message;     // expected; a function of the folder, filled in below
    bool customerBroken;     // the customer file itself is the broken one
};
// Test listings name the case, not its bytes.
void PrintTo(const BrokenCompany& c, std::ostream* os) { *os << c.name; }

class StartUpErrorTest : public SecurityTest {
protected:
    // Starts the window; the company's users would need no password if it could be read.
    void expectFailsClosed(const std::string& message, bool customerBroken) {
        COpenInvoiceDlg dlg;
        runStartUp(dlg, {}, [&] {
            EXPECT_EQ(hiddenOf(dlg, restrictedControls()), restrictedControls());
            if (customerBroken) {
                for (int id : {IDC_CUSTID_EDIT, IDC_BILLNAME_EDIT, IDC_BILLADDR1_EDIT, IDC_CITYSTATEZIP_EDIT,
                               IDC_PHONE_EDIT})
                    EXPECT_EQ(edit(dlg, id)->text(), QString()) << id;
            }
            EXPECT_TRUE(shown(dlg, IDC_SEARCH_EDIT));
            EXPECT_TRUE(shown(dlg, IDC_PRINT_BUTTON));
            // Skins are loaded and applied after the error all the same.
            const auto* print = qobject_cast<skins::SkinButton*>(dlg.GetDlgItem(IDC_PRINT_BUTTON));
            ASSERT_NE(print, nullptr);
            EXPECT_NE(print->appliedSkin(), nullptr);
        });
        EXPECT_TRUE(questions.empty());
        EXPECT_EQ(messages(), (std::vector<std::string>{message, kRestricted}));
        if (!services.messageBox->calls.empty()) {
            EXPECT_EQ(services.messageBox->calls[0].style, platform::MB_OK | platform::MB_ICONSTOP);
        }
    }
};

class BrokenFileTest : public StartUpErrorTest, public ::testing::WithParamInterface<BrokenCompany> {};

TEST_P(BrokenFileTest, OneMessageThenRestrictedMode) {
    writeCompany({{"VEXEL", "NONE"}});
    GetParam().damage();
    std::string message = GetParam().message;
    const std::string marker = "<folder>";
    message.replace(message.find(marker), marker.size(), companyFolder());
    expectFailsClosed(message, GetParam().customerBroken);
}

const BrokenCompany kBroken[] = {
    {"PermissionsMissing", [] { QFile::remove(QString::fromStdString(companyFile(kPermissFile))); },
     "The company file <folder>/permiss.dat was not found.", false},
    {"PermissionsNotBtrieve",
     [] { writeText(companyFile(kPermissFile), std::string(8192, 'x').replace(0, 20, "[Users]\r\nADMIN=a\r\n")); },
     "The company file <folder>/Permiss.dat is not a Btrieve file.", false},
    {"PermissionsTruncated", [] { truncateTo(companyFile(kPermissFile), 0.5); },
     "The company file <folder>/Permiss.dat is damaged (status 1002: file is truncated).", false},
    {"PermissionsDataPageOverwritten", [] { overwrite(companyFile(kPermissFile), 4096, 4096, '\xFF'); },
     "The company file <folder>/Permiss.dat is damaged (status 1003: file is corrupt).", false},
    {"PermissionsOfAnotherProgram",
     [] { std::filesystem::copy_file(companyFile(kCustomerFile), companyFile(kPermissFile),
                                     std::filesystem::copy_options::overwrite_existing); },
     "The company file <folder>/Permiss.dat does not hold the records this program expects: record length "
     "2790, the layout's 35; KEY00 (UserName at 0, 17 bytes) differs from the file's key 0 (1 segment(s), "
     "first at 0, 21 bytes).",
     false},
    {"CustomerMissing", [] { QFile::remove(QString::fromStdString(companyFile(kCustomerFile))); },
     "The company file <folder>/customer.dat was not found.", true},
    {"CustomerTruncated", [] { truncateTo(companyFile(kCustomerFile), 0.4); },
     "The company file <folder>/customer.dat is damaged (status 1002: file is truncated).", true},
    {"CustomerKeyedByPhone",
     [] {
         auto options = testdata::optionsFor(layouts::customer());
         std::swap(options.keys[0], options.keys[1]);
         writeFresh(companyFile(kCustomerFile), options, {testdata::customer("ACME", "Acme", 1, 1)});
     },
     "The company file <folder>/customer.dat does not hold the records this program expects: KEY00 (custID "
     "at 0, 21 bytes) differs from the file's key 0 (1 segment(s), first at 51, 21 bytes); KEY01 (Phone at "
     "51, 21 bytes) differs from the file's key 1 (1 segment(s), first at 0, 21 bytes).",
     true},
    {"JournalOfAnotherProgram",
     [] { std::filesystem::copy_file(companyFile(kPermissFile), companyFile(kJournalFile),
                                     std::filesystem::copy_options::overwrite_existing); },
     "The company file <folder>/journal.dat does not hold the records this program expects: record length "
     "35, the layout's 259; KEY00 (nindex at 9, 2 bytes) differs from the file's key 0 (1 segment(s), first "
     "at 0, 17 bytes).",
     false},
    {"NoCompanyFolder",
     [] {
         for (const char* f : {kCustomerFile, kJournalFile, kPermissFile})
             QFile::remove(QString::fromStdString(companyFile(f)));
         writeText("DataPath.kxi", companyFile("Gone Company"));
     },
     "The company folder <folder>/Gone Company was not found.", true},
    {"DirectoryAsCustomerFile",
     [] {
         QFile::remove(QString::fromStdString(companyFile(kCustomerFile)));
         std::filesystem::create_directory(companyFile(kCustomerFile));
     },
     "The company file <folder>/customer.dat cannot be read: it is a directory, not a file.", true},
    {"DeviceAsPermissionsFile",
     [] {
         QFile::remove(QString::fromStdString(companyFile(kPermissFile)));
         std::filesystem::create_symlink("/dev/null", companyFile(kPermissFile));
     },
     "The company file <folder>/Permiss.dat cannot be read: it is a device, not a file.", false},
};

INSTANTIATE_TEST_SUITE_P(Company, BrokenFileTest, ::testing::ValuesIn(kBroken),
                         [](const auto& info) { return std::string(info.param.name); });

// A permissions file the user may not read. The superuser reads any file, so the
// capabilities that allow it are set aside while the window starts.
TEST_F(StartUpErrorTest, AnUnreadablePermissionsFile) {
    writeCompany({{"VEXEL", "NONE"}});
    const std::string path = companyFile(kPermissFile);
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    WithoutReadOverride reduced;
    if (!reduced.holds()) GTEST_SKIP() << "this user reads a file of mode 000 even without the override capabilities";
    expectFailsClosed("The company file " + path + " cannot be read: permission denied.", false);
}

// A named pipe or a socket in place of a company file is refused at once; opening a
// pipe would wait for a writer. Should the window ever wait on the pipe, a writer
// comes after a while to set it free, and the test fails instead of hanging.
TEST_F(StartUpErrorTest, APipeOrSocketInPlaceOfAFileIsAnsweredAtOnce) {
    for (const char* file : {kCustomerFile, kPermissFile}) {
        for (const bool pipe : {true, false}) {
            SCOPED_TRACE(std::string(file) + (pipe ? " pipe" : " socket"));
            writeCompany({{"VEXEL", "NONE"}});
            services.messageBox->calls.clear();
            traced.clear();
            const std::string path = companyFile(file);
            QFile::remove(QString::fromStdString(path));
            int socketFd = -1;
            if (pipe) {
                ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
            } else {
                socketFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
                sockaddr_un address{};
                address.sun_family = AF_UNIX;
                ASSERT_LT(path.size(), sizeof address.sun_path);
                std::strcpy(address.sun_path, path.c_str());
                ASSERT_EQ(::bind(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
            }
            std::mutex m;
            std::condition_variable cv;
            bool done = false;
            std::atomic<bool> rescued = false;
            std::thread watchdog([&] {
                std::unique_lock lock(m);
                while (!cv.wait_for(lock, std::chrono::seconds(20), [&] { return done; })) {
                    rescued = true;
                    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK);
                    if (fd >= 0) ::close(fd);
                }
            });
            const std::string kind = pipe ? "a named pipe" : "a socket";
            expectFailsClosed("The company file " + path + " cannot be read: it is " + kind + ", not a file.",
                              std::string(file) == kCustomerFile);
            {
                std::lock_guard lock(m);
                done = true;
            }
            cv.notify_one();
            watchdog.join();
            EXPECT_FALSE(rescued) << "the window waited on the " << kind;
            if (socketFd >= 0) ::close(socketFd);
            QFile::remove(QString::fromStdString(path));
        }
    }
}

}  // namespace
