// btrexport: inspect a Btrieve file and export its records, without an engine.
//
//   btrexport --info FILE                    header facts, one a line
//   btrexport --raw [--key N] FILE           each live record as lowercase hex, key order
//   btrexport --layout NAME [--key N] FILE   CSV by a company-file layout, key order
//   btrexport --ddf DIR --list | --table NAME [--key N] | --sqlite OUT.db
//                                            the tables of a data dictionary
//                                            (btrexport_ddf.h)
//
// Records come in the order of key N (key 0 unless given), as the engine's index
// lists them: the records of one key value in the order of their duplicate chain
// (insertion order), and records whose key is null (flag 0x0200: any segment all
// null bytes; 0x0008: every segment) left out. A file without keys is read in
// physical order. CSV follows RFC 4180 (CRLF line ends; fields holding a
// comma, quote, CR or LF are quoted, with inner quotes doubled) and is UTF-8, converted
// from Windows-1252: all 256 bytes map, the five bytes that code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) to the C1 control characters of the same value.
// Numbers are written in their shortest round-trip form, dates as yyyy-mm-dd (empty
// when the field holds no date), times as hh:mm:ss (.cc when there are hundredths),
// logicals as 0 or 1 (see btrexport_csv.h). Output is streamed.
//
// Key order costs one pass over the file that keeps each record's key and address
// (never the record), a sort, and one fetch per record by address, which is cheap
// because the file is read through a read-only mapping. Rows are formatted in two
// threads, a block of rows each, and written in order.
//
// --layout first checks that the file is one the layout describes (its record length
// and keys) and refuses one that is not, saying what differs.
//
// Exit status: 0 success, 1 a file that cannot be read or does not fit the layout
// (the message names the file and the status or the difference), 2 bad arguments
// (with the usage text).
#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "btrieve/file.h"
#include "btrieve/index_btree.h"
#include "btrieve/table.h"
#include "btrieve/keys.h"
#include "btrieve/status.h"
#include "btrieve/value.h"
#include "data/layouts.h"
#include "tools/btrexport_csv.h"
#include "tools/btrexport_ddf.h"
#include "tools/btrexport_emit.h"
#include "tools/tool_platform.h"

