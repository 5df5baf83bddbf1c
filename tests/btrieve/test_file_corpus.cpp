// The reader against real engine-written files: header facts as the samples'
// provenance records them, every live record read back, and record contents that
// the files' own applications or test suites state.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "btrieve/file.h"
#include "test_file_util.h"

using namespace btrieve;
using filetest::corpus;

namespace {

struct HeaderFacts {
    const char* path;
    Family family;
    uint16_t version;
    uint32_t pageSize;
    uint32_t recordLength;
    uint32_t physicalLength;
    uint64_t records;
    size_t keys;
    bool variable;
    bool compressed;
    bool owner;
    bool encrypted;
};

// One line per sample, chosen to cover every family, version and page size present.
const HeaderFacts kFacts[] = {
    {"majorbbs22/AUDITRAI.DAT", Family::Pre6, 0x0300, 512, 65, 73, 1, 1, false, false, false, false},
    {"majorbbs22/CLASSADS.DAT", Family::Pre6, 0x0300, 512, 402, 410, 0, 2, false, false, false, false},
    {"majorbbs22/EMAIL.DAT", Family::Pre6, 0x0300, 1024, 1000, 1016, 0, 3, false, false, false, false},
    {"majorbbs22/USRACC.DAT", Family::Pre6, 0x0300, 512, 252, 252, 2, 1, false, false, false, false},
    {"mbbsemu/MBBSEMU.DAT", Family::Pre6, 0x0400, 512, 74, 90, 4, 4, false, false, false, false},
    {"mbbsemu-2020-10/MBBSEMU.DAT", Family::Pre6, 0x0400, 512, 70, 86, 4, 3, false, false, false, false},
    {"wbtrv32/VARIABLE.DAT", Family::Pre6, 0x0400, 512, 8, 20, 1024, 2, true, false, false, false},
    {"wbtrv32/MBMGEPLT.DAT", Family::Pre6, 0x0400, 1024, 493, 509, 22, 3, false, false, false, false},
    {"xtrieve/TEST.DAT", Family::Pre6, 0x0300, 1024, 64, 72, 5, 1, false, false, false, false},
    {"xtrieve/TESTE.DAT", Family::Pre6, 0x0300, 1024, 64, 64, 600, 1, false, false, false, false},
    {"doclife/F17.DAT", Family::Pre6, 0x0400, 4096, 535, 543, 46, 3, false, false, true, false},
    {"doclife/F30.DAT", Family::Pre6, 0x0400, 4096, 34, 34, 9, 2, false, false, false, false},
    {"doclife/FIELD.DDF", Family::Pre6, 0x0400, 4096, 32, 48, 150, 4, false, false, true, false},
    {"ccc-fibu/D01-2024/FI3100.btr", Family::Pre6, 0x0500, 1024, 0, 13, 1595, 2, true, true, false, false},
    {"ccc-fibu/misc/DAT-D01-ST1100.BTR", Family::Pre6, 0x0500, 2048, 0, 45, 47, 6, true, true, false, false},
    {"ccc-fibu/misc/DAT-SYFORM.BTR", Family::Pre6, 0x0500, 512, 0, 13, 60, 2, true, true, false, false},
    {"ccc-fibu/misc/DAT-SYPARA.BTR", Family::Pre6, 0x0500, 1024, 0, 13, 10, 2, true, true, true, true},
    {"ccc-fibu/misc/sypara.btr", Family::Pre6, 0x0500, 1024, 0, 13, 6, 2, true, true, true, true},
    {"wbtrv32/GALTELA.DAT", Family::V6, 0x0600, 4096, 950, 968, 73, 3, false, false, false, false},
    {"wbtrv32/WGSMENU2.DAT", Family::V6, 0x0600, 4096, 448, 454, 46, 1, true, false, false, false},
    {"wbtrv32/MULTIACS.DAT", Family::V6, 0x0610, 4096, 128, 142, 0, 3, true, false, false, false},
    {"exchequer/BaseDemo/JOBS/JOBCTRL.DAT", Family::V6, 0x0600, 1024, 0, 23, 800, 2, true, true, true, false},
    {"exchequer/BaseDemo/MISC/SETTINGS.DAT", Family::V6, 0x0600, 1536, 0, 7, 0, 1, true, true, false, false},
    {"exchequer/v600-other/Trade-TRADE-LHEADER.DAT", Family::V6, 0x0600, 2560, 0, 15, 0, 3, true, true, false, false},
    {"exchequer/ENTRPRSE-DDF/FIELD.DDF", Family::V6, 0x0600, 512, 32, 58, 2143, 5, false, false, true, false},
    {"exchequer/BaseDemo/EXCHQNUM.DAT", Family::V6, 0x0600, 1024, 29, 35, 59, 1, true, false, true, false},
    {"exchequer/BaseDemo/CUST/CustSupp.Dat", Family::V8, 0x0800, 4096, 0, 81, 135, 12, true, true, true, false},
    {"exchequer/BaseDemo/ExchqSS.Dat", Family::V8, 0x0800, 2048, 1787, 1795, 22, 1, true, false, true, false},
    {"exchequer/BaseDemo/JOBS/JobDet.Dat", Family::V8, 0x0800, 2048, 0, 65, 5388, 7, true, true, true, false},
    {"exchequer/BaseDemo/MISC/ExStkChk.Dat", Family::V8, 0x0800, 1024, 0, 33, 11778, 3, true, true, true, false},
    {"exchequer/BaseDemo/TOOLS.DAT", Family::V8, 0x0800, 2048, 0, 41, 9, 3, true, true, false, false},
    {"exchequer/UDF-DDFs/FIELD.DDF", Family::V8, 0x0800, 512, 32, 58, 53, 5, false, false, true, false},
    {"exchequer/plugins/ALLOC.DAT", Family::V8, 0x0900, 1024, 0, 33, 0, 2, true, true, false, false},
    {"actianui/file.ddf", Family::V8, 0x0950, 4096, 97, 107, 16, 2, false, false, true, false},
    {"actianui/field.ddf", Family::V8, 0x0950, 4096, 32, 66, 87, 5, false, false, true, false},
    {"actianui/Test_Table.mkd", Family::V8, 0x0950, 4096, 42, 44, 2, 1, false, false, false, false},
    {"actianui/images.btr", Family::V8, 0x0950, 4096, 259, 267, 3, 1, true, false, false, false},
};

class CorpusHeader : public ::testing::TestWithParam<HeaderFacts> {};

TEST_P(CorpusHeader, MatchesTheRecordedFactsAndEveryLiveRecordReads) {
    const HeaderFacts& x = GetParam();
    REQUIRE_CORPUS(x.path);
    std::unique_ptr<File> f;
    ASSERT_EQ(File::open(corpus(x.path), f), Status::Success);
    const FileInfo& i = f->info();
    EXPECT_EQ(i.family, x.family);
    EXPECT_EQ(i.version, x.version);
    EXPECT_EQ(i.pageSize, x.pageSize);
    EXPECT_EQ(i.recordLength, x.recordLength);
    EXPECT_EQ(i.physicalRecordLength, x.physicalLength);
    EXPECT_EQ(i.recordCount, x.records);
    EXPECT_EQ(i.keys.size(), x.keys);
    EXPECT_EQ(i.variable, x.variable);
    EXPECT_EQ(i.compressed, x.compressed);
    EXPECT_EQ(i.ownerSet, x.owner);
    EXPECT_EQ(i.encrypted, x.encrypted);
    for (size_t k = 0; k < i.keys.size(); ++k) {
        EXPECT_EQ(i.keys[k].number, static_cast<int>(k));
        for (const KeySegment& s : i.keys[k].segments) {
            if (!i.compressed) {
                EXPECT_LE(s.position + s.length, i.recordLength);
            }
            EXPECT_LT(s.acs, static_cast<int>(i.acsTables.size()));
            EXPECT_EQ(s.acs >= 0, (s.flags & keyflag::Acs) != 0);
        }
    }

    // Exactly the header's number of live records, each readable again by address.
    uint64_t n = 0;
    std::set<RecordAddress> seen;
    Status scan = f->forEachRecord([&](RecordAddress a, const std::string& rec) {
        ++n;
        EXPECT_TRUE(seen.insert(a).second);
        if (!i.variable) {
            EXPECT_EQ(rec.size(), i.recordLength);
        }
        std::string again;
        EXPECT_EQ(f->readRecord(a, again), Status::Success);
        EXPECT_EQ(again, rec);
        return true;
    });
    EXPECT_EQ(scan, Status::Success);
    EXPECT_EQ(n, x.records);
}

INSTANTIATE_TEST_SUITE_P(Samples, CorpusHeader, ::testing::ValuesIn(kFacts), [](const auto& info) {
    std::string name = info.param.path;
    for (char& c : name)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
});

// Every file of the sample set, not only those listed above.
TEST(Corpus, EveryFileOpensAndYieldsItsRecordCount) {
    if (!filetest::fs::exists(filetest::corpusDir())) GTEST_SKIP() << "no sample files at " << filetest::corpusDir();
    size_t files = 0;
    for (const auto& e : filetest::fs::recursive_directory_iterator(filetest::corpusDir())) {
        if (!e.is_regular_file()) continue;
        const std::string path = e.path().string();
        if (e.path().extension() == ".BCR") continue;  // a BUTIL description, not a data file
        SCOPED_TRACE(path);
        ++files;
        std::unique_ptr<File> f;
        ASSERT_EQ(File::open(path, f), Status::Success);
        uint64_t n = 0;
        EXPECT_EQ(f->forEachRecord([&](RecordAddress, const std::string&) { return ++n, true; }), Status::Success);
        EXPECT_EQ(n, f->info().recordCount);
        // A full scan touches each page about once; long chains may revisit some.
        EXPECT_LE(f->pageReads(), 3 * filetest::fs::file_size(e.path()) / f->info().pageSize + 16);
    }
    EXPECT_GE(files, 100u);
}

TEST(Corpus, ABuildDescriptionIsNotABtrieveFile) {
    REQUIRE_CORPUS("wbtrv32/VARIABLE.BCR");
    std::unique_ptr<File> f;
    EXPECT_EQ(File::open(corpus("wbtrv32/VARIABLE.BCR"), f), Status::NotBtrieveFile);
    EXPECT_EQ(f, nullptr);
}

int32_t i32(const std::string& r, size_t at) {
    int32_t v;
    std::memcpy(&v, r.data() + at, 4);
    return v;
}
uint16_t u16(const std::string& r, size_t at) { return filetest::getU16(r, at); }
std::string zstr(const std::string& r, size_t at, size_t len) {
    std::string s = r.substr(at, len);
    return s.substr(0, s.find('\0'));
}

TEST(CorpusRecords, MbbsemuKeysAndValues) {
    REQUIRE_CORPUS("mbbsemu/MBBSEMU.DAT");
    std::unique_ptr<File> f;
    ASSERT_EQ(File::open(corpus("mbbsemu/MBBSEMU.DAT"), f), Status::Success);
    const auto& k = f->info().keys;
    ASSERT_EQ(k.size(), 4u);
    const uint32_t pos[] = {2, 34, 38, 70}, len[] = {32, 4, 32, 4};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(k[i].segments.at(0).position, pos[i]);
        EXPECT_EQ(k[i].segments.at(0).length, len[i]);
    }
    EXPECT_EQ(k[0].segments[0].type, DataType::ZString);
    EXPECT_TRUE(k[0].allowsDuplicates());
    EXPECT_EQ(k[1].segments[0].type, DataType::Integer);
    EXPECT_EQ(k[3].segments[0].type, DataType::AutoIncrement);
    EXPECT_EQ(k[0].duplicateOffset, 74);
    EXPECT_EQ(k[2].duplicateOffset, 82);

