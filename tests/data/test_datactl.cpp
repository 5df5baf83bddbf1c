// The data control on small company files: navigation by key 0, the lookup, the
// balance filter, the open-invoice walk, the security reads, field types and the
// errors it raises.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QWidget>

#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "company_files.h"
#include "data/CBtrvdcp1.h"
#include "data/layouts.h"
#include "framework/activex.h"

namespace {

using btrieve::Status;
using testdata::customer;
using testdata::invoice;
using testdata::user;

const std::string kOpenFilter = " AND Journalid = 3 AND Quote = 0  AND ARamount <> AmountReceived";

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class DataControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        folder_ = dir_.path().toStdString();
        // Written out of key order: the control must deliver them by custID.
        auto delta = customer("DELTA", "Delta Supply", 250.25, 4);
        delta.text("BillCity", "Reno");
        auto acme = customer("ACME", "Acme Corp", 1234.5, 1);
        acme.text("contact", "Wile E.").text("Phone", "555-0101").text("Email", "ap@acme.example");
        acme.text("BillState", "NV").text("BillZip", "89501");
        testdata::writeRecords(folder_ + "/customer.dat", testdata::optionsFor(layouts::customer()),
                               {delta, acme, customer("CAFE", "Caf\xE9 M\xFCller", -12.5, 40000),
                                customer("BETA", "Beta Ltd", 0.0, 2)});
        auto undated = invoice(2, 1, "X", 5, 0);
        undated.date("Date", 0, 0, 0);
        testdata::writeRecords(folder_ + "/journal.dat", testdata::optionsFor(layouts::journal(), true),
                               {invoice(1, 3, "INV-1", 100, 40), invoice(1, 3, "INV-2", 100, 100),
                                invoice(1, 3, "Q-1", 80, 0, true), invoice(1, 2, "PAY-1", 50, 0),
                                invoice(-25536, 3, "INV-3", 50, 70), invoice(1, 3, "INV-4", 20, 0),
                                invoice(-25536, 3, "INV-5", 10, 5), undated});
        testdata::writeRecords(folder_ + "/permiss.dat", testdata::optionsFor(layouts::permiss()),
                               {user("ADMIN", "x"), user("vexel", "lower"), user("BOOKS", "NONE")});
    }

    // A control configured from the layout's stored state, attached to a wrapper.
    CBtrvdcp1& make(const layouts::Layout& layout, const std::string& file) {
        controls_.push_back(std::make_unique<BtrvDataControl>(layouts::toStoredState(layout), &parent_));
        wrappers_.push_back(std::make_unique<CBtrvdcp1>());
        CBtrvdcp1& w = *wrappers_.back();
        w.Attach(controls_.back().get());
        w.SetFileName(file);
        w.SetFileMode(1);
        return w;
    }
    CBtrvdcp1& opened(const layouts::Layout& layout, const std::string& name) {
        CBtrvdcp1& w = make(layout, folder_ + "/" + name);
        EXPECT_EQ(w.Open(), 0);
        return w;
    }
    static std::string text(CBtrvdcp1& w, const char* field) { return w.GetFieldValue(field).toString(); }
    static void seek(CBtrvdcp1& w, const char* comparison, const std::string& value) {
        const COleVariant e;
        w.Seek(comparison, COleVariant(value), e, e, e, e, e, e, e, e);
    }

    QTemporaryDir dir_;
    std::string folder_;
    QWidget parent_;
    std::vector<std::unique_ptr<CBtrvdcp1>> wrappers_;
    std::vector<std::unique_ptr<BtrvDataControl>> controls_;
};