namespace {

using btrieve::Status;
using btrexport::Format;
using btrexport::Out;
using btrexport::emitInOrder;
using btrexport::exportRecords;
using btrexport::keyOrder;

const char kUsage[] =
    "usage: btrexport --info FILE\n"
    "       btrexport --raw [--key N] FILE\n"
    "       btrexport --layout customer|journal|permiss [--key N] FILE\n";

int fail(const std::string& file, Status st, const std::string& damage = {}) {
    std::fprintf(stderr, "btrexport: %s: %s%s%s\n", file.c_str(), btrieve::statusText(st).c_str(),
                 damage.empty() ? "" : ": ", damage.c_str());
    return 1;
}

int usage(const char* why) {
    if (why) std::fprintf(stderr, "btrexport: %s\n", why);
    std::fputs(kUsage, stderr);
    std::fputs(btrexport::kDictionaryUsage, stderr);
    return 2;
}

const char* familyName(btrieve::Family f) {
    switch (f) {
    case btrieve::Family::Pre6: return "pre-6";
    case btrieve::Family::V6: return "6.x";
    case btrieve::Family::V8: return "8.x/9.x";
    }
    return "?";
}

const char* typeName(btrieve::DataType t) {
    using T = btrieve::DataType;
    switch (t) {
    case T::String: return "string";
    case T::Integer: return "integer";
    case T::Float: return "float";
    case T::Date: return "date";
    case T::Time: return "time";
    case T::Decimal: return "decimal";
    case T::Money: return "money";
    case T::Logical: return "logical";
    case T::Numeric: return "numeric";
    case T::BFloat: return "bfloat";
    case T::LString: return "lstring";
    case T::ZString: return "zstring";
    case T::Note: return "note";
    case T::LVar: return "lvar";
    case T::UnsignedBinary: return "unsigned binary";
    case T::AutoIncrement: return "autoincrement";
    case T::Bit: return "bit";
    case T::NumericSTS: return "numeric sts";
    case T::NumericSA: return "numeric sa";
    case T::Currency: return "currency";
    case T::Timestamp: return "timestamp";
    case T::WString: return "wstring";
    case T::WZString: return "wzstring";
    case T::OldString: return "old-style string";
    case T::OldBinary: return "old-style binary";
    }
    return "unknown";
}

std::string hex(unsigned v, int width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*x", width, v);
    return buf;
}

// How many records a key that leaves null keys out of its index does not list.
void printNullKeys(const btrieve::File& file, const btrieve::KeySpec& key) {
    if (!btrieve::hasNullValue(key)) return;
    std::string keys;
    std::vector<btrieve::RecordAddress> addresses;
    if (!btrieve::ok(btrieve::collectKeys(file, key, keys, addresses))) return;
    std::printf("key %d null keys left out: %llu\n", key.number,
                static_cast<unsigned long long>(btrieve::dropNullKeys(key, keys, addresses)));
}

// A tree that was given up on for the order of its entries alone: whether it still
// holds every record once (the collation, not the tree, is then what is wrong).
void printIndexListing(const btrieve::File& file, const btrieve::KeySpec& key, const std::string& index) {
    if (index.rfind("in-memory (fell back: ", 0) != 0) return;
    std::vector<btrieve::RecordAddress> order, listed;
    if (!btrieve::ok(keyOrder(file, key, order)) || !btrieve::treeListing(file, key, order, listed).empty()) return;
    std::printf("key %d index listing: every record once, in an order the key's collation does not give\n",
                key.number);
}

int runInfo(const std::string& path) {
    std::unique_ptr<btrieve::File> file;
    const Status st = btrieve::File::open(path, file);
    if (!btrieve::ok(st)) return fail(path, st);
    const btrieve::FileInfo& i = file->info();
    auto yes = [](bool b) { return b ? "yes" : "no"; };
    std::printf("format family: %s\n", familyName(i.family));
    std::printf("format version: %s\n", hex(i.version, 4).c_str());
    std::printf("page size: %u\n", i.pageSize);
    std::printf("record length: %u\n", i.recordLength);
    std::printf("physical record length: %u\n", i.physicalRecordLength);
    std::printf("record count: %llu\n", static_cast<unsigned long long>(i.recordCount));
    std::printf("page count: %llu\n", static_cast<unsigned long long>(i.pageCount));
    std::printf("file flags: %s\n", hex(i.fileFlags, 4).c_str());
    std::printf("owner name: %s\n", yes(i.ownerSet));
    std::printf("encrypted: %s\n", yes(i.encrypted));
    std::printf("variable records: %s\n", yes(i.variable));
    std::printf("compressed: %s\n", yes(i.compressed));
    std::printf("acs tables: %zu\n", i.acsTables.size());
    std::printf("reads: %s\n", file->readMethod().c_str());
    if (!i.controlRecordChoice.empty()) std::printf("control record: %s\n", i.controlRecordChoice.c_str());
    std::printf("keys: %zu\n", i.keys.size());
    // Which index serves each key: the file's own B-tree when it checks out over a
    // full walk, else the in-memory index and why.
    std::shared_ptr<const btrieve::File> shared(std::move(file));
    btrieve::Table table(shared);
    for (const auto& k : i.keys) {
        std::printf("key %d: %zu segment(s), length %u, duplicates %s\n", k.number, k.segments.size(),
                    k.totalLength(), yes(k.allowsDuplicates()));
        for (size_t s = 0; s < k.segments.size(); ++s) {
            const auto& seg = k.segments[s];
            std::printf("key %d segment %zu: position %u, length %u, type %u (%s), flags %s", k.number, s,
                        seg.position, seg.length, static_cast<unsigned>(seg.type), typeName(seg.type),
                        hex(seg.flags, 4).c_str());
            if (seg.acs >= 0) std::printf(", acs %d", seg.acs);
            std::printf("\n");
        }
        if (!k.damage.empty()) std::printf("key %d damage: %s\n", k.number, k.damage.c_str());
        // A walk that fails on the in-memory index too: the records cannot be read by this key.
        const Status walked = table.verifyIndex(k.number);
        std::string index = table.indexDescription(k.number);
        if (!btrieve::ok(walked) && index.rfind("unavailable", 0) != 0)
            index = "unavailable (" + btrieve::statusText(walked) + ", after " + index + ")";
        std::printf("key %d index: %s\n", k.number, index.c_str());
        printIndexListing(*shared, k, index);
        printNullKeys(*shared, k);
    }
    if (const std::string damage = shared->damage(); !damage.empty()) std::printf("damage: %s\n", damage.c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// ---- output --------------------------------------------------------------------

// The end of an export: on a failure, what was wrong and how many rows went out
// before it, so that output redirected to a file is not taken for the whole table.
int finishExport(const btrieve::File& file, Status st, size_t rows, Out& out) {
    const bool written = out.finish();
    if (!btrieve::ok(st)) {
        fail(file.path(), st, file.damage());
        if (rows > 0)
            std::fprintf(stderr, "btrexport: %s: %zu rows were written before the damage; the output is incomplete\n",
                         file.path().c_str(), rows);
        return 1;
    }
    return written ? 0 : fail("standard output", Status::IoError);
}

std::shared_ptr<btrieve::File> openShared(const std::string& path, const std::string& owner, Status& st) {
    std::unique_ptr<btrieve::File> file;
    btrieve::OpenOptions options;
    options.ownerName = owner;
    st = btrieve::File::open(path, file, options);
    return std::shared_ptr<btrieve::File>(std::move(file));
}

int runRaw(const std::string& path, int key, bool keyGiven) {
    Status st;
    auto file = openShared(path, "", st);
    if (!btrieve::ok(st)) return fail(path, st);
    Out out;
    size_t rows = 0;
    st = exportRecords(*file, key, keyGiven, out, [](csvout::Buffer& b, std::string_view rec, btrieve::Value&) {
        static const char digits[] = "0123456789abcdef";
        char* p = b.room(rec.size() * 2 + 1);
        for (unsigned char c : rec) {
            *p++ = digits[c >> 4];
            *p++ = digits[c & 15];
        }
        *p++ = '\n';
        b.advance(p);
        return Status::Success;
    }, &rows);
    return finishExport(*file, st, rows, out);
}

int runLayout(const std::string& name, const layouts::Layout& layout, const std::string& path, int key,
              bool keyGiven) {
    Status st;
    auto file = openShared(path, layout.ownerName, st);
    if (!btrieve::ok(st)) return fail(path, st);
    // Rows read through a layout the file does not follow would be garbage that
    // looks like data: refuse before the first one.
    const std::string diff = layouts::fileDifferences(layout, file->info());
    if (!diff.empty()) {
        std::fprintf(stderr, "btrexport: %s: does not fit the %s layout: %s\n", path.c_str(), name.c_str(),
                     diff.c_str());
        return 1;
    }
    Out out;
    for (size_t f = 0; f < layout.fields.size(); ++f) {
        if (f) out.raw().push_back(',');
        const std::string& name = layout.fields[f].name;
        out.raw().advance(csvout::putText(out.raw().room(3 * name.size() + 2), name));
    }
    out.put("\r\n");
    const csvout::RowWriter writer(layout.fields);
    size_t rows = 0;
    st = exportRecords(*file, key, keyGiven, out, [&writer](csvout::Buffer& b, std::string_view rec, btrieve::Value& v) {
        return writer.append(b, rec, v);
    }, &rows);
    return finishExport(*file, st, rows, out);
}

bool parseKey(const char* text, int& out) {
    const char* end = text + std::strlen(text);
    auto [p, ec] = std::from_chars(text, end, out);
    return ec == std::errc() && p == end && out >= 0 && out < 128;
}

}  // namespace

const char kHelp[] =
    "\n"
    "Reads a Btrieve file read-only, without a Btrieve engine.\n"
    "\n"
    "  --info FILE           the file's header facts, one \"name: value\" a line\n"
    "  --raw FILE            every live record as lowercase hex, one a line\n"
    "  --layout NAME FILE    every record as CSV (RFC 4180, UTF-8) by the record\n"
    "                        layout of a Peachtree company file: customer, journal\n"
    "                        or permiss\n"
    "  --key N               records in the order of key N (default 0); a file\n"
    "                        without keys is read in physical order\n"
    "%s"
    "  --help                show this text\n"
    "\n"
    "Exit status: 0 success, 1 a file that cannot be read, 2 bad arguments.\n";

int main(int argc, char** argv) {
    std::vector<std::string> args = tools::startTool(argc, argv);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
        std::fputs(btrexport::kDictionaryUsage, stdout);
        std::printf(kHelp, btrexport::kDictionaryHelp);
        return 0;
    }
    if (args.empty()) return usage(nullptr);
    if (args[0] == "--ddf") return btrexport::runDictionary(args);
    const std::string mode = args[0];
    std::string layoutName, path;
    int key = 0;
    bool keyGiven = false;
    size_t i = 1;
    if (mode == "--layout") {
        if (args.size() < 2) return usage("--layout needs a layout name");
        layoutName = args[1];
        i = 2;
    } else if (mode != "--info" && mode != "--raw") {
        return usage(("unknown option " + mode).c_str());
    }
    for (; i < args.size(); ++i) {
        if (args[i] == "--key" && mode != "--info") {
            if (keyGiven || i + 1 >= args.size() || !parseKey(args[i + 1].c_str(), key))
                return usage("--key needs one key number from 0 to 127");
            keyGiven = true;
            ++i;
        } else if (path.empty() && !args[i].empty() && args[i].rfind("--", 0) != 0) {
            path = args[i];
        } else {
            return usage(("unexpected argument " + args[i]).c_str());
        }
    }
    if (path.empty()) return usage("no file given");

    if (mode == "--info") return runInfo(path);
    if (mode == "--raw") return runRaw(path, key, keyGiven);
    const layouts::Layout* layout = layouts::byName(layoutName);
    if (!layout) return usage(("unknown layout " + layoutName).c_str());
    return runLayout(layoutName, *layout, path, key, keyGiven);
}