    std::multiset<int32_t> k1, k3;
    std::multiset<std::string> k2;
    ASSERT_EQ(f->forEachRecord([&](RecordAddress, const std::string& r) {
        EXPECT_EQ(zstr(r, 2, 32), "Sysop");
        k1.insert(i32(r, 34));
        k2.insert(zstr(r, 38, 32));
        k3.insert(i32(r, 70));
        return true;
    }), Status::Success);
    EXPECT_EQ(k1, (std::multiset<int32_t>{3444, 7776, 1052234073, -615634567}));
    EXPECT_EQ(k2, (std::multiset<std::string>{"3444", "7776", "StringValue", "stringValue"}));
    EXPECT_EQ(k3, (std::multiset<int32_t>{1, 2, 3, 4}));
}

TEST(CorpusRecords, VariableTailsOfEveryLength) {
    REQUIRE_CORPUS("wbtrv32/VARIABLE.DAT");
    std::unique_ptr<File> f;
    ASSERT_EQ(File::open(corpus("wbtrv32/VARIABLE.DAT"), f), Status::Success);
    EXPECT_EQ(f->info().pageCount, 1156u);
    std::set<uint16_t> ids;
    ASSERT_EQ(f->forEachRecord([&](RecordAddress, const std::string& r) {
        const uint16_t i = u16(r, 6);
        EXPECT_TRUE(ids.insert(i).second);
        EXPECT_EQ(static_cast<uint32_t>(i32(r, 0)), 0xDEADBEEFu);
        EXPECT_EQ(u16(r, 4), i % 64);
        EXPECT_EQ(r.size(), 8u + i);
        for (size_t j = 0; j < i && j + 8 < r.size(); ++j)
            if (static_cast<uint8_t>(r[8 + j]) != (j & 0xFF)) {
                ADD_FAILURE() << "record " << i << " byte " << j;
                break;
            }
        return true;
    }), Status::Success);
    EXPECT_EQ(ids.size(), 1024u);
    EXPECT_EQ(*ids.rbegin(), 1023);
}