TEST_F(DataControlTest, FirstMoveNextGivesTheFirstCustomerWithTypedFields) {
    CBtrvdcp1& c = opened(layouts::customer(), "customer.dat");
    ASSERT_EQ(c.MoveNext(), 0);
    EXPECT_EQ(text(c, "custID"), "ACME");
    const COleVariant balance = c.GetFieldValue("ARbalance");
    EXPECT_EQ(balance.vt(), VT_R8);
    EXPECT_DOUBLE_EQ(balance.toDouble(), 1234.5);
    const COleVariant id = c.GetFieldValue("custID");
    EXPECT_EQ(id.vt(), VT_BSTR);
    const COleVariant nindex = c.GetFieldValue("nindex");
    EXPECT_EQ(nindex.vt(), VT_I4);
    EXPECT_EQ(nindex.toLong(), 1);
    // The program asks for "Contact"; the layout spells it "contact".
    EXPECT_EQ(text(c, "Contact"), "Wile E.");
    EXPECT_EQ(text(c, "CUSTID"), "ACME");
    EXPECT_EQ(text(c, "BillState"), "NV");
}

TEST_F(DataControlTest, MovesStopAtBothEndsKeepingTheEndRecord) {
    CBtrvdcp1& c = opened(layouts::customer(), "customer.dat");
    const char* order[] = {"ACME", "BETA", "CAFE", "DELTA"};
    for (const char* id : order) {
        ASSERT_EQ(c.MoveNext(), 0);
        EXPECT_EQ(text(c, "custID"), id);
    }
    EXPECT_EQ(c.MoveNext(), static_cast<short>(Status::EndOfFile));
    EXPECT_EQ(text(c, "custID"), "DELTA");
    for (int i = 2; i >= 0; --i) {
        ASSERT_EQ(c.MovePrevious(), 0);
        EXPECT_EQ(text(c, "custID"), order[i]);
    }
    EXPECT_EQ(c.MovePrevious(), static_cast<short>(Status::EndOfFile));
    EXPECT_EQ(text(c, "custID"), "ACME");
    EXPECT_EQ(c.MoveNext(), 0);
    EXPECT_EQ(text(c, "custID"), "BETA");
}

TEST_F(DataControlTest, LookupFindsTheFirstIdAtOrAfterTheTypedText) {
    CBtrvdcp1& c = opened(layouts::customer(), "customer.dat");
    c.MoveNext();
    const struct { const char* typed; const char* shown; } cases[] = {
        {"B", "BETA"}, {"BET", "BETA"}, {"BETA", "BETA"}, {"BETB", "CAFE"},
        {"A", "ACME"},     // before the first customer
        {"ACME", "ACME"},  // a whole ID finds itself
        {"", "ACME"},      // the emptied box
        {"D", "DELTA"},
    };
    for (const auto& k : cases) {
        seek(c, ">=", k.typed);
        EXPECT_EQ(text(c, "custID"), k.shown) << k.typed;
    }
    // Moves go on from the record found.
    seek(c, ">=", "CA");
    EXPECT_EQ(c.MovePrevious(), 0);
    EXPECT_EQ(text(c, "custID"), "BETA");
    seek(c, ">=", "CA");
    EXPECT_EQ(c.MoveNext(), 0);
    EXPECT_EQ(text(c, "custID"), "DELTA");
}

TEST_F(DataControlTest, EverySeekComparisonFindsItsRecordOrRaisesKeepingTheCurrent) {
    CBtrvdcp1& c = opened(layouts::customer(), "customer.dat");
    const struct { const char* op; const char* value; const char* found; } cases[] = {
        {"=", "BETA", "BETA"},  {">=", "BETA", "BETA"}, {">=", "BETB", "CAFE"},
        {">", "BETA", "CAFE"},  {">", "BET", "BETA"},   {"<=", "BETA", "BETA"},
        {"<=", "BETB", "BETA"}, {"<=", "B", "ACME"},    {"<=", "ZZZ", "DELTA"},
        {"<", "BETA", "ACME"},  {"<", "BETB", "BETA"},  {" <= ", "CAFE", "CAFE"},
    };
    for (const auto& k : cases) {
        seek(c, k.op, k.value);
        EXPECT_EQ(text(c, "custID"), k.found) << k.op << " " << k.value;
    }
    // Nothing on that side of the value: KeyNotFound, and the customer stays.
    seek(c, "=", "CAFE");
    const struct { const char* op; const char* value; } none[] = {
        {"=", "BET"}, {">=", "ZZZ"}, {">", "DELTA"}, {"<=", "A"}, {"<", "ACME"}};
    for (const auto& k : none) {
        try {
            seek(c, k.op, k.value);
            ADD_FAILURE() << k.op << " " << k.value << ": no exception";
        } catch (const CBtrvdcpException& e) {
            EXPECT_EQ(e.status(), Status::KeyNotFound) << k.op << " " << k.value;
        }
        EXPECT_EQ(text(c, "custID"), "CAFE") << k.op << " " << k.value;
    }
    // After "<=" the moves go on from the record found.
    seek(c, "<=", "BETB");
    ASSERT_EQ(c.MoveNext(), 0);
    EXPECT_EQ(text(c, "custID"), "CAFE");
}

