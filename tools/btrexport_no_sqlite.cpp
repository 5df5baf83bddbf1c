// btrexport --ddf DIR --sqlite in a build without an SQLite library (the Windows
// build here): refused with a message and exit status 2, nothing written.
#include "tools/btrexport_sqlite.h"

#include <cstdio>

namespace btrexport {

int exportSqlite(const btrieve::Dictionary&, const std::string& out) {
    std::fprintf(stderr, "btrexport: %s: this build of btrexport has no SQLite; use --table NAME for CSV\n",
                 out.c_str());
    return 2;
}

}  // namespace btrexport
