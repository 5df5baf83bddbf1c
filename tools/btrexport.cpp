// btrexport: inspect a Btrieve file and export its records, without an engine.
//
//   btrexport --info FILE                    header facts, one a line
//   btrexport --raw [--key N] FILE           each live record as lowercase hex, key order
//   btrexport --layout NAME [--key N] FILE   CSV by a company-file layout, key order
//
// Records come in the order of key N (key 0 unless given); a file without keys is
// read in physical order. CSV follows RFC 4180 (CRLF line ends; fields holding a
// comma, quote, CR or LF are quoted, with inner quotes doubled) and is UTF-8, converted
// from Windows-1252: all 256 bytes map, the five bytes that code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) to the C1 control characters of the same value.
// Numbers are written in their shortest round-trip form, dates as yyyy-mm-dd (empty
// when the field holds no date), times as hh:mm:ss (.cc when there are hundredths),
// logicals as 0 or 1. Output is streamed.
//
// Exit status: 0 success, 1 a file that cannot be read (the message names the file
// and the status), 2 bad arguments (with the usage text).
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "btrieve/file.h"
#include "btrieve/status.h"
#include "btrieve/table.h"
#include "btrieve/value.h"
#include "data/layouts.h"

namespace {

using btrieve::Status;

const char kUsage[] =
    "usage: btrexport --info FILE\n"
    "       btrexport --raw [--key N] FILE\n"
    "       btrexport --layout customer|journal|permiss [--key N] FILE\n";

// Buffered writer over stdout: output never collects in memory beyond one buffer.
class Out {
public:
    Out() { buf_.reserve(kSize + 4096); }
    ~Out() { flush(); }
    void put(char c) { buf_.push_back(c); maybeFlush(); }
    void put(std::string_view s) { buf_.append(s); maybeFlush(); }
    std::string& raw() { return buf_; }
    void maybeFlush() { if (buf_.size() >= kSize) flush(); }
    bool flush() {
        if (!buf_.empty() && std::fwrite(buf_.data(), 1, buf_.size(), stdout) != buf_.size()) failed_ = true;
        buf_.clear();
        return !failed_;
    }
    bool finish() { return flush() && std::fflush(stdout) == 0 && !failed_; }

private:
    static constexpr size_t kSize = 1 << 16;
    std::string buf_;
    bool failed_ = false;
};

int fail(const std::string& file, Status st) {
    std::fprintf(stderr, "btrexport: %s: %s\n", file.c_str(), btrieve::statusText(st).c_str());
    return 1;
}

int usage(const char* why) {
    if (why) std::fprintf(stderr, "btrexport: %s\n", why);
    std::fputs(kUsage, stderr);
    return 2;
}

// UTF-8 of the Unicode code points of Windows-1252 bytes 0x80..0x9F.
const char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void appendUtf8(std::string& out, unsigned char b) {
    unsigned cp = b;
    if (b >= 0x80 && b <= 0x9F) cp = kHigh[b - 0x80];
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void appendCsvText(std::string& out, std::string_view text) {
    bool quote = false;
    for (char c : text)
        if (c == ',' || c == '"' || c == '\r' || c == '\n') { quote = true; break; }
    if (quote) out.push_back('"');
    for (char c : text) {
        if (c == '"') out.push_back('"');
        appendUtf8(out, static_cast<unsigned char>(c));
    }
    if (quote) out.push_back('"');
}

template <class T>
void appendNumber(std::string& out, T v) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    if (ec == std::errc()) out.append(buf, end);
}

void appendPadded(std::string& out, int v, int width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*d", width, v);
    out += buf;
}

void appendValue(std::string& out, const btrieve::Value& v) {
    if (auto* s = std::get_if<std::string>(&v)) appendCsvText(out, *s);
    else if (auto* i = std::get_if<int64_t>(&v)) appendNumber(out, *i);
    else if (auto* u = std::get_if<uint64_t>(&v)) appendNumber(out, *u);
    else if (auto* d = std::get_if<double>(&v)) appendNumber(out, *d);
    else if (auto* b = std::get_if<bool>(&v)) out.push_back(*b ? '1' : '0');
    else if (auto* dt = std::get_if<btrieve::Date>(&v)) {
        appendPadded(out, dt->year, 4);
        out.push_back('-');
        appendPadded(out, dt->month, 2);
        out.push_back('-');
        appendPadded(out, dt->day, 2);
    } else if (auto* t = std::get_if<btrieve::Time>(&v)) {
        appendPadded(out, t->hour, 2);
        out.push_back(':');
        appendPadded(out, t->minute, 2);
        out.push_back(':');
        appendPadded(out, t->second, 2);
        if (t->hundredths != 0) {
            out.push_back('.');
            appendPadded(out, t->hundredths, 2);
        }
    }
    // monostate and NoDate: an empty field.
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
    std::printf("keys: %zu\n", i.keys.size());
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
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// Visits every live record in the order of key (or physical order for a file without
// keys when no key was asked for). visit returns false to stop.
template <class Visit>
Status walk(const std::shared_ptr<btrieve::File>& file, int key, bool keyGiven, Visit&& visit) {
    if (file->info().keys.empty() && !keyGiven)
        return file->forEachRecord([&](btrieve::RecordAddress, const std::string& r) { return visit(r); });
    btrieve::Table table(file);
    Status st = table.setActiveKey(key);
    if (!btrieve::ok(st)) return st;
    for (st = table.moveFirst(); btrieve::ok(st); st = table.moveNext())
        if (!visit(table.currentRecord())) return Status::Success;
    return st == Status::EndOfFile ? Status::Success : st;
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
    static const char digits[] = "0123456789abcdef";
    Out out;
    st = walk(file, key, keyGiven, [&](const std::string& rec) {
        std::string& b = out.raw();
        const size_t at = b.size();
        b.resize(at + rec.size() * 2 + 1);
        char* p = b.data() + at;
        for (unsigned char c : rec) {
            *p++ = digits[c >> 4];
            *p++ = digits[c & 15];
        }
        *p = '\n';
        out.maybeFlush();
        return true;
    });
    const bool written = out.finish();
    if (!btrieve::ok(st)) return fail(path, st);
    return written ? 0 : fail("standard output", Status::IoError);
}

int runLayout(const layouts::Layout& layout, const std::string& path, int key, bool keyGiven) {
    Status st;
    auto file = openShared(path, layout.ownerName, st);
    if (!btrieve::ok(st)) return fail(path, st);
    Out out;
    for (size_t f = 0; f < layout.fields.size(); ++f) {
        if (f) out.raw().push_back(',');
        appendCsvText(out.raw(), layout.fields[f].name);
    }
    out.put("\r\n");
    Status fieldStatus = Status::Success;
    btrieve::Value value;
    st = walk(file, key, keyGiven, [&](const std::string& rec) {
        std::string& b = out.raw();
        for (size_t f = 0; f < layout.fields.size(); ++f) {
            if (f) b.push_back(',');
            fieldStatus = btrieve::decodeField(layout.fields[f], rec, value);
            if (!btrieve::ok(fieldStatus)) return false;
            appendValue(b, value);
        }
        b += "\r\n";
        out.maybeFlush();
        return true;
    });
    if (btrieve::ok(st)) st = fieldStatus;
    const bool written = out.finish();
    if (!btrieve::ok(st)) return fail(path, st);
    return written ? 0 : fail("standard output", Status::IoError);
}

bool parseKey(const char* text, int& out) {
    const char* end = text + std::strlen(text);
    auto [p, ec] = std::from_chars(text, end, out);
    return ec == std::errc() && p == end && out >= 0 && out < 128;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return usage(nullptr);
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
    return runLayout(*layout, path, key, keyGiven);
}
