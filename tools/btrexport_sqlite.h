// btrexport --ddf DIR --sqlite OUT.db: every readable table of a data dictionary
// into a new SQLite database.
#pragma once

#include <string>
#include <vector>

namespace btrexport {

// Writes one table per readable dictionary table (typed columns by btrieve/columns.h,
// every live record in file order) and an index per dictionary key whose parts are
// all columns, each table in a transaction of its own. Refuses an OUT that exists.
// A table whose file is missing is left out with a note on stderr; one whose file
// fails midway (damage, a read error) is rolled back, named on stderr, and makes the
// exit status 1. A progress line goes to stderr when it is a terminal. Returns the
// exit status: 0, or 1 when anything failed.
int exportSqlite(const std::string& folder, const std::string& out, const std::string& encoding);

// When args are "--ddf DIR --sqlite OUT [--encoding E]" (in any order after --ddf
// DIR): runs the export and sets status (2, with a message, for arguments that do
// not fit). False, status untouched, for any other command line.
bool runSqliteCommand(const std::vector<std::string>& args, int& status);

}  // namespace btrexport
