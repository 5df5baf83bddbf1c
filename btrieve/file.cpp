// btrieve::File: opens the file, reads the header (fcr.cpp), sets up decryption,
// loads the ACS tables, and walks data pages (records.cpp) through the page map
// (pat.cpp).
//
// ACS page (offsets in the page):
//   pre-6, 6.x   0x00 6  page id; 0x06 1  0xAC; 0x07 8  name; 0x0F 256  the table
//   8.x, 9.5     0x00 8  page id;  0x08 1  0xAC; 0x09 8  name; 0x11 256  the table
//                (9.5 may carry one more u16 before the signature)
//   A signature 0xAD (a code-page ACS) stores no table and is refused.
#include "btrieve/file.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <map>
#include <mutex>
#include <thread>
#include <vector>


#include "btrieve/bytes.h"
#include "btrieve/parallel.h"
#include "btrieve/fcr.h"
#include "btrieve/file_access.h"
#include "btrieve/pages.h"
#include "btrieve/pat.h"
#include "btrieve/records.h"

namespace btrieve {

using namespace detail;

// What tells one committed version of the file from the next, taken with one stat
// and a few small reads: the file at the path (device and inode, so that a file put
// in its place is seen), its size and modification time, and the bytes a commit
// changes. An engine commits a 6.x or later file by writing new copies of the
// changed pages into free pages, then a new page-table copy, then the other
// control record copy with a higher usage count; so the usage counts of both
// control record copies and of the first page-table pair are the marks. A pre-6
// file is written in place: its whole control record is the mark.
struct Stamp {
    uint64_t device = 0, inode = 0, size = 0;
    int64_t modifiedSeconds = 0, modifiedNanoseconds = 0;
    std::string marks;
    bool operator==(const Stamp&) const = default;
};

class File::Impl {
public:
    std::string path;
    std::string where;  // path made absolute at open
    OpenOptions options;
    Stamp stamp;  // the version read, taken once the header and tables were read
    mutable std::atomic<int64_t> lastPathLook{INT64_MIN / 2};  // steady clock, microseconds
    std::unique_ptr<PageStore> store;
    Layout layout;
    std::unique_ptr<PageMap> map;
    std::unique_ptr<RecordReader> records;

    // Physical page of each logical data page (kNotData for other pages), taken
    // from the page table by the first whole scan, so that reads by address after
    // it need no page-table lookup. Published once; read without a lock.
    static constexpr uint32_t kNotData = 0xFFFFFFFFu;
    mutable std::mutex directoryMutex;
    mutable std::unique_ptr<const std::vector<uint32_t>> directoryOwner;
    mutable std::atomic<const std::vector<uint32_t>*> directory{nullptr};
    void publishDirectory(std::vector<uint32_t>&& pages) const;
    // A data page through the directory; false when the directory cannot say.
    bool directPage(uint32_t logical, Status& s, PageRef& page, RecordReader::PageKind& kind) const;

