// sql_commit FILE: takes the file's last record out in one commit, as another
// program writing the company would, for the SQL tests of a reader that must see
// each committed version. Exit 0 when the commit landed.
#include <cstdio>
#include <memory>

#include "btrieve/committer.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: sql_commit FILE\n");
        return 2;
    }
    std::unique_ptr<btrieve::Committer> c;
    btrieve::Status st = btrieve::Committer::open(argv[1], c);
    if (btrieve::ok(st) && c->records().empty()) st = btrieve::Status::EndOfFile;
    if (btrieve::ok(st)) st = c->erase(c->records().size() - 1);
    if (btrieve::ok(st)) st = c->commit();
    if (!btrieve::ok(st)) {
        std::fprintf(stderr, "sql_commit: %s: %s\n", argv[1], btrieve::statusText(st).c_str());
        return 1;
    }
    return 0;
}
