// mkcompany run as a program: refusals, determinism, and a company that holds the
// variety it promises, read back through the engine's reader.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "btrieve/file.h"
#include "btrieve/table.h"
#include "data/layouts.h"
#include "tests/support/run_shell.h"

namespace {

class Folder {
public:
    Folder() {
        char name[] = "/tmp/mkcompany_test_XXXXXX";
        path_ = mkdtemp(name);
    }
    ~Folder() { testsupport::runShell("rm -rf '" + path_ + "'"); }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
private:
    std::string path_;
};

struct ToolResult {
    int exitCode = -1;
    std::string err;
};

ToolResult mkcompany(const std::string& args) {
    Folder tmp;
    const std::string errFile = tmp / "stderr";
    const std::string cmd = std::string(MKCOMPANY_PATH) + " " + args + " >/dev/null 2>" + errFile;
    const int status = testsupport::runShell(cmd);
    ToolResult r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(errFile);
    std::ostringstream s;
    s << in.rdbuf();
    r.err = s.str();
    return r;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> records(const std::string& path, uint64_t* headerCount = nullptr) {
    std::unique_ptr<btrieve::File> f;
    EXPECT_EQ(btrieve::File::open(path, f), btrieve::Status::Success) << path;
    std::vector<std::string> out;
    if (!f) return out;
    if (headerCount) *headerCount = f->info().recordCount;
    EXPECT_EQ(f->forEachRecord([&](btrieve::RecordAddress, const std::string& r) {
        out.push_back(r);
        return true;
    }), btrieve::Status::Success);
    return out;
}

// Field access by the layouts, written independently of the engine's decoding.
struct Fields {
    const layouts::Layout& l;
    const std::string& r;
    const btrieve::FieldDef& f(const char* name) const { return *l.field(name); }
    std::string text(const char* name) const {
        const auto& d = f(name);
        std::string s = r.substr(d.offset, d.length);
        if (d.type == btrieve::DataType::ZString) return s.substr(0, s.find('\0'));
        return s.substr(0, s.find_last_not_of(' ') + 1);
    }
    int64_t integer(const char* name) const {
        const auto& d = f(name);
        if (d.length == 2) { int16_t v; std::memcpy(&v, &r[d.offset], 2); return v; }
        int32_t v;
        std::memcpy(&v, &r[d.offset], 4);
        return v;
    }
    double real(const char* name) const {
        double v;
        std::memcpy(&v, &r[f(name).offset], 8);
        return v;
    }
    uint8_t byte(const char* name) const { return static_cast<uint8_t>(r[f(name).offset]); }
};

bool isOpen(const Fields& j) {
    return j.integer("Journalid") == 3 && j.byte("Quote") == 0 &&
           j.real("ARamount") != j.real("AmountReceived");
}

}  // namespace

TEST(Mkcompany, RefusesBadArguments) {
    Folder dir;
    for (const char* args : {"", "--customers 5", "X --customers", "X --customers -3",
                             "X --customers ten", "X --security everyone",
                             "X --password 12345678901234567", "X --password ''", "X Y",
                             "X --frobnicate", "X --format 7", "X --format"}) {
        std::string line = args;
        if (!line.empty() && line[0] == 'X') line.replace(0, 1, dir / "c");  // X: the folder
        ToolResult r = mkcompany(line);
        EXPECT_EQ(r.exitCode, 2) << args;
        EXPECT_FALSE(exists(dir / "c/customer.dat")) << args;
    }
}

TEST(Mkcompany, NeverOverwritesACompany) {
    Folder dir;
    const std::string c = dir / "nested/company";
    ASSERT_EQ(mkcompany(c + " --customers 5 --journal-rows 30").exitCode, 0);  // creates the folders
    const std::string before = slurp(c + "/journal.dat");
    ToolResult again = mkcompany(c + " --customers 9 --journal-rows 90");
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("already exists"), std::string::npos) << again.err;
    EXPECT_EQ(slurp(c + "/journal.dat"), before);

    // One file of the three is enough to refuse, and nothing else is written.
    const std::string d = dir / "partial";
    ::mkdir(d.c_str(), 0755);
    std::ofstream(d + "/permiss.dat") << "not ours";
    EXPECT_EQ(mkcompany(d).exitCode, 1);
    EXPECT_FALSE(exists(d + "/customer.dat"));
    EXPECT_EQ(slurp(d + "/permiss.dat"), "not ours");
}

