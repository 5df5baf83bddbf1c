// Writes a 6.x-family Btrieve file the way an engine leaves it after a run of
// inserts and a few deletes: two FCR copies, PAT pairs, data pages, one B-tree per
// key, linked duplicate chains, and the stale copies shadow paging leaves behind.
//
// Integers are little-endian. "Swapped" = a 32-bit value as two u16 words, high
// word first. "Page id" = a 24-bit page number and a type byte in PAT-entry layout:
// [bits 16-23][type][bits 0-7][bits 8-15].
//
// FCR (physical pages 0 and 1; the current copy has the higher usage count): the
// fields and the segment descriptor tabled in formats.h, written as a 6.x engine leaves
// them. The values this writer puts there:
//   usage count        the current copy's is one higher than the stale copy's
//   stale marker       0 on the current copy, 0x4000 on the stale one
//   free-page list     FF FF FF FF (none); the 6.x marker at 0x22 is FF FF
//   first deleted slot the head of the deleted-slot chain, FF FF FF FF when none
//   slot length        2 + record length (+ 4 with variable tails) + 8 per
//                      duplicate key
//   page count         file size / page size
//   owner block        zero (no owner); 0x38 is FF with variable-length records
//   version            0x0600 or 0x0610
//   file flags         0x0001 with variable-length records, else 0
//   key segments       30-byte segment descriptors from 0x110, key after key, then
//                      the KAT: one u16 per key, the offset of its first descriptor
// Every segment descriptor of a key repeats the key-wide fields: the root (page id of
// the key's root, type 0x80 + key number), the distinct values, the total length,
// the entry size (4 + key length + 4, or + 8 with duplicates), the entries per
// index page ((page size - 12) / entry size) and half of that, and the duplicate
// pair's offset. Its flags carry the key's duplicate/modifiable/null bits, the
// segment's own descending/case bits, 0x0100 for an extended type, 0x0004 for an
// old-style binary segment and 0x0010 on all but the last segment. The position
// counts the slot's usage word (+ 2); the ACS page is 0 (none).
//
// PAT pairs at physical pages 2 + k * (page size / 4), each pair mapping logical
// pages k*E+1 .. (k+1)*E, E = page size / 4 - 2. Which member is current (the
// higher usage) alternates between pairs and with the seed.
//   0x00  2  "PP"
//   0x02  2  1
//   0x04  4  usage count: the FCR's on the current member, the stale FCR's on the other
//   4+4j  4  entry for logical page k*E + j: page id of the physical page, with the
//            page's type ('D' = 0x44, 0x80 + key for index pages); zero when unused
//
// Data page ('D')
//   0x00  4  own page id
//   0x04  2  0x8000 | writes to the page (inserts, and a delete counts as two)
//   0x06     slots of the physical record length, as many as fit
// Slot: u16 usage (1 live, 0 free), the record (the fixed part), with variable
// tails a 4-byte tail pointer, then per duplicate key the
// swapped addresses of the previous and next record with the same value
// (FF FF FF FF at the ends). A deleted slot keeps the bytes of the record it held,
// except that its first 4 record bytes link to the next deleted slot (the chain the
// FCR starts at 0x10, in address order). Unused slots are zero.
// Record address: logical page * page size + slot offset, pointing at the usage word.
//
// Tail pointer: [page bits 16-23][page bits 0-7][page bits 8-15][fragment] of the
// tail's first fragment, logical page; FF FF FF FF for a record without a tail.
//
// Variable page ('V'), filled in record order, a tail continuing on the next one
//   0x00  4  own page id
//   0x04  2  number of fragments
//   0x06  4  FF FF FF FF
//   0x0A  2  number of fragments n
//   0x0C     fragments back to back: a 4-byte pointer to the tail's next fragment
//            (FF FF FF FF on the last), then the tail's bytes
//   end      u16 offsets growing down: fragment i at page size - 2(i+1), and at
//            index n the end of the used area, so each fragment runs to the next
//            offset
//
// Index page (type 0x80 + key)
//   0x00  4  own page id
//   0x04  2  writes to the page
//   0x06  2  number of entries n
//   0x08  4  right-most child's page id, FF FF FF FF in a leaf
//   0x0C     n entries: left child page id (FF FF FF FF in a leaf), key bytes as
//            they stand in the record, swapped record address (duplicates: first
//            and last record of the value's chain)
// A true B-tree: inner entries are full entries, not repeated in the leaves. The
// shape is what ascending inserts leave: every node but the right-most of its level
// holds half a page of entries; a full page splits with its middle entry moving up.
//
// Layout of the file: logical pages 1..K are the keys' first roots, K+1.. the data
// pages, then the variable pages, then the other index pages. Physically the early empty roots come first
// (stale once the tree has data), then the data pages (with an older copy before
// some of them), then the index pages; so logical and physical numbers differ.
// When a tree grows past one page, its first root page becomes the right-most leaf
// and the root moves to a new page, as an engine's splits do. The stale FCR and
// PAT members describe the file as created: no records, empty roots.
//
// 8.0 files (version 0x0800; fixed-length records only) keep the same plan with
// the 8.x structures:
//   FCR copies    physical pages 0 and C, each C = max(2, 2048 / page size) pages;
//                 u16 usage at 0x06, page size / 256 at 0x2B, u16 key count at
//                 0x76, segment count at 0x78, KAT offset at 0x7A, file flags at
//                 0x190, record-pointer shift at 0x15F; 36-byte segment
//                 descriptors from 0x200 with the root as a plain u32 logical
//                 page, the KAT after them
//   PAT pairs     from physical page 4C, every E + 2C pages (E entries a pair):
//                 u16 pair number, "PP" at 0x03, u16 usage at 0x06, then 6-byte
//                 entries from 0x14 (logical 1): u32 physical page, u16 type (0x44
//                 data, 0x8000 + key index); FE FF FF FF 00 00 when unused
//   data page     u32 logical page, u16 0x0044, u16 0x8000 | writes; slots from 0x08
//   index page    u32 logical page, u16 0x8000 + key, u16 writes, u16 n, u32
//                 right-most child; entries from 0x0E with plain u32 children
//   record pointer  plain u32 (logical page << s) | slot index, s = max(4, bit
//                 width of the slots per page), in entries, chains and the FCR

#include "btrieve/writer.h"
#include "btrieve/value.h"

#include "btrieve/formats.h"
#include "btrieve/key_order.h"

#include "btrieve/file_access.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

