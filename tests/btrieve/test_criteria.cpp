#include <gtest/gtest.h>

#include "btrieve/criteria.h"
#include "memory_source.h"

using namespace btrieve;
using namespace btrieve::testing;

namespace {

// The parts of the journal row the open-invoice filter reads.
const std::vector<FieldDef> kJournal = {
    {"Journalid", DataType::Integer, 5, 2}, {"nindex", DataType::Integer, 9, 2},
    {"Custid", DataType::String, 11, 19},   {"Date", DataType::Date, 30, 4},
    {"ARamount", DataType::Float, 85, 8},   {"InvNumber", DataType::String, 93, 21},
    {"Quote", DataType::Logical, 246, 1},   {"GoodThru", DataType::Date, 247, 4},
    {"AmountReceived", DataType::Float, 251, 8},
};
const std::vector<FieldDef> kUsers = {
    {"UserName", DataType::ZString, 0, 17}, {"Password", DataType::ZString, 18, 17}};

std::string row(int64_t nindex, int64_t journal, bool quote, double amount, double received) {
    return RecordBuilder(259).integer(9, nindex, 2).integer(5, journal, 2).integer(246, quote, 1)
        .real(85, amount).real(251, received).date(30, 2024, 3, 1).date(247, 2024, 4, 1);
}

Criteria parsed(std::string_view text, const std::vector<FieldDef>& fields = kJournal) {
    Criteria c;
    EXPECT_EQ(Criteria::parse(text, fields, c), Status::Success) << text;
    return c;
}
Status parseStatus(std::string_view text, const std::vector<FieldDef>& fields = kJournal) {
    Criteria c;
    return Criteria::parse(text, fields, c);
}

TEST(CriteriaParse, RejectsMalformedTextWithTheRightStatus) {
    for (const char* bad : {"", "   ", "nindex", "nindex =", "nindex 3", "nindex = 3 AND", "nindex = 3 AND  ",
                            "AND nindex = 3", "nindex = 3 OR Journalid = 3", "nindex => 3", "nindex != 3",
                            "nindex == 3", "nindex = = 3", "nindex = 3 Journalid = 3", "Custid = 'open"})
        EXPECT_EQ(parseStatus(bad), Status::CriteriaSyntax) << bad;
    EXPECT_EQ(parseStatus("balance > 0"), Status::UnknownField);
    EXPECT_EQ(parseStatus("nindex = 3 AND nope = 1"), Status::UnknownField);
    EXPECT_EQ(parseStatus("ARamount > abc"), Status::TypeMismatch);
    EXPECT_EQ(parseStatus("Date = 3"), Status::TypeMismatch);
    EXPECT_EQ(parseStatus("Custid = ARamount"), Status::TypeMismatch);
    EXPECT_EQ(parseStatus("Date > Custid"), Status::TypeMismatch);
}

TEST(CriteriaParse, AcceptsAnyCaseAndAnyBlanks) {
    const Criteria c = parsed("  NINDEX=7 and   journalid   =3  AND Quote=0");
    ASSERT_EQ(c.terms().size(), 3u);
    EXPECT_EQ(c.terms()[0].field, 1u);
    EXPECT_EQ(std::get<int64_t>(c.terms()[0].literal), 7);
    EXPECT_TRUE(c.matches(row(7, 3, false, 1, 0)));
    EXPECT_TRUE(parsed("ARamount >= -12.5").matches(row(1, 3, false, -12.5, 0)));
    EXPECT_TRUE(parsed("ARamount > -.5").matches(row(1, 3, false, 0, 0)));
}

TEST(CriteriaMatch, EachOperatorOnIntegersFloatsAndDates) {
    const std::string r = row(5, 3, false, 12.5, 0);
    const struct { const char* text; bool expected; } cases[] = {
        {"nindex = 5", true},  {"nindex = 6", false}, {"nindex <> 5", false}, {"nindex <> 4", true},
        {"nindex > 4", true},  {"nindex > 5", false}, {"nindex < 6", true},   {"nindex < 5", false},
        {"nindex >= 5", true}, {"nindex >= 6", false}, {"nindex <= 5", true}, {"nindex <= 4", false},
        {"ARamount = 12.5", true}, {"ARamount > 12", true}, {"ARamount < 12.49", false},
        {"nindex = 5.0", true}, {"nindex < 5.5", true},
        {"Date < GoodThru", true}, {"Date = GoodThru", false}, {"GoodThru >= Date", true},
        {"Quote = 0", true}, {"Quote = 1", false}, {"Quote < nindex", true},
    };
    for (const auto& c : cases) EXPECT_EQ(parsed(c.text).matches(r), c.expected) << c.text;
}

TEST(CriteriaMatch, PositiveBalanceSkipsZeroAndNegatives) {
    const std::vector<FieldDef> customer = {{"ARbalance", DataType::Float, 153, 8}};
    const Criteria c = parsed("ARbalance > 0", customer);
    auto balance = [](double v) { return RecordBuilder(2790).real(153, v).str(); };
    EXPECT_FALSE(c.matches(balance(0)));
    EXPECT_FALSE(c.matches(balance(-0.0)));
    EXPECT_FALSE(c.matches(balance(-250.75)));
    EXPECT_TRUE(c.matches(balance(0.01)));
    EXPECT_TRUE(c.matches(balance(1e6)));
}

TEST(CriteriaMatch, OpenInvoiceFilter) {
    // Two blanks before the last AND, as the program writes it.
    const Criteria open = parsed("nindex = -25536 AND Journalid = 3 AND Quote = 0  AND ARamount <> AmountReceived");
    EXPECT_TRUE(open.matches(row(-25536, 3, false, 100, 0)));      // unpaid
    EXPECT_TRUE(open.matches(row(-25536, 3, false, 100, 40)));     // partly paid
    EXPECT_TRUE(open.matches(row(-25536, 3, false, 100, 120.5)));  // overpaid
    EXPECT_FALSE(open.matches(row(-25536, 3, false, 100, 100)));   // paid
    EXPECT_FALSE(open.matches(row(-25536, 3, true, 100, 0)));      // quote
    EXPECT_FALSE(open.matches(row(-25536, 2, false, 100, 0)));     // other journal
    EXPECT_FALSE(open.matches(row(40000 - 65536 + 1, 3, false, 100, 0)));
    EXPECT_FALSE(open.matches(row(-25536, 3, false, 100, 0).substr(0, 90))) << "ARamount cut by the end";
}

TEST(CriteriaMatch, TextIsExactAndCaseSensitive) {
    auto user = [](const char* name) { return RecordBuilder(35).text(0, name).text(18, "NONE").str(); };
    const Criteria upper = parsed("UserName = VEXEL", kUsers);
    EXPECT_TRUE(upper.matches(user("VEXEL")));
    EXPECT_FALSE(upper.matches(user("vexel")));
    EXPECT_FALSE(upper.matches(user("VEXEL2")));
    EXPECT_TRUE(parsed("username = vexel", kUsers).matches(user("vexel")));
    EXPECT_TRUE(parsed("UserName = 123", kUsers).matches(user("123")));  // digits as text
    EXPECT_FALSE(parsed("UserName = 123", kUsers).matches(user("0123")));
    EXPECT_TRUE(parsed("UserName = 'Jo Ann'", kUsers).matches(user("Jo Ann")));
    EXPECT_TRUE(parsed("UserName = O'Brien", kUsers).matches(user("O'Brien")));
    EXPECT_TRUE(parsed("UserName > Password", kUsers).matches(user("ZED")));  // field against field
    EXPECT_TRUE(parsed("Custid = ABC").matches(RecordBuilder(259).text(11, "ABC     ").str()));  // padding dropped
}

TEST(CriteriaKeyRange, PinsOnlyWhatNarrowsSafely) {
    const KeySpec byNindex = keyOf(0, {keySegment(9, 2, DataType::Integer)});
    auto pinned = parsed("nindex = -25536 AND Journalid = 3").pinnedKeyPrefix(byNindex);
    ASSERT_TRUE(pinned);
    EXPECT_EQ(pinned->segments, 1u);
    EXPECT_EQ(pinned->bytes, RecordBuilder(2).integer(0, -25536, 2).str());
    EXPECT_FALSE(parsed("nindex = 40000").pinnedKeyPrefix(byNindex)) << "does not fit two bytes";
    EXPECT_FALSE(parsed("nindex > 3").pinnedKeyPrefix(byNindex));
    EXPECT_FALSE(parsed("nindex = Journalid").pinnedKeyPrefix(byNindex));
    EXPECT_FALSE(parsed("Journalid = 3").pinnedKeyPrefix(byNindex));

    const KeySpec byName = keyOf(0, {keySegment(0, 17, DataType::ZString, keyflag::CaseInsensitive)});
    pinned = parsed("UserName = VEXEL", kUsers).pinnedKeyPrefix(byName);
    ASSERT_TRUE(pinned);
    EXPECT_EQ(pinned->bytes, std::string("VEXEL") + std::string(12, '\0'));
    // A string key over a zstring field also orders the bytes after the zero.
    EXPECT_FALSE(parsed("UserName = VEXEL", kUsers).pinnedKeyPrefix(keyOf(0, {keySegment(0, 17, DataType::String)})));

    const KeySpec two = keyOf(0, {keySegment(9, 2, DataType::Integer), keySegment(5, 2, DataType::Integer)});
    pinned = parsed("Journalid = 3 AND nindex = 9").pinnedKeyPrefix(two);
    ASSERT_TRUE(pinned);
    EXPECT_EQ(pinned->segments, 2u);
    pinned = parsed("nindex = 9 AND Journalid > 3").pinnedKeyPrefix(two);
    ASSERT_TRUE(pinned);
    EXPECT_EQ(pinned->segments, 1u);
}

}  // namespace
