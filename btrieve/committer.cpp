// Commits new versions of a 6.x file in place, as an engine does (see committer.h).
//
// The structures it reads and writes (integers little-endian):
//   FCR copies    physical pages 0 and 1; the current one has the higher usage
//                 count (u32 at 0x04); the page count (0x26, two u16 words, high
//                 first) is the file's length in pages
//   PAT pairs     physical pages 2 + k * (page size / 4) and the page after; the
//                 current copy has the highest usage count (u32 at 0x04) not above
//                 the current FCR's. "PP" at 0x00, u16 1 at 0x02, then from 0x08 one
//                 entry per logical page: [page 16-23][type][page 0-7][page 8-15],
//                 all zero for an unused logical page. Pair k maps logical pages
//                 k * E + 1 ... (k + 1) * E, E = page size / 4 - 2.
//   other pages   begin with their own logical number and type in the entry layout
//
// How a version is made: the writer lays the new record set out in a file of its
// own (no shadow pages, no deleted slots). Every logical page of that layout whose
// bytes differ from the current version's page of the same number goes into a
// free physical page of the live file; the others keep their physical page. The
// new page tables and FCR follow. The writer numbers logical pages and places
// records the same way for the same records, so a change to a few records changes
// only the pages around them and the index pages.

#include "btrieve/committer.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "btrieve/bytes.h"
#include "btrieve/file.h"
#include "btrieve/file_access.h"
#include "btrieve/formats.h"
#include "btrieve/writer.h"

namespace btrieve {
namespace {

namespace fcr = detail::fcr;
constexpr uint32_t kPatFirst = 2;
constexpr uint32_t kPatUsage = 0x04;
constexpr uint32_t kPatEntries = 0x08;  // entry of the pair's first logical page
constexpr uint8_t kDataPage = 0x44;
constexpr uint32_t kSlotsOffset = 6;    // a data page's first slot, after its page id and counter

void put16(std::string& b, size_t at, uint32_t v) {
    b[at] = static_cast<char>(v);
    b[at + 1] = static_cast<char>(v >> 8);
}
void put32(std::string& b, size_t at, uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}
void putSwapped(std::string& b, size_t at, uint32_t v) {
    put16(b, at, v >> 16);
    put16(b, at + 2, v & 0xFFFF);
}
void putPageId(std::string& b, size_t at, uint32_t page, uint8_t type) {
    b[at] = static_cast<char>(page >> 16);
    b[at + 1] = static_cast<char>(type);
    b[at + 2] = static_cast<char>(page);
    b[at + 3] = static_cast<char>(page >> 8);
}

using detail::OsFile;

Status writeAt(const OsFile& fd, const char* p, size_t n, uint64_t at) { return fd.writeAll(at, p, n); }

Status readAt(const OsFile& fd, std::string& out, size_t n, uint64_t at) {
    out.assign(n, '\0');
    return fd.readAll(at, out.data(), n);
}

// Writes a copy of an FCR or page table so that it turns current in one step: the
// body first, around its usage count, then the usage count alone.
Status writeCopy(const OsFile& fd, const std::string& page, uint64_t at, uint32_t usageAt) {
    if (Status s = writeAt(fd, page.data(), usageAt, at); !ok(s)) return s;
    const size_t rest = usageAt + 4;
    if (Status s = writeAt(fd, page.data() + rest, page.size() - rest, at + rest); !ok(s)) return s;
    return writeAt(fd, page.data() + usageAt, 4, at + usageAt);
}

// One version of a file as its FCR and page tables describe it.
struct Version {
    uint32_t pageSize = 0;
    uint64_t physicalPages = 0;
    uint32_t fcrPage = 0;  // physical page of the current FCR
    uint32_t usage = 0;
    std::vector<uint32_t> physical;  // by logical page; 0 for an unused one
    std::vector<uint8_t> type;
    std::vector<int> patCurrent;     // by pair: the current copy, 0 or 1