TEST(CorpusRecords, OldFormatCustomersAndTwoLevelTree) {
    REQUIRE_CORPUS("xtrieve/TEST.DAT");
    REQUIRE_CORPUS("xtrieve/TESTE.DAT");
    auto test = filetest::readFile(corpus("xtrieve/TEST.DAT"));
    ASSERT_EQ(test.scan, Status::Success);
    std::multiset<std::pair<int32_t, std::string>> got;
    for (const auto& r : test.records) got.insert({i32(r, 0), zstr(r, 4, 60)});
    EXPECT_EQ(got, (std::multiset<std::pair<int32_t, std::string>>{
                       {100, "Customer 1"}, {200, "Customer 2"}, {300, "Customer 3"},
                       {400, "Customer 4"}, {500, "Customer 5"}}));

    std::unique_ptr<File> f;
    ASSERT_EQ(File::open(corpus("xtrieve/TESTE.DAT"), f), Status::Success);
    EXPECT_EQ(f->info().keys.at(0).rootPage, 9u);
    EXPECT_EQ(f->info().keys[0].segments.at(0).type, DataType::OldString);
    // The root is an index page with 10 entries (bytes 6-7).
    std::string root;
    ASSERT_EQ(f->readLogicalPage(9, root), Status::Success);
    EXPECT_EQ(u16(root, 6), 10);
}

