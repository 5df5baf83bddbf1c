// libFuzzer target: read one dictionary column of any type, size and offset from
// arbitrary record bytes, in a single-byte and a multi-byte code page, and write
// its CSV field. Input: type, decimals, offset (2 bytes), size (2 bytes), a byte
// choosing the longest record, then the record.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "btrieve/columns.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 7) return 0;
    static const auto windows = btrieve::CodePage::windows1252();
    static std::string why;
    static const auto sjis = btrieve::CodePage::make("SHIFT_JIS", why);
    btrieve::DictColumn c;
    c.type = data[0];
    c.decimals = data[1];
    c.offset = (data[2] | data[3] << 8) & 0x3FF;
    c.size = (data[4] | data[5] << 8) & 0x3FF;
    const std::string_view record(reinterpret_cast<const char*>(data + 7), size - 7);
    const uint64_t longest = data[6] & 1 ? UINT64_MAX : record.size();
    std::string fault;
    const auto reader = btrieve::ColumnReader::make(c, longest, fault);
    btrieve::Cell cell;
    std::string out;
    for (const btrieve::CodePage* cp : {windows.get(), sjis.get()}) {
        if (!cp) continue;
        reader.read(record, *cp, cell);
        btrieve::appendCsvField(cell, out);
    }
    return 0;
}
