#include <gtest/gtest.h>

#include "btrieve/table.h"
#include "memory_source.h"

using namespace btrieve;
using namespace btrieve::testing;

namespace {

// Records of 12 bytes: a 6-byte zstring name at 0, a 2-byte integer at 6, a
// 4-byte integer "serial" at 8 telling records apart.
std::string rec(std::string_view name, int16_t number, int32_t serial) {
    return RecordBuilder(12).text(0, name).integer(6, number, 2).integer(8, serial, 4);
}
int serialOf(const Table& t) {
    const std::string& r = t.currentRecord();
    if (r.size() < 12) return -1;
    return static_cast<int>(static_cast<uint8_t>(r[8]) | static_cast<uint8_t>(r[9]) << 8);
}
const std::vector<FieldDef> kFields = {{"name", DataType::ZString, 0, 6},
                                       {"number", DataType::Integer, 6, 2},
                                       {"serial", DataType::Integer, 8, 4}};

std::shared_ptr<MemorySource> source(std::vector<std::string> records) {
    auto s = std::make_shared<MemorySource>();
    s->fileInfo.recordLength = 12;
    s->fileInfo.keys = {keyOf(0, {keySegment(0, 6, DataType::ZString)}),
                        keyOf(1, {keySegment(6, 2, DataType::Integer, keyflag::Duplicates)}),
                        keyOf(2, {keySegment(6, 2, DataType::Integer, keyflag::Descending | keyflag::Duplicates),
                                  keySegment(0, 6, DataType::ZString)})};
    for (auto& r : records) s->add(std::move(r));
    return s;
}
std::string num(int16_t v) { return RecordBuilder(2).integer(0, v, 2); }
Criteria criteria(std::string_view text) {
    Criteria c;
    EXPECT_EQ(Criteria::parse(text, kFields, c), Status::Success);
    return c;
}
std::vector<int> walk(Table& t, bool forward) {
    std::vector<int> out;
    for (Status st = forward ? t.moveFirst() : t.moveLast(); ok(st); st = forward ? t.moveNext() : t.movePrevious())
        out.push_back(serialOf(t));
    return out;
}

TEST(TableMoves, KeyOrderBothWaysAndEndsLeaveTheCurrentRecord) {
    auto src = source({rec("delta", 4, 1), rec("alpha", 1, 2), rec("charl", 3, 3), rec("bravo", 2, 4)});
    Table t(src);
    EXPECT_FALSE(t.hasCurrent());
    ASSERT_EQ(t.moveNext(), Status::Success);  // no current record: the first
    EXPECT_EQ(serialOf(t), 2);
    EXPECT_EQ(walk(t, true), (std::vector<int>{2, 4, 3, 1}));
    EXPECT_EQ(t.moveNext(), Status::EndOfFile);
    EXPECT_EQ(serialOf(t), 1);
    EXPECT_EQ(t.currentAddress(), RecordAddress{100});
    EXPECT_EQ(walk(t, false), (std::vector<int>{1, 3, 4, 2}));
    EXPECT_EQ(t.movePrevious(), Status::EndOfFile);
    EXPECT_EQ(serialOf(t), 2);
    EXPECT_EQ(src->passes, 1) << "the index is made once, by one pass";

    Table fresh(src);
    ASSERT_EQ(fresh.movePrevious(), Status::Success);  // no current record: the last
    EXPECT_EQ(serialOf(fresh), 1);
}

TEST(TableMoves, DuplicatesKeepPhysicalOrderAndKeysCanChange) {
    auto src = source({rec("e", 2, 1), rec("d", 1, 2), rec("c", 2, 3), rec("b", 1, 4), rec("a", 2, 5)});
    Table t(src);
    ASSERT_EQ(t.setActiveKey(1), Status::Success);
    EXPECT_EQ(walk(t, true), (std::vector<int>{2, 4, 1, 3, 5}));
    EXPECT_EQ(walk(t, false), (std::vector<int>{5, 3, 1, 4, 2}));
    ASSERT_EQ(t.setActiveKey(2), Status::Success);  // number descending, then name
    EXPECT_EQ(walk(t, true), (std::vector<int>{5, 3, 1, 4, 2}));
    EXPECT_EQ(t.setActiveKey(3), Status::InvalidKeyNumber);
    EXPECT_EQ(t.activeKey(), 2);

    // Switching keys keeps the current record; moves then follow the new key.
    ASSERT_EQ(t.setActiveKey(1), Status::Success);
    ASSERT_EQ(t.seek(SeekOp::Eq, num(2)), Status::Success);
    ASSERT_EQ(t.moveNext(), Status::Success);
    EXPECT_EQ(serialOf(t), 3);
    ASSERT_EQ(t.setActiveKey(0), Status::Success);
    EXPECT_EQ(serialOf(t), 3);
    ASSERT_EQ(t.moveNext(), Status::Success);
    EXPECT_EQ(serialOf(t), 2);  // "d" follows "c"
}

TEST(TableSeek, EachOperatorAtBetweenAndOutsideKeys) {
    auto src = source({rec("c", 30, 3), rec("a", 10, 1), rec("b", 20, 2), rec("b2", 20, 4)});
    Table t(src);
    ASSERT_EQ(t.setActiveKey(1), Status::Success);
    const struct { SeekOp op; int16_t key; Status st; int serial; } cases[] = {
        {SeekOp::Eq, 20, Status::Success, 2},  {SeekOp::Eq, 15, Status::KeyNotFound, 0},
        {SeekOp::Ge, 20, Status::Success, 2},  {SeekOp::Ge, 15, Status::Success, 2},
        {SeekOp::Ge, 5, Status::Success, 1},   {SeekOp::Ge, 31, Status::KeyNotFound, 0},
        {SeekOp::Gt, 20, Status::Success, 3},  {SeekOp::Gt, 5, Status::Success, 1},
        {SeekOp::Gt, 30, Status::KeyNotFound, 0},
        {SeekOp::Le, 20, Status::Success, 4},  {SeekOp::Le, 25, Status::Success, 4},
        {SeekOp::Le, 99, Status::Success, 3},  {SeekOp::Le, 5, Status::KeyNotFound, 0},
        {SeekOp::Lt, 20, Status::Success, 1},  {SeekOp::Lt, 31, Status::Success, 3},
        {SeekOp::Lt, 10, Status::KeyNotFound, 0}, {SeekOp::Le, -5, Status::KeyNotFound, 0},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(t.moveLast(), Status::Success);
        EXPECT_EQ(t.seek(c.op, num(c.key)), c.st) << int(c.op) << " " << c.key;
        EXPECT_EQ(serialOf(t), c.st == Status::Success ? c.serial : 3) << int(c.op) << " " << c.key;
    }
    // A text value shorter than the key is padded with zeros for a zstring.
    ASSERT_EQ(t.setActiveKey(0), Status::Success);
    ASSERT_EQ(t.seek(SeekOp::Le, "b"), Status::Success);
    EXPECT_EQ(serialOf(t), 2);
    ASSERT_EQ(t.seek(SeekOp::Ge, "b1"), Status::Success);
    EXPECT_EQ(serialOf(t), 4);
    EXPECT_EQ(src->passes, 2) << "one pass per key, none per seek";
}

TEST(TableFind, FirstNextAndNextWithoutFirst) {
    auto src = source({rec("a", 1, 1), rec("b", 0, 2), rec("c", 5, 3), rec("d", -2, 4), rec("e", 7, 5)});
    Table t(src);
    const Criteria positive = criteria("number > 0");
    ASSERT_EQ(t.findNext(positive), Status::Success);  // no current record: from the start
    EXPECT_EQ(serialOf(t), 1);
    ASSERT_EQ(t.moveNext(), Status::Success);  // on "b"
    ASSERT_EQ(t.findNext(positive), Status::Success);
    EXPECT_EQ(serialOf(t), 3);
    ASSERT_EQ(t.findNext(positive), Status::Success);
    EXPECT_EQ(serialOf(t), 5);
    EXPECT_EQ(t.findNext(positive), Status::EndOfFile);
    EXPECT_EQ(serialOf(t), 5);
    ASSERT_EQ(t.findFirst(positive), Status::Success);
    EXPECT_EQ(serialOf(t), 1);
    EXPECT_EQ(t.findFirst(criteria("number > 100")), Status::EndOfFile);
    EXPECT_EQ(serialOf(t), 1);
}

TEST(TableFind, PinnedKeySearchesOnlyItsRange) {
    auto src = std::make_shared<MemorySource>();
    src->fileInfo.keys = {keyOf(0, {keySegment(6, 2, DataType::Integer, keyflag::Duplicates)})};
    for (int i = 0; i < 600; ++i) src->add(rec("x", static_cast<int16_t>(i % 60 - 30), i));
    src->add(rec("y", -25536, 600));  // 40000 kept to 16 bits
    src->add(rec("z", -25536, 601));
    Table t(src);
    const Criteria mine = criteria("number = 7 AND serial > 100");
    src->reads = 0;
    std::vector<int> found;
    for (Status st = t.findFirst(mine); ok(st); st = t.findNext(mine)) found.push_back(serialOf(t));
    EXPECT_EQ(found, (std::vector<int>{157, 217, 277, 337, 397, 457, 517, 577}));
    EXPECT_LE(src->reads, 10) << "only the ten records with number 7 are read";

    const Criteria big = criteria("number = -25536");
    ASSERT_EQ(t.findFirst(big), Status::Success);
    EXPECT_EQ(serialOf(t), 600);
    ASSERT_EQ(t.findNext(big), Status::Success);
    EXPECT_EQ(serialOf(t), 601);
    EXPECT_EQ(t.findNext(big), Status::EndOfFile);
    EXPECT_EQ(t.findFirst(criteria("number = 31")), Status::EndOfFile);

    // From a current record before the range, FindNext jumps to it.
    ASSERT_EQ(t.moveFirst(), Status::Success);
    ASSERT_EQ(t.findNext(criteria("number = 0")), Status::Success);
    EXPECT_EQ(serialOf(t), 30);
}

TEST(TableFind, CaseInsensitiveKeyRangeStillMatchesExactly) {
    // A users file keyed without regard to case: "vexel" and "VEXEL" share a key range.
    auto src = std::make_shared<MemorySource>();
    src->fileInfo.keys = {keyOf(0, {keySegment(0, 6, DataType::ZString, keyflag::CaseInsensitive)})};
    src->add(rec("vexel", 0, 1));
    src->add(rec("VEXEL", 0, 2));
    src->add(rec("Vexel", 0, 3));
    Table t(src);
    ASSERT_EQ(t.findFirst(criteria("name = VEXEL")), Status::Success);
    EXPECT_EQ(serialOf(t), 2);
    EXPECT_EQ(t.findNext(criteria("name = VEXEL")), Status::EndOfFile);
    ASSERT_EQ(t.findFirst(criteria("name = vexel")), Status::Success);
    EXPECT_EQ(serialOf(t), 1);
    EXPECT_EQ(t.findFirst(criteria("name = VEXELS")), Status::EndOfFile);
}

TEST(TableStatus, SourceFailuresPropagate) {
    auto src = source({rec("a", 1, 1), rec("b", 2, 2), rec("c", 3, 3)});
    src->readFailures[200] = Status::Corrupt;
    Table t(src);
    ASSERT_EQ(t.moveFirst(), Status::Success);
    EXPECT_EQ(t.moveNext(), Status::Corrupt);
    EXPECT_FALSE(t.hasCurrent());
    EXPECT_EQ(t.currentRecord(), "");
    EXPECT_EQ(t.currentAddress(), RecordAddress{200});
    ASSERT_EQ(t.moveNext(), Status::Success) << "the unreadable record is passed";
    EXPECT_EQ(serialOf(t), 3);
    EXPECT_EQ(t.findFirst(criteria("number > 0")), Status::Success);
    EXPECT_EQ(t.findNext(criteria("number > 0")), Status::Corrupt);

    auto broken = source({rec("a", 1, 1)});
    broken->enumerationFailure = Status::VariablePageError;
    Table b(broken);
    EXPECT_EQ(b.moveFirst(), Status::VariablePageError);
    EXPECT_EQ(b.seek(SeekOp::Ge, "a"), Status::VariablePageError);
    EXPECT_EQ(b.findFirst(criteria("number > 0")), Status::VariablePageError);

    Table empty(source({}));
    EXPECT_EQ(empty.moveFirst(), Status::EndOfFile);
    EXPECT_EQ(empty.moveNext(), Status::EndOfFile);
    EXPECT_EQ(empty.movePrevious(), Status::EndOfFile);
    EXPECT_EQ(empty.seek(SeekOp::Le, "zz"), Status::KeyNotFound);
    EXPECT_EQ(empty.findNext(criteria("number > 0")), Status::EndOfFile);
}

TEST(TableIndex, AnotherIndexCanBePluggedIn) {
    auto src = source({rec("b", 1, 1), rec("a", 2, 2)});
    Table t(src);
    int made = 0;
    t.setIndexFactory([&made](std::shared_ptr<const RecordSource> s, const KeySpec& key,
                              std::unique_ptr<KeyIndex>& out) {
        ++made;
        return makeMemoryIndex(std::move(s), key, out);
    });
    EXPECT_EQ(walk(t, true), (std::vector<int>{2, 1}));
    EXPECT_EQ(made, 1);
    t.setIndexFactory([](std::shared_ptr<const RecordSource>, const KeySpec&, std::unique_ptr<KeyIndex>&) {
        return Status::IncompleteIndex;
    });
    EXPECT_FALSE(t.hasCurrent());
    EXPECT_EQ(t.moveFirst(), Status::IncompleteIndex);
}

}  // namespace

