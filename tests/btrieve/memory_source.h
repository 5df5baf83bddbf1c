// Records held in memory behind the RecordSource interface, with counters and
// injectable failures, for testing navigation without a file.
#pragma once

#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "btrieve/record_source.h"
#include "key_segment.h"

namespace btrieve::testing {

class MemorySource : public RecordSource {
public:
    FileInfo fileInfo;
    std::vector<std::pair<RecordAddress, std::string>> records;  // physical order
    std::map<RecordAddress, Status> readFailures;                // readRecord fails there
    Status enumerationFailure = Status::Success;                 // forEachRecord fails after all
    mutable int passes = 0;
    mutable int reads = 0;

    // Adds a record at the next address (addresses 100, 200, ... so that they
    // differ from positions).
    RecordAddress add(std::string bytes) {
        const RecordAddress addr = (records.size() + 1) * 100;
        records.emplace_back(addr, std::move(bytes));
        return addr;
    }

    const FileInfo& info() const override { return fileInfo; }
    Status forEachRecord(
        const std::function<bool(RecordAddress, const std::string&)>& visit) const override {
        ++passes;
        for (const auto& [addr, bytes] : records)
            if (!visit(addr, bytes)) return Status::Success;
        return enumerationFailure;
    }
    Status readRecord(RecordAddress addr, std::string& out) const override {
        ++reads;
        if (auto f = readFailures.find(addr); f != readFailures.end()) return f->second;
        for (const auto& [a, bytes] : records)
            if (a == addr) {
                out = bytes;
                return Status::Success;
            }
        return Status::InvalidRecordAddress;
    }
};

// Builds record bytes: fixed length, zero-filled, values put at offsets.
class RecordBuilder {
public:
    explicit RecordBuilder(size_t length) : bytes_(length, '\0') {}
    RecordBuilder& text(size_t off, std::string_view s) {
        std::memcpy(bytes_.data() + off, s.data(), s.size());
        return *this;
    }
    RecordBuilder& integer(size_t off, int64_t v, size_t width) {
        for (size_t i = 0; i < width; ++i) bytes_[off + i] = static_cast<char>((static_cast<uint64_t>(v) >> (8 * i)) & 0xFF);
        return *this;
    }
    RecordBuilder& real(size_t off, double v) {
        std::memcpy(bytes_.data() + off, &v, 8);
        return *this;
    }
    RecordBuilder& date(size_t off, int year, int month, int day) {
        bytes_[off] = static_cast<char>(day);
        bytes_[off + 1] = static_cast<char>(month);
        return integer(off + 2, year, 2);
    }
    std::string str() const { return bytes_; }
    operator std::string() const { return bytes_; }

private:
    std::string bytes_;
};

using testkeys::keySegment;

inline KeySpec keyOf(int number, std::vector<KeySegment> segments) {
    KeySpec k;
    k.number = number;
    for (size_t i = 0; i + 1 < segments.size(); ++i) segments[i].flags |= keyflag::Segmented;
    k.segments = std::move(segments);
    return k;
}

}  // namespace btrieve::testing
