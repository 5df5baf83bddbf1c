// Bounds-checked little-endian reads from a byte buffer. A ByteReader remembers
// whether any read fell outside its buffer, so a parser reads a run of fields and
// checks once: a failed read yields 0 and clears ok().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace btrieve::detail {

inline bool fits(size_t size, uint64_t offset, uint64_t length) {
    return offset <= size && length <= size - offset;
}

class ByteReader {
public:
    explicit ByteReader(std::string_view bytes) : b_(bytes) {}

    bool ok() const { return ok_; }
    size_t size() const { return b_.size(); }
    std::string_view bytes() const { return b_; }

    uint8_t u8(uint64_t o) {
        if (!fits(b_.size(), o, 1)) return fail();
        return static_cast<uint8_t>(b_[o]);
    }
    uint16_t u16(uint64_t o) {
        if (!fits(b_.size(), o, 2)) return fail();
        return static_cast<uint16_t>(byte(o) | byte(o + 1) << 8);
    }
    uint32_t u32(uint64_t o) {
        if (!fits(b_.size(), o, 4)) return fail();
        return byte(o) | byte(o + 1) << 8 | byte(o + 2) << 16 | static_cast<uint32_t>(byte(o + 3)) << 24;
    }
    // Two 16-bit words, high word first (record counts, pre-6 page numbers and
    // record addresses).
    uint32_t swapped32(uint64_t o) {
        if (!fits(b_.size(), o, 4)) return fail();
        return static_cast<uint32_t>(byte(o) | byte(o + 1) << 8) << 16 | (byte(o + 2) | byte(o + 3) << 8);
    }
    // A page number in the 6.x page-table layout [bits 16-23][type][bits 0-7][bits 8-15].
    uint32_t patPage(uint64_t o) {
        if (!fits(b_.size(), o, 4)) return fail();
        return static_cast<uint32_t>(byte(o)) << 16 | byte(o + 3) << 8 | byte(o + 2);
    }
    std::string_view slice(uint64_t o, uint64_t n) {
        if (!fits(b_.size(), o, n)) {
            fail();
            return {};
        }
        return b_.substr(o, n);
    }

private:
    uint32_t byte(uint64_t o) const { return static_cast<uint8_t>(b_[o]); }
    uint8_t fail() {
        ok_ = false;
        return 0;
    }
    std::string_view b_;
    bool ok_ = true;
};

}  // namespace btrieve::detail