TEST(Mkcompany, SameSeedSameFiles) {
    Folder dir;
    const std::string args = " --customers 120 --journal-rows 1500 --security vexel-password";
    ASSERT_EQ(mkcompany(dir / "a" + args + " --seed 5").exitCode, 0);
    ASSERT_EQ(mkcompany(dir / "b" + args + " --seed 5").exitCode, 0);
    ASSERT_EQ(mkcompany(dir / "c" + args + " --seed 6").exitCode, 0);
    for (const char* f : {"/customer.dat", "/journal.dat", "/permiss.dat"}) {
        EXPECT_EQ(slurp(dir / "a" + f), slurp(dir / "b" + f)) << f;
        EXPECT_FALSE(slurp(dir / "a" + f).empty());
    }
    EXPECT_NE(slurp(dir / "a/customer.dat"), slurp(dir / "c/customer.dat"));
    EXPECT_NE(slurp(dir / "a/journal.dat"), slurp(dir / "c/journal.dat"));
}

TEST(Mkcompany, CompanyHoldsThePromisedVariety) {
    Folder dir;
    const std::string c = dir / "co";
    ASSERT_EQ(mkcompany(c + " --customers 300 --journal-rows 5000 --seed 3").exitCode, 0);
    uint64_t header = 0;
    const auto customers = records(c + "/customer.dat", &header);
    ASSERT_EQ(customers.size(), 300u);
    EXPECT_EQ(header, 300u);
    const auto journal = records(c + "/journal.dat", &header);
    ASSERT_EQ(journal.size(), 5000u);
    EXPECT_EQ(header, 5000u);
    EXPECT_TRUE(records(c + "/permiss.dat", &header).empty());
    EXPECT_EQ(header, 0u);

    // Open amounts per 16-bit nindex, from the journal.
    std::map<int16_t, int> openCount;
    std::map<int16_t, double> openSum;
    std::map<int16_t, int> journal3Rows;
    std::set<int64_t> journals;
    int quotes = 0, partly = 0, paid = 0, over = 0;
    int32_t lastRecord = 0;
    std::string lastDate;
    for (const auto& r : journal) {
        Fields j{layouts::journal(), r};
        const auto n = static_cast<int16_t>(j.integer("nindex"));
        journals.insert(j.integer("Journalid"));
        const double amount = j.real("ARamount"), got = j.real("AmountReceived");
        if (j.integer("Journalid") == 3) {
            ++journal3Rows[n];
            if (j.byte("Quote")) ++quotes;
            else if (got == amount) ++paid;
            else if (got > amount) ++over;
            else if (got > 0) ++partly;
        }
        if (isOpen(j)) {
            ++openCount[n];
            openSum[n] += amount - got;
        }
        // Physical order is the order of entry: row numbers and dates only grow.
        EXPECT_GT(j.integer("nrecord"), lastRecord);
        lastRecord = static_cast<int32_t>(j.integer("nrecord"));
        const auto& d = layouts::journal().field("Date")->offset;
        std::string date = {r[d + 3], r[d + 2], r[d + 1], r[d]};  // year, month, day
        EXPECT_GE(date, lastDate);
        lastDate = date;
    }
    EXPECT_GT(quotes, 0);
    EXPECT_GT(partly, 0);
    EXPECT_GT(paid, 0);
    EXPECT_GT(over, 0);
    for (int64_t id : {1, 2, 3, 4}) EXPECT_TRUE(journals.count(id)) << id;

    std::string firstId;
    int16_t firstNindex = 0;
    int positive = 0, zero = 0, negative = 0, noInvoices = 0, twenty = 0;
    bool cafe = false, emptyState = false, emptyAddr2 = false, addr2 = false, bigNindex = false;
    std::set<int32_t> nindexes;
    for (const auto& r : customers) {
        Fields f{layouts::customer(), r};
        const std::string id = f.text("custID");
        const auto n = static_cast<int32_t>(f.integer("nindex"));
        EXPECT_TRUE(nindexes.insert(n).second);
        const auto low = static_cast<int16_t>(n & 0xFFFF);
        if (firstId.empty() || id < firstId) {
            firstId = id;
            firstNindex = low;
        }
        const double balance = f.real("ARbalance");
        EXPECT_NEAR(balance, openSum[low], 0.005) << id;
        positive += balance > 0;
        zero += balance == 0;
        negative += balance < 0;
        noInvoices += journal3Rows[low] == 0;
        twenty += openCount[low] == 20;
        cafe = cafe || f.text("BillName") == "Caf\xE9 M\xFCller";
        emptyState = emptyState || f.text("BillState").empty();
        emptyAddr2 = emptyAddr2 || f.text("BillAddr2").empty();
        addr2 = addr2 || !f.text("BillAddr2").empty();
        bigNindex = bigNindex || n > 32767;
        EXPECT_LE(f.text("BillState").size(), 2u);
        EXPECT_FALSE(f.text("BillName").empty());
    }
    EXPECT_EQ(firstId, "AARDVARK");
    EXPECT_EQ(openCount[firstNindex], 20);
    EXPECT_GT(positive, 0);
    EXPECT_GT(zero, 0);
    EXPECT_GT(negative, 0);
    EXPECT_GT(noInvoices, 0);
    EXPECT_GE(twenty, 1);
    EXPECT_TRUE(cafe);
    EXPECT_TRUE(emptyState);
    EXPECT_TRUE(emptyAddr2 && addr2);
    EXPECT_TRUE(bigNindex);
    EXPECT_TRUE(nindexes.count(40000));
    EXPECT_GT(journal3Rows[-25536], 0);  // nindex 40000 as the journal stores it
}