TEST(CorpusRecords, OldStyleKeysMapToOldTypes) {
    REQUIRE_CORPUS("majorbbs22/CLASSADS.DAT");
    std::unique_ptr<File> f;
    ASSERT_EQ(File::open(corpus("majorbbs22/CLASSADS.DAT"), f), Status::Success);
    const auto& keys = f->info().keys;
    int binary = 0, acs = 0;
    for (const auto& k : keys)
        for (const auto& s : k.segments) {
            binary += s.type == DataType::OldBinary;
            acs += s.acs >= 0;
        }
    EXPECT_GE(binary, 1);
    EXPECT_GE(acs, 1);
    ASSERT_EQ(f->info().acsTables.size(), 1u);
    EXPECT_EQ(f->info().acsTables[0]['a'], 'A');  // "UPPER"
}

TEST(CorpusRecords, Version6PagesTablesAndAcs) {
    REQUIRE_CORPUS("wbtrv32/GALTELA.DAT");
    std::unique_ptr<File> f;
    ASSERT_EQ(File::open(corpus("wbtrv32/GALTELA.DAT"), f), Status::Success);
    const FileInfo& i = f->info();
    ASSERT_EQ(i.keys.size(), 3u);
    ASSERT_EQ(i.keys[0].segments.size(), 2u);
    EXPECT_EQ(i.keys[0].segments[0].position, 0u);
    EXPECT_EQ(i.keys[0].segments[1].position, 16u);
    EXPECT_EQ(i.keys[0].totalLength(), 32u);
    EXPECT_EQ(i.keys[1].segments.at(0).position, 0u);
    EXPECT_EQ(i.keys[2].segments.at(0).position, 16u);
    EXPECT_EQ(i.keys[0].segments[0].type, DataType::ZString);
    EXPECT_FALSE(i.keys[0].allowsDuplicates());
    EXPECT_TRUE(i.keys[1].allowsDuplicates());
    // Roots are logical pages 2, 3, 4; distinct values 73, 2, 73; entries 40, 28, 28.
    const uint32_t roots[] = {2, 3, 4}, unique[] = {73, 2, 73}, entry[] = {40, 28, 28};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(i.keys[k].rootPage, roots[k]);
        EXPECT_EQ(i.keys[k].uniqueCount, unique[k]);
        EXPECT_EQ(i.keys[k].entrySize, entry[k]);
    }
    EXPECT_EQ(i.keys[1].duplicateOffset, 952);
    // The GALCAPS table folds case.
    ASSERT_EQ(i.acsTables.size(), 1u);
    EXPECT_EQ(i.acsTables[0]['g'], i.acsTables[0]['G']);
    // Index roots through the page table: key 0 is one leaf with all 73 values,
    // key 1 holds its 2 values.
    std::string page;
    ASSERT_EQ(f->readLogicalPage(2, page), Status::Success);
    EXPECT_EQ(static_cast<uint8_t>(page[1]), 0x80);
    EXPECT_EQ(u16(page, 6), 73);
    ASSERT_EQ(f->readLogicalPage(3, page), Status::Success);
    EXPECT_EQ(u16(page, 6), 2);
    EXPECT_EQ(f->readLogicalPage(5000, page), Status::Corrupt);
}