TEST_F(DataControlTest, SeekPastEveryIdRaisesAndKeepsTheCustomer) {
    CBtrvdcp1& c = opened(layouts::customer(), "customer.dat");
    c.MoveNext();
    c.MoveNext();
    try {
        seek(c, ">=", "ZZZ");
        FAIL() << "no exception";
    } catch (const CBtrvdcpException& e) {
        EXPECT_EQ(e.status(), Status::KeyNotFound);
        EXPECT_NE(std::string(e.what()).find("customer.dat"), std::string::npos) << e.what();
    }
    EXPECT_EQ(text(c, "custID"), "BETA");
    const COleVariant e;
    EXPECT_THROW(c.Seek("=", COleVariant("BET"), e, e, e, e, e, e, e, e), CBtrvdcpException);
    c.Seek("=", COleVariant("CAFE"), e, e, e, e, e, e, e, e);
    EXPECT_EQ(text(c, "custID"), "CAFE");
    EXPECT_THROW(c.Seek("~", COleVariant("CAFE"), e, e, e, e, e, e, e, e), CBtrvdcpException);
}

TEST_F(DataControlTest, BalanceFilterSkipsZeroAndNegativeBalances) {
    CBtrvdcp1& c = opened(layouts::customer(), "customer.dat");
    // Without any positioning FindNext starts at the first record.
    ASSERT_EQ(c.FindNext("ARbalance > 0"), 0);
    EXPECT_EQ(text(c, "custID"), "ACME");
    ASSERT_EQ(c.FindNext("ARbalance > 0"), 0);
    EXPECT_EQ(text(c, "custID"), "DELTA");  // BETA (0) and CAFE (-12.5) skipped
    EXPECT_NE(c.FindNext("ARbalance > 0"), 0);
    EXPECT_EQ(text(c, "custID"), "DELTA");
    // The criteria go with the one call: the next move is plain key order.
    EXPECT_EQ(c.MovePrevious(), 0);
    EXPECT_EQ(text(c, "custID"), "CAFE");
    // After a lookup, FindNext goes on from the record found.
    seek(c, ">=", "BE");
    ASSERT_EQ(c.FindNext("ARbalance > 0"), 0);
    EXPECT_EQ(text(c, "custID"), "DELTA");
}

