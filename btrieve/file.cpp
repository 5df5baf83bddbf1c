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
#include <map>

#include "btrieve/bytes.h"
#include "btrieve/fcr.h"
#include "btrieve/pages.h"
#include "btrieve/pat.h"
#include "btrieve/records.h"

namespace btrieve {

using namespace detail;

class File::Impl {
public:
    std::string path;
    std::unique_ptr<PageStore> store;
    Layout layout;
    std::unique_ptr<PageMap> map;
    std::unique_ptr<RecordReader> records;

    Status loadAcs();
    Status slotAt(RecordAddress addr, PageRef& page, std::string_view& slot) const;
};

namespace {

Status loadAcsPage(const File::Impl& f, uint32_t page, AcsTable& out) {
    PageRef bytes;
    Status s = f.map->read(page, f.layout.pat == PatKind::None ? pagetype::Unused : pagetype::Acs, bytes);
    if (!ok(s)) return s;
    ByteReader r(*bytes);
    std::vector<uint32_t> candidates;
    switch (f.layout.pat) {
    case PatKind::None:
    case PatKind::V6: candidates = {6}; break;
    case PatKind::V8: candidates = {8}; break;
    case PatKind::V95: candidates = {8, 10}; break;
    }
    for (uint32_t at : candidates) {
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

// Keys flagged ACS use the table their spec names (6.x and later), else the
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
    Status s = records->dataPage(pageNo, page, kind);
    if (!ok(s)) return s;
    if (kind != RecordReader::PageKind::Data) return Status::InvalidRecordAddress;
    slot = std::string_view(*page).substr(offset, prl);
    bool live = false;
    s = records->isLive(pageNo, offset, slot, live);
    if (!ok(s)) return s;
    return live ? Status::Success : Status::InvalidRecordAddress;
}

File::File(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
File::~File() = default;

Status File::open(const std::string& path, std::unique_ptr<File>& out, const OpenOptions& options) {
    out.reset();
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    Status s = PageStore::open(path, impl->store);
    if (!ok(s)) return s;
    s = readHeader(*impl->store, impl->layout);
    if (!ok(s)) return s;
    const FileInfo& info = impl->layout.info;

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
        for (size_t i = 0; i < key.size(); ++i) key[i] = impl->layout.ownerBlock[i];
        impl->store->setOwnerXor(key, 1);
    }
    // Blank-truncated variable records keep a count of the removed blanks whose
    // layout is unverified, and variable-tail allocation tables (flag 0x0800) have
    // no known layout; refuse both rather than return short or wrong records.
    // (Compressed records subsume blank truncation: their runs hold the blanks.)
    if (info.variable && !info.compressed && impl->layout.blankTruncation) return Status::UnsupportedLayout;
    if ((info.fileFlags & 0x0800) != 0) return Status::UnsupportedLayout;

    impl->map = std::make_unique<PageMap>(*impl->store, impl->layout);
    impl->records = std::make_unique<RecordReader>(*impl->store, *impl->map, impl->layout);
    if (info.family != Family::Pre6 && impl->map->groups() == 0) return Status::Truncated;
    s = impl->loadAcs();
    if (!ok(s)) return s;
    out = std::unique_ptr<File>(new File(std::move(impl)));
    return Status::Success;
}

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

Status File::forEachRecord(const std::function<bool(RecordAddress, const std::string&)>& visit) const {
    const Impl& f = *impl_;
    const uint64_t expected = f.layout.info.recordCount;
    const uint32_t prl = f.layout.info.physicalRecordLength;
    uint64_t seen = 0;
    bool stopped = false;
    Status failure = Status::Success;
    std::string record;

    auto scanPage = [&](uint32_t pageNo) -> bool {
        PageRef page;
        RecordReader::PageKind kind;
        Status s = f.records->dataPage(pageNo, page, kind);
        if (!ok(s)) {
            failure = s;
            return false;
        }
        if (kind != RecordReader::PageKind::Data) return true;
        for (uint32_t i = 0; i < f.layout.slotsPerPage; ++i) {
            const uint32_t offset = f.layout.slotsOffset + i * prl;
            std::string_view slot = std::string_view(*page).substr(offset, prl);
            bool live = false;
            s = f.records->isLive(pageNo, offset, slot, live);
            if (ok(s) && live) {
                if (++seen > expected) s = Status::Corrupt;  // more live records than the header has
                else s = f.records->decode(slot, record);
            }
            if (!ok(s)) {
                failure = s;
                return false;
            }
            if (live && !visit(makeAddress(pageNo, offset), record)) {
                stopped = true;
                return false;
            }
        }
        return true;
    };

    if (f.layout.pat == PatKind::None) {
        // Pre-6 pages are physical; the header's page count bounds the file's own.
        const uint64_t pages = std::min<uint64_t>(f.store->physicalPages(), f.layout.info.pageCount);
        for (uint64_t p = 1; p < pages; ++p)
            if (!scanPage(static_cast<uint32_t>(p))) break;
    } else {
        Status s = f.map->forEach([&](uint32_t logical, const PageEntry& e) {
            return e.type != pagetype::Data || scanPage(logical);
        });
        if (ok(failure)) failure = s;
    }
    if (!ok(failure)) return failure;
    if (!stopped && seen != expected) return Status::Corrupt;
    return Status::Success;
}

Status File::readRecord(RecordAddress addr, std::string& out) const {
    out.clear();
    PageRef page;
    std::string_view slot;
    Status s = impl_->slotAt(addr, page, slot);
    if (!ok(s)) return s;
    return impl_->records->decode(slot, out);
}

Status File::readSlot(RecordAddress addr, std::string& out) const {
    out.clear();
    PageRef page;
    std::string_view slot;
    Status s = impl_->slotAt(addr, page, slot);
    if (ok(s)) out.assign(slot);
    return s;
}

Status File::readLogicalPage(uint32_t page, std::string& out) const {
    out.clear();
    PageRef bytes;
    Status s = impl_->map->read(page, pagetype::Unused, bytes);
    if (ok(s)) out = *bytes;
    return s;
}

}  // namespace btrieve
