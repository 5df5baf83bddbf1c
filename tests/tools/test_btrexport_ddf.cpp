// btrexport --ddf run as a program: on a mkcompany company every table reads as
// --layout reads its file, --list on the company and on the corpus's Exchequer
// dictionary, and the bad inputs a user meets.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

namespace {

struct ToolOutput {
    int status = -1;
    std::string out, err;
};

// A company from mkcompany in a folder of its own, removed afterwards.
class DdfCompany : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new fs::path(fs::temp_directory_path() / ("btrexport-ddf-" + std::to_string(::getpid())));
        fs::remove_all(*dir_);
        const std::string cmd = std::string(MKCOMPANY_PATH) + " " + (*dir_ / "co").string() +
                                " --customers 60 --security vexel-password >/dev/null";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    static void TearDownTestSuite() {
        fs::remove_all(*dir_);
        delete dir_;
    }
    static std::string company() { return (*dir_ / "co").string(); }
    static ToolOutput run(const std::string& args) {
        const fs::path out = *dir_ / "out", err = *dir_ / "err";
        const std::string cmd = std::string(BTREXPORT_PATH) + " " + args + " >" + out.string() + " 2>" + err.string();
        const int s = std::system(cmd.c_str());
        auto slurp = [](const fs::path& p) {
            std::ifstream in(p, std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(in), {});
        };
        return {WIFEXITED(s) ? WEXITSTATUS(s) : -1, slurp(out), slurp(err)};
    }
    static inline fs::path* dir_ = nullptr;
};

TEST_F(DdfCompany, EveryTableReadsAsItsLayoutReadsTheFile) {
    const std::pair<const char*, int> tables[] = {{"customer", 5}, {"journal", 1}, {"PERMISS", 1}};
    for (const auto& [table, keys] : tables) {
        std::string file = table;
        std::transform(file.begin(), file.end(), file.begin(), ::tolower);
        for (int k = 0; k < keys; ++k) {
            const ToolOutput byDictionary = run("--ddf " + company() + " --table " + table + " --key " + std::to_string(k));
            const ToolOutput byLayout = run("--layout " + file + " --key " + std::to_string(k) + " " + company() + "/" + file + ".dat");
            ASSERT_EQ(byDictionary.status, 0) << byDictionary.err;
            EXPECT_EQ(byDictionary.err, "");
            EXPECT_GT(std::count(byDictionary.out.begin(), byDictionary.out.end(), '\n'), 3);
            EXPECT_TRUE(byDictionary.out == byLayout.out) << table << " key " << k;
        }
    }
}

TEST_F(DdfCompany, ListAndWhatGoesWrong) {
    ToolOutput r = run("--ddf " + company() + " --list");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "table,file,records,columns\r\nX$File,FILE.DDF,6,5\r\nX$Field,FIELD.DDF,69,8\r\n"
              "X$Index,INDEX.DDF,14,5\r\ncustomer,customer.dat,60,26\r\njournal,journal.dat,4000,22\r\n"
              "permiss,permiss.dat,4,3\r\n");

    r = run("--ddf " + company() + " --table invoices");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no table 'invoices'; the tables are: X$File, X$Field, X$Index, customer, journal, permiss"),
              std::string::npos) << r.err;
    r = run("--ddf " + company() + " --list --encoding NO-SUCH-PAGE");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("unknown encoding 'NO-SUCH-PAGE'"), std::string::npos) << r.err;
    r = run("--ddf " + company() + " --list --key 1");
    EXPECT_EQ(r.status, 2);
    r = run("--ddf " + company() + " --table journal --key 3");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("table journal: no key 3 in "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("journal.dat (its keys: 0)"), std::string::npos) << r.err;
    r = run("--ddf " + (*dir_ / "nowhere").string() + " --list");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("nowhere: no such folder"), std::string::npos) << r.err;
    r = run("--ddf " + company() + " --list --data " + company() + "/customer.dat");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("customer.dat: not a folder"), std::string::npos) << r.err;

    // The journal's file gone: listed with the reason, the other tables still read.
    fs::rename(company() + "/journal.dat", *dir_ / "journal.away");
    r = run("--ddf " + company() + " --list");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\r\njournal,journal.dat,missing: no 'journal.dat' in "), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("table journal: missing: no 'journal.dat'"), std::string::npos) << r.err;
    EXPECT_EQ(run("--ddf " + company() + " --table journal").status, 1);
    EXPECT_EQ(run("--ddf " + company() + " --table customer").status, 0);
    fs::rename(*dir_ / "journal.away", company() + "/journal.dat");
    fs::create_directories(*dir_ / "empty");
    r = run("--ddf " + (*dir_ / "empty").string() + " --list");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("FILE.DDF: not found in"), std::string::npos) << r.err;
}

TEST_F(DdfCompany, ExchequerDictionaryOverItsCompany) {
    const std::string corpus = CORPUS_DIR "/exchequer";
    if (!fs::exists(corpus + "/ENTRPRSE-DDF/FILE.DDF")) GTEST_SKIP() << "corpus missing";
    const std::string ddf = "--ddf " + corpus + "/ENTRPRSE-DDF --data " + corpus + "/BaseDemo";
    ToolOutput r = run(ddf + " --list");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 48);
    size_t missing = 0;
    for (size_t at = 0; (at = r.out.find(",missing: ", at)) != std::string::npos; ++at) ++missing;
    EXPECT_EQ(missing, 14u);
    EXPECT_NE(r.out.find("\r\nCustomers,CUST/CustSupp.Dat,135,101\r\n"), std::string::npos);
    r = run(ddf + " --table customers");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 136);
    EXPECT_EQ(r.out.rfind("cuIdxAcCode,idxAcCode,", 0), 0u);
}

}  // namespace
