// Data dictionaries: columns decoded by type, code pages, Windows paths found on
// disk, dictionaries made by the dictionary writer (good and bad), and the four real
// dictionaries of the corpus.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "btrieve/columns.h"
#include "btrieve/dictionary.h"
#include "btrieve/dictionary_writer.h"
#include "test_file_util.h"

namespace {

namespace fs = std::filesystem;
using namespace btrieve;
using filetest::TempDir;

DictColumn column(uint8_t type, uint32_t offset, uint32_t size, uint8_t decimals = 0, const char* name = "c") {
    DictColumn c;
    c.name = name;
    c.type = type;
    c.offset = offset;
    c.size = size;
    c.decimals = decimals;
    return c;
}

// The CSV text of one column read from record, and the fault its declaration has.
std::string csvOf(const DictColumn& c, std::string_view record, std::string* fault = nullptr,
                  uint64_t longest = UINT64_MAX, Cell* cellOut = nullptr) {
    std::string why;
    const auto reader = ColumnReader::make(c, longest, why);
    if (fault) *fault = why;
    Cell cell;
    reader.read(record, *CodePage::windows1252(), cell);
    std::string text;
    appendCsvField(cell, text);
    if (cellOut) *cellOut = cell;
    return cell.kind == CellKind::Null ? "NULL" : text;
}

std::string bytes(std::initializer_list<int> b) {
    std::string s;
    for (int c : b) s.push_back(static_cast<char>(c));
    return s;
}

TEST(DictionaryColumns, EachTypeReadsAsItsTextForm) {
    struct Case {
        uint8_t type;
        std::string stored;
        uint8_t decimals;
        std::string csv;
    } const cases[] = {
        {0, std::string("a\0b\r\n  \0", 8), 0, std::string("\"a\0b\r\n\"", 7)},  // NULs and CR/LF inside stay
        {0, "caf\xE9 \x81\x8D\x8F\x90\x9D", 0, "caf\xC3\xA9 \xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},
        {11, std::string("ab\0cd", 5), 0, "ab"},
        {11, "abcde", 0, "abcde"},                           // no NUL: the whole field
        {10, bytes({4, 'a', 'b', ' ', ' ', 'x'}), 0, "ab  "},  // trailing blanks inside the length stay
        {10, bytes({200, 'a', 'b'}), 0, "ab"},               // length at most size - 1
        {1, bytes({0xFE}), 0, "-2"},
        {1, bytes({0x00, 0x00, 0x00, 0x80}), 0, "-2147483648"},
        {15, bytes({0x39, 0x30}), 0, "12345"},
        {14, std::string(8, '\xFF'), 0, "18446744073709551615"},
        {2, bytes({0xCD, 0xCC, 0xCC, 0x3D}), 0, "0.10000000149011612"},
        {2, bytes({0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0xB9, 0x3F}), 0, "0.1"},
        {9, bytes({0x00, 0x00, 0x20, 0x82}), 0, "2.5"},
        {5, bytes({0x12, 0x34, 0x5D}), 2, "-123.45"},
        {5, bytes({0x00, 0x00, 0x5F}), 3, "0.005"},
        {5, bytes({0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x56, 0x78, 0x9C}), 2, "12345678901234567.89"},
        {6, bytes({0x00, 0x12, 0x3F}), 0, "1.23"},          // MONEY: 2 decimals when Xe$Dec is 0
        {5, std::string(3, '\0'), 2, "NULL"},                // never written
        {5, bytes({0xAB, 0x0C}), 0, "ab0c"},                 // not digits: its bytes
        {8, "0012J", 1, "-12.1"},
        {8, "  42", 0, "42"},
        {7, bytes({0x00, 0x02}), 0, "1"},
        {3, bytes({29, 2, 0xD0, 0x07}), 0, "2000-02-29"},
        {3, bytes({29, 2, 0xCF, 0x07}), 0, "NULL"},          // 1999 had no 29 February
        {3, bytes({0, 0, 0, 0}), 0, "NULL"},
        {4, bytes({5, 59, 30, 23}), 0, "23:30:59.05"},
        {4, bytes({0, 0, 0, 24}), 0, "NULL"},
        {12, "\x01\xAB", 0, "01ab"},
        {21, "\xFF", 0, "ff"},
    };
    for (const auto& c : cases) {
        std::string fault;
        EXPECT_EQ(csvOf(column(c.type, 0, static_cast<uint32_t>(c.stored.size()), c.decimals), c.stored, &fault),
                  c.csv)
            << "type " << int(c.type);
        EXPECT_EQ(fault, "") << "type " << int(c.type);
    }
}

TEST(DictionaryColumns, DecimalsKeepEveryDigitAndSayWhetherARealHoldsThem) {
    Cell cell;
    csvOf(column(5, 0, 2, 2), bytes({0x12, 0x5C}), nullptr, UINT64_MAX, &cell);
    EXPECT_EQ(cell.text, "1.25");
    EXPECT_TRUE(cell.roundTrips);
    EXPECT_EQ(cell.real, 1.25);
    csvOf(column(5, 0, 10, 2), bytes({0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x56, 0x78, 0x9C}), nullptr,
          UINT64_MAX, &cell);
    EXPECT_FALSE(cell.roundTrips);  // 19 digits: a double keeps about 16
    EXPECT_EQ(cell.kind, CellKind::Decimal);
}

TEST(DictionaryColumns, FieldsPastTheRecordAndImpossibleDeclarations) {
    const std::string rec = "abcd";
    std::string fault;
    // Past the end of a shorter record: NULL, no fault; a NOTE gives what there is.
    EXPECT_EQ(csvOf(column(0, 2, 4), rec, &fault), "NULL");
    EXPECT_EQ(fault, "");
    EXPECT_EQ(csvOf(column(12, 2, 100), rec, &fault, 120), "6364");
    EXPECT_EQ(fault, "");
    // Past the longest record the file holds: a fault, and never a value.
    EXPECT_EQ(csvOf(column(0, 2, 4), rec, &fault, 5), "NULL");
    EXPECT_NE(fault.find("past the longest record the file holds (5 bytes)"), std::string::npos) << fault;
    // An 8-byte DATE: a fault, read as its bytes.
    EXPECT_EQ(csvOf(column(3, 0, 4 + 4), "\x01\x02\x03\x04\x05\x06\x07\x08", &fault), "0102030405060708");
    EXPECT_EQ(fault, "DATE of 8 bytes: not a size a DATE can have");
    EXPECT_EQ(csvOf(column(1, 0, 3), "abc", &fault), "616263");
    EXPECT_EQ(fault, "INTEGER of 3 bytes: not a size a INTEGER can have");
}

TEST(DictionaryCodePages, EveryByteDecodesInAnyCodePage) {
    std::string why;
    EXPECT_EQ(CodePage::make("NO-SUCH-PAGE", why), nullptr);
    EXPECT_EQ(why, "unknown encoding 'NO-SUCH-PAGE'");
    auto cp866 = CodePage::make("CP866", why);
    ASSERT_NE(cp866, nullptr);
    EXPECT_EQ(cp866->toUtf8("\x84\xAE\xA3\xAE\xA2\xAE\xE0"), "Договор");
    // Through iconv too: the same five undefined bytes as the built-in table.
    auto cp1252 = CodePage::make("WINDOWS-1252", why), viaIconv = CodePage::make("CP1250", why);
    ASSERT_NE(viaIconv, nullptr);
    EXPECT_EQ(viaIconv->toUtf8("\x81\x83"), "\xC2\x81\xC2\x83");
    EXPECT_EQ(cp1252->toUtf8("\x80\x81\xFF"), "\xE2\x82\xAC\xC2\x81\xC3\xBF");
    // A multi-byte code page: a byte that starts nothing, and a cut-off pair at the end.
    auto sjis = CodePage::make("SHIFT_JIS", why);
    ASSERT_NE(sjis, nullptr);
    EXPECT_EQ(sjis->toUtf8("\x93\xFA\x96\x7B" "a\xFF" "b\x93"), "日本a\xC3\xBF" "b\xC2\x93");
}

TEST(DictionaryPaths, FoundAsWindowsWouldFindThem) {
    TempDir dir;
    const fs::path root = dir.file("");
    fs::create_directories(root / "CUST");
    fs::create_directories(root / "MISC");
    fs::create_directories(root / "dict");
    for (const char* f : {"CUST/CustSupp.Dat", "MISC/Settings2.DAT", "MISC/Settings.dat", "MISC/SystemSetup.dat", "MISC/SystemSums.dat",
                          "UDEntity.Dat"})
        filetest::writeAll((root / f).string(), "x");
    std::string path, relative, problem;
    EXPECT_TRUE(resolveWindowsPath(root.string(), "cust\\CUSTSUPP.DAT", path, relative, problem));
    EXPECT_EQ(relative, "CUST/CustSupp.Dat");
    EXPECT_EQ(fs::path(path), root / "CUST" / "CustSupp.Dat");
    EXPECT_TRUE(resolveWindowsPath(root.string(), "misc\\settin~1.dat", path, relative, problem));
    EXPECT_EQ(relative, "MISC/Settings2.DAT");  // Settings.dat is 8.3 itself: it has no alias
    EXPECT_TRUE(resolveWindowsPath((root / "dict").string(), "..\\udentity.dat", path, relative, problem));
    EXPECT_EQ(relative, "../UDEntity.Dat");
    EXPECT_TRUE(resolveWindowsPath(root.string(), "C:\\EXCH\\Cust\\custsupp.dat", path, relative, problem));
    EXPECT_EQ(relative, "CUST/CustSupp.Dat");

    EXPECT_FALSE(resolveWindowsPath(root.string(), "misc\\system~1.dat", path, relative, problem));
    EXPECT_NE(problem.find("2 files in"), std::string::npos) << problem;
    EXPECT_FALSE(resolveWindowsPath(root.string(), "misc\\abcdef~1.dat", path, relative, problem));
    EXPECT_NE(problem.find("fits the short name 'abcdef~1.dat'"), std::string::npos) << problem;
    EXPECT_FALSE(resolveWindowsPath(root.string(), "trans\\nominal.dat", path, relative, problem));
    EXPECT_NE(problem.find("no 'trans'"), std::string::npos) << problem;
    EXPECT_TRUE(path.empty());
}

// A record of the test table: id (u32), name (STRING 10), amount (MONEY 4), and
// from offset 18 a variable tail (note).
std::string orderRecord(uint32_t id, const std::string& name, const std::string& tail = "") {
    std::string r(18, '\0');
    std::memcpy(r.data(), &id, 4);
    std::memcpy(r.data() + 4, name.data(), std::min<size_t>(name.size(), 10));
    r.replace(14, 4, bytes({0x00, 0x01, 0x23, 0x4C}));
    return r + tail;
}

class DictionaryFolder : public ::testing::Test {
protected:
    void SetUp() override {
        WriterOptions o;
        o.recordLength = 18;
        o.variable = true;
        o.keys.push_back({{testkeys::keySegment(0, 4, DataType::UnsignedBinary)}});
        ASSERT_EQ(writeFile(dir.file("Orders.dat"), o,
                            {orderRecord(2, "second", "tail"), orderRecord(1, "first")}),
                  Status::Success);
        fs::create_directories(dir.file("afolder"));
        filetest::writeAll(dir.file("notes.txt"), std::string(4096, 'n'));
        DictionaryTableDef orders{10, "Orders", "ORDERS.DAT", {}, {{100}, {101, 103}}};
        orders.fields = {column(14, 0, 4, 0, "id"),   column(0, 4, 10, 0, "name"), column(6, 14, 4, 0, "amount"),
                         column(0, 4, 5, 0, "NAME"),  column(12, 18, 200, 0, "note"),
                         column(3, 14, 8, 0, "when"), column(255, 0, 0, 0, "byId")};
        for (size_t i = 0; i < orders.fields.size(); ++i) orders.fields[i].id = static_cast<uint16_t>(100 + i);
        tables = {orders,
                  {11, "Gone", "gone.dat", {column(0, 0, 4, 0, "x")}, {}},
                  {12, "Folder", "AFOLDER", {}, {}},
                  {13, "Text", "notes.txt", {}, {}},
                  {14, "Nowhere", "", {}, {}}};
    }
    std::unique_ptr<Dictionary> open(const DictionaryWriterOptions& w = {}, std::string* message = nullptr) {
        EXPECT_EQ(writeDictionary(dir.file(""), tables, w), Status::Success);
        std::unique_ptr<Dictionary> d;
        std::string why;
        Dictionary::open(dir.file(""), {}, d, message ? *message : why);
        return d;
    }
    TempDir dir;
    std::vector<DictionaryTableDef> tables;
};

TEST_F(DictionaryFolder, TablesColumnsKeysAndTheFilesTheyNeed) {
    for (const bool shortRows : {false, true}) {
        DictionaryWriterOptions w;
        w.shortFileRows = shortRows;
        fs::remove(dir.file("FILE.DDF"));
        fs::remove(dir.file("FIELD.DDF"));
        fs::remove(dir.file("INDEX.DDF"));
        const auto d = open(w);
        ASSERT_NE(d, nullptr);
        ASSERT_EQ(d->tables().size(), 8u);  // the three X$ tables first
        EXPECT_EQ(d->find("x$FIELD")->records, shortRows ? 25u : 26u);
        const DictTable* t = d->find("orders");
        ASSERT_NE(t, nullptr);
        EXPECT_TRUE(t->readable());
        EXPECT_EQ(t->relativePath, "Orders.dat");
        EXPECT_EQ(t->records, 2u);
        std::vector<std::string> names;
        for (const auto& c : t->columns) names.push_back(c.name);
        EXPECT_EQ(names, (std::vector<std::string>{"id", "name", "amount", "NAME_2", "note", "when"}));
        ASSERT_EQ(t->keys.size(), 2u);
        EXPECT_EQ(t->keys[1].number, 1);
        ASSERT_EQ(t->keys[1].parts.size(), 2u);
        EXPECT_EQ(t->keys[1].parts[0].column, 1);
        EXPECT_EQ(t->keys[1].parts[1].column, 3);
        EXPECT_EQ(t->faults, (std::vector<std::string>{"field 'when': DATE of 8 bytes: not a size a DATE can have"}));

        EXPECT_EQ(d->find("gone")->problem.rfind("missing: no 'gone.dat' in ", 0), 0u) << d->find("gone")->problem;
        EXPECT_EQ(d->find("folder")->problem, statusText(Status::IsDirectory));
        EXPECT_EQ(d->find("text")->problem, statusText(Status::NotBtrieveFile));
        EXPECT_EQ(d->find("nowhere")->problem, "the dictionary names no file");
        std::unique_ptr<File> f;
        EXPECT_EQ(d->openFile(*d->find("folder"), f), Status::IsDirectory);
        EXPECT_EQ(d->openFile(*d->find("gone"), f), Status::FileNotFound);

        // The rows as the columns read them: the shorter record has no note.
        ASSERT_EQ(d->openFile(*t, f), Status::Success);
        const auto readers = makeColumnReaders(*t, f->info());
        std::vector<std::string> rows;
        f->forEachRecordView([&](RecordAddress, std::string_view rec) {
            std::string line;
            for (const auto& r : readers) {
                Cell c;
                r.read(rec, d->codePage(), c);
                line += (line.empty() ? "" : ",") + (c.kind == CellKind::Null ? "NULL" : [&] {
                    std::string s;
                    appendCsvField(c, s);
                    return s;
                }());
            }
            rows.push_back(line);
            return true;
        });
        std::sort(rows.begin(), rows.end());
        EXPECT_EQ(rows, (std::vector<std::string>{"1,first,12.34,first,NULL,NULL",
                                                  "2,second,12.34,secon,7461696c,0001234c7461696c"}));
    }
}

TEST_F(DictionaryFolder, DamagedDictionariesAreNamedWithWhatIsWrong) {
    std::string message;
    std::unique_ptr<Dictionary> d;
    EXPECT_EQ(Dictionary::open(dir.file(""), {}, d, message), Status::FileNotFound);
    EXPECT_EQ(message, "FILE.DDF: not found in " + dir.file(""));
    ASSERT_NE(open(), nullptr);

    DictionaryOptions cp;
    cp.encoding = "KLINGON";
    EXPECT_NE(Dictionary::open(dir.file(""), cp, d, message), Status::Success);
    EXPECT_EQ(message, "unknown encoding 'KLINGON'");

    // A truncated FIELD.DDF, then a FILE.DDF whose rows are too short to be its rows.
    const std::string field = filetest::readAll(dir.file("FIELD.DDF"));
    filetest::writeAll(dir.file("FIELD.DDF"), field.substr(0, field.size() / 2));
    EXPECT_NE(Dictionary::open(dir.file(""), {}, d, message), Status::Success);
    EXPECT_EQ(d, nullptr);
    // Files are named with / on every system.
    const auto named = [&](const char* name) { return fs::path(dir.file(name)).generic_string(); };
    EXPECT_EQ(message.rfind(named("FIELD.DDF") + ": status ", 0), 0u) << message;
    filetest::writeAll(dir.file("FIELD.DDF"), field);
    fs::remove(dir.file("FILE.DDF"));
    WriterOptions o;
    o.recordLength = 40;
    ASSERT_EQ(writeFile(dir.file("file.ddf"), o, {std::string(40, 'x')}), Status::Success);
    EXPECT_EQ(Dictionary::open(dir.file(""), {}, d, message), Status::Corrupt);
    EXPECT_EQ(message, named("file.ddf") + ": a record of 40 bytes, where each holds 87: not a FILE.DDF");
}

// Every readable table's file scanned: as many live records as the header says.
void expectCountsAgree(const Dictionary& d) {
    for (const auto& t : d.tables()) {
        if (!t.readable()) continue;
        std::unique_ptr<File> f;
        ASSERT_EQ(d.openFile(t, f), Status::Success) << t.name;
        uint64_t n = 0;
        ASSERT_EQ(f->forEachRecordView([&](RecordAddress, std::string_view) { return ++n; }), Status::Success);
        EXPECT_EQ(n, t.records) << t.name;
    }
}

std::unique_ptr<Dictionary> corpusDictionary(const std::string& rel, DictionaryOptions options = {}) {
    std::unique_ptr<Dictionary> d;
    std::string message;
    EXPECT_EQ(Dictionary::open(filetest::corpus(rel), options, d, message), Status::Success) << message;
    if (d) expectCountsAgree(*d);
    return d;
}

// Each cell of column c of table in every record, by the column's reader.
template <class Visit>
void forEachCell(const Dictionary& d, const DictTable& t, size_t c, Visit visit) {
    std::unique_ptr<File> f;
    ASSERT_EQ(d.openFile(t, f), Status::Success) << t.name;
    const auto readers = makeColumnReaders(t, f->info());
    Cell cell;
    ASSERT_EQ(f->forEachRecordView([&](RecordAddress, std::string_view rec) {
        readers[c].read(rec, d.codePage(), cell);
        visit(cell);
        return true;
    }), Status::Success);
}

TEST(DictionaryCorpus, ExchequerCompanyWithItsDictionaryApart) {
    REQUIRE_CORPUS("exchequer/ENTRPRSE-DDF/FILE.DDF");
    DictionaryOptions o;
    o.dataFolders = {filetest::corpus("exchequer/BaseDemo")};
    const auto d = corpusDictionary("exchequer/ENTRPRSE-DDF", o);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->tables().size(), 47u);
    const auto missing = std::count_if(d->tables().begin(), d->tables().end(), [](auto& t) { return !t.readable(); });
    EXPECT_EQ(missing, 14);
    EXPECT_NE(d->find("SystemSetup")->problem.find("fits the short name 'system~1.dat'"), std::string::npos);
    EXPECT_EQ(d->find("Customers")->path, d->find("Suppliers")->path);
    std::set<std::string> mloc;
    for (const auto& t : d->tables())
        if (t.relativePath == "STOCK/MLocStk.Dat") mloc.insert(t.location);
    EXPECT_EQ(mloc.size(), 4u);  // eleven tables, four spellings
    // Three overlapping fields over the stock code (an LSTRING, and two STRINGs of
    // different sizes over its text), each its own column.
    const DictTable* stock = d->find("Stock");
    ASSERT_GE(stock->columns.size(), 3u);
    EXPECT_EQ(stock->columns[0].name, "stStockCode");
    EXPECT_EQ(stock->columns[1].offset, 1u);
    EXPECT_EQ(stock->columns[2].offset, 1u);
    EXPECT_NE(stock->columns[1].size, stock->columns[2].size);
    // Account codes: upper-case letters and digits, as Exchequer makes them.
    size_t codes = 0;
    forEachCell(*d, *d->find("Customers"), 0, [&](const Cell& c) {
        ++codes;
        EXPECT_TRUE(c.kind == CellKind::Text && !c.text.empty() && c.text.size() <= 10 &&
                    c.text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789") == std::string::npos)
            << c.text;
    });
    EXPECT_EQ(codes, 135u);
}

TEST(DictionaryCorpus, OtherDictionaries) {
    REQUIRE_CORPUS("doclife/FILE.DDF");
    DictionaryOptions cp866;
    cp866.encoding = "CP866";
    const auto doclife = corpusDictionary("doclife", cp866);
    ASSERT_NE(doclife, nullptr);
    EXPECT_EQ(doclife->tables().size(), 30u);
    const DictTable* contract = doclife->find("Договор");
    ASSERT_NE(contract, nullptr);
    EXPECT_EQ(contract->relativePath, "F17.DAT");
    EXPECT_EQ(contract->keys.front().number, 0);  // counted from 1 in the file
    EXPECT_FALSE(doclife->find("X$View")->readable());
    // Every DATE of the contracts' tables falls in the years the application was in use.
    size_t dates = 0;
    for (const auto& t : doclife->tables()) {
        if (!t.readable()) continue;
        for (size_t c = 0; c < t.columns.size(); ++c) {
            if (t.columns[c].type != 3) continue;
            forEachCell(*doclife, t, c, [&](const Cell& cell) {
                if (cell.kind == CellKind::Null) return;
                ++dates;
                EXPECT_TRUE(cell.text >= "1990-01-01" && cell.text < "2006-01-01") << t.name << " " << cell.text;
            });
        }
    }
    EXPECT_GT(dates, 200u);

    REQUIRE_CORPUS("exchequer/UDF-DDFs/FILE.DDF");
    const auto udf = corpusDictionary("exchequer/UDF-DDFs");
    ASSERT_NE(udf, nullptr);
    EXPECT_EQ(udf->find("UDEntity")->location, "..\\UDEntity.Dat");
    EXPECT_NE(udf->find("UDEntity")->problem.find("exchequer"), std::string::npos) << udf->find("UDEntity")->problem;

    REQUIRE_CORPUS("actianui/file.ddf");
    const auto actian = corpusDictionary("actianui");
    ASSERT_NE(actian, nullptr);
    EXPECT_EQ(actian->tables().size(), 16u);
    uint32_t longestNote = 0;
    for (const auto& c : actian->find("X$Trigger")->columns)
        if (c.type == 13) longestNote = std::max(longestNote, c.size);
    EXPECT_EQ(longestNote, 4054u);
    EXPECT_EQ(actian->find("ImgTest")->columns.back().type, 21);
}

}  // namespace