TEST(Mkcompany, SecurityModes) {
    Folder dir;
    struct Case {
        const char* mode;
        const char* user;  // the program's user, or nullptr for none
    };
    for (const Case& k : {Case{"vexel-password", "VEXEL"}, Case{"lesser-user", "vexel"},
                          Case{"no-vexel", nullptr}}) {
        const std::string c = dir / k.mode;
        ASSERT_EQ(mkcompany(c + " --customers 3 --journal-rows 10 --security " + k.mode +
                            " --password Op3n-Sesame").exitCode, 0);
        std::map<std::string, std::string> users;
        for (const auto& r : records(c + "/permiss.dat")) {
            Fields p{layouts::permiss(), r};
            users[p.text("UserName")] = p.text("Password");
        }
        EXPECT_GE(users.size(), 3u) << k.mode;
        EXPECT_EQ(users.count("VEXEL"), std::string(k.mode) == "vexel-password" ? 1u : 0u);
        EXPECT_EQ(users.count("vexel"), std::string(k.mode) == "lesser-user" ? 1u : 0u);
        if (k.user) {
            EXPECT_EQ(users[k.user], "Op3n-Sesame") << k.mode;
        }
    }
    // The default password.
    ASSERT_EQ(mkcompany(dir / "d" + " --customers 1 --journal-rows 0 --security vexel-password").exitCode, 0);
    bool found = false;
    for (const auto& r : records(dir / "d/permiss.dat")) {
        Fields p{layouts::permiss(), r};
        if (p.text("UserName") == "VEXEL") found = p.text("Password") == "secret";
    }
    EXPECT_TRUE(found);
}

TEST(Mkcompany, TinyAndEmptyCompanies) {
    Folder dir;
    // No customers, no rows: valid empty files. One customer and few rows: no hang.
    ASSERT_EQ(mkcompany(dir / "e" + " --customers 0 --journal-rows 0").exitCode, 0);
    EXPECT_TRUE(records(dir / "e/customer.dat").empty());
    EXPECT_TRUE(records(dir / "e/journal.dat").empty());
    ASSERT_EQ(mkcompany(dir / "one" + " --customers 1 --journal-rows 7").exitCode, 0);
    EXPECT_EQ(records(dir / "one/customer.dat").size(), 1u);
    EXPECT_EQ(records(dir / "one/journal.dat").size(), 7u);
    ASSERT_EQ(mkcompany(dir / "solo" + " --customers 1 --journal-rows 60").exitCode, 0);
    EXPECT_EQ(records(dir / "solo/journal.dat").size(), 60u);
}

TEST(Mkcompany, Format8WritesTheSameCompanyAs8xFilesWalkedThroughTheirTrees) {
    Folder dir;
    const std::string args = " --customers 400 --journal-rows 6000 --seed 4 --security vexel-password";
    ASSERT_EQ(mkcompany(dir / "six" + args).exitCode, 0);
    ASSERT_EQ(mkcompany(dir / "eight" + args + " --format 8").exitCode, 0);
    for (const char* f : {"/customer.dat", "/journal.dat", "/permiss.dat"}) {
        SCOPED_TRACE(f);
        std::unique_ptr<btrieve::File> six, eight;
        ASSERT_EQ(btrieve::File::open(dir / "six" + f, six), btrieve::Status::Success);
        ASSERT_EQ(btrieve::File::open(dir / "eight" + f, eight), btrieve::Status::Success);
        EXPECT_EQ(eight->info().family, btrieve::Family::V8);
        EXPECT_EQ(eight->info().version, 0x0800);
        btrieve::Table a(std::shared_ptr<const btrieve::File>(std::move(six)));
        btrieve::Table b(std::shared_ptr<const btrieve::File>(std::move(eight)));
        // The same records in the same order by every key, the 8.x file through its own tree.
        for (const auto& key : a.info().keys) {
            ASSERT_EQ(a.setActiveKey(key.number), btrieve::Status::Success);
            ASSERT_EQ(b.setActiveKey(key.number), btrieve::Status::Success);
            size_t n = 0;
            btrieve::Status sa = a.moveFirst(), sb = b.moveFirst();
            for (; btrieve::ok(sa) && btrieve::ok(sb); sa = a.moveNext(), sb = b.moveNext(), ++n)
                ASSERT_EQ(a.currentRecord(), b.currentRecord()) << "key " << key.number << " record " << n;
            EXPECT_EQ(sa, sb) << "key " << key.number;
            EXPECT_EQ(n, a.info().recordCount) << "key " << key.number;
            EXPECT_EQ(b.indexDescription(key.number), "file B-tree") << "key " << key.number;
        }
    }
}