namespace btrieve {
namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr uint8_t kTypeData = 0x44;
constexpr uint8_t kTypeVariable = 0x56;
namespace fcr = detail::fcr;
namespace segment = detail::fcr::segment;
constexpr uint32_t kFcrDescriptors = fcr::PackedDescriptors;
constexpr uint32_t kDescriptorSize = detail::kV6.descriptorSize;
using detail::kV8;
constexpr uint32_t kV8Descriptors = 0x200;     // where this writer puts an 8.0 file's descriptors
constexpr uint32_t kV8ShiftAt = 0x15F;   // FCR byte: the record pointers' slot bits
constexpr uint32_t kMaxPage24 = 0xFFFFFF;

void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}
void putSwapped(uint8_t* p, uint32_t v) {
    put16(p, v >> 16);
    put16(p + 2, v & 0xFFFF);
}
void putPageId(uint8_t* p, uint32_t page, uint8_t type) {
    p[0] = static_cast<uint8_t>(page >> 16);
    p[1] = type;
    p[2] = static_cast<uint8_t>(page);
    p[3] = static_cast<uint8_t>(page >> 8);
}

// splitmix64: small, fast, the same everywhere.
class Rng {
public:
    explicit Rng(uint64_t seed) : s_(seed) {}
    uint64_t next() {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint64_t below(uint64_t n) { return n ? next() % n : 0; }
private:
    uint64_t s_;
};

// ---- key order --------------------------------------------------------------
// The writer orders keys itself, so that the trees it writes do not depend on the
// reader's comparison code being right.

uint8_t fold(uint8_t c, bool caseless) {
    return (caseless && c >= 'a' && c <= 'z') ? static_cast<uint8_t>(c - 'a' + 'A') : c;
}

int compareBytes(const uint8_t* a, size_t na, const uint8_t* b, size_t nb, bool caseless) {
    size_t n = std::min(na, nb);
    for (size_t i = 0; i < n; ++i) {
        uint8_t x = fold(a[i], caseless), y = fold(b[i], caseless);
        if (x != y) return x < y ? -1 : 1;
    }
    return na == nb ? 0 : (na < nb ? -1 : 1);
}

int64_t signedLe(const uint8_t* p, uint32_t n) {
    uint64_t v = 0;
    for (uint32_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
    if (n < 8 && (p[n - 1] & 0x80)) v |= ~0ull << (8 * n);
    return static_cast<int64_t>(v);
}

int compareUnsignedLe(const uint8_t* a, const uint8_t* b, uint32_t n) {
    for (uint32_t i = n; i-- > 0;)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

double floatLe(const uint8_t* p, uint32_t n) {
    if (n == 4) {
        uint32_t bits = 0;
        for (int i = 0; i < 4; ++i) bits |= static_cast<uint32_t>(p[i]) << (8 * i);
        float f;
        std::memcpy(&f, &bits, 4);
        return f;
    }
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(p[i]) << (8 * i);
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}

// Basic floats have no byte order that follows their value: decoded, they compare as
// doubles.
double basicFloatLe(const uint8_t* p, uint32_t n) {
    Value v;
    if (!ok(decodeField({"", DataType::BFloat, 0, n}, std::string_view(reinterpret_cast<const char*>(p), n), v)))
        return 0;
    return std::get<double>(v);
}

int compareSegment(const KeySegment& s, const uint8_t* a, const uint8_t* b) {
    const uint32_t n = s.length;
    const bool caseless = (s.flags & keyflag::CaseInsensitive) != 0;
    int c = 0;
    switch (s.type) {
    case DataType::ZString: {
        size_t na = std::find(a, a + n, 0) - a, nb = std::find(b, b + n, 0) - b;
        c = compareBytes(a, na, b, nb, caseless);
        break;
    }
    case DataType::LString: {
        size_t na = std::min<size_t>(a[0], n - 1), nb = std::min<size_t>(b[0], n - 1);
        c = compareBytes(a + 1, na, b + 1, nb, caseless);
        break;
    }
    case DataType::Integer:
    case DataType::AutoIncrement: {
        const int64_t x = signedLe(a, n), y = signedLe(b, n);
        c = x < y ? -1 : x > y ? 1 : 0;
        break;
    }
    case DataType::UnsignedBinary:
    case DataType::OldBinary:
    case DataType::Logical:
    case DataType::Date:  // day, month, u16 year: little-endian order is date order
    case DataType::Time:  // hundredths, seconds, minutes, hours: likewise
        c = compareUnsignedLe(a, b, n);
        break;
    case DataType::Float: {
        double x = floatLe(a, n), y = floatLe(b, n);
        c = x < y ? -1 : x > y ? 1 : 0;
        break;
    }
    case DataType::BFloat: {
        double x = basicFloatLe(a, n), y = basicFloatLe(b, n);
        c = x < y ? -1 : x > y ? 1 : 0;
        break;
    }
    default:  // String, OldString
        c = compareBytes(a, n, b, n, caseless);
        break;
    }
    return (s.flags & keyflag::Descending) ? -c : c;
}

bool supportedSegment(const KeySegment& s) {
    const uint32_t n = s.length;
    switch (s.type) {
    case DataType::String: case DataType::OldString: case DataType::ZString:
        return true;
    case DataType::LString: return n >= 2;
    case DataType::Integer: return n == 1 || n == 2 || n == 4 || n == 8;
    case DataType::AutoIncrement: return n == 2 || n == 4;
    case DataType::UnsignedBinary: case DataType::OldBinary: return true;
    case DataType::Logical: return n == 1 || n == 2;
    case DataType::Float: case DataType::BFloat: return n == 4 || n == 8;
    case DataType::Date: case DataType::Time: return n == 4;
    default: return false;
    }
}

// ---- plans ------------------------------------------------------------------

struct Node {
    uint32_t logical = 0;
    std::vector<uint32_t> groups;    // entries: indexes of distinct values
    std::vector<uint32_t> children;  // logical pages, groups.size() + 1; empty in a leaf
};

struct KeyPlan {
    std::vector<KeySegment> segments;
    uint16_t keyFlags = 0;       // key-wide bits
    uint32_t keyLength = 0;
    bool duplicates = false;
    int dupPair = -1;            // index of the key's duplicate pair in the slot
    uint32_t entrySize = 0, maxEntries = 0, half = 0;
    bool nullable = false;

    std::string arena;           // keyLength bytes per record
    std::vector<bool> isNull;    // per record, when nullable
    std::vector<uint32_t> order; // non-null records in key order (stable)
    std::vector<uint32_t> groupStart;  // into order, one per distinct value, plus end
    std::vector<uint32_t> prev, next;  // per record, the chain neighbours (duplicates)

    uint32_t firstRoot = 0;      // logical page of the root as created
    uint32_t root = 0;
    std::vector<Node> nodes;     // creation order; the root is last
    uint32_t levels = 1;

    const uint8_t* key(uint32_t record) const {
        return reinterpret_cast<const uint8_t*>(arena.data()) + size_t(record) * keyLength;
    }
    int compare(uint32_t a, uint32_t b) const {
        const uint8_t* ka = key(a);
        const uint8_t* kb = key(b);
        for (const auto& s : segments) {
            if (int c = compareSegment(s, ka, kb)) return c;
            ka += s.length;
            kb += s.length;
        }
        return 0;
    }
};

// Buffers runs of consecutive physical pages into large writes.
class PageOutput {
public:
    PageOutput(const detail::OsFile& file, uint32_t pageSize) : file_(file), pageSize_(pageSize) {}
    Status write(uint32_t phys, const uint8_t* page) {
        if (!buf_.empty() && phys != start_ + pages_) {
            if (Status s = flush(); !ok(s)) return s;
        }
        if (buf_.empty()) start_ = phys;
        buf_.insert(buf_.end(), page, page + pageSize_);
        ++pages_;
        if (buf_.size() >= (1u << 20)) return flush();
        return Status::Success;
    }
    Status flush() {
        const uint64_t at = uint64_t{start_} * pageSize_;
        if (Status s = file_.writeAll(at, reinterpret_cast<const char*>(buf_.data()), buf_.size()); !ok(s))
            return s;
        buf_.clear();
        pages_ = 0;
        return Status::Success;
    }
private:
    const detail::OsFile& file_;
    uint32_t pageSize_;
    std::vector<uint8_t> buf_;
    uint32_t start_ = 0, pages_ = 0;
};

// Packs variable tails into 'V' pages in record order. Run dry (no page bytes) it
// only counts the pages, so the first pass can reserve their logical numbers.
class TailPacker {
public:
    using Flush = std::function<Status(uint32_t logical, const uint8_t* page)>;
    TailPacker(uint32_t pageSize, uint32_t firstLogical, bool dry)
        : ps_(pageSize), first_(firstLogical), dry_(dry), page_(dry ? 0 : pageSize) {}

    // Places a tail of n > 0 bytes and sets pointer to its first fragment.
    Status add(const char* data, size_t n, uint8_t pointer[4], const Flush& flush) {
        bool placed = false;
        while (n > 0) {
            if (!open_) {
                open_ = true;
                count_ = used_ = 0;
                if (!dry_) std::fill(page_.begin(), page_.end(), 0);
            }
            // Room for one more fragment and its offset entry, keeping the end entry.
            const int64_t space = int64_t(ps_) - 2 * (count_ + 2) - (0x0C + used_);
            if (space < 4 + 1 || count_ >= 254) {
                if (Status s = finishPage(flush); !ok(s)) return s;
                continue;
            }
            const uint32_t take = static_cast<uint32_t>(std::min<int64_t>(n, space - 4));
            const uint32_t logical = first_ + index_;
            if (!placed) {
                putPointer(pointer, logical, count_);
                placed = true;
            }
            const uint32_t at = 0x0C + used_;
            if (!dry_) {
                put16(&page_[ps_ - 2 * (count_ + 1)], at);
                if (n > take) putPointer(&page_[at], logical + 1, 0);
                else put32(&page_[at], kNone);
                std::memcpy(&page_[at + 4], data, take);
            }
            used_ += 4 + take;
            ++count_;
            data += take;
            n -= take;
            if (n > 0) {  // the rest starts the next page, as its pointer says
                if (Status s = finishPage(flush); !ok(s)) return s;
            }
        }
        return Status::Success;
    }
    Status finish(const Flush& flush) { return open_ ? finishPage(flush) : Status::Success; }
    uint32_t pages() const { return index_; }

    static void putPointer(uint8_t* p, uint32_t page, uint32_t fragment) {
        p[0] = static_cast<uint8_t>(page >> 16);
        p[1] = static_cast<uint8_t>(page);
        p[2] = static_cast<uint8_t>(page >> 8);
        p[3] = static_cast<uint8_t>(fragment);
    }

private:
    Status finishPage(const Flush& flush) {
        const uint32_t logical = first_ + index_;
        ++index_;
        open_ = false;
        if (dry_) return Status::Success;
        putPageId(page_.data(), logical, kTypeVariable);
        put16(&page_[4], count_);
        put32(&page_[6], kNone);
        put16(&page_[0x0A], count_);
        put16(&page_[ps_ - 2 * (count_ + 1)], 0x0C + used_);
        return flush(logical, page_.data());
    }

    uint32_t ps_, first_;
    bool dry_;
    std::vector<uint8_t> page_;
    bool open_ = false;
    uint32_t count_ = 0, used_ = 0, index_ = 0;
};

class Writer {
public:
    explicit Writer(const WriterOptions& o) : o_(o), rng_(0x5EEDull * 1000003u + o.seed) {}
    Status run(const std::string& path, const RecordGenerator& generate, WriteSummary* summary);

private:
    Status plan();
    Status gather(const RecordGenerator& generate);
    void place();
    Status sortKeys();
    void buildTree(KeyPlan& k);
    Status writeAll(const detail::OsFile& file, const RecordGenerator& generate);
    Status writeDataPages(PageOutput& out, const RecordGenerator& generate);
    Status putLiveSlot(uint8_t* p, std::string_view rec, uint64_t index, TailPacker& tails,
                       const TailPacker::Flush& flushTail);
    void putDeletedSlot(uint8_t* p, const std::string& ghost, uint32_t link) const;
    Status writeIndexPages(PageOutput& out);
    Status writeHeaders(PageOutput& out);
    void fillFcr(uint8_t* page, bool current) const;
    void fillIndexPage(uint8_t* page, const KeyPlan& k, int keyNo, uint32_t logical,
                       const uint32_t* groups, size_t n, const uint32_t* children,
                       uint32_t counter) const;

    bool isPatPosition(uint32_t phys) const {
        if (v8_) return phys < 2 * copyPages_ || (phys >= patFirst_ && (phys - patFirst_) % patStride_ < 2 * copyPages_);
        return phys >= 2 && (phys - 2) % (o_.pageSize / 4) < 2;
    }
    // A record pointer as entries, chains and the FCR store it.
    void putRecord(uint8_t* p, uint32_t address) const { v8_ ? put32(p, address) : putSwapped(p, address); }
    // A page's own number and type, or a child pointer, in the family's layout.
    void putOwnPage(uint8_t* p, uint32_t page, uint8_t type) const {
        if (!v8_) return putPageId(p, page, type);
        put32(p, page);
        put16(p + 4, type >= 0x80 ? 0x8000u + (type - 0x80u) : type);
    }
    void fillFcr8(uint8_t* page, bool current) const;
    // The physical page a PAT member maps logical to (0: none): the current member
    // the file as written, the stale one the file as created.
    uint32_t mapped(uint64_t logical, bool current) const {
        if (current || !o_.staleShadows) return logical < current_.size() ? current_[logical] : 0;
        return logical < stale_.size() ? stale_[logical] : 0;
    }
    void fillDescriptors(uint8_t* page, uint32_t descriptorsAt, uint32_t kat, bool asCreated) const;
    Status writeHeaders8(PageOutput& out);
    uint32_t allocPhysical() {
        while (isPatPosition(nextPhys_)) ++nextPhys_;
        return nextPhys_++;
    }
    uint32_t address(uint64_t slot) const {
        uint32_t page = keyCount_ + 1 + static_cast<uint32_t>(slot / slotsPerPage_);
        if (v8_) return page << shift_ | static_cast<uint32_t>(slot % slotsPerPage_);
        return page * o_.pageSize + 6 + static_cast<uint32_t>(slot % slotsPerPage_) * prl_;
    }
    void mapCurrent(uint32_t logical, uint32_t phys, uint8_t type) {
        if (current_.size() <= logical) current_.resize(logical + 1, 0);
        current_[logical] = phys;
        if (types_.size() <= logical) types_.resize(logical + 1, 0);
        types_[logical] = type;
    }

    const WriterOptions& o_;
    Rng rng_;
    bool v8_ = false;                   // an 8.0 file
    uint32_t slotsOffset_ = 6, indexHeader_ = 12;
    uint32_t copyPages_ = 1, patFirst_ = 2, patStride_ = 0, patEntries_ = 0;  // 8.0 geometry
    uint32_t shift_ = 0;                // 8.0: slot bits of a record pointer
    uint32_t keyCount_ = 0;
    uint32_t prl_ = 0, dupBase_ = 0, dupPairs_ = 0, segmentCount_ = 0;
    uint32_t tailPtr_ = 0;              // 4 with variable tails: the pointer's size
    uint32_t variablePages_ = 0;
    uint32_t slotsPerPage_ = 0;
    std::vector<KeyPlan> keys_;

    uint64_t records_ = 0;
    uint64_t slots_ = 0;
    std::vector<uint64_t> deleted_;     // slot numbers, ascending
    std::vector<uint32_t> addr_;        // per record
    uint32_t dataPages_ = 0;
    std::vector<bool> shadowed_;        // per data page: an older copy is written
    uint32_t nextLogical_ = 0;

    uint32_t nextPhys_ = 2;
    std::vector<uint32_t> current_;     // logical -> physical
    std::vector<uint8_t> types_;        // logical -> page type
    std::vector<uint32_t> stale_;       // logical -> physical in the stale PAT (0: none)
    uint32_t shadowPages_ = 0;
    uint32_t createdPages_ = 0;         // physical pages of the file as created
    uint32_t usage_ = 0;                // usage count of the current FCR and PATs
    uint32_t currentFcr_ = 0;
};

Status Writer::plan() {
    const uint32_t ps = o_.pageSize;
    if (ps < 512 || ps > 4096 || ps % 512 != 0) return Status::UnsupportedLayout;
    if (o_.version != 0x0600 && o_.version != 0x0610 && o_.version != 0x0800) return Status::UnsupportedVersion;
    if (o_.recordLength == 0) return Status::UnsupportedLayout;
    v8_ = o_.version == 0x0800;
    if (v8_) {
        if (o_.variable) return Status::UnsupportedLayout;  // 8.x variable pages: not written
        slotsOffset_ = kV8.slotsOffset;
        indexHeader_ = 14;
        copyPages_ = detail::copyPages(kV8, ps);
        patFirst_ = kV8.patFirstCopies * copyPages_;
        patEntries_ = detail::patEntries(kV8, ps);
        patStride_ = patEntries_ + 2 * copyPages_;
        nextPhys_ = 2 * copyPages_;
    }
    keyCount_ = static_cast<uint32_t>(o_.keys.size());
    if (keyCount_ > 119) return Status::UnsupportedLayout;

    keys_.resize(keyCount_);
    for (uint32_t i = 0; i < keyCount_; ++i) {
        const auto& in = o_.keys[i];
        KeyPlan& k = keys_[i];
        if (in.segments.empty()) return Status::UnsupportedLayout;
        const uint16_t first = in.segments.front().flags;
        if (first & (keyflag::RepeatingDuplicates | keyflag::Acs)) return Status::UnsupportedLayout;
        k.keyFlags = first & (keyflag::Duplicates | keyflag::Modifiable | keyflag::NullAll |
                              keyflag::NullAny);
        k.duplicates = (first & keyflag::Duplicates) != 0;
        k.nullable = (first & (keyflag::NullAll | keyflag::NullAny)) != 0;
        for (const auto& s : in.segments) {
            if (s.length == 0 || s.position > o_.recordLength ||
                s.length > o_.recordLength - s.position || !supportedSegment(s) ||
                (s.flags & keyflag::Acs))
                return Status::UnsupportedLayout;
            k.segments.push_back(s);
            k.keyLength += s.length;
        }
        if (k.keyLength > 255) return Status::UnsupportedLayout;
        segmentCount_ += static_cast<uint32_t>(in.segments.size());
        if (k.duplicates) k.dupPair = static_cast<int>(dupPairs_++);
        k.entrySize = 4 + k.keyLength + (k.duplicates ? 8 : 4);
        k.maxEntries = (ps - indexHeader_) / k.entrySize;
        k.half = k.maxEntries / 2;
        if (k.maxEntries < 4) return Status::UnsupportedLayout;
        k.firstRoot = i + 1;
    }
    if (v8_ ? kV8Descriptors + kV8.descriptorSize * segmentCount_ + 2 * keyCount_ > copyPages_ * ps
            : kFcrDescriptors + kDescriptorSize * segmentCount_ + 2 * keyCount_ > ps || segmentCount_ > 255)
        return Status::UnsupportedLayout;
    tailPtr_ = o_.variable ? 4 : 0;
    dupBase_ = 2 + o_.recordLength + tailPtr_;
    prl_ = dupBase_ + 8 * dupPairs_;
    if (prl_ > 0xFFFF || o_.recordLength > 0xFFFF || prl_ > ps - slotsOffset_) return Status::UnsupportedLayout;
    slotsPerPage_ = (ps - slotsOffset_) / prl_;
    shift_ = recordPointerShift(slotsPerPage_);
    return Status::Success;
}

Status Writer::gather(const RecordGenerator& generate) {
    records_ = 0;
    // Variable pages are numbered after the data pages, whose count is not known
    // yet; the dry run only counts them, so any first number does.
    TailPacker tails(o_.pageSize, 0, true);
    uint8_t pointer[4];
    Status s = generate([&](std::string_view rec) -> Status {
        if (rec.size() < o_.recordLength || (!o_.variable && rec.size() != o_.recordLength))
            return Status::InvalidOperation;
        if (rec.size() > o_.recordLength)
            if (Status st = tails.add(rec.data() + o_.recordLength, rec.size() - o_.recordLength,
                                      pointer, nullptr); !ok(st))
                return st;
        if (records_ >= kNone - 1) return Status::UnsupportedLayout;
        const auto* bytes = reinterpret_cast<const uint8_t*>(rec.data());
        for (auto& k : keys_) {
            bool allNull = true, anyNull = false;
            for (const auto& seg : k.segments) {
                k.arena.append(rec.data() + seg.position, seg.length);
                if (k.nullable) {
                    const uint8_t* p = bytes + seg.position;
                    bool segNull = std::all_of(p, p + seg.length,
                                               [&](uint8_t b) { return b == seg.nullValue; });
                    allNull = allNull && segNull;
                    anyNull = anyNull || segNull;
                }
            }
            if (k.nullable)
                k.isNull.push_back((k.keyFlags & keyflag::NullAny) ? anyNull : allNull);
        }
        ++records_;
        return Status::Success;
    });
    tails.finish(nullptr);
    variablePages_ = tails.pages();
    return s;
}

// Decides where every slot goes: which slots hold deleted records, which data
// pages get an older copy, and each record's address.
void Writer::place() {
    const uint64_t d = o_.deletedRecords;
    slots_ = records_ + d;
    // Selection sampling: d distinct slot numbers out of slots_, in order.
    deleted_.clear();
    uint64_t needed = d;
    for (uint64_t t = 0; t < slots_ && needed > 0; ++t)
        if (rng_.below(slots_ - t) < needed) {
            deleted_.push_back(t);
            --needed;
        }
    dataPages_ = static_cast<uint32_t>(std::max<uint64_t>(1, (slots_ + slotsPerPage_ - 1) / slotsPerPage_));
    shadowed_.assign(dataPages_, false);
    if (o_.staleShadows)
        for (uint32_t p = 0; p < dataPages_; ++p) shadowed_[p] = p == 0 || rng_.below(6) == 0;

    addr_.resize(records_);
    size_t di = 0;
    uint64_t slot = 0;
    for (uint64_t i = 0; i < records_; ++i, ++slot) {
        while (di < deleted_.size() && deleted_[di] == slot) ++di, ++slot;
        addr_[i] = address(slot);
    }
    nextLogical_ = keyCount_ + 1 + dataPages_ + variablePages_;
}

Status Writer::sortKeys() {
    for (auto& k : keys_) {
        k.order.clear();
        k.order.reserve(records_);
        for (uint32_t i = 0; i < records_; ++i)
            if (!k.nullable || !k.isNull[i]) k.order.push_back(i);
        std::stable_sort(k.order.begin(), k.order.end(),
                         [&](uint32_t a, uint32_t b) { return k.compare(a, b) < 0; });
        k.groupStart.clear();
        for (size_t i = 0; i < k.order.size(); ++i)
            if (i == 0 || k.compare(k.order[i - 1], k.order[i]) != 0)
                k.groupStart.push_back(static_cast<uint32_t>(i));
            else if (!k.duplicates)
                return Status::InvalidOperation;  // a repeated value in a unique key
        k.groupStart.push_back(static_cast<uint32_t>(k.order.size()));
        if (k.duplicates) {
            // order is stable, so a chain runs in insertion (= address) order
            k.prev.assign(records_, kNone);
            k.next.assign(records_, kNone);
            for (size_t g = 0; g + 1 < k.groupStart.size(); ++g)
                for (uint32_t i = k.groupStart[g] + 1; i < k.groupStart[g + 1]; ++i) {
                    k.prev[k.order[i]] = k.order[i - 1];
                    k.next[k.order[i - 1]] = k.order[i];
                }
        }
        buildTree(k);
    }
    return Status::Success;
}

// Builds the tree ascending inserts would leave (see the table at the top).
void Writer::buildTree(KeyPlan& k) {
    const uint32_t groups = static_cast<uint32_t>(k.groupStart.size() - 1);
    k.nodes.clear();
    k.levels = 1;
    if (groups <= k.maxEntries) {
        Node n;
        n.logical = k.firstRoot;
        n.groups.resize(groups);
        std::iota(n.groups.begin(), n.groups.end(), 0u);
        k.nodes.push_back(std::move(n));
        k.root = k.firstRoot;
        return;
    }
    std::vector<uint32_t> items(groups);
    std::iota(items.begin(), items.end(), 0u);
    std::vector<uint32_t> below;  // node indexes of the level below (empty for leaves)
    bool leafLevel = true;
    while (true) {
        std::vector<uint32_t> made, seps;
        const size_t n = items.size();
        size_t i = 0;
        auto makeNode = [&](size_t a, size_t b) {
            Node node;
            node.groups.assign(items.begin() + a, items.begin() + b);
            if (!leafLevel)
                for (size_t c = a; c <= b; ++c) node.children.push_back(k.nodes[below[c]].logical);
            made.push_back(static_cast<uint32_t>(k.nodes.size()));
            k.nodes.push_back(std::move(node));
        };
        while (n - i > k.maxEntries) {
            makeNode(i, i + k.half);
            seps.push_back(items[i + k.half]);
            i += k.half + 1;
        }
        makeNode(i, n);
        // Page numbers: the first root page ends up as the right-most leaf; every
        // other page is new, numbered as it is made.
        for (uint32_t idx : made) {
            bool rightmostLeaf = leafLevel && idx == made.back();
            k.nodes[idx].logical = rightmostLeaf ? k.firstRoot : nextLogical_++;
        }
        if (made.size() == 1) break;
        ++k.levels;
        items = std::move(seps);
        below = std::move(made);
        leafLevel = false;
    }
    k.root = k.nodes.back().logical;
}

void Writer::fillIndexPage(uint8_t* page, const KeyPlan& k, int keyNo, uint32_t logical,
                           const uint32_t* groups, size_t n, const uint32_t* children,
                           uint32_t counter) const {
    const uint8_t type = static_cast<uint8_t>(0x80 + keyNo);
    std::memset(page, 0, o_.pageSize);
    putOwnPage(page, logical, type);
    // 8.0 moves the counter, the count and the right-most child 2 bytes on.
    const uint32_t at = v8_ ? 6 : 4;
    put16(page + at, std::min<uint32_t>(counter, 0xFFFF));
    put16(page + at + 2, static_cast<uint32_t>(n));
    auto putChild = [&](uint8_t* p, uint32_t child) { v8_ ? put32(p, child) : putPageId(p, child, type); };
    if (children) putChild(page + at + 4, children[n]);
    else put32(page + at + 4, kNone);
    uint8_t* e = page + indexHeader_;
    for (size_t i = 0; i < n; ++i, e += k.entrySize) {
        if (children) putChild(e, children[i]);
        else put32(e, kNone);
        const uint32_t first = k.order[k.groupStart[groups[i]]];
        const uint32_t last = k.order[k.groupStart[groups[i] + 1] - 1];
        std::memcpy(e + 4, k.key(first), k.keyLength);
        putRecord(e + 4 + k.keyLength, addr_[first]);
        if (k.duplicates) putRecord(e + 8 + k.keyLength, addr_[last]);
    }
}

Status Writer::writeDataPages(PageOutput& out, const RecordGenerator& generate) {
    const uint32_t ps = o_.pageSize;
    std::vector<uint8_t> page(ps, 0), old(ps, 0);
    std::string ghost(o_.recordLength, '\0');  // bytes a deleted slot keeps
    uint32_t pageNo = 0, inPage = 0, writes = 0, lastLive = kNone;
    uint64_t slot = 0;
    size_t di = 0;
    Status failed = Status::Success;

    auto finishPage = [&]() -> Status {
        const uint32_t logical = keyCount_ + 1 + pageNo;
        putOwnPage(page.data(), logical, kTypeData);
        const uint32_t counterAt = slotsOffset_ - 2;
        put16(page.data() + counterAt, 0x8000 | std::min<uint32_t>(writes, 0x7FFF));
        if (shadowed_[pageNo]) {
            // The page as it was before its last insert.
            old = page;
            if (lastLive != kNone) std::memset(old.data() + slotsOffset_ + lastLive * prl_, 0, prl_);
            put16(old.data() + counterAt, 0x8000 | std::min<uint32_t>(writes ? writes - 1 : 0, 0x7FFF));
            if (Status s = out.write(allocPhysical(), old.data()); !ok(s)) return s;
            ++shadowPages_;
        }
        const uint32_t phys = allocPhysical();
        mapCurrent(logical, phys, kTypeData);
        if (Status s = out.write(phys, page.data()); !ok(s)) return s;
        std::fill(page.begin(), page.end(), 0);
        ++pageNo;
        inPage = writes = 0;
        lastLive = kNone;
        return Status::Success;
    };
    auto slotBytes = [&]() -> uint8_t* {
        return page.data() + slotsOffset_ + inPage * prl_;
    };
    auto advance = [&]() -> Status {
        ++slot;
        if (++inPage == slotsPerPage_) return finishPage();
        return Status::Success;
    };
    auto putDeleted = [&]() -> Status {
        const bool more = di + 1 < deleted_.size();
        putDeletedSlot(slotBytes(), ghost, more ? address(deleted_[di + 1]) : kNone);
        writes += 2;
        ++di;
        return advance();
    };

    TailPacker tails(ps, keyCount_ + 1 + dataPages_, false);
    const TailPacker::Flush flushTail = [&](uint32_t logical, const uint8_t* vp) -> Status {
        const uint32_t phys = allocPhysical();
        mapCurrent(logical, phys, kTypeVariable);
        return out.write(phys, vp);
    };
    uint64_t index = 0;
    Status s = generate([&](std::string_view rec) -> Status {
        if (rec.size() < o_.recordLength || (!o_.variable && rec.size() != o_.recordLength) ||
            index >= records_)
            return failed = Status::InvalidOperation;
        while (di < deleted_.size() && deleted_[di] == slot)
            if (Status st = putDeleted(); !ok(st)) return failed = st;
        if (Status st = putLiveSlot(slotBytes(), rec, index, tails, flushTail); !ok(st)) return failed = st;
        ghost.assign(rec.data(), o_.recordLength);
        lastLive = inPage;
        ++writes;
        ++index;
        if (Status st = advance(); !ok(st)) return failed = st;
        return Status::Success;
    });
    if (!ok(s)) return s;
    if (!ok(failed)) return failed;
    if (index != records_) return Status::InvalidOperation;  // the second pass differed
    while (di < deleted_.size())
        if (Status st = putDeleted(); !ok(st)) return st;
    if (inPage > 0 || pageNo == 0)
        if (Status st = finishPage(); !ok(st)) return st;
    if (Status st = tails.finish(flushTail); !ok(st)) return st;
    if (tails.pages() != variablePages_) return Status::InvalidOperation;  // passes differed
    return Status::Success;
}

// A deleted record's slot: a zero usage word, the bytes of the record before it
// with the link to the next deleted slot over its first four, and FF over the
// pointers after the record.
void Writer::putDeletedSlot(uint8_t* p, const std::string& ghost, uint32_t link) const {
    put16(p, 0);
    std::memcpy(p + 2, ghost.data(), o_.recordLength);
    uint8_t linkBytes[4];
    putRecord(linkBytes, link);
    std::memcpy(p + 2, linkBytes, std::min<uint32_t>(4, o_.recordLength));
    std::memset(p + 2 + o_.recordLength, 0xFF, tailPtr_ + 8 * dupPairs_);
}

// A live record's slot: usage word, record, variable-tail pointer (the tail goes to the
// packer) and the duplicate-chain pointers of each key with duplicates.
Status Writer::putLiveSlot(uint8_t* p, std::string_view rec, uint64_t index, TailPacker& tails,
                           const TailPacker::Flush& flushTail) {
    put16(p, 1);
    std::memcpy(p + 2, rec.data(), o_.recordLength);
    if (o_.variable) {
        put32(p + 2 + o_.recordLength, kNone);
        if (rec.size() > o_.recordLength)
            if (Status st = tails.add(rec.data() + o_.recordLength, rec.size() - o_.recordLength,
                                      p + 2 + o_.recordLength, flushTail); !ok(st))
                return st;
    }
    for (const auto& k : keys_) {
        if (!k.duplicates) continue;
        uint8_t* d = p + dupBase_ + 8 * k.dupPair;
        const uint32_t pr = k.prev[index], nx = k.next[index];
        putRecord(d, pr == kNone ? kNone : addr_[pr]);
        putRecord(d + 4, nx == kNone ? kNone : addr_[nx]);
    }
    return Status::Success;
}

Status Writer::writeIndexPages(PageOutput& out) {
    std::vector<uint8_t> page(o_.pageSize);
    for (uint32_t kn = 0; kn < keyCount_; ++kn) {
        const KeyPlan& k = keys_[kn];
        const uint8_t type = static_cast<uint8_t>(0x80 + kn);
        const uint32_t indexed = static_cast<uint32_t>(k.order.size());
        if (o_.staleShadows && k.levels > 1) {
            // The first root just before it split: a full leaf of the first values.
            std::vector<uint32_t> firstGroups(k.maxEntries);
            std::iota(firstGroups.begin(), firstGroups.end(), 0u);
            fillIndexPage(page.data(), k, kn, k.firstRoot, firstGroups.data(), firstGroups.size(),
                          nullptr, k.maxEntries);
            if (Status s = out.write(allocPhysical(), page.data()); !ok(s)) return s;
            ++shadowPages_;
        }
        for (const Node& n : k.nodes) {
            const bool firstRoot = n.logical == k.firstRoot;
            const uint32_t counter = firstRoot ? indexed + static_cast<uint32_t>(o_.deletedRecords)
                                               : static_cast<uint32_t>(n.groups.size());
            fillIndexPage(page.data(), k, kn, n.logical, n.groups.data(), n.groups.size(),
                          n.children.empty() ? nullptr : n.children.data(), counter);
            const uint32_t phys = allocPhysical();
            mapCurrent(n.logical, phys, type);
            if (Status s = out.write(phys, page.data()); !ok(s)) return s;
        }
    }
    return Status::Success;
}

void Writer::fillFcr(uint8_t* page, bool current) const {
    std::memset(page, 0, o_.pageSize);
    put32(page + fcr::Signature, fcr::SignatureValue);
    put32(page + fcr::V6Usage, current ? usage_ : usage_ - 1);
    put16(page + fcr::PageSize, o_.pageSize);
    put16(page + fcr::V6Stale, current ? 0 : 0x4000);
    put32(page + fcr::V6FreePages, kNone);
    // A stale copy from before any record was written knows no deleted slot.
    const bool asCreated = !current && o_.staleShadows;
    put32(page + fcr::FreeSlot, kNone);
    if (!asCreated && !deleted_.empty()) putSwapped(page + fcr::FreeSlot, address(deleted_.front()));
    put16(page + fcr::KeyCount, keyCount_);
    put16(page + fcr::RecordLength, o_.recordLength);
    put16(page + fcr::SlotLength, prl_);
    putSwapped(page + fcr::RecordCount, asCreated ? 0 : static_cast<uint32_t>(records_));
    put16(page + fcr::V6Marker, 0xFFFF);
    putSwapped(page + fcr::PageCount, asCreated ? createdPages_ : nextPhys_);
    if (o_.variable) page[fcr::VariableMark] = 0xFF;
    put16(page + fcr::Version, o_.version);
    put16(page + fcr::DuplicateOffset, dupPairs_ ? dupBase_ : 0);
    page[fcr::DuplicatePairs] = static_cast<uint8_t>(dupPairs_);
    page[fcr::KeyCount2] = static_cast<uint8_t>(keyCount_);
    page[fcr::V6SegmentCount] = static_cast<uint8_t>(segmentCount_);
    const uint32_t kat = kFcrDescriptors + kDescriptorSize * segmentCount_;
    put16(page + detail::kV6.katAt, kat);
    put16(page + detail::kV6.fileFlagsAt, o_.variable ? 0x0001 : 0);

    fillDescriptors(page, kFcrDescriptors, kat, asCreated);
}

Status Writer::writeHeaders(PageOutput& out) {
    if (v8_) return writeHeaders8(out);
    const uint32_t ps = o_.pageSize;
    const uint32_t perPat = ps / 4 - 2;
    std::vector<uint8_t> page(ps);
    const uint32_t logicalPages = static_cast<uint32_t>(current_.size() - 1);
    // Pairs: every one the logical pages need, and every one the file reaches.
    uint32_t pairs = (logicalPages + perPat - 1) / perPat;
    while (2 + pairs * (ps / 4) < nextPhys_) ++pairs;
    nextPhys_ = std::max(nextPhys_, 2 + (pairs - 1) * (ps / 4) + 2);  // the page count

    usage_ = 2 + o_.seed % 4;
    currentFcr_ = o_.seed & 1;
    for (uint32_t f = 0; f < 2; ++f) {
        fillFcr(page.data(), f == currentFcr_);
        if (Status s = out.write(f, page.data()); !ok(s)) return s;
    }
    for (uint32_t k = 0; k < pairs; ++k) {
        const uint32_t base = 2 + k * (ps / 4);
        const uint32_t cur = ((o_.seed >> 1) + k) & 1;
        for (uint32_t m = 0; m < 2; ++m) {
            const bool isCurrent = m == cur;
            std::fill(page.begin(), page.end(), 0);
            page[0] = 'P';
            page[1] = 'P';
            put16(page.data() + 2, 1);
            put32(page.data() + 4, isCurrent ? usage_ : usage_ - 1);
            for (uint32_t j = 1; j <= perPat; ++j) {
                const uint64_t logical = uint64_t(k) * perPat + j;
                const uint32_t phys = mapped(logical, isCurrent);
                if (phys) putPageId(page.data() + 4 + 4 * j, phys, types_[logical]);
            }
            if (Status s = out.write(base + m, page.data()); !ok(s)) return s;
        }
    }
    return out.flush();
}

// The segment descriptors from descriptorsAt, key after key, and the KAT at kat: one u16 per
// key, the offset of its first descriptor. Every descriptor of a key repeats the key-wide fields.
void Writer::fillDescriptors(uint8_t* page, uint32_t descriptorsAt, uint32_t kat, bool asCreated) const {
    const uint32_t descriptorSize = v8_ ? kV8.descriptorSize : kDescriptorSize;
    uint8_t* descriptorAt = page + descriptorsAt;
    for (uint32_t kn = 0; kn < keyCount_; ++kn) {
        const KeyPlan& k = keys_[kn];
        put16(page + kat + 2 * kn, static_cast<uint32_t>(descriptorAt - page));
        const uint32_t groups = static_cast<uint32_t>(k.groupStart.size() - 1);
        for (size_t si = 0; si < k.segments.size(); ++si, descriptorAt += descriptorSize) {
            const KeySegment& s = k.segments[si];
            uint16_t flags = k.keyFlags | (s.flags & (keyflag::Descending | keyflag::CaseInsensitive));
            if (si + 1 < k.segments.size()) flags |= keyflag::Segmented;
            uint8_t type = 0;
            if (s.type == DataType::OldBinary) flags |= keyflag::Binary;
            else if (s.type != DataType::OldString) {
                flags |= keyflag::ExtendedType;
                type = static_cast<uint8_t>(s.type);
            }
            const uint32_t root = asCreated ? k.firstRoot : k.root;
            if (v8_) {
                put32(descriptorAt + segment::Root, root);
                descriptorAt[0x18] = static_cast<uint8_t>(kn);  // 8.x: the key number
            } else {
                putPageId(descriptorAt + segment::Root, root, static_cast<uint8_t>(0x80 + kn));
            }
            putSwapped(descriptorAt + segment::Distinct, asCreated ? 0 : groups);
            put16(descriptorAt + segment::Flags, flags);
            put16(descriptorAt + segment::KeyLength, k.keyLength);
            put16(descriptorAt + segment::EntrySize, k.entrySize);
            put16(descriptorAt + segment::V6EntriesPerPage, k.maxEntries);
            put16(descriptorAt + segment::V6HalfEntries, k.half);
            put16(descriptorAt + segment::DuplicateOffset, k.duplicates ? dupBase_ + 8 * k.dupPair : 0);
            put16(descriptorAt + segment::Position, s.position + 2);
            put16(descriptorAt + segment::Length, s.length);
            descriptorAt[segment::ExtendedType] = type;
            descriptorAt[segment::NullValue] = s.nullValue;
        }
    }
}

void Writer::fillFcr8(uint8_t* page, bool current) const {
    const uint32_t bytes = copyPages_ * o_.pageSize;
    std::memset(page, 0, bytes);
    put32(page + fcr::Signature, fcr::SignatureValue);
    put16(page + kV8.usageAt, current ? usage_ : usage_ - 1);
    if (!current) put16(page + fcr::V6Stale, 0x4000);
    const bool asCreated = !current && o_.staleShadows;
    put32(page + fcr::FreeSlot, kNone);
    if (!asCreated && !deleted_.empty()) put32(page + fcr::FreeSlot, address(deleted_.front()));
    put16(page + fcr::KeyCount, keyCount_);
    put16(page + fcr::RecordLength, o_.recordLength);
    put16(page + fcr::SlotLength, prl_);
    putSwapped(page + fcr::RecordCount, asCreated ? 0 : static_cast<uint32_t>(records_));
    putSwapped(page + fcr::PageCount, asCreated ? createdPages_ : nextPhys_);
    page[kV8.pageSizeAt] = static_cast<uint8_t>(o_.pageSize / kV8.pageSizeUnit);
    put16(page + fcr::Version, o_.version);
    put16(page + fcr::DuplicateOffset, dupPairs_ ? dupBase_ : 0);
    page[fcr::DuplicatePairs] = static_cast<uint8_t>(dupPairs_);
    put16(page + kV8.keyCount2At, keyCount_);
    put16(page + 0x78, segmentCount_);
    put16(page + 0x106, 0xFFFF);
    put16(page + kV8.fileFlagsAt, 0);
    page[kV8ShiftAt] = static_cast<uint8_t>(shift_);
    const uint32_t kat = kV8Descriptors + kV8.descriptorSize * segmentCount_;
    put16(page + kV8.katAt, kat);

    fillDescriptors(page, kV8Descriptors, kat, asCreated);
}

Status Writer::writeHeaders8(PageOutput& out) {
    const uint32_t ps = o_.pageSize;
    const uint32_t copyBytes = copyPages_ * ps;
    std::vector<uint8_t> copy(copyBytes);
    const uint32_t logicalPages = static_cast<uint32_t>(current_.size() - 1);
    // Pairs: every one the logical pages need, and every one the file reaches.
    uint32_t pairs = std::max<uint32_t>(1, (logicalPages + patEntries_ - 1) / patEntries_);
    while (patFirst_ + pairs * patStride_ < nextPhys_) ++pairs;
    nextPhys_ = std::max(nextPhys_, patFirst_ + (pairs - 1) * patStride_ + 2 * copyPages_);  // the page count

    usage_ = 2 + o_.seed % 4;
    currentFcr_ = (o_.seed & 1) * copyPages_;
    auto writeCopy = [&](uint32_t first) -> Status {
        for (uint32_t i = 0; i < copyPages_; ++i)
            if (Status s = out.write(first + i, copy.data() + size_t(i) * ps); !ok(s)) return s;
        return Status::Success;
    };
    for (uint32_t f = 0; f < 2; ++f) {
        fillFcr8(copy.data(), f * copyPages_ == currentFcr_);
        if (Status s = writeCopy(f * copyPages_); !ok(s)) return s;
    }
    for (uint32_t g = 0; g < pairs; ++g) {
        const uint32_t base = patFirst_ + g * patStride_;
        const uint32_t cur = ((o_.seed >> 1) + g) & 1;
        for (uint32_t m = 0; m < 2; ++m) {
            const bool isCurrent = m == cur;
            std::fill(copy.begin(), copy.end(), 0);
            put16(copy.data(), g + 1);
            copy[3] = 'P';
            copy[4] = 'P';
            put16(copy.data() + 6, isCurrent ? usage_ : usage_ - 1);
            put16(copy.data() + 0x0A, 0xFFFF);
            for (uint32_t j = 1; j <= patEntries_; ++j) {
                const uint64_t logical = uint64_t(g) * patEntries_ + j;
                const uint32_t phys = mapped(logical, isCurrent);
                uint8_t* e = copy.data() + kV8.patEntryBase + size_t(j - 1) * kV8.patEntrySize;
                if (phys) {
                    put32(e, phys);
                    const uint8_t t = types_[logical];
                    put16(e + 4, t >= 0x80 ? 0x8000u + (t - 0x80u) : t);
                } else {
                    put32(e, 0xFFFFFFFEu);
                }
            }
            if (Status s = writeCopy(base + m * copyPages_); !ok(s)) return s;
        }
    }
    return out.flush();
}

Status Writer::writeAll(const detail::OsFile& file, const RecordGenerator& generate) {
    PageOutput out(file, o_.pageSize);
    std::vector<uint8_t> page(o_.pageSize);
    // The roots as the file was created, empty; stale once their trees hold data.
    if (o_.staleShadows) {
        stale_.assign(keyCount_ + 1, 0);
        for (uint32_t kn = 0; kn < keyCount_; ++kn) {
            fillIndexPage(page.data(), keys_[kn], static_cast<int>(kn), keys_[kn].firstRoot,
                          nullptr, 0, nullptr, 0);
            const uint32_t phys = allocPhysical();
            stale_[kn + 1] = phys;
            if (types_.size() <= kn + 1) types_.resize(kn + 2, 0);
            types_[kn + 1] = static_cast<uint8_t>(0x80 + kn);
            if (Status s = out.write(phys, page.data()); !ok(s)) return s;
            ++shadowPages_;
        }
    }
    createdPages_ = std::max<uint32_t>(nextPhys_, v8_ ? patFirst_ + 2 * copyPages_ : 4);
    if (Status s = writeDataPages(out, generate); !ok(s)) return s;
    if (Status s = writeIndexPages(out); !ok(s)) return s;
    if (nextPhys_ > kMaxPage24 || current_.size() > kMaxPage24) return Status::UnsupportedLayout;
    if (Status s = out.flush(); !ok(s)) return s;
    return writeHeaders(out);
}

Status Writer::run(const std::string& path, const RecordGenerator& generate, WriteSummary* summary) {
    if (Status s = plan(); !ok(s)) return s;
    if (detail::pathTaken(path)) return Status::InvalidOperation;  // never overwrite
    if (Status s = gather(generate); !ok(s)) return s;
    place();
    // Record addresses are 32 bits: the last data page must stay below 4 GiB.
    if ((uint64_t(keyCount_) + 1 + dataPages_) * (v8_ ? uint64_t{1} << shift_ : o_.pageSize) > 0xFFFFFFFFull)
        return Status::UnsupportedLayout;
    if (Status s = sortKeys(); !ok(s)) return s;
    if (nextLogical_ > kMaxPage24) return Status::UnsupportedLayout;

    detail::OsFile file;
    if (Status s = detail::OsFile::createNew(path, file); !ok(s)) return s;
    Status s = writeAll(file, generate);
    if (!ok(file.close()) && ok(s)) s = Status::IoError;
    if (!ok(s)) {
        detail::removeFile(path);  // our own half-written file, never someone else's
        return s;
    }
    if (summary) {
        *summary = WriteSummary{};
        summary->records = records_;
        summary->deletedRecords = deleted_.size();
        summary->physicalPages = nextPhys_;
        summary->logicalPages = static_cast<uint32_t>(current_.size() - 1);
        summary->dataPages = dataPages_;
        summary->shadowPages = shadowPages_;
        summary->currentFcr = currentFcr_;
        for (const auto& k : keys_) {
            summary->indexLevels.push_back(k.levels);
            summary->indexEntries.push_back(static_cast<uint32_t>(k.groupStart.size() - 1));
        }
    }
    return Status::Success;
}

}  // namespace

Status writeFile(const std::string& path, const WriterOptions& options,
                 const RecordGenerator& generate, WriteSummary* summary) {
    Writer w(options);
    return w.run(path, generate, summary);
}

Status writeFile(const std::string& path, const WriterOptions& options,
                 const std::vector<std::string>& records) {
    return writeFile(path, options, [&](const RecordEmitter& emit) -> Status {
        for (const auto& r : records)
            if (Status s = emit(r); !ok(s)) return s;
        return Status::Success;
    });
}

}  // namespace btrieve