TEST_F(DataControlTest, OpenInvoiceWalkListsOnlyOpenInvoicesOfTheCustomer) {
    CBtrvdcp1& cust = opened(layouts::customer(), "customer.dat");
    CBtrvdcp1& jrnl = opened(layouts::journal(), "journal.dat");
    auto walk = [&](int nindex) {
        std::vector<std::string> found;
        const std::string criteria = "nindex = " + std::to_string(nindex) + kOpenFilter;
        for (short st = jrnl.FindFirst(criteria); st == 0; st = jrnl.FindNext(criteria))
            found.push_back(text(jrnl, "InvNumber"));
        return found;
    };
    // Paid, quoted and other-journal rows are left out; rows come in insertion order.
    EXPECT_EQ(walk(1), (std::vector<std::string>{"INV-1", "INV-4"}));
    EXPECT_TRUE(walk(2).empty());
    EXPECT_TRUE(walk(77).empty());

    // A customer nindex of 40000 reaches its journal rows as the signed 16-bit -25536.
    seek(cust, "=", "CAFE");
    const int16_t nindex = cust.GetFieldValue("nindex").toShort();
    EXPECT_EQ(nindex, -25536);
    EXPECT_EQ(walk(nindex), (std::vector<std::string>{"INV-3", "INV-5"}));  // overpaid and partly paid

    ASSERT_EQ(jrnl.FindFirst("nindex = -25536" + kOpenFilter), 0);
    EXPECT_DOUBLE_EQ(jrnl.GetFieldValue("ARamount").toDouble(), 50.0);
    EXPECT_DOUBLE_EQ(jrnl.GetFieldValue("AmountReceived").toDouble(), 70.0);
    const COleVariant date = jrnl.GetFieldValue("Date");
    EXPECT_EQ(date.vt(), VT_DATE);
    EXPECT_EQ(date.toCalendarDate(), (btrieve::Date{2003, 4, 17}));
    EXPECT_EQ(jrnl.GetFieldValue("Quote").vt(), VT_BOOL);
}

TEST_F(DataControlTest, JournalKeyOnIntegerNindexSeeksByNumberAndZeroDateIsNull) {
    CBtrvdcp1& jrnl = opened(layouts::journal(), "journal.dat");
    const COleVariant e;
    jrnl.Seek("=", COleVariant(int32_t{2}), e, e, e, e, e, e, e, e);
    EXPECT_EQ(text(jrnl, "InvNumber"), "X");
    const COleVariant noDate = jrnl.GetFieldValue("Date");
    EXPECT_EQ(noDate.vt(), VT_NULL);
    EXPECT_FALSE(noDate.toDate().has_value());
    jrnl.Seek(">=", COleVariant("-25536"), e, e, e, e, e, e, e, e);  // text converts to the key's type
    EXPECT_EQ(text(jrnl, "InvNumber"), "INV-3");
    EXPECT_THROW(jrnl.Seek("=", COleVariant("many"), e, e, e, e, e, e, e, e), CBtrvdcpException);
}

// A key on a Basic float of either width: the seek must look for the bytes the file
// holds, in the old Basic format, not an IEEE float's.
TEST_F(DataControlTest, SeekOnABasicFloatKeyFindsItsRecord) {
    for (const uint32_t width : {8u, 4u}) {
        SCOPED_TRACE(width);
        layouts::Layout rates;
        rates.tableName = "rates";
        rates.fileName = "rates" + std::to_string(width) + ".dat";
        rates.recordLength = 8 + width;
        rates.fields = {{"code", btrieve::DataType::ZString, 0, 8}, {"rate", btrieve::DataType::BFloat, 8, width}};
        rates.keys = {{"KEY00", "rate", 0}};
        rates.fieldList = "code, rate";
        std::vector<testdata::Record> records;
        for (const auto& [code, rate] : std::vector<std::pair<std::string, double>>{
                 {"HALF", 0.5}, {"NEG", -3.75}, {"TENTH", 0.1}, {"BIG", 98765.4321}, {"ONE", 1.0}}) {
            testdata::Record r(rates);
            r.text("code", code).real("rate", rate);
            records.push_back(r);
        }
        testdata::writeRecords(folder_ + "/" + rates.fileName, testdata::optionsFor(rates), records);

        CBtrvdcp1& w = opened(rates, rates.fileName);
        const COleVariant e;
        // With four bytes, 0.1 and 98765.4321 are rounded alike in the file and the key.
        for (const auto& [value, code] : std::vector<std::pair<double, std::string>>{
                 {0.1, "TENTH"}, {-3.75, "NEG"}, {98765.4321, "BIG"}, {1.0, "ONE"}}) {
            w.Seek("=", COleVariant(value), e, e, e, e, e, e, e, e);
            EXPECT_EQ(text(w, "code"), code) << value;
        }
        w.Seek(">", COleVariant(0.5), e, e, e, e, e, e, e, e);
        EXPECT_EQ(text(w, "code"), "ONE");
        EXPECT_DOUBLE_EQ(w.GetFieldValue("rate").toDouble(), 1.0);
        EXPECT_THROW(w.Seek("=", COleVariant(0.25), e, e, e, e, e, e, e, e), CBtrvdcpException);
    }
}