TEST(CorpusRecords, Version6VariableMenuLengths) {
    REQUIRE_CORPUS("wbtrv32/WGSMENU2.DAT");
    auto r = filetest::readFile(corpus("wbtrv32/WGSMENU2.DAT"));
    ASSERT_EQ(r.scan, Status::Success);
    std::map<std::string, size_t> len;
    for (const auto& rec : r.records) len[zstr(rec, 0, 17)] = rec.size();
    EXPECT_EQ(len.size(), 46u);
    EXPECT_EQ(len["AACCOUNT"], 448u);
    EXPECT_EQ(len["ATOP"], 2214u);
    EXPECT_EQ(len["ANETWORK"], 1080u);
    EXPECT_EQ(len["CTOP"], 1962u);
}

TEST(CorpusRecords, NamedAcsTablesPerKey) {
    REQUIRE_CORPUS("wbtrv32/MULTIACS.DAT");
    std::unique_ptr<File> f;
    ASSERT_EQ(File::open(corpus("wbtrv32/MULTIACS.DAT"), f), Status::Success);
    const FileInfo& i = f->info();
    ASSERT_EQ(i.acsTables.size(), 2u);
    const int upper = i.keys.at(0).segments.at(0).acs;
    const int lower = i.keys.at(2).segments.at(0).acs;
    ASSERT_GE(upper, 0);
    ASSERT_GE(lower, 0);
    EXPECT_NE(upper, lower);
    EXPECT_EQ(i.acsTables[upper]['a'], 'A');  // ALLCAPS
    EXPECT_EQ(i.acsTables[lower]['A'], 'a');  // LOWER
}

