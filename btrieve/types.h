// Plain descriptions shared by the parts of the engine: what a file's header says,
// its keys, and the fields of a record layout.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace btrieve {

namespace detail {
struct FormatFamily;  // formats.h
}

// Btrieve data type codes (extended key types and field types).
enum class DataType : uint8_t {
    String = 0, Integer = 1, Float = 2, Date = 3, Time = 4, Decimal = 5, Money = 6,
    Logical = 7, Numeric = 8, BFloat = 9, LString = 10, ZString = 11, Note = 12,
    LVar = 13, UnsignedBinary = 14, AutoIncrement = 15, Bit = 16, NumericSTS = 17,
    NumericSA = 18, Currency = 19, Timestamp = 20, WString = 25, WZString = 26,
    // Old-style keys (no extended type flag): a byte string, or "binary" when
    // key flag 0x0004 is set. Not stored in files; the reader maps to them.
    OldString = 0x20, OldBinary = 0x21,
};

// Key flags as stored in a key segment descriptor.
namespace keyflag {
constexpr uint16_t Duplicates = 0x0001;
constexpr uint16_t Modifiable = 0x0002;
constexpr uint16_t Binary = 0x0004;
constexpr uint16_t NullAll = 0x0008;
constexpr uint16_t Segmented = 0x0010;
constexpr uint16_t Acs = 0x0020;
constexpr uint16_t Descending = 0x0040;
constexpr uint16_t RepeatingDuplicates = 0x0080;
constexpr uint16_t ExtendedType = 0x0100;
constexpr uint16_t NullAny = 0x0200;
constexpr uint16_t CaseInsensitive = 0x0400;
}  // namespace keyflag

struct KeySegment {
    uint16_t flags = 0;
    uint32_t position = 0;  // 0-based offset in the logical record (slot headers removed)
    uint16_t length = 0;
    DataType type = DataType::OldString;
    uint8_t nullValue = 0;
    int acs = -1;           // index into FileInfo::acsTables, -1 for none
};

struct KeySpec {
    int number = 0;                     // key number (0 for the first key)
    std::vector<KeySegment> segments;   // at least one
    uint16_t flags() const { return segments.empty() ? 0 : segments.front().flags; }
    bool allowsDuplicates() const { return (flags() & keyflag::Duplicates) != 0; }
    uint32_t totalLength() const {
        uint32_t n = 0;
        for (const auto& s : segments) n += s.length;
        return n;
    }
    // B-tree root as the header stores it (pre-6: physical page; 6.x: logical page);
    // 0xFFFFFFFF when there is none. Used only by index walking.
    uint32_t rootPage = 0xFFFFFFFFu;
    uint32_t uniqueCount = 0;
    uint16_t entrySize = 0;
    uint16_t duplicateOffset = 0;       // offset of this key's duplicate pointers, 0 if none
    // Why the descriptor cannot be read by (a segment outside the record), e.g.
    // "segment 0 lies outside the record (position 65535, length 8)"; empty when
    // it can. Reading by a damaged key fails; the file's other keys stay usable.
    std::string damage{};
};

enum class Family { Pre6, V6, V8 };  // V8 covers 8.x, 9.0 and 9.5 layouts

using AcsTable = std::array<uint8_t, 256>;

struct FileInfo {
    Family family = Family::Pre6;
    uint16_t version = 0;             // 0x0300, 0x0400, 0x0500, 0x0600, 0x0610, 0x0800, 0x0900, 0x0950
    // The constants of the file's family and version (a static row of formats.h),
    // set when the header is read; what the readers of its pages go by.
    const detail::FormatFamily* format = nullptr;
    uint32_t pageSize = 0;
    uint32_t recordLength = 0;        // logical fixed length
    uint32_t physicalRecordLength = 0;
    uint64_t recordCount = 0;         // as the header reports it
    uint64_t pageCount = 0;
    uint16_t fileFlags = 0;
    bool variable = false;
    bool compressed = false;
    bool ownerSet = false;
    bool encrypted = false;
    std::vector<KeySpec> keys;
    std::vector<AcsTable> acsTables;
    // How the current control record copy was chosen when the copies' usage
    // counts could not tell (which copy, and the evidence); empty when they did.
    std::string controlRecordChoice;
};

// One field of a record layout (a data control's field definition).
struct FieldDef {
    std::string name;
    DataType type = DataType::String;
    uint32_t offset = 0;
    uint32_t length = 0;
};

// Opaque address of a live record inside a file, stable while the file is open.
using RecordAddress = uint64_t;

}  // namespace btrieve