TEST_F(DataControlTest, SecurityReadsCountUsersAndFindNamesExactly) {
    CBtrvdcp1& p = opened(layouts::permiss(), "permiss.dat");
    EXPECT_EQ(p.GetRecordCount(), 3);
    // No "VEXEL": the find fails on a freshly opened file, and the name read back
    // differs from the one searched instead of raising.
    EXPECT_NE(p.FindFirst("UserName = VEXEL"), 0);
    EXPECT_EQ(text(p, "UserName"), "");
    ASSERT_EQ(p.FindFirst("UserName = vexel"), 0);
    EXPECT_EQ(text(p, "UserName"), "vexel");
    EXPECT_EQ(text(p, "Password"), "lower");
    // A failed find with a record current leaves that record current.
    EXPECT_NE(p.FindFirst("UserName = VEXEL"), 0);
    EXPECT_EQ(text(p, "UserName"), "vexel");

    testdata::writeRecords(folder_ + "/empty.dat", testdata::optionsFor(layouts::permiss()), {});
    CBtrvdcp1& none = opened(layouts::permiss(), "empty.dat");
    EXPECT_EQ(none.GetRecordCount(), 0);
}

TEST_F(DataControlTest, MalformedCriteriaReturnAStatus) {
    CBtrvdcp1& c = opened(layouts::customer(), "customer.dat");
    EXPECT_EQ(c.FindFirst("NoSuchField = 3"), static_cast<short>(Status::UnknownField));
    EXPECT_NE(c.FindNext("ARbalance >"), 0);
    EXPECT_EQ(c.FindFirst("ARbalance > 0"), 0);
}

TEST_F(DataControlTest, RaisesOnAClosedFileNoRecordAndUnknownField) {
    CBtrvdcp1& missing = make(layouts::customer(), folder_ + "/nothere.dat");
    EXPECT_EQ(missing.Open(), static_cast<short>(Status::FileNotFound));
    for (auto call : std::initializer_list<void (*)(CBtrvdcp1&)>{
             [](CBtrvdcp1& w) { w.MoveNext(); }, [](CBtrvdcp1& w) { w.MovePrevious(); },
             [](CBtrvdcp1& w) { w.FindFirst("ARbalance > 0"); }, [](CBtrvdcp1& w) { w.FindNext("ARbalance > 0"); },
             [](CBtrvdcp1& w) { w.GetRecordCount(); }, [](CBtrvdcp1& w) { w.GetFieldValue("custID"); },
             [](CBtrvdcp1& w) { seek(w, "<=", "A"); }}) {
        try {
            call(missing);
            ADD_FAILURE() << "no exception";
        } catch (const CBtrvdcpException& e) {
            EXPECT_EQ(e.status(), Status::FileNotOpen);
            EXPECT_EQ(e.fileName(), folder_ + "/nothere.dat");
        }
    }

    CBtrvdcp1& c = opened(layouts::customer(), "customer.dat");
    try {
        c.GetFieldValue("custID");  // opened, but no record reached yet
        ADD_FAILURE() << "no exception";
    } catch (const CBtrvdcpException& e) {
        EXPECT_EQ(e.status(), Status::InvalidPositioning);
    }
    c.MoveNext();
    try {
        c.GetFieldValue("NoSuchField");
        ADD_FAILURE() << "no exception";
    } catch (const CBtrvdcpException& e) {
        EXPECT_EQ(e.status(), Status::UnknownField);
    }

    CBtrvdcp1 unattached;
    EXPECT_THROW(unattached.MoveNext(), CBtrvdcpException);
}