    uint32_t stride() const { return pageSize / 4; }
    uint32_t perPair() const { return detail::patEntries(detail::kV6, pageSize); }
    bool isTablePage(uint64_t p) const { return p >= kPatFirst && (p - kPatFirst) % stride() < 2; }
    uint64_t pairAt(uint32_t pair) const { return kPatFirst + uint64_t(pair) * stride(); }
    // Pairs that a file of this many pages holds.
    uint32_t pairsFor(uint64_t pages) const {
        return pages <= kPatFirst ? 0 : static_cast<uint32_t>((pages - kPatFirst + stride() - 1) / stride());
    }
};

// Reads bytes at an offset: Truncated past the end.
using ReadBytes = std::function<Status(uint64_t at, size_t n, std::string& out)>;

Status readVersion(const ReadBytes& read, uint64_t fileSize, Version& v) {
    std::string head;
    if (Status s = read(0, 0x10, head); !ok(s)) return s == Status::Truncated ? Status::NotBtrieveFile : s;
    detail::ByteReader h(head);
    v.pageSize = h.u16(fcr::PageSize);
    if (h.u32(fcr::Signature) != fcr::SignatureValue) return Status::UnsupportedVersion;
    if (v.pageSize < 512 || v.pageSize > 4096 || v.pageSize % 512 != 0) return Status::UnsupportedLayout;
    v.physicalPages = fileSize / v.pageSize;
    if (fileSize % v.pageSize != 0 || v.physicalPages < kPatFirst + 2) return Status::Corrupt;

    bool found = false;
    for (uint32_t copy = 0; copy < 2; ++copy) {
        std::string page;
        if (Status s = read(uint64_t(copy) * v.pageSize, v.pageSize, page); !ok(s)) return s;
        detail::ByteReader r(page);
        if (r.u32(fcr::Signature) != fcr::SignatureValue) continue;
        const uint32_t usage = r.u32(fcr::V6Usage);
        if (found && usage <= v.usage) continue;
        const uint16_t version = r.u16(fcr::Version);
        if (version != 0x0600 && version != 0x0610) return Status::UnsupportedVersion;
        found = true;
        v.usage = usage;
        v.fcrPage = copy;
    }
    if (!found) return Status::NotBtrieveFile;

    const uint32_t pairs = v.pairsFor(v.physicalPages);
    const uint32_t per = v.perPair();
    v.patCurrent.assign(pairs, -1);
    v.physical.assign(1, 0);
    v.type.assign(1, 0);
    for (uint32_t g = 0; g < pairs; ++g) {
        std::string copies[2];
        uint32_t best = 0;
        for (int m = 0; m < 2; ++m) {
            const uint64_t page = v.pairAt(g) + m;
            if (page >= v.physicalPages) continue;
            if (Status s = read(page * v.pageSize, v.pageSize, copies[m]); !ok(s)) return s;
            detail::ByteReader r(copies[m]);
            const uint32_t usage = r.u32(kPatUsage);
            if (r.u16(0) != 0x5050 || usage > v.usage) continue;  // above: a commit cut short
            if (v.patCurrent[g] < 0 || usage > best) {
                v.patCurrent[g] = m;
                best = usage;
            }
        }
        if (v.patCurrent[g] < 0) return Status::Corrupt;
        detail::ByteReader r(copies[v.patCurrent[g]]);
        for (uint32_t j = 0; j < per; ++j) {
            const uint64_t at = kPatEntries + 4ull * j;
            const uint8_t type = r.u8(at + 1);
            const uint32_t phys = r.patPage(at);
            v.physical.push_back(type ? phys : 0);
            v.type.push_back(type ? type : 0);
            if (type && (phys >= v.physicalPages || v.isTablePage(phys) || phys < kPatFirst))
                return Status::Corrupt;
        }
    }
    // Trailing unused entries name no page.
    while (v.physical.size() > 1 && v.physical.back() == 0) {
        v.physical.pop_back();
        v.type.pop_back();
    }
    return Status::Success;
}

// The writer's options that lay records out as the file has them.
Status optionsOf(const FileInfo& info, WriterOptions& o) {
    if (info.family != Family::V6 || (info.version != 0x0600 && info.version != 0x0610))
        return Status::UnsupportedVersion;
    if (info.compressed || info.encrypted || info.ownerSet || info.variable || !info.acsTables.empty() ||
        info.physicalRecordLength < info.recordLength + 2 || info.physicalRecordLength > info.pageSize - kSlotsOffset)
        return Status::UnsupportedLayout;
    o = WriterOptions{};
    o.pageSize = info.pageSize;
    o.recordLength = info.recordLength;
    o.version = info.version;
    o.staleShadows = false;
    o.deletedRecords = 0;
    for (const KeySpec& k : info.keys) {
        WriterKey wk;
        for (const KeySegment& s : k.segments) {
            if (s.acs >= 0) return Status::UnsupportedLayout;
            wk.segments.push_back(s);
        }
        o.keys.push_back(std::move(wk));
    }
    return Status::Success;
}

// A version laid out by the writer in a file of its own: its structures and bytes.
struct LaidOut {
    Version version;
    std::string bytes;
    std::string_view page(uint32_t logical) const {
        const uint32_t ps = version.pageSize;
        return std::string_view(bytes).substr(uint64_t(version.physical[logical]) * ps, ps);
    }
};

// Where a laid-out version goes in the live file.
struct Placement {
    std::vector<uint32_t> physical;  // by logical page; 0 for an unused one
    std::vector<uint8_t> type;
    std::vector<uint32_t> changed;   // logical pages whose bytes differ from the current version's
    uint64_t end = 0;                // the file's length in pages once they are written
    uint32_t pairs = 0;              // page-table pairs it needs
};

// An empty page-table copy: the signature and the table's number of 1.
void blankTable(std::string& page) {
    std::fill(page.begin(), page.end(), '\0');
    page[0] = page[1] = 'P';
    put16(page, 2, 1);
}

}  // namespace

class Committer::Impl {
public:
    Status open(const std::string& p, const CommitterOptions& o);
    Status commit(CommitSummary* summary, const std::function<bool(CommitStep)>& stopAfter);

