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
// Key order costs one pass to sort the keys and one pass per window of records held
// at once (160 MiB unless the environment variable BTREXPORT_WINDOW_BYTES says
// otherwise).
//
// Exit status: 0 success, 1 a file that cannot be read (the message names the file
// and the status), 2 bad arguments (with the usage text).
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "btrieve/file.h"
#include "btrieve/keys.h"
#include "btrieve/status.h"
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

// v in at least width digits, zero-padded (v is a date or time part, never negative).
void appendPadded(std::string& out, int v, int width) {
    char buf[16];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v < 0 ? 0 : v);
    for (int n = static_cast<int>(end - buf); n < width; ++n) out.push_back('0');
    if (ec == std::errc()) out.append(buf, end);
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

// Key order without random reads: one pass keeps each record's key bytes (never the
// record) and sorts the visiting ordinals by key with a stable sort, so duplicates stay
// in physical order (the order the engine's navigation gives). Then each further pass
// collects the records of the next window of ranks, up to kWindowBytes of records, and
// emits them; a whole pass is sequential, where fetching records one by one in key
// order would read pages at random.
// The environment variable BTREXPORT_WINDOW_BYTES lowers or raises that cap.
size_t windowBytes() {
    size_t bytes = size_t(160) << 20;
    if (const char* env = std::getenv("BTREXPORT_WINDOW_BYTES")) {
        size_t v = 0;
        const char* end = env + std::strlen(env);
        auto [p, ec] = std::from_chars(env, end, v);
        if (ec == std::errc() && p == end && v > 0) bytes = v;
    }
    return bytes;
}

template <class Visit>
Status walkByKey(const btrieve::File& file, const btrieve::KeySpec& key, Visit&& visit) {
    const btrieve::FileInfo& info = file.info();
    const size_t keyLength = key.totalLength();
    std::string keys;
    uint64_t totalBytes = 0;
    uint32_t count = 0;
    Status st = file.forEachRecord([&](btrieve::RecordAddress, const std::string& rec) {
        const std::string k = btrieve::extractKey(key, rec);
        keys.append(k, 0, keyLength);
        keys.resize(static_cast<size_t>(count + 1) * keyLength, '\0');
        totalBytes += rec.size();
        return ++count != UINT32_MAX;
    });
    if (!btrieve::ok(st)) return st;
    std::vector<uint32_t> order(count);
    for (uint32_t i = 0; i < count; ++i) order[i] = i;
    const std::string_view all(keys);
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        return btrieve::compareKeys(key, info, all.substr(size_t(a) * keyLength, keyLength),
                                    all.substr(size_t(b) * keyLength, keyLength)) < 0;
    });
    std::string().swap(keys);
    std::vector<uint32_t> rank(count);
    for (uint32_t r = 0; r < count; ++r) rank[order[r]] = r;
    std::vector<uint32_t>().swap(order);

    const uint64_t average = count ? std::max<uint64_t>(1, totalBytes / count) : 1;
    const uint32_t window = static_cast<uint32_t>(std::clamp<uint64_t>(windowBytes() / average, 1, UINT32_MAX));
    std::string data;
    std::vector<std::pair<size_t, size_t>> slots;
    for (uint32_t from = 0; from < count; from += std::min(window, count - from)) {
        const uint32_t to = from + std::min(window, count - from);
        data.clear();
        slots.assign(to - from, {0, 0});
        uint32_t ordinal = 0, collected = 0;
        st = file.forEachRecord([&](btrieve::RecordAddress, const std::string& rec) {
            if (ordinal >= count) return false;
            const uint32_t r = rank[ordinal++];
            if (r >= from && r < to) {
                slots[r - from] = {data.size(), rec.size()};
                data += rec;
                ++collected;
            }
            return collected < to - from;
        });
        if (!btrieve::ok(st)) return st;
        if (collected != to - from) return Status::Corrupt;  // the file changed under us
        for (const auto& [at, length] : slots)
            if (!visit(std::string_view(data).substr(at, length))) return Status::Success;
    }
    return Status::Success;
}

// Visits every live record in the order of key (or physical order for a file without
// keys when no key was asked for). visit returns false to stop.
template <class Visit>
Status walk(const std::shared_ptr<btrieve::File>& file, int key, bool keyGiven, Visit&& visit) {
    const btrieve::FileInfo& info = file->info();
    if (info.keys.empty() && !keyGiven)
        return file->forEachRecord([&](btrieve::RecordAddress, const std::string& r) {
            return visit(std::string_view(r));
        });
    for (const auto& k : info.keys)
        if (k.number == key) return walkByKey(*file, k, visit);
    return Status::InvalidKeyNumber;
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
    st = walk(file, key, keyGiven, [&](std::string_view rec) {
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
    st = walk(file, key, keyGiven, [&](std::string_view rec) {
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