TEST_F(DataControlTest, ReopeningAfterAFailedOpenWorksAndBadStoredStateIsAStatus) {
    CBtrvdcp1& c = make(layouts::customer(), folder_ + "/nothere.dat");
    EXPECT_NE(c.Open(), 0);
    c.SetFileName(folder_ + "/customer.dat");
    ASSERT_EQ(c.Open(), 0);
    EXPECT_EQ(c.MoveNext(), 0);

    auto state = layouts::toStoredState(layouts::customer());
    state["Fields"] = "custID 11 0";
    BtrvDataControl bad(state, &parent_);
    bad.setFileName(folder_ + "/customer.dat");
    EXPECT_NE(bad.open(), 0);
    EXPECT_THROW(bad.moveNext(), CBtrvdcpException);
}

TEST_F(DataControlTest, WindowsStylePathIsMapped) {
    // Backslash before the file name and a different case, as a path from paw70.ini.
    CBtrvdcp1& c = make(layouts::customer(), folder_ + "\\CUSTOMER.DAT");
    ASSERT_EQ(c.Open(), 0);
    ASSERT_EQ(c.MoveNext(), 0);
    EXPECT_EQ(text(c, "custID"), "ACME");
}

TEST_F(DataControlTest, ReadOnlyCompanyFileOpensAndStaysUnchanged) {
    const std::string path = folder_ + "/customer.dat";
    const std::string before = readAll(path);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    {
        CBtrvdcp1& c = opened(layouts::customer(), "customer.dat");
        while (c.MoveNext() == 0) {
        }
        EXPECT_EQ(c.GetRecordCount(), 4);
    }
    EXPECT_EQ(readAll(path), before);
    ::chmod(path.c_str(), 0644);
}

TEST_F(DataControlTest, AFileWhoseKeysOrRecordsDifferFromTheLayoutIsRefused) {
    // A customer file whose only key is on Phone: the layout says key 0 is custID.
    auto options = testdata::optionsFor(layouts::customer());
    options.keys.resize(2);
    options.keys.erase(options.keys.begin());
    options.keys[0].segments[0].flags &= static_cast<uint16_t>(~btrieve::keyflag::Duplicates);
    auto a = customer("A1", "x", 0, 1);
    a.text("Phone", "3");
    testdata::writeRecords(folder_ + "/phone.dat", options, {a});

    CBtrvdcp1& c = make(layouts::customer(), folder_ + "/phone.dat");
    EXPECT_EQ(c.Open(), static_cast<short>(Status::LayoutMismatch));
    EXPECT_THAT(c.control()->openError(),
                testing::StartsWith("The company file " + folder_ +
                                    "/phone.dat does not hold the records this program expects: KEY00 (custID at 0, "
                                    "21 bytes) differs from the file's key 0"));
    EXPECT_THROW(c.MoveNext(), CBtrvdcpException);  // nothing is read through the wrong layout

    // The permissions layout on the customer file: the records differ in length.
    CBtrvdcp1& p = make(layouts::permiss(), folder_ + "/customer.dat");
    EXPECT_EQ(p.Open(), static_cast<short>(Status::LayoutMismatch));
    EXPECT_THAT(p.control()->openError(),
                testing::StartsWith("The company file " + folder_ +
                                    "/customer.dat does not hold the records this program expects: record length "
                                    "2790, the layout's 35; "));
    // Opening the right file afterwards clears the error.
    p.SetFileName(folder_ + "/permiss.dat");
    EXPECT_EQ(p.Open(), 0);
    EXPECT_EQ(p.control()->openError(), "");
}