TEST(CorpusRecords, Version95RecordsAndSystemData) {
    REQUIRE_CORPUS("actianui/Test_Table.mkd");
    REQUIRE_CORPUS("actianui/file.ddf");
    auto t = filetest::readFile(corpus("actianui/Test_Table.mkd"));
    ASSERT_EQ(t.scan, Status::Success);
    std::set<std::string> names;
    for (const auto& r : t.records) {
        std::string name = r.substr(5, 32);
        names.insert(name.substr(0, name.find_last_not_of(' ') + 1));
        EXPECT_EQ(static_cast<uint8_t>(r[38]), 22);  // DATE 22 Jan 2018
        EXPECT_EQ(static_cast<uint8_t>(r[39]), 1);
        EXPECT_EQ(u16(r, 40), 2018);
    }
    EXPECT_EQ(names, (std::set<std::string>{"k", "kavon"}));

    // The dictionary files carry 8 bytes of system data before the record: the
    // key over the record's first field is stored at 10 and read as 0.
    std::unique_ptr<File> f;
    ASSERT_EQ(File::open(corpus("actianui/file.ddf"), f), Status::Success);
    EXPECT_EQ(f->info().keys.at(0).segments.at(0).position, 0u);
    EXPECT_EQ(f->info().keys[0].segments[0].type, DataType::UnsignedBinary);
    std::set<std::string> tables;
    ASSERT_EQ(f->forEachRecord([&](RecordAddress, const std::string& r) {
        std::string n = r.substr(2, 20);
        tables.insert(n.substr(0, n.find_last_not_of(' ') + 1));
        return true;
    }), Status::Success);
    EXPECT_TRUE(tables.count("X$File"));
    EXPECT_TRUE(tables.count("X$Field"));
}

// Each decompressed record of these files starts with its own length as five
// ASCII digits, an application field independent of the compression.
TEST(CorpusRecords, CompressedRecordsCarryTheirOwnLength) {
    const char* files[] = {"ccc-fibu/D01-2024/FI0130.BTR", "ccc-fibu/D01-2024/FI1500.BTR",
                           "ccc-fibu/D01-2024/FI2100a.btr", "ccc-fibu/D01-2024/FI3100.btr",
                           "ccc-fibu/misc/DAT-ST1110.BTR", "ccc-fibu/misc/euroDOS-EXE-EURODATA.BTR",
                           "ccc-fibu/misc/DAT-SYFORM.BTR", "ccc-fibu/misc/DAT-D01-ST1100.BTR",
                           "ccc-fibu/misc/DAT-SYPARA.BTR", "ccc-fibu/misc/sypara.btr"};
    for (const char* rel : files) {
        SCOPED_TRACE(rel);
        if (!filetest::fs::exists(corpus(rel))) continue;
        auto r = filetest::readFile(corpus(rel));
        ASSERT_EQ(r.scan, Status::Success);
        ASSERT_FALSE(r.records.empty());
        for (const auto& rec : r.records) {
            ASSERT_GE(rec.size(), 5u);
            EXPECT_EQ(std::stoul(rec.substr(0, 5)), rec.size());
        }
    }
}

TEST(CorpusRecords, EncryptedParametersDecrypt) {
    REQUIRE_CORPUS("ccc-fibu/misc/DAT-SYPARA.BTR");
    auto r = filetest::readFile(corpus("ccc-fibu/misc/DAT-SYPARA.BTR"));
    ASSERT_EQ(r.scan, Status::Success);
    ASSERT_EQ(r.records.size(), 10u);
    bool copyright = false;
    for (const auto& rec : r.records) {
        EXPECT_EQ(rec.substr(0, 5), "01632");
        copyright |= rec.find("euroSOF") != std::string::npos;
    }
    EXPECT_TRUE(copyright);
}

