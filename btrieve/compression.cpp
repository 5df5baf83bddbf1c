#include "btrieve/compression.h"

#include "btrieve/bytes.h"

namespace btrieve::detail {

Status decompressRecord(std::string_view stream, std::string& out, size_t maxOutput) {
    out.clear();
    ByteReader r(stream);
    size_t pos = 0;
    bool literal = true;  // tokens alternate, starting with a literal block
    while (pos < stream.size()) {
        if (!fits(stream.size(), pos, 2)) return Status::Corrupt;
        const size_t count = r.u16(pos);
        pos += 2;
        if (count > maxOutput - out.size()) return Status::Corrupt;
        if (literal) {
            if (!fits(stream.size(), pos, count)) return Status::Corrupt;
            out.append(stream.substr(pos, count));
            pos += count;
        } else {
            if (!fits(stream.size(), pos, 1)) return Status::Corrupt;
            out.append(count, stream[pos]);
            pos += 1;
        }
        literal = !literal;
    }
    return Status::Success;
}

}  // namespace btrieve::detail