    Status loadAcs();
    Status load();
    // What follows the header: the page map, the record reader, the ACS tables.
    Status loadTables();
    // Reads the file by the control record copy at page, and checks that its
    // tables and records bear it out.
    Status tryCopy(uint32_t page);
    // The copy to read by when the usage counts could not choose.
    Status chooseControlRecord();
    // Findings of checks above the record reader (the key order's, the index's).
    DamageNote damage;
    // The stamp of the file now; withPath false leaves out what a stat of the path
    // tells (for the look after a read, which asks only whether a commit landed).
    Status takeStamp(Stamp& out, bool withPath) const;
    std::vector<std::pair<uint64_t, uint32_t>> markSpans;  // offset and length of each mark
    void placeMarks();
    // The usage count of the current control record copy in a stamp's marks.
    uint64_t stampedUsage(const Stamp& st) const;
    Status slotAt(RecordAddress addr, PageRef& page, std::string_view& slot) const;
    // Every live record in physical order; visit(part, address, slot) returns
    // EndOfFile to stop. parts > 1 splits the pages into that many runs scanned at
    // once in threads of their own (where pages are views of the mapping); part p
    // gets its run's records in order, and the runs follow one another.
    // reads: the bytes of each slot the visitor looks at, when known (the rest of
    // the page is then not loaded ahead); empty for all of them.
    template <class Visit>
    Status scan(unsigned parts, Visit&& visit, std::pair<uint32_t, uint32_t> reads = {0, 0},
                PassedPages passed = PassedPages::Release) const;
    // A status for a read that succeeded: Truncated when the file shrank meanwhile.
    // (A page that went to zeros may also have failed a check: the cause is the cut.)
    Status settle(Status s) const { return store->truncated() ? Status::Truncated : s; }
};

namespace {

Status loadAcsPage(const File::Impl& f, uint32_t page, AcsTable& out) {
    PageRef bytes;
    Status s = f.map->read(page, f.layout.pat == PatKind::None ? pagetype::Unused : pagetype::Acs, bytes);
    if (!ok(s)) return s;
    ByteReader r(*bytes);
    for (uint32_t at : f.layout.info.format->acsSignatureAt) {
        if (at == 0) continue;
        const uint8_t sig = r.u8(at);
        if (sig == 0xAD) return Status::UnsupportedLayout;
        if (sig != 0xAC) continue;
        std::string_view table = r.slice(at + 9, 256);
        if (!r.ok()) return Status::Corrupt;
        for (size_t i = 0; i < 256; ++i) out[i] = static_cast<uint8_t>(table[i]);
        return Status::Success;
    }
    return Status::Corrupt;
}

}  // namespace

// Keys flagged ACS use the table their segment descriptor names (6.x and later), else the
// file's default table: physical page 1 in pre-6 files, the first 'A' page of the
// page table otherwise.
Status File::Impl::loadAcs() {
    std::map<uint32_t, int> loaded;  // ACS page -> index in acsTables
    uint32_t defaultPage = 0;
    bool defaultKnown = false;
    for (size_t k = 0; k < layout.info.keys.size(); ++k) {
        auto& segments = layout.info.keys[k].segments;
        for (size_t i = 0; i < segments.size(); ++i) {
            if (!(segments[i].flags & keyflag::Acs)) continue;
            uint32_t page = layout.acsRefs[k][i];
            if (layout.pat != PatKind::None && page != 0) {
                PageEntry e;
                Status s = map->lookup(page, e);
                if (!ok(s)) return s;
                if (e.type != pagetype::Acs) page = 0;
            } else {
                page = 0;
            }
            if (page == 0) {
                if (!defaultKnown) {
                    if (layout.pat == PatKind::None) {
                        defaultPage = 1;
                    } else {
                        Status s = map->forEach([&](uint32_t logical, const PageEntry& e) {
                            if (e.type != pagetype::Acs) return true;
                            defaultPage = logical;
                            return false;
                        });
                        if (!ok(s)) return s;
                        if (defaultPage == 0) return Status::Corrupt;
                    }
                    defaultKnown = true;
                }
                page = defaultPage;
            }
            auto it = loaded.find(page);
            if (it == loaded.end()) {
                AcsTable table{};
                Status s = loadAcsPage(*this, page, table);
                if (!ok(s)) return s;
                layout.info.acsTables.push_back(table);
                it = loaded.emplace(page, static_cast<int>(layout.info.acsTables.size() - 1)).first;
            }
            segments[i].acs = it->second;
        }
    }
    return Status::Success;
}

Status File::Impl::slotAt(RecordAddress addr, PageRef& page, std::string_view& slot) const {
    const uint32_t pageNo = addressPage(addr);
    const uint32_t offset = addressOffset(addr);
    const uint32_t prl = layout.info.physicalRecordLength;
    if (offset < layout.slotsOffset || (offset - layout.slotsOffset) % prl != 0 ||
        (offset - layout.slotsOffset) / prl >= layout.slotsPerPage)
        return Status::InvalidRecordAddress;
    if (layout.pat == PatKind::None && pageNo >= store->physicalPages()) return Status::InvalidRecordAddress;
    RecordReader::PageKind kind;
    Status s;
    if (!directPage(pageNo, s, page, kind)) s = records->dataPage(pageNo, page, kind);
    if (!ok(s)) return s;
    if (kind != RecordReader::PageKind::Data) return Status::InvalidRecordAddress;
    slot = std::string_view(*page).substr(offset, prl);
    bool live = false;
    s = records->isLive(pageNo, offset, slot, live);
    if (!ok(s)) return s;
    return live ? Status::Success : Status::InvalidRecordAddress;
}

Status File::Impl::takeStamp(Stamp& out, bool withPath) const {
    out = Stamp{};
    if (withPath) {
        FileFacts now;
        if (Status s = lookAtPath(where, now); !ok(s)) return s;
        out.device = now.device, out.inode = now.inode, out.size = now.size;
        out.modifiedSeconds = now.modifiedSeconds, out.modifiedNanoseconds = now.modifiedNanoseconds;
    }
    // A mapped file's marks are read from the mapping (which shows the file as it is
    // now, at no cost of a system call); otherwise the bytes from the start to the
    // last mark in one read. A mark the file no longer reaches is left out: the size
    // or the store's cut says the file changed.
    // (Unmapped, a file that now ends before the last mark has its marks read one by
    // one, so that those it still reaches count as they do from a mapping: a file cut
    // short is then told as damaged, not as one that kept changing.)
    std::string bytes;
    if (!store->mapped()) {
        uint64_t end = 0;
        for (const auto& [offset, length] : markSpans) end = std::max(end, offset + length);
        const Status s = store->peek(0, static_cast<size_t>(end), bytes);
        if (!ok(s) && s != Status::Truncated) return s;
        if (ok(s)) {
            for (const auto& [offset, length] : markSpans) out.marks.append(bytes, static_cast<size_t>(offset), length);
            return Status::Success;
        }
    }
    for (const auto& [offset, length] : markSpans) {
        const Status s = store->peek(offset, length, bytes);
        if (ok(s)) out.marks += bytes;
        else if (s != Status::Truncated) return s;
    }
    return Status::Success;
}

// Where the marks lie: for 6.x and later the signature and usage count of both
// control record copies, then the usage counts of the first page-table pair; for
// pre-6 files the control record page.
void File::Impl::placeMarks() {
    markSpans.clear();
    const uint64_t ps = layout.info.pageSize;
    if (layout.pat == PatKind::None) {
        markSpans.emplace_back(0, static_cast<uint32_t>(ps));
        return;
    }
    const FormatFamily& row = *layout.info.format;
    for (uint64_t copy : {uint64_t{0}, uint64_t{layout.patCopyPages}}) {
        markSpans.emplace_back(copy * ps + fcr::Signature, 4);
        markSpans.emplace_back(copy * ps + row.usageAt, row.usageSize);
    }
    for (uint64_t copy : {uint64_t{layout.patFirst}, uint64_t{layout.patFirst} + layout.patCopyPages})
        markSpans.emplace_back(copy * ps + row.patUsageAt, row.patUsageSize);
}

// As the header's reader picks: the higher count of the copies that carry the signature.
uint64_t File::Impl::stampedUsage(const Stamp& st) const {
    const uint32_t size = layout.info.format->usageSize;
    uint64_t best = 0;
    for (uint32_t copy = 0; copy < 2 && (copy + 1) * (4 + size) <= st.marks.size(); ++copy) {
        ByteReader r(std::string_view(st.marks).substr(copy * (4 + size), 4 + size));
        if (r.u32(0) != fcr::SignatureValue) continue;
        best = std::max<uint64_t>(best, size == 2 ? r.u16(4) : r.u32(4));
    }
    return best;
}

void File::Impl::publishDirectory(std::vector<uint32_t>&& pages) const {
    std::lock_guard lock(directoryMutex);
    if (directoryOwner) return;
    directoryOwner = std::make_unique<const std::vector<uint32_t>>(std::move(pages));
    directory.store(directoryOwner.get(), std::memory_order_release);
}

// The same checks as PageMap::read for a data page: the page must name itself as
// that logical page of type data.
bool File::Impl::directPage(uint32_t logical, Status& s, PageRef& page, RecordReader::PageKind& kind) const {
    const std::vector<uint32_t>* d = directory.load(std::memory_order_acquire);
    if (!d || logical >= d->size()) return false;
    kind = RecordReader::PageKind::NotData;
    const uint32_t physical = (*d)[logical];
    if (physical == kNotData) {
        s = Status::Success;
        return true;
    }
    s = store->readPage(physical, page);
    if (!ok(s)) return true;
    ByteReader r(*page);
    const bool self = layout.info.format->pageNumbers == PageNumbers::PageTable
                          ? r.patPage(0) == logical && r.u8(1) == pagetype::Data
                          : r.u32(0) == logical && r.u16(4) == pagetype::Data;
    if (!self || !r.ok()) {
        page.reset();
        s = Status::Corrupt;
        return true;
    }
    kind = RecordReader::PageKind::Data;
    return true;
}

File::File(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
File::~File() = default;

// Reads the header and tables and stamps the version read.
Status File::Impl::load() {
    Status s = readHeader(*store, layout);
    if (!ok(s)) return s;
    s = layout.undecidedCopies.empty() ? loadTables() : chooseControlRecord();
    if (!ok(s)) return s;
    // The version read must be the one stamped: the same file at the path, of the
    // size the store took at open (a commit that grew the file after that and
    // before the control record was read would leave its new pages out), and no
    // commit finished since the control record was read.
    placeMarks();
    s = takeStamp(stamp, true);
    if (!ok(s)) return s == Status::FileNotFound ? Status::Conflict : s;
    if (stamp.device != store->device() || stamp.inode != store->inode() || stamp.size != store->fileSize())
        return Status::Conflict;
    if (layout.pat != PatKind::None && stampedUsage(stamp) != layout.fcrUsage)
        return Status::Conflict;
    return Status::Success;
}

// A copy is borne out when its header reads, the page tables (their newest
// copies: the counts that would bound them are in doubt) map every data page it
// needs, each key's root is an index page of that key, and the data pages hold
// as many live records as it counts, each of which decodes. A stale copy names
// an older, smaller file: its record count and roots no longer fit the tables.
// (Opening: no other thread reads the directory yet.)
Status File::Impl::tryCopy(uint32_t page) {
    directory.store(nullptr, std::memory_order_release);
    directoryOwner.reset();
    Status s = readHeader(*store, layout, page);
    if (ok(s)) s = loadTables();
    for (const KeySpec& key : layout.info.keys) {
        if (!ok(s) || key.rootPage == 0xFFFFFFFFu) continue;
        PageEntry e;
        s = map->lookup(key.rootPage, e);
        if (ok(s) && e.type != (pagetype::Index | key.number)) s = Status::Corrupt;
    }
    if (!ok(s)) return s;
    std::string record;
    s = scan(1, [&](unsigned, RecordAddress, std::string_view slot) { return records->decode(slot, record); });
    directory.store(nullptr, std::memory_order_release);
    directoryOwner.reset();
    return s;
}

Status File::Impl::chooseControlRecord() {
    const std::vector<uint32_t> copies = layout.undecidedCopies;
    const std::string why = layout.undecided;
    std::vector<uint32_t> borneOut;
    for (uint32_t page : copies)
        if (ok(tryCopy(page))) borneOut.push_back(page);
    if (borneOut.size() != 1) return Status::Corrupt;
    if (Status s = tryCopy(borneOut[0]); !ok(s)) return s;
    layout.info.controlRecordChoice =
        "the copy at page " + std::to_string(borneOut[0]) + " (" + why + "; only this copy's record count, " +
        std::to_string(layout.info.recordCount) + ", and index roots agree with the page tables and records)";
    return Status::Success;
}

Status File::Impl::loadTables() {
    const FileInfo& info = layout.info;

    // The owner name is accepted as given and not checked: how the engine turns a
    // name into the stored owner block is not known (the known name/block pairs do
    // not pin it down), so no name can be verified against the file. Reading does
    // not need it: encrypted pages are decrypted with the stored block.
    (void)options.ownerName;

    if (info.encrypted) {
        // Only the pre-6 scheme on 1024-byte pages is known; anything else would be
        // a guess.
        if (info.family != Family::Pre6 || info.pageSize != 1024) return Status::UnsupportedEncryption;
        std::array<uint8_t, 8> key{};
        for (size_t i = 0; i < key.size(); ++i) key[i] = layout.ownerBlock[i];
        store->setOwnerXor(key, 1);
    }
    // Blank-truncated variable records keep a count of the removed blanks whose
    // layout is unverified, and variable-tail allocation tables (flag 0x0800) have
    // no known layout; refuse both rather than return short or wrong records.
    // (Compressed records subsume blank truncation: their runs hold the blanks.)
    if (info.variable && !info.compressed && layout.blankTruncation) return Status::UnsupportedLayout;
    if ((info.fileFlags & 0x0800) != 0) return Status::UnsupportedLayout;

    map = std::make_unique<PageMap>(*store, layout);
    records = std::make_unique<RecordReader>(*store, *map, layout);
    if (layout.pat != PatKind::None && map->groups() == 0) return Status::Truncated;
    return loadAcs();
}

namespace {
// Opens that met a commit halfway (the header of one version, the tables of the
// next) are tried again this many times, a little later each time.
constexpr int kOpenAttempts = 8;

// The file's first bytes hold the control record copies and the first page-table
// pair of every family: a commit changes them.
constexpr size_t kHeadBytes = size_t{64} << 10;

// Whether the file at path is another file, or was written, between two looks.
bool movedOn(const FileFacts& a, const FileFacts& b) { return !(a == b); }
}  // namespace

// A failure met while the file was being written may be the writer's half-done
// commit rather than damage: the open is tried again when the file's first bytes,
// or what a stat tells, changed while it was read (a modification time alone may
// not tell two writes in one clock tick apart).
Status File::open(const std::string& path, std::unique_ptr<File>& out, const OpenOptions& options) {
    Status s = Status::Conflict;
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        if (attempt > 0) pauseBeforeRetry(attempt);
        FileFacts before, after;
        const bool looked = ok(lookAtPath(path, before));
        bool headMoved = false;
        s = openOnce(path, out, options, headMoved);
        if (ok(s)) return s;
        if (s == Status::Conflict || headMoved) continue;
        if (!looked || !ok(lookAtPath(path, after)) || !movedOn(before, after)) return s;
    }
    return s;
}

void pauseBeforeRetry(int attempt) {
    const long micros = std::min(50000L, 200L << std::min(attempt - 1, 8));
    std::this_thread::sleep_for(std::chrono::microseconds(micros));
}

Status File::openOnce(const std::string& path, std::unique_ptr<File>& out, const OpenOptions& options,
                      bool& headMoved) {
    headMoved = false;
    out.reset();
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    // Looks at the path later are made where it pointed at open, whatever the
    // process's current folder is by then.
    impl->where = absolutePath(path);
    impl->options = options;
    PageStore::Options storeOptions;
    storeOptions.map = options.mapFile;
    Status s = PageStore::open(path, impl->store, storeOptions);
    if (!ok(s)) return s;
    // The first bytes as they were before anything was read, to tell a failure
    // met on a commit under way from damage.
    const size_t head = static_cast<size_t>(std::min<uint64_t>(impl->store->fileSize(), kHeadBytes));
    std::string before, after;
    if (!ok(impl->store->peek(0, head, before, PageStore::PeekVia::Pread))) before.clear();
    s = impl->load();
    if (!ok(s)) {
        if (!ok(impl->store->peek(0, head, after, PageStore::PeekVia::Pread))) after.clear();
        headMoved = after != before;
        return s;
    }
    out = std::unique_ptr<File>(new File(std::move(impl)));
    return Status::Success;
}

Status File::checkChanged(bool& changed) const {
    // The path is looked at once a millisecond at most: calls in quick succession
    // (a scan of moves, fast typing in a lookup) ask only whether a commit landed,
    // which costs nothing while the file is mapped.
    const int64_t at = std::chrono::duration_cast<std::chrono::microseconds>(
                           std::chrono::steady_clock::now().time_since_epoch()).count();
    if (at - impl_->lastPathLook.load(std::memory_order_relaxed) < kPathLookMicroseconds)
        return checkCommitted(changed);
    impl_->lastPathLook.store(at, std::memory_order_relaxed);
    changed = true;
    Stamp now;
    const Status s = impl_->takeStamp(now, true);
    if (s == Status::FileNotFound) return Status::Success;  // gone: reopening says so
    if (!ok(s)) return s;
    changed = !(now == impl_->stamp) || impl_->map->moved() || impl_->store->truncated();
    return Status::Success;
}

Status File::checkCommitted(bool& changed) const {
    changed = true;
    Stamp now;
    if (Status s = impl_->takeStamp(now, false); !ok(s)) return s;
    changed = now.marks != impl_->stamp.marks || impl_->map->moved() || impl_->store->truncated();
    return Status::Success;
}

Status File::reopen(std::shared_ptr<const RecordSource>& out) const {
    out.reset();
    std::unique_ptr<File> fresh;
    const Status s = open(impl_->where, fresh, impl_->options);
    if (ok(s)) out = std::move(fresh);
    return s;
}

std::string File::readMethod() const { return describe(impl_->store->readMode()); }

const FileInfo& File::info() const { return impl_->layout.info; }
const std::string& File::path() const { return impl_->path; }
uint64_t File::pageReads() const { return impl_->store->reads(); }

RecordAddress File::addressFromPointer(uint64_t pointer) const {
    const uint32_t ps = impl_->layout.info.pageSize;
    return makeAddress(static_cast<uint32_t>(pointer / ps), static_cast<uint32_t>(pointer % ps));
}

RecordAddress File::addressOfSlot(uint32_t page, uint32_t slotIndex) const {
    const Layout& l = impl_->layout;
    return makeAddress(page, l.slotsOffset + slotIndex * l.info.physicalRecordLength);
}

uint32_t File::slotsPerPage() const { return impl_->layout.slotsPerPage; }

namespace {

// A page the scan reads: pre-6 pages are physical and say themselves whether they
// hold records; 6.x and later data pages come from the page table.
struct ScanItem {
    uint32_t page;
    PageEntry entry;  // type Unused for pre-6 pages
};

// Each run's state on cache lines of its own: a live record counted in one run
// would otherwise take the line from the core reading the next run.
struct alignas(128) ScanPart {
    Status failure = Status::Success;
    uint64_t seen = 0;
    bool stopped = false;
};

// The pages to read, in physical record order. With a page table, also the
// physical page of each logical data page when `pages` is wanted.
Status collectPages(const File::Impl& f, bool wanted, std::vector<ScanItem>& items,
                    std::vector<uint32_t>& pages) {
    // At most one item per page of the file: room made once, not regrown.
    const size_t most = static_cast<size_t>(std::min<uint64_t>(f.store->physicalPages(), UINT32_MAX));
    detail::reserveLarge(items, most);
    if (wanted) detail::reserveLarge(pages, most + 1);
    if (f.layout.pat == PatKind::None) {
        // The header's page count bounds the file's own.
        const uint64_t n = std::min<uint64_t>(f.store->physicalPages(), f.layout.info.pageCount);
        for (uint64_t p = 1; p < n; ++p) items.push_back({static_cast<uint32_t>(p), PageEntry{p, pagetype::Unused}});
        return Status::Success;
    }
    return f.map->forEach([&](uint32_t logical, const PageEntry& e) {
        if (e.type != pagetype::Data) return true;
        items.push_back({logical, e});
        if (wanted) {
            if (pages.size() <= logical) pages.resize(logical + 1, File::Impl::kNotData);
            pages[logical] = static_cast<uint32_t>(e.physical);
        }
        return true;
    });
}

// The cache lines of a page that hold its header and what the visitor reads of
// each slot (its usage word and the bytes in reads), worked out once for every
// page: none when it reads whole slots.
std::vector<uint32_t> linesRead(const Layout& layout, std::pair<uint32_t, uint32_t> reads) {
    std::vector<uint32_t> lines;
    if (reads.second <= reads.first) return lines;
    lines.push_back(0);
    const uint32_t prl = layout.info.physicalRecordLength;
    auto add = [&](uint64_t from, uint64_t to) {
        for (uint64_t o = from & ~uint64_t{63}; o < to && o < layout.info.pageSize; o += 64)
            lines.push_back(static_cast<uint32_t>(o));
    };
    for (uint32_t i = 0; i < layout.slotsPerPage; ++i) {
        const uint64_t slot = layout.slotsOffset + uint64_t{i} * prl;
        add(slot, slot + 2);
        add(slot + reads.first, slot + reads.second);
    }
    std::sort(lines.begin(), lines.end());
    lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
    return lines;
}

// Drop-behind: the physical pages of every 8 MB of data pages scanned are given
// back (see PageStore::release). Each release flushes the TLB of every core the
// process runs on, so not too often.
class DropBehind {
public:
    DropBehind(PageStore& store, uint32_t pageSize, PassedPages passed)
        : store_(store), batch_(std::max<uint32_t>(1, (uint32_t{8} << 20) / pageSize)), passed_(passed) {}
    void passed(uint64_t physical) {
        low_ = std::min(low_, physical), high_ = std::max(high_, physical);
        if (++batched_ == batch_) flush();
    }
    void flush() {
        if (batched_ && passed_ == PassedPages::Release) store_.release(low_, high_ + 1);
        low_ = UINT64_MAX, high_ = 0, batched_ = 0;
    }

private:
    PageStore& store_;
    const uint32_t batch_;
    const PassedPages passed_;
    uint64_t low_ = UINT64_MAX, high_ = 0;
    uint32_t batched_ = 0;
};

// One run of pages, read in order, its live records handed to the visitor.
template <class Visit>
class PartScan {
public:
    PartScan(const File::Impl& f, Visit& visit, const std::vector<uint32_t>& lines, PassedPages passed,
             unsigned part, ScanPart& out)
        : f_(f), layout_(f.layout), visit_(visit), lines_(lines), part_(part), out_(out),
          dropBehind_(*f.store, f.layout.info.pageSize, passed),
          plainSlots_(f.layout.usageWord && !f.layout.info.compressed) {}