TEST(CorpusRecords, CompressedKeysCountInTheDecompressedRecord) {
    REQUIRE_CORPUS("exchequer/BaseDemo/JOBS/JOBCTRL.DAT");
    REQUIRE_CORPUS("exchequer/v600-other/Common-Company.Dat");
    std::unique_ptr<File> f;
    ASSERT_EQ(File::open(corpus("exchequer/BaseDemo/JOBS/JOBCTRL.DAT"), f), Status::Success);
    const auto& k0 = f->info().keys.at(0);
    ASSERT_EQ(k0.segments.size(), 2u);
    EXPECT_EQ(k0.segments[0].position, 0u);
    EXPECT_EQ(k0.segments[0].length, 2u);
    EXPECT_EQ(k0.segments[1].position, 3u);
    EXPECT_EQ(k0.segments[1].length, 27u);

    ASSERT_EQ(File::open(corpus("exchequer/v600-other/Common-Company.Dat"), f), Status::Success);
    const FileInfo& i = f->info();
    const auto& c0 = i.keys.at(0);
    EXPECT_EQ(c0.rootPage, 2u);
    EXPECT_EQ(c0.entrySize, 15u);
    ASSERT_EQ(c0.segments.size(), 2u);
    EXPECT_EQ(c0.segments[1].position, 2u);
    EXPECT_EQ(c0.segments[1].length, 6u);
    ASSERT_GE(c0.segments[1].acs, 0);  // UPPERALT
    EXPECT_EQ(i.acsTables[c0.segments[1].acs]['a'], 'A');
    // Key 0's root, mapped through the 8.x page table: u32 logical page, u16 type.
    std::string root;
    ASSERT_EQ(f->readLogicalPage(2, root), Status::Success);
    EXPECT_EQ(u16(root, 4), 0x8000);
}

// Opening a large file and reading one record by address reads a handful of
// pages, not the file.
TEST(CorpusRecords, WorkGrowsWithWhatIsAsked) {
    const char* files[] = {"exchequer/BaseDemo/MISC/ExStkChk.Dat", "exchequer/ENTRPRSE-DDF/FIELD.DDF",
                           "ccc-fibu/D01-2024/FI3100.btr", "wbtrv32/VARIABLE.DAT"};
    for (const char* rel : files) {
        SCOPED_TRACE(rel);
        if (!filetest::fs::exists(corpus(rel))) continue;
        std::unique_ptr<File> f;
        ASSERT_EQ(File::open(corpus(rel), f), Status::Success);
        std::vector<RecordAddress> addresses;
        std::vector<std::string> records;
        ASSERT_EQ(f->forEachRecord([&](RecordAddress a, const std::string& r) {
            addresses.push_back(a);
            records.push_back(r);
            return true;
        }), Status::Success);
        const size_t pick = addresses.size() * 2 / 3;
        const RecordAddress a = addresses[pick];
        const uint32_t slot = (File::addressOffset(a) - File::addressOffset(f->addressOfSlot(0, 0))) /
                              f->info().physicalRecordLength;
        EXPECT_LT(slot, f->slotsPerPage());
        EXPECT_EQ(f->addressOfSlot(File::addressPage(a), slot), a);
        ASSERT_EQ(File::open(corpus(rel), f), Status::Success);
        EXPECT_LE(f->pageReads(), 8u);
        std::string r;
        ASSERT_EQ(f->readRecord(addresses[pick], r), Status::Success);
        EXPECT_EQ(r, records[pick]);
        EXPECT_LE(f->pageReads(), 24u);
    }
}

TEST(CorpusRecords, LaterPageTablePairsAreFollowed) {
    // Both files need more than the first page-table pair; record lengths are fixed
    // by the application.
    const std::pair<const char*, size_t> files[] = {{"exchequer/BaseDemo/JOBS/JobDet.Dat", 838},
                                                    {"exchequer/BaseDemo/MISC/ExStkChk.Dat", 532},
                                                    {"exchequer/BaseDemo/TRANS/Document.Dat", 1964},
                                                    {"exchequer/BaseDemo/CUST/CustSupp.Dat", 2119}};
    for (auto [rel, length] : files) {
        SCOPED_TRACE(rel);
        if (!filetest::fs::exists(corpus(rel))) continue;
        std::unique_ptr<File> f;
        ASSERT_EQ(File::open(corpus(rel), f), Status::Success);
        uint64_t n = 0;
        ASSERT_EQ(f->forEachRecord([&](RecordAddress, const std::string& r) {
            EXPECT_EQ(r.size(), length);
            return ++n, true;
        }), Status::Success);
        EXPECT_EQ(n, f->info().recordCount);
    }
}

}  // namespace
