// The format table against the figures observed in real files.
#include <gtest/gtest.h>

#include "btrieve/formats.h"

using namespace btrieve;
using namespace btrieve::detail;

TEST(FormatTable, EveryVersionWordFromSixOnNamesExactlyOneFamily) {
    EXPECT_EQ(familyOfVersion(0x05FF), nullptr);
    EXPECT_EQ(familyOfVersion(0x0951), nullptr);
    for (uint32_t v = 0x0600; v <= 0x0950; ++v) {
        int rows = 0;
        for (const FormatFamily& f : kFormats)
            if (f.family != Family::Pre6 && v >= f.versionMin && v <= f.versionMax) ++rows;
        ASSERT_EQ(rows, 1) << std::hex << v;
    }
    EXPECT_EQ(familyOfVersion(0x0600)->pat, PatKind::V6);
    EXPECT_EQ(familyOfVersion(0x0700)->pat, PatKind::V6);
    EXPECT_EQ(familyOfVersion(0x0800)->pat, PatKind::V8);
    EXPECT_EQ(familyOfVersion(0x0900)->pat, PatKind::V8);
    EXPECT_EQ(familyOfVersion(0x0950)->pat, PatKind::V95);
}

TEST(FormatTable, PageTableGeometryMatchesObservedFiles) {
    const FormatFamily& v8 = *familyOfVersion(0x0900);
    const FormatFamily& v95 = *familyOfVersion(0x0950);
    // 6.x: one page per copy, page size / 4 - 2 entries.
    EXPECT_EQ(copyPages(kV6, 4096), 1u);
    EXPECT_EQ(patEntries(kV6, 4096), 1022u);
    EXPECT_EQ(patEntries(kV6, 512), 126u);
    // 8.x: copies of at least 2048 bytes and two pages.
    EXPECT_EQ(copyPages(v8, 512), 4u);
    EXPECT_EQ(copyPages(v8, 4096), 2u);
    EXPECT_EQ(patEntries(v8, 512), 312u);
    EXPECT_EQ(patEntries(v8, 1024), 316u);
    EXPECT_EQ(patEntries(v8, 2048), 636u);
    EXPECT_EQ(patEntries(v95, 4096), 956u);
}