    void run(const std::vector<ScanItem>& items, size_t from, size_t to, std::atomic<bool>& halt) {
        for (size_t i = from; i < to && !halt.load(std::memory_order_relaxed); ++i)
            if (!page(items[i], i + 1 < to ? items[i + 1].entry.physical : items[i].entry.physical + 1)) {
                halt.store(true, std::memory_order_relaxed);
                break;
            }
        dropBehind_.flush();
    }

private:
    // Reads one page; false when the scan ends here.
    bool page(const ScanItem& item, uint64_t next) {
        if (f_.store->viaMapping()) {
            dropBehind_.passed(item.entry.physical);
            // Load the next data page while this one is read, all of it or the
            // part of each slot the visitor reads. Pre-6 pages are scanned one
            // after another, data or not, and say only when read which they are.
            if (lines_.empty())
                f_.store->prefetch(next, 0, layout_.info.pageSize);
            else
                f_.store->prefetchLines(next, lines_.data(), lines_.size());
        }
        PageRef page;
        RecordReader::PageKind kind;
        Status s = layout_.pat == PatKind::None ? f_.records->dataPage(item.page, page, kind)
                                                : f_.records->dataPage(item.page, item.entry, page, kind);
        if (!ok(s)) return fail(s);
        if (kind != RecordReader::PageKind::Data) return true;
        if (!slots(item.page, *page)) return false;
        // A page whose bytes went to zeros under us ends the scan.
        if (f_.store->truncated()) return fail(Status::Truncated);
        return true;
    }

