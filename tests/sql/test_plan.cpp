// The planning rules of the virtual tables without SQLite: which segments a column
// serves and how, and the key bytes a query's value becomes, so that a seek never
// starts past, or ends before, a row that meets the constraint.
#include <gtest/gtest.h>

#include "btrieve/keys.h"
#include "sql/plan.h"
#include "sql/schema.h"
#include "tests/btrieve/key_segment.h"

namespace {

using btrieve::DataType;
using testkeys::keySegment;
using sqlplan::End;
using sqlplan::SqlValue;

SqlValue integer(int64_t v) { return {SqlValue::Integer, v, 0, ""}; }
SqlValue real(double v) { return {SqlValue::Real, 0, v, ""}; }
SqlValue text(std::string v) { return {SqlValue::Text, 0, 0, std::move(v)}; }

struct Bytes {
    std::unique_ptr<btrieve::CodePage> cp = btrieve::CodePage::windows1252();
    sqlschema::TextEncoder encoder{*cp};
    // The bytes, or "-" when the value cannot be put into the segment.
    std::string operator()(const btrieve::KeySegment& seg, const SqlValue& v, End end = End::Exact,
                           sqlplan::SegmentUse use = {}) const {
        std::string out;
        return sqlplan::segmentBytes(seg, use, v, end, encoder, out) ? out : "-";
    }
};

TEST(SqlPlan, NumbersBecomeKeyBytesOnlyWhenTheSegmentHoldsThemExactly) {
    Bytes bytes;
    EXPECT_EQ(bytes(keySegment(0, 2, DataType::Integer), integer(-2)), std::string("\xfe\xff", 2));
    EXPECT_EQ(bytes(keySegment(0, 2, DataType::Integer), integer(32768)), "-");
    EXPECT_EQ(bytes(keySegment(0, 4, DataType::Integer), real(7.0)), std::string("\x07\0\0\0", 4));
    EXPECT_EQ(bytes(keySegment(0, 4, DataType::Integer), real(7.5)), "-");
    EXPECT_EQ(bytes(keySegment(0, 4, DataType::Integer), text("7")), "-");
    EXPECT_EQ(bytes(keySegment(0, 1, DataType::UnsignedBinary), integer(255)), "\xff");
    EXPECT_EQ(bytes(keySegment(0, 1, DataType::UnsignedBinary), integer(-1)), "-");
    EXPECT_EQ(bytes(keySegment(0, 4, DataType::Float), real(0.5)).size(), 4u);
    EXPECT_EQ(bytes(keySegment(0, 4, DataType::Float), real(0.1)), "-");  // no float is 0.1
    EXPECT_EQ(bytes(keySegment(0, 4, DataType::Date), text("2002-12-31")), std::string("\x1f\x0c\xd2\x07", 4));
    EXPECT_EQ(bytes(keySegment(0, 4, DataType::Date), text("2002-02-30")), "-");
    EXPECT_EQ(bytes(keySegment(0, 4, DataType::Date), text("2002-12-31x")), "-");
}

TEST(SqlPlan, TextRangesRunFromTheLowestToTheHighestFill) {
    Bytes bytes;
    EXPECT_EQ(bytes(keySegment(0, 4, DataType::ZString), text("AB")), std::string("AB\0\0", 4));
    EXPECT_EQ(bytes(keySegment(0, 4, DataType::ZString), text("ABCDE")), "-");
    EXPECT_EQ(bytes(keySegment(0, 4, DataType::LString), text("AB")), std::string("\x02" "AB\0", 4));
    EXPECT_EQ(bytes(keySegment(0, 4, DataType::LString), text("AB"), End::High), "\x03" "AB\xff");
    EXPECT_EQ(bytes(keySegment(0, 4, DataType::String), text("AB"), End::Low), std::string("AB\0\0", 4));
    EXPECT_EQ(bytes(keySegment(0, 4, DataType::String), text("AB"), End::High), "AB\xff\xff");
    sqlplan::SegmentUse acs;
    acs.lowest = '\x01', acs.highest = '\x7f';
    EXPECT_EQ(bytes(keySegment(0, 3, DataType::String), text("A"), End::High, acs), "A\x7f\x7f");
    // Exact ZSTRING bytes end the text whatever the collation puts first.
    EXPECT_EQ(bytes(keySegment(0, 3, DataType::ZString), text("A"), End::Exact, acs), std::string("A\0\0", 3));
    // Text goes back into the code page: é is one byte, a Cyrillic letter none.
    EXPECT_EQ(bytes(keySegment(0, 2, DataType::ZString), text("\xc3\xa9")), std::string("\xe9\0", 2));
    EXPECT_EQ(bytes(keySegment(0, 2, DataType::ZString), text("\xd0\x96")), "-");
}

TEST(SqlPlan, TextEncoderGivesBackTheCodePagesBytes) {
    auto cp = btrieve::CodePage::windows1252();
    sqlschema::TextEncoder encoder(*cp);
    std::string out;
    ASSERT_TRUE(encoder.encode("\xe2\x82\xac\xc2\x81", out));  // the euro sign and undefined 0x81
    EXPECT_EQ(out, "\x80\x81");
    std::string why;
    auto cp866 = btrieve::CodePage::make("CP866", why);
    ASSERT_TRUE(cp866) << why;
    sqlschema::TextEncoder russian(*cp866);
    ASSERT_TRUE(russian.encode("\xd0\x96", out));  // Cyrillic capital zhe
    EXPECT_EQ(out, "\x86");
}

TEST(SqlPlan, KeysServeOnlyWhatTheirOrderAllows) {
    std::vector<btrieve::DictColumn> columns(3);
    columns[0] = {"code", 1, static_cast<uint8_t>(DataType::String), 0, 8, 0, 0};
    columns[1] = {"codeAgain", 2, static_cast<uint8_t>(DataType::String), 0, 8, 0, 0};
    columns[2] = {"shorter", 3, static_cast<uint8_t>(DataType::String), 0, 6, 0, 0};
    btrieve::FileInfo info;
    auto key = [&](uint16_t flags, DataType type = DataType::String) {
        btrieve::KeySpec k;
        k.number = static_cast<int>(info.keys.size());
        k.segments.push_back(keySegment(0, 8, type, flags));
        info.keys.push_back(k);
    };
    using namespace btrieve::keyflag;
    key(ExtendedType);
    key(ExtendedType | CaseInsensitive);
    key(ExtendedType | Descending);
    key(ExtendedType | NullAny);
    key(Acs, DataType::OldString);  // a sequence the file does not hold
    const auto uses = sqlplan::keyUses(info, columns);
    ASSERT_EQ(uses.size(), 5u);
    const auto& plain = uses[0].segments[0];
    EXPECT_EQ(plain.columns, (std::vector<int>{0, 1}));  // both fields over its bytes, not the shorter
    EXPECT_TRUE(plain.textEquality && plain.ranges && plain.orders && plain.checkOrder && !plain.pins);
    const auto& folded = uses[1].segments[0];
    EXPECT_TRUE(folded.textEquality && !folded.ranges && !folded.orders);
    EXPECT_FALSE(uses[2].segments[0].textEquality || uses[2].segments[0].ranges);
    EXPECT_FALSE(uses[3].usable);  // null keys are not in the index
    EXPECT_FALSE(uses[4].segments[0].textEquality);
}

TEST(SqlPlan, PlansReadBackAsWritten) {
    sqlplan::Plan p;
    p.key = 2, p.pinned = 1, p.upper = true, p.descending = true, p.checkOrder = true, p.orderColumns = {3, 0};
    sqlplan::Plan q;
    ASSERT_TRUE(sqlplan::Plan::parse(p.text(), q));
    EXPECT_EQ(q.text(), p.text());
    EXPECT_FALSE(sqlplan::Plan::parse("2 x", q));
}

}  // namespace
