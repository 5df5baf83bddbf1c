// Decoding of compressed record streams: literal blocks and runs in strict
// alternation, and every way a stream can be cut or inflated.
#include <gtest/gtest.h>

#include "btrieve/compression.h"

using btrieve::Status;
using btrieve::detail::decompressRecord;

namespace {

std::string u16(uint16_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
std::string lit(const std::string& s) { return u16(static_cast<uint16_t>(s.size())) + s; }
std::string run(uint16_t n, char c) { return u16(n) + std::string(1, c); }

TEST(Decompression, LiteralsAndRunsAlternate) {
    std::string out;
    ASSERT_EQ(decompressRecord(lit("00217") + run(6, ' ') + lit("AB") + run(3, '\0'), out, 1000), Status::Success);
    EXPECT_EQ(out, std::string("00217      AB") + std::string(3, '\0'));
    // A stream may end after a literal, and may start or continue with empty literals.
    ASSERT_EQ(decompressRecord(lit("") + run(5, 'x') + lit("") + run(2, 'y') + lit("z"), out, 1000), Status::Success);
    EXPECT_EQ(out, "xxxxxyyz");
    ASSERT_EQ(decompressRecord("", out, 1000), Status::Success);
    EXPECT_EQ(out, "");
    // Any byte value may be the run byte, and runs may be long.
    ASSERT_EQ(decompressRecord(lit("") + run(65535, '\xCC'), out, 70000), Status::Success);
    EXPECT_EQ(out, std::string(65535, '\xCC'));
}

TEST(Decompression, CutOrInflatedStreamsAreCorrupt) {
    std::string out;
    const std::string good = lit("hello") + run(9, '-');
    for (size_t cut = 1; cut < good.size(); ++cut) {
        const Status s = decompressRecord(good.substr(0, cut), out, 1000);
        // Cuts that end exactly after a token are complete streams.
        EXPECT_EQ(s, cut == 7 ? Status::Success : Status::Corrupt) << cut;
    }
    EXPECT_EQ(decompressRecord(u16(400) + "abc", out, 1000), Status::Corrupt);  // literal past the end
    EXPECT_EQ(decompressRecord(std::string(1, '\x01'), out, 1000), Status::Corrupt);  // half a count
    // Output beyond the cap is refused rather than allocated.
    EXPECT_EQ(decompressRecord(lit("") + run(60000, 'a') + lit("") + run(60000, 'b'), out, 100000),
              Status::Corrupt);
    EXPECT_EQ(decompressRecord(lit("abcdef"), out, 5), Status::Corrupt);
}

}  // namespace