    std::string path;
    CommitterOptions options;
    OsFile fd;
    WriterOptions layout;
    Version current;
    std::vector<std::string> pages;  // the current version's bytes, by logical page
    std::vector<std::string> staged, committed;
    uint32_t slotLength = 0;         // a data page's slots: usage word, record, pointers
    bool halted = false;             // a commit was stopped or failed part-way

private:
    Status layOut(LaidOut& next);
    Status place(const LaidOut& laid, Placement& out) const;
    Status addPairs(uint32_t pairs);
    Status writePages(const LaidOut& laid, const Placement& at);
    Status writePageTables(const Placement& at, uint32_t usage, std::vector<int>& patCurrent, uint32_t& written);
    Status writeControlRecord(const LaidOut& laid, uint64_t end, uint32_t usage, uint32_t fcrPage);
    void adopt(const LaidOut& laid, Placement&& at, std::vector<int>&& patCurrent, uint32_t usage, uint32_t fcrPage);
    // The end of a step: its writes reach the disk before the next step begins.
    Status stepDone() { return options.sync && !ok(fd.syncData()) ? Status::IoError : Status::Success; }
    Status halt(Status s) {
        halted = true;
        return s;
    }
};

Status Committer::Impl::open(const std::string& p, const CommitterOptions& o) {
    path = p;
    options = o;
    {
        std::unique_ptr<File> file;
        if (Status s = File::open(path, file, OpenOptions{{}, false}); !ok(s)) return s;
        if (Status s = optionsOf(file->info(), layout); !ok(s)) return s;
        slotLength = file->info().physicalRecordLength;
    }
    if (Status s = OsFile::openToWrite(path, fd); !ok(s)) return s;
    detail::FileFacts st;
    if (!ok(fd.facts(st))) return Status::IoError;
    const ReadBytes read = [&](uint64_t at, size_t n, std::string& out) { return readAt(fd, out, n, at); };
    if (Status s = readVersion(read, st.size, current); !ok(s)) return s;
    pages.assign(current.physical.size(), {});
    for (size_t l = 1; l < current.physical.size(); ++l)
        if (current.physical[l])
            if (Status s = readAt(fd, pages[l], current.pageSize, uint64_t(current.physical[l]) * current.pageSize);
                !ok(s))
                return s;
    // The records, read here rather than through the reader, by the same rule for
    // the current page tables that commits follow: a commit cut short after its
    // page tables leaves copies newer than the FCR, which do not count.
    const uint32_t slots = (current.pageSize - kSlotsOffset) / slotLength;
    for (size_t l = 1; l < pages.size(); ++l) {
        if (current.type[l] != kDataPage) continue;
        for (uint32_t i = 0; i < slots; ++i) {
            const size_t at = kSlotsOffset + size_t(i) * slotLength;
            if (pages[l][at] != 0 || pages[l][at + 1] != 0) staged.push_back(pages[l].substr(at + 2, layout.recordLength));
        }
    }
    committed = staged;
    return Status::Success;
}

// Lays the staged records out with the writer, in a file of its own that is read
// back whole and removed.
Status Committer::Impl::layOut(LaidOut& next) {
    static std::atomic<uint64_t> counter{0};
    // Where new versions are laid out: the scratch folder (TMPDIR, or /tmp).
    const std::string temp = detail::scratchFolder() + "/.committer-" + std::to_string(detail::processId()) + "-" +
                             std::to_string(counter++) + ".tmp";
    Status s = writeFile(temp, layout, staged);
    if (!ok(s)) return s;
    OsFile tfd;
    uint64_t size = 0;
    s = OsFile::openToRead(temp, tfd, size);
    detail::removeFile(temp);
    if (!ok(s)) return Status::IoError;
    std::string& bytes = next.bytes;
    s = readAt(tfd, bytes, static_cast<size_t>(size), 0);
    tfd.close();
    if (!ok(s)) return s;
    const ReadBytes read = [&](uint64_t at, size_t n, std::string& out) {
        if (at > bytes.size() || n > bytes.size() - at) return Status::Truncated;
        out.assign(bytes, at, n);
        return Status::Success;
    };
    return readVersion(read, bytes.size(), next.version);
}

// A page whose bytes are the current version's keeps its physical page; a changed
// one goes into a page no structure of the current version uses, or past the end.
Status Committer::Impl::place(const LaidOut& laid, Placement& out) const {
    const size_t logicalPages = laid.version.physical.size();
    out.physical.assign(logicalPages, 0);
    out.type = laid.version.type;
    std::vector<bool> inUse(current.physicalPages, false);
    for (size_t l = 1; l < current.physical.size(); ++l)
        if (current.physical[l]) inUse[current.physical[l]] = true;
    for (uint32_t l = 1; l < logicalPages; ++l) {
        if (!laid.version.physical[l]) continue;
        const bool same = l < current.physical.size() && current.physical[l] &&
                          current.type[l] == laid.version.type[l] && pages[l] == laid.page(l);
        if (same) out.physical[l] = current.physical[l];
        else out.changed.push_back(l);
    }
    const uint64_t oldEnd = current.physicalPages;
    uint64_t end = oldEnd;
    uint64_t free = kPatFirst;
    for (uint32_t l : out.changed) {
        while (free < oldEnd && (inUse[free] || current.isTablePage(free))) ++free;
        uint64_t p = 0;
        if (free < oldEnd) {
            p = free++;
        } else {  // none left: a new page at the end, past any page-table pair there
            while (current.isTablePage(end)) ++end;
            p = end++;
        }
        if (p > 0xFFFFFF) return Status::UnsupportedLayout;
        out.physical[l] = static_cast<uint32_t>(p);
    }
    // Enough pairs for the logical pages and for the file's new length, the last
    // one whole.
    out.pairs = std::max<uint32_t>(
        {static_cast<uint32_t>(current.patCurrent.size()), current.pairsFor(end),
         static_cast<uint32_t>((logicalPages - 1 + current.perPair() - 1) / current.perPair())});
    out.end = std::max<uint64_t>(end, current.pairAt(out.pairs - 1) + 2);
    return Status::Success;
}

// Step 0: pairs the file did not have yet, empty and older than any version, so
// that a reader finds a valid pair wherever the file is long enough for one.
Status Committer::Impl::addPairs(uint32_t pairs) {
    const uint32_t ps = current.pageSize;
    std::string page(ps, '\0');
    blankTable(page);
    for (uint32_t g = static_cast<uint32_t>(current.patCurrent.size()); g < pairs; ++g)
        for (int m = 0; m < 2; ++m)
            if (Status s = writeAt(fd, page.data(), ps, (current.pairAt(g) + m) * ps); !ok(s)) return s;
    return Status::Success;
}

// Step 1: the changed pages, into pages no structure of the current version uses.
Status Committer::Impl::writePages(const LaidOut& laid, const Placement& at) {
    const uint32_t ps = current.pageSize;
    for (uint32_t l : at.changed) {
        const std::string_view bytes = laid.page(l);
        if (Status s = writeAt(fd, bytes.data(), bytes.size(), uint64_t(at.physical[l]) * ps); !ok(s)) return s;
    }
    return Status::Success;
}

// Step 2: the other copy of each pair whose entries change; patCurrent becomes
// the pairs' current copies, written the number of copies written.
Status Committer::Impl::writePageTables(const Placement& at, uint32_t usage, std::vector<int>& patCurrent,
                                        uint32_t& written) {
    const uint32_t ps = current.pageSize;
    const uint32_t per = current.perPair();
    auto entryOf = [](const std::vector<uint32_t>& phys, const std::vector<uint8_t>& types, uint64_t l) {
        return l < phys.size() && phys[l] ? std::pair<uint32_t, uint8_t>(phys[l], types[l])
                                          : std::pair<uint32_t, uint8_t>(0, 0);
    };
    patCurrent = current.patCurrent;
    patCurrent.resize(at.pairs, 0);
    written = 0;
    std::string page(ps, '\0');
    for (uint32_t g = 0; g < at.pairs; ++g) {
        bool differs = false;
        for (uint32_t j = 1; j <= per && !differs; ++j) {
            const uint64_t l = uint64_t(g) * per + j;
            differs = entryOf(at.physical, at.type, l) != entryOf(current.physical, current.type, l);
        }
        if (!differs) continue;
        blankTable(page);
        put32(page, kPatUsage, usage);
        for (uint32_t j = 1; j <= per; ++j) {
            const auto [phys, t] = entryOf(at.physical, at.type, uint64_t(g) * per + j);
            if (phys) putPageId(page, kPatEntries + 4 * (j - 1), phys, t);
        }
        const int member = 1 - patCurrent[g];
        if (Status s = writeCopy(fd, page, (current.pairAt(g) + member) * ps, kPatUsage); !ok(s)) return s;
        patCurrent[g] = member;
        ++written;
    }
    return Status::Success;
}

// Step 3: the other FCR copy, the new version's, with the live file's length.
Status Committer::Impl::writeControlRecord(const LaidOut& laid, uint64_t end, uint32_t usage, uint32_t fcrPage) {
    const uint32_t ps = current.pageSize;
    std::string page(laid.bytes, uint64_t(laid.version.fcrPage) * ps, ps);
    put32(page, fcr::V6Usage, usage);
    put16(page, fcr::V6Stale, 0);
    putSwapped(page, fcr::PageCount, static_cast<uint32_t>(end));
    return writeCopy(fd, page, uint64_t(fcrPage) * ps, fcr::V6Usage);
}

// The version written becomes the current one.
void Committer::Impl::adopt(const LaidOut& laid, Placement&& at, std::vector<int>&& patCurrent, uint32_t usage,
                            uint32_t fcrPage) {
    const size_t logicalPages = laid.version.physical.size();
    for (uint32_t l : at.changed) pages.resize(std::max<size_t>(pages.size(), l + 1));
    pages.resize(logicalPages);
    for (uint32_t l : at.changed) pages[l].assign(laid.page(l));
    for (uint32_t l = 1; l < logicalPages; ++l)
        if (!at.physical[l]) pages[l].clear();
    current.physical = std::move(at.physical);
    current.type = std::move(at.type);
    current.patCurrent = std::move(patCurrent);
    current.physicalPages = at.end;
    current.usage = usage;
    current.fcrPage = fcrPage;
    committed = staged;
}

Status Committer::Impl::commit(CommitSummary* summary, const std::function<bool(CommitStep)>& stopAfter) {
    if (halted) return Status::InvalidOperation;
    LaidOut laid;
    if (Status s = layOut(laid); !ok(s)) {
        staged = committed;
        return s;
    }
    Placement at;
    if (Status s = place(laid, at); !ok(s)) return s;
    if (Status s = addPairs(at.pairs); !ok(s)) return halt(s);

    if (Status s = writePages(laid, at); !ok(s)) return halt(s);
    if (Status s = stepDone(); !ok(s)) return halt(s);
    if (stopAfter && stopAfter(CommitStep::Pages)) return halt(Status::Success);

    const uint32_t usage = current.usage + 1;
    std::vector<int> patCurrent;
    uint32_t tables = 0;
    if (Status s = writePageTables(at, usage, patCurrent, tables); !ok(s)) return halt(s);
    if (Status s = stepDone(); !ok(s)) return halt(s);
    if (stopAfter && stopAfter(CommitStep::PageTables)) return halt(Status::Success);

    const uint32_t fcrPage = 1 - current.fcrPage;
    if (Status s = writeControlRecord(laid, at.end, usage, fcrPage); !ok(s)) return halt(s);
    if (Status s = stepDone(); !ok(s)) return halt(s);

    if (summary) {
        summary->usage = usage;
        summary->pagesWritten = static_cast<uint32_t>(at.changed.size());
        summary->tablesWritten = tables;
        summary->physicalPages = static_cast<uint32_t>(at.end);
    }
    adopt(laid, std::move(at), std::move(patCurrent), usage, fcrPage);
    return Status::Success;
}

Committer::Committer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Committer::~Committer() = default;

Status Committer::open(const std::string& path, std::unique_ptr<Committer>& out, const CommitterOptions& options) {
    out.reset();
    auto impl = std::make_unique<Impl>();
    if (Status s = impl->open(path, options); !ok(s)) return s;
    out.reset(new Committer(std::move(impl)));
    return Status::Success;
}

const std::vector<std::string>& Committer::records() const { return impl_->staged; }

void Committer::insert(std::string record) { impl_->staged.push_back(std::move(record)); }

Status Committer::update(size_t index, std::string record) {
    if (index >= impl_->staged.size()) return Status::InvalidRecordAddress;
    impl_->staged[index] = std::move(record);
    return Status::Success;
}

Status Committer::erase(size_t index) {
    auto& r = impl_->staged;
    if (index >= r.size()) return Status::InvalidRecordAddress;
    if (index + 1 != r.size()) r[index] = std::move(r.back());
    r.pop_back();
    return Status::Success;
}

Status Committer::commit(CommitSummary* summary, const std::function<bool(CommitStep)>& stopAfter) {
    return impl_->commit(summary, stopAfter);
}

uint32_t Committer::usage() const { return impl_->current.usage; }

}  // namespace btrieve
