// btrexport --ddf DIR --sqlite OUT.db: every readable table of a data dictionary
// into a new SQLite database.
#pragma once

#include <string>

#include "btrieve/dictionary.h"

namespace btrexport {

// Writes one table per readable table of dictionary (typed columns by
// btrieve/columns.h, every live record in file order) and an index per dictionary
// key whose parts are all columns, each table in a transaction of its own, into a
// new database at out; an existing out is refused. A table whose file is missing
// is left out with a note on stderr; one whose file is there but unreadable is
// left out too, and one whose file fails midway (damage, a read error) is rolled
// back; both are named on stderr and make the exit status 1. A progress
// line goes to stderr when it is a terminal. Returns the exit status.
int exportSqlite(const btrieve::Dictionary& dictionary, const std::string& out);

}  // namespace btrexport
