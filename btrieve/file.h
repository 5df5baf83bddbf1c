// A Btrieve file opened read-only, without an engine. Recognises the format family
// and version, reads the current file control record, maps pages, decrypts and
// decompresses records. Every byte read is checked against the page and the file.
#pragma once

#include <memory>
#include <string>

#include "btrieve/record_source.h"

namespace btrieve {

struct OpenOptions {
    // Owner name given by the caller. Checked against the file only where the
    // owner block's encoding is known; otherwise accepted.
    std::string ownerName;
};

class File : public RecordSource {
public:
    // Opens path read-only (never locked, never written). On failure out stays empty.
    static Status open(const std::string& path, std::unique_ptr<File>& out,
                       const OpenOptions& options = {});
    ~File() override;

    const FileInfo& info() const override;
    Status forEachRecord(
        const std::function<bool(RecordAddress, const std::string&)>& visit) const override;
    Status readRecord(RecordAddress addr, std::string& out) const override;

    const std::string& path() const;

    class Impl;  // defined by the implementation
private:
    explicit File(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace btrieve