// Damage a move meets stays on record after the move, for callers that do not look
// at move statuses; a new Open starts clean.
TEST_F(DataControlTest, DamageMetByAMoveIsKeptUntilTheNextOpen) {
    const std::string path = folder_ + "/customer.dat";
    const std::string intact = readAll(path);
    {
        std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
        f.seekp(4096);
        f << std::string(4096, '\xFF');
    }
    CBtrvdcp1& c = opened(layouts::customer(), "customer.dat");
    EXPECT_EQ(c.control()->fault(), Status::Success);
    EXPECT_EQ(c.MoveNext(), static_cast<short>(Status::Corrupt));
    EXPECT_EQ(c.control()->fault(), Status::Corrupt);
    EXPECT_EQ(companyFileErrorText(c.control()->fault(), path),
              "The company file " + path + " is damaged (status 1003: file is corrupt).");

    std::ofstream(path, std::ios::binary | std::ios::trunc) << intact;
    ASSERT_EQ(c.Open(), 0);
    EXPECT_EQ(c.MoveNext(), 0);
    EXPECT_EQ(c.control()->fault(), Status::Success);
}

TEST_F(DataControlTest, RegisteredClassCreatesAHiddenConfiguredControl) {
    RegisterDataControl();
    const framework::ActiveXFactory* factory = framework::findActiveXClass("BtrvDataControl");
    ASSERT_NE(factory, nullptr);
    framework::ActiveXCreateInfo info;
    info.id = 1023;
    info.idName = "IDC_CUSTOMER_DATA";
    info.properties = layouts::toStoredState(layouts::customer());
    QWidget* w = (*factory)(info, &parent_);  // owned by parent_
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->parent(), &parent_);
    parent_.show();
    EXPECT_FALSE(w->isVisible());
    CBtrvdcp1 wrapper;
    wrapper.Attach(w);
    ASSERT_NE(wrapper.control(), nullptr);
    EXPECT_EQ(wrapper.control()->layout().tableName, "Cust");
    EXPECT_EQ(wrapper.control()->fileName(), "customer.dat");
    wrapper.SetFileName(folder_ + "/customer.dat");
    EXPECT_EQ(wrapper.Open(), 0);
}

}  // namespace

// A company as mkcompany makes it: the layouts' keys agree with the files (nothing on
// stderr), and the first customer by ID has its twenty open invoices.
TEST(DataControlCompany, SampleCompanyOpensCleanlyAndListsTheFirstCustomersInvoices) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.path().toStdString() + "/co";
    const std::string cmd = std::string("'") + MKCOMPANY_PATH + "' '" + folder +
                            "' --customers 60 --journal-rows 900 --security vexel-password --seed 9 >/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);

    QWidget parent;
    BtrvDataControl cust(layouts::toStoredState(layouts::customer()), &parent);
    BtrvDataControl jrnl(layouts::toStoredState(layouts::journal()), &parent);
    BtrvDataControl perm(layouts::toStoredState(layouts::permiss()), &parent);
    cust.setFileName(folder + "\\customer.dat");
    jrnl.setFileName(folder + "\\journal.dat");
    perm.setFileName(folder + "\\permiss.dat");
    testing::internal::CaptureStderr();
    EXPECT_EQ(perm.open(), 0);
    EXPECT_EQ(cust.open(), 0);
    EXPECT_EQ(jrnl.open(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    EXPECT_GT(perm.getRecordCount(), 0);
    ASSERT_EQ(perm.findFirst("UserName = VEXEL"), 0);
    EXPECT_EQ(perm.getFieldValue("UserName").toString(), "VEXEL");
    EXPECT_EQ(perm.getFieldValue("Password").toString(), "secret");

    ASSERT_EQ(cust.moveNext(), 0);
    const std::string criteria =
        "nindex = " + std::to_string(cust.getFieldValue("nindex").toShort()) + kOpenFilter;
    int rows = 0;
    for (short st = jrnl.findFirst(criteria); st == 0; st = jrnl.findNext(criteria)) {
        ++rows;
        EXPECT_NE(jrnl.getFieldValue("ARamount").toDouble(), jrnl.getFieldValue("AmountReceived").toDouble());
    }
    EXPECT_EQ(rows, 20);
}
