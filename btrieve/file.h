// A Btrieve file opened read-only, without an engine. Recognises the format family
// and version, reads the current file control record, maps pages, decrypts and
// decompresses records. Every byte read is checked against the page and the file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "btrieve/record_source.h"

namespace btrieve {

struct OpenOptions {
    // Owner name given by the caller. Checked against the file only where the
    // owner block's encoding is known; otherwise accepted. No known family
    // allows the check yet, so every name is accepted (see file.cpp).
    std::string ownerName;
    // Read the file through a read-only mapping where possible (else pread). Files
    // on a network filesystem are never mapped, nor any file when the environment
    // holds BTRIEVE_READS=pread.
    bool mapFile = true;
};

// What a scan does with the mapped pages it has passed: gives their memory back
// (so that a scan of a large file does not keep it all resident), or keeps them
// mapped for a caller about to read the same records again by address.
enum class PassedPages { Release, Keep };

// The const members may be called from several threads at once; the page cache
// and page-table state inside are guarded.
class File : public RecordSource {
public:
    // Opens path read-only (never locked, never written). On failure out stays empty.
    // An open that meets another program's commit halfway is tried again a few
    // times; Conflict when the file never held still.
    static Status open(const std::string& path, std::unique_ptr<File>& out,
                       const OpenOptions& options = {});
    ~File() override;

    const FileInfo& info() const override;
    Status forEachRecord(
        const std::function<bool(RecordAddress, const std::string&)>& visit) const override;
    Status readRecord(RecordAddress addr, std::string& out) const override;

    const std::string& path() const;

    // Whether the file at the path is no longer the version this File read: another
    // file put in its place (a restored backup), a commit by another program (the
    // usage counts of the control record copies and of the first page-table pair;
    // pre-6: the control record's bytes), its size or modification time moved, or a
    // page table found newer when read again. One stat and a few small reads. A file
    // gone from the path counts as changed (reopening says what became of it). The
    // path is looked at once every kPathLookMicroseconds at most; calls between
    // look for commits alone (checkCommitted).
    Status checkChanged(bool& changed) const override;
    static constexpr int64_t kPathLookMicroseconds = 1000;
    // The same without the stat of the path: whether a commit landed since this
    // File read the file (for the look after a read). Costs no system call while the
    // file is mapped.
    Status checkCommitted(bool& changed) const override;
    // The file at the same path opened afresh, with the same options.
    Status reopen(std::shared_ptr<const RecordSource>& out) const override;
    // How pages are read, for reports: "mapping and pread", "pread (network
    // filesystem)", "pread (asked for)", "pread (the file cannot be mapped)".
    std::string readMethod() const;

    // forEachRecord without a copy per record: rec views the record's bytes and is
    // valid only during the call.
    Status forEachRecordView(const std::function<bool(RecordAddress, std::string_view)>& visit) const;
    // The same scan split into up to `parts` runs of pages read at once in threads
    // of their own (one run when the file is not mapped or is small). visit(part,
    // ...) is called from part's thread with that run's records in physical order;
    // run p's records all come before run p + 1's. A visitor returning false stops
    // every run (the others may have visited records past it meanwhile); a fault in
    // any run fails the scan. readsOnly: the visitor reads only this key's bytes, so
    // only those (and the slot's usage) are loaded ahead, not whole pages.
    Status forEachRecordViewInParts(
        unsigned parts, const std::function<bool(unsigned, RecordAddress, std::string_view)>& visit,
        const KeySpec* readsOnly = nullptr, PassedPages passed = PassedPages::Release) const;
    // readRecord without a copy where it can be had: out views the file's mapping
    // (valid while this File lives) when the page came through the mapping and the
    // record lies whole in its slot; otherwise the record is decoded into scratch and out views
    // scratch.
    Status readRecordView(RecordAddress addr, std::string_view& out, std::string& scratch) const;
    // A hint before reading the record at addr soon (a batch of reads by address):
    // starts loading its page from memory when the file is mapped. Reads nothing.
    void prefetchRecord(RecordAddress addr) const;
    // Whether the file is mapped: whole-file scans, and the reads after the first
    // one, go through a read-only mapping; reads before it pread single pages.
    bool mapped() const;
    // The file's size in bytes when it was opened.
    uint64_t fileSize() const;
    // Truncated when the file is now shorter than it was at open (so bytes read
    // since may be zeros), else Success. The reading calls check this themselves;
    // callers of the view calls check it after using the views.
    Status checkUnchanged() const;

    // Record addresses: the page holding the slot in the high 32 bits (pre-6: the
    // physical page; 6.x and later: the logical page), the slot's byte offset in
    // that page in the low 32 bits.
    static RecordAddress makeAddress(uint32_t page, uint32_t offsetInPage) {
        return static_cast<RecordAddress>(page) << 32 | offsetInPage;
    }
    static uint32_t addressPage(RecordAddress a) { return static_cast<uint32_t>(a >> 32); }
    static uint32_t addressOffset(RecordAddress a) { return static_cast<uint32_t>(a); }
    // The address of a record pointer as index entries and duplicate chains store
    // it, once decoded to a number (pre-6: absolute file offset; 6.x: logical page
    // times page size plus offset): page = pointer / page size.
    RecordAddress addressFromPointer(uint64_t pointer) const;

    // The address of slot slotIndex (0-based) of a data page, for record pointers
    // stored as page and slot number (8.x index entries of compressed files).
    RecordAddress addressOfSlot(uint32_t page, uint32_t slotIndex) const;
    // Record slots per data page.
    uint32_t slotsPerPage() const;

    // A page's bytes after page-table mapping and decryption (pre-6: the physical
    // page). Checks that the page names itself as that page; Corrupt otherwise,
    // Truncated past the end of the file. For walking index pages.
    Status readLogicalPage(uint32_t page, std::string& out) const;

    // The raw slot of a live record: usage word, record bytes or fragment pointer,
    // variable pointer and duplicate pointers (KeySpec::duplicateOffset counts
    // from the start of this slot). For following duplicate chains.
    Status readSlot(RecordAddress addr, std::string& out) const;

    // What the first check that failed found wrong, in words, when it can say
    // (e.g. "variable page 85: fragment 2 is claimed by two records"); empty
    // otherwise. For the message that reports the failure's status.
    std::string damage() const;
    // Records such a finding made above the file (the key order, an index walk).
    void noteDamage(std::string what) const;

    // Reads from the file so far: header reads and page-cache misses.
    uint64_t pageReads() const;

    class Impl;  // defined by the implementation
private:
    // headMoved: the file's first bytes changed while a failed open read it.
    static Status openOnce(const std::string& path, std::unique_ptr<File>& out, const OpenOptions& options,
                           bool& headMoved);
    explicit File(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace btrieve