    // Visits the live slots of a data page; false when the scan ends here.
    bool slots(uint32_t pageNo, std::string_view bytes) {
        const uint32_t prl = layout_.info.physicalRecordLength;
        const uint64_t expected = layout_.info.recordCount;
        for (uint32_t i = 0; i < layout_.slotsPerPage; ++i) {
            const uint32_t offset = layout_.slotsOffset + i * prl;
            std::string_view slot = bytes.substr(offset, prl);
            bool live = false;
            Status s = Status::Success;
            if (plainSlots_)
                live = slot.size() >= 2 && (slot[0] != 0 || slot[1] != 0);  // the usage word
            else
                s = f_.records->isLive(pageNo, offset, slot, live);
            // More live records than the header has: each part alone bounds its work.
            if (ok(s) && live && ++out_.seen > expected) s = Status::Corrupt;
            if (ok(s) && live) {
                s = visit_(part_, File::makeAddress(pageNo, offset), slot);
                if (s == Status::EndOfFile) {
                    out_.stopped = true;
                    return false;
                }
            }
            if (!ok(s)) return fail(s);
        }
        return true;
    }

    bool fail(Status s) {
        out_.failure = s;
        return false;
    }

    const File::Impl& f_;
    const Layout& layout_;
    Visit& visit_;
    const std::vector<uint32_t>& lines_;
    const unsigned part_;
    ScanPart& out_;
    DropBehind dropBehind_;
    const bool plainSlots_;  // fixed-length uncompressed slots with a usage word
};

// The parts' outcome: the first part that failed or stopped decides, as a scan
// in one piece would have.
Status combineParts(const std::vector<ScanPart>& results, uint64_t expected, bool& stopped,
                    uint64_t& seen) {
    Status failure = Status::Success;
    stopped = false;
    seen = 0;
    for (const ScanPart& r : results) {
        seen += r.seen;
        if (!ok(r.failure)) {
            failure = r.failure;
            break;
        }
        if (r.stopped) {
            stopped = true;
            break;
        }
    }
    if (ok(failure) && !stopped && seen > expected) failure = Status::Corrupt;
    return failure;
}

}  // namespace

template <class Visit>
Status File::Impl::scan(unsigned parts, Visit&& visit, std::pair<uint32_t, uint32_t> reads,
                        PassedPages passed) const {
    const uint64_t expected = layout.info.recordCount;
    // The page layer reads the whole file in order from here on.
    const PageStore::Pass pass(*store);
    Status sized = store->checkSize();
    if (!ok(sized)) return sized;

    std::vector<ScanItem> items;
    std::vector<uint32_t> pages;
    const bool wanted = layout.pat != PatKind::None && directory.load(std::memory_order_acquire) == nullptr;
    if (Status s = collectPages(*this, wanted, items, pages); !ok(s)) return s;
    const std::vector<uint32_t> lines = linesRead(layout, reads);

    // Parts only pay where pages are views of the mapping and there are enough of them.
    constexpr size_t kPagesPerPart = 4096;
    if (!store->viaMapping()) parts = 1;
    parts = static_cast<unsigned>(std::clamp<size_t>(std::min<size_t>(parts, items.size() / kPagesPerPart), 1, 8));
    std::vector<ScanPart> results(parts);
    std::atomic<bool> halt{false};  // a part failed or the visitor stopped: the others end too
    runParts(parts, [&](unsigned p) {
        PartScan<std::remove_reference_t<Visit>> part(*this, visit, lines, passed, p, results[p]);
        part.run(items, items.size() * p / parts, items.size() * (p + 1) / parts, halt);
    });

    bool stopped = false;
    uint64_t seen = 0;
    Status failure = combineParts(results, expected, stopped, seen);
    // Only a scan that saw the whole table describes it.
    if (wanted && ok(failure) && !stopped) {
        pages.resize(static_cast<size_t>(map->groups()) * layout.patEntries + 1, kNotData);
        publishDirectory(std::move(pages));
    }
    if (ok(failure) || store->truncated()) failure = store->checkSize();
    if (!ok(failure)) return failure;
    if (!stopped && seen != expected) return Status::Corrupt;
    return Status::Success;
}

// The visitors below return EndOfFile to stop the scan.
// Scans that decode records from variable pages also check that each fragment
// serves one record (RecordReader::checkClaims): no fragment twice, and once every
// record has been read, no fragment left over on the pages the records reach.
Status File::forEachRecord(const std::function<bool(RecordAddress, const std::string&)>& visit) const {
    std::string record;
    FragmentList fragments;
    FragmentList* claimed = impl_->layout.info.compressed || impl_->layout.info.variable ? &fragments : nullptr;
    bool stopped = false;
    Status s = impl_->scan(1, [&](unsigned, RecordAddress addr, std::string_view slot) {
        Status s = impl_->records->decode(slot, record, claimed);
        if (!ok(s)) return s;
        stopped = !visit(addr, record);
        return stopped ? Status::EndOfFile : Status::Success;
    });
    if (ok(s) && claimed) s = impl_->records->checkClaims(fragments, !stopped);
    return s;
}

Status File::forEachRecordView(const std::function<bool(RecordAddress, std::string_view)>& visit) const {
    return forEachRecordViewInParts(1, [&](unsigned, RecordAddress addr, std::string_view rec) {
        return visit(addr, rec);
    });
}

Status File::forEachRecordViewInParts(
    unsigned parts, const std::function<bool(unsigned, RecordAddress, std::string_view)>& visit,
    const KeySpec* readsOnly, PassedPages passed) const {
    const Layout& l = impl_->layout;
    const bool whole = !l.info.compressed && !l.info.variable;  // the record lies in its slot
    // One decoding buffer per run, on cache lines of their own.
    struct alignas(128) Scratch {
        std::string bytes;
        FragmentList fragments;
    };
    std::vector<Scratch> scratch(std::max(1u, std::min(parts, 8u)));
    // The slot bytes a visitor of one key's bytes reads.
    std::pair<uint32_t, uint32_t> reads{0, 0};
    if (whole && readsOnly && !readsOnly->segments.empty()) {
        uint64_t from = UINT64_MAX, to = 0;
        for (const auto& seg : readsOnly->segments) {
            from = std::min<uint64_t>(from, seg.position);
            to = std::max<uint64_t>(to, uint64_t{seg.position} + seg.length);
        }
        from += l.recordOffset, to += l.recordOffset;
        if (to <= l.info.physicalRecordLength) reads = {static_cast<uint32_t>(from), static_cast<uint32_t>(to)};
    }
    std::atomic<bool> stopped{false};
    Status s = impl_->scan(parts, [&](unsigned part, RecordAddress addr, std::string_view slot) {
        std::string_view record;
        Status s = Status::Success;
        if (whole && fits(slot.size(), l.recordOffset, l.info.recordLength))
            record = slot.substr(l.recordOffset, l.info.recordLength);
        else
            s = impl_->records->decodeView(slot, record, scratch[part].bytes, whole ? nullptr : &scratch[part].fragments);
        if (!ok(s)) return s;
        if (visit(part, addr, record)) return Status::Success;
        stopped.store(true, std::memory_order_relaxed);
        return Status::EndOfFile;
    }, reads, passed);
    if (!ok(s) || whole) return s;
    FragmentList& all = scratch[0].fragments;
    for (size_t p = 1; p < scratch.size(); ++p) all.insert(all.end(), scratch[p].fragments.begin(), scratch[p].fragments.end());
    return impl_->records->checkClaims(all, !stopped.load());
}

std::string File::damage() const {
    std::string note = impl_->records ? impl_->records->damage().get() : std::string();
    return note.empty() ? impl_->damage.get() : note;
}

void File::noteDamage(std::string what) const { impl_->damage.set(std::move(what)); }

void File::prefetchRecord(RecordAddress addr) const {
    const Impl& f = *impl_;
    if (!f.store->viaMapping()) return;
    uint32_t physical = addressPage(addr);
    if (f.layout.pat != PatKind::None) {
        const std::vector<uint32_t>* d = f.directory.load(std::memory_order_acquire);
        if (!d || physical >= d->size() || (*d)[physical] == Impl::kNotData) return;
        physical = (*d)[physical];
    }
    f.store->prefetch(physical, addressOffset(addr), f.layout.info.physicalRecordLength);
}

uint64_t File::fileSize() const { return impl_->store->fileSize(); }

bool File::mapped() const { return impl_->store->mapped(); }

Status File::checkUnchanged() const { return impl_->store->checkSize(); }

Status File::readRecordView(RecordAddress addr, std::string_view& out, std::string& scratch) const {
    out = {};
    PageRef page;
    std::string_view slot;
    Status s = impl_->slotAt(addr, page, slot);
    if (!ok(s)) return s;
    if (!page.mapped()) {
        // A cached copy of the page, which may go; the record must outlive it.
        s = impl_->records->decode(slot, scratch);
        if (ok(s)) out = scratch;
        return impl_->settle(s);
    }
    return impl_->settle(impl_->records->decodeView(slot, out, scratch));
}

Status File::readRecord(RecordAddress addr, std::string& out) const {
    out.clear();
    PageRef page;
    std::string_view slot;
    Status s = impl_->slotAt(addr, page, slot);
    if (!ok(s)) return s;
    return impl_->settle(impl_->records->decode(slot, out));
}

Status File::readSlot(RecordAddress addr, std::string& out) const {
    out.clear();
    PageRef page;
    std::string_view slot;
    Status s = impl_->slotAt(addr, page, slot);
    if (ok(s)) out.assign(slot);
    return impl_->settle(s);
}

Status File::readLogicalPage(uint32_t page, std::string& out) const {
    out.clear();
    PageRef bytes;
    Status s = impl_->map->read(page, pagetype::Unused, bytes);
    if (ok(s)) out = *bytes;
    return impl_->settle(s);
}

}  // namespace btrieve
