// sql_commit FILE [HEX...]: one commit to the file, as another program writing the
// company would: with no HEX, its last record taken out; otherwise each HEX (the
// record's bytes) added. For the SQL tests of a reader that must see each
// committed version. Exit 0 when the commit landed.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "btrieve/committer.h"

namespace {

bool fromHex(const std::string& hex, std::string& out) {
    if (hex.size() % 2) return false;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const std::string digits = hex.substr(i, 2);
        char* end = nullptr;
        const long v = std::strtol(digits.c_str(), &end, 16);
        if (*end) return false;
        out += static_cast<char>(v);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: sql_commit FILE [HEX...]\n");
        return 2;
    }
    std::unique_ptr<btrieve::Committer> c;
    btrieve::Status st = btrieve::Committer::open(argv[1], c);
    for (int i = 2; btrieve::ok(st) && i < argc; ++i) {
        std::string record;
        if (!fromHex(argv[i], record)) return 2;
        c->insert(std::move(record));
    }
    if (btrieve::ok(st) && argc == 2)
        st = c->records().empty() ? btrieve::Status::EndOfFile : c->erase(c->records().size() - 1);
    if (btrieve::ok(st)) st = c->commit();
    if (!btrieve::ok(st)) {
        std::fprintf(stderr, "sql_commit: %s: %s\n", argv[1], btrieve::statusText(st).c_str());
        return 1;
    }
    return 0;
}