// Navigation over real engine-written files, read in place. The expected values
// are those the files' provenance states.
#include <filesystem>

#include "btrieve/file.h"

namespace {

std::shared_ptr<const RecordSource> openSample(const std::string& rel) {
    const std::string path = std::string(CORPUS_DIR) + "/" + rel;
    if (!std::filesystem::exists(path)) return nullptr;
    std::unique_ptr<File> f;
    EXPECT_EQ(File::open(path, f), Status::Success) << path;
    return std::shared_ptr<const RecordSource>(std::move(f));
}
int64_t intAt(const std::string& r, uint32_t off, uint32_t len) {
    Value v;
    EXPECT_EQ(decodeField({"", DataType::Integer, off, len}, r, v), Status::Success);
    return std::holds_alternative<int64_t>(v) ? std::get<int64_t>(v) : INT64_MIN;
}

TEST(TableSamples, SignedIntegerAndZStringKeysOfASmallFile) {
    auto src = openSample("mbbsemu/MBBSEMU.DAT");
    if (!src) GTEST_SKIP() << "sample file missing";
    Table t(src);
    ASSERT_EQ(t.setActiveKey(1), Status::Success);
    std::vector<int64_t> values;
    for (Status st = t.moveFirst(); ok(st); st = t.moveNext()) values.push_back(intAt(t.currentRecord(), 34, 4));
    EXPECT_EQ(values, (std::vector<int64_t>{-615634567, 3444, 7776, 1052234073}));

    const std::vector<FieldDef> layout = {{"key_1", DataType::Integer, 34, 4},
                                          {"key_2", DataType::ZString, 38, 32},
                                          {"key_3", DataType::AutoIncrement, 70, 4}};
    ASSERT_EQ(t.setActiveKey(2), Status::Success);
    Criteria c;
    ASSERT_EQ(Criteria::parse("key_2 = stringValue", layout, c), Status::Success);
    ASSERT_EQ(t.findFirst(c), Status::Success);
    EXPECT_EQ(intAt(t.currentRecord(), 70, 4), 4);
    ASSERT_EQ(t.movePrevious(), Status::Success);  // "StringValue" sorts before "stringValue"
    EXPECT_EQ(intAt(t.currentRecord(), 70, 4), 3);
    ASSERT_EQ(t.seek(SeekOp::Le, "7"), Status::Success);
    EXPECT_EQ(intAt(t.currentRecord(), 34, 4), 3444);
}

TEST(TableSamples, DuplicatesInInsertionOrderAndSeeksOverVariableRecords) {
    auto src = openSample("wbtrv32/VARIABLE.DAT");
    if (!src) GTEST_SKIP() << "sample file missing";
    Table t(src);  // key 0: i % 64 with duplicates; record i was inserted i-th
    std::vector<int64_t> order;
    for (Status st = t.moveFirst(); ok(st); st = t.moveNext()) order.push_back(intAt(t.currentRecord(), 6, 2));
    ASSERT_EQ(order.size(), 1024u);
    for (size_t n = 0; n < order.size(); ++n)
        ASSERT_EQ(order[n], static_cast<int64_t>((n % 16) * 64 + n / 16)) << n;

    ASSERT_EQ(t.setActiveKey(1), Status::Success);
    ASSERT_EQ(t.seek(SeekOp::Eq, num(500)), Status::Success);
    EXPECT_EQ(t.currentRecord().size(), 508u);
    ASSERT_EQ(t.seek(SeekOp::Le, num(2000)), Status::Success);
    EXPECT_EQ(intAt(t.currentRecord(), 6, 2), 1023);

    const std::vector<FieldDef> layout = {{"group", DataType::Integer, 4, 2}, {"serial", DataType::Integer, 6, 2}};
    Criteria c;
    ASSERT_EQ(Criteria::parse("group = 5 AND serial > 900", layout, c), Status::Success);
    ASSERT_EQ(t.setActiveKey(0), Status::Success);
    ASSERT_EQ(t.findFirst(c), Status::Success);
    EXPECT_EQ(intAt(t.currentRecord(), 6, 2), 901);
    ASSERT_EQ(t.findNext(c), Status::Success);
    EXPECT_EQ(intAt(t.currentRecord(), 6, 2), 965);
    EXPECT_EQ(t.findNext(c), Status::EndOfFile);
}

TEST(TableSamples, AcsKeyFollowsTheFilesCaseFoldingTable) {
    auto src = openSample("wbtrv32/GALTELA.DAT");
    if (!src) GTEST_SKIP() << "sample file missing";
    Table t(src);
    ASSERT_EQ(t.setActiveKey(2), Status::Success);
    auto upper = [](std::string s) {
        for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        return s;
    };
    std::vector<std::string> values;
    for (Status st = t.moveFirst(); ok(st); st = t.moveNext()) {
        Value v;
        ASSERT_EQ(decodeField({"", DataType::ZString, 16, 16}, t.currentRecord(), v), Status::Success);
        values.push_back(std::get<std::string>(v));
    }
    ASSERT_EQ(values.size(), 73u);
    bool byteOrderBroken = false;
    for (size_t i = 1; i < values.size(); ++i) {
        EXPECT_LT(upper(values[i - 1]), upper(values[i])) << i;
        byteOrderBroken |= values[i - 1] > values[i];
    }
    EXPECT_TRUE(byteOrderBroken) << "the values would sort differently by plain bytes";
}

}  // namespace
