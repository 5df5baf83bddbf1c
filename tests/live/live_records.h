// Records that prove themselves: what the live writer puts in customer.dat and
// journal.dat while readers read them, and how a reader checks what it got.
//
// Every record the writer commits carries a seal in a field the program never
// shows:
//   customer.dat  "skip759a" (ZSTRING at 161, 255 bytes)
//   journal.dat   "skip115"  (STRING at 131, 115 bytes)
// The seal is the text "LIVE <serial> <checksum>", serial a decimal number unique
// to the record version, checksum 16 lowercase hex digits: the 64-bit FNV-1a hash
// of the whole record with the seal field's bytes set to zero. A record whose seal
// does not match its bytes was torn or mixed from two versions.
//
// The writer's log (one per company, text, appended after each commit):
//   commit <file> <usage> <start> <end>
//                             file "customer.dat" or "journal.dat", the FCR usage,
//                             and when the commit began and ended: nanoseconds of
//                             the system's monotonic clock, the same in every process
//   + <digest>                a record of that version not in the one before
//   - <digest>                a record of the version before not in this one
// digest: 16 hex digits, FNV-1a over the record's bytes. A record may be read from
// the start of the commit that added it to the end of the one that removed it;
// after the last commit the live set is exactly the file's records.
#pragma once

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>

#include "btrieve/types.h"
#include "data/layouts.h"

namespace live {

inline const char* const kCustomerFile = "customer.dat";
inline const char* const kJournalFile = "journal.dat";

inline uint64_t fnv1a(std::string_view bytes, uint64_t h = 0xcbf29ce484222325ull) {
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    return h;
}

inline uint64_t digest(std::string_view record) { return fnv1a(record); }

inline std::string hex16(uint64_t v) {
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016" PRIx64, v);
    return buf;
}

// The layout of a company file by its name, and the field its seal lives in.
struct SealedFile {
    const layouts::Layout& layout;
    btrieve::FieldDef seal;
};

inline SealedFile sealedFile(std::string_view name) {
    if (name == kCustomerFile) return {layouts::customer(), *layouts::customer().field("skip759a")};
    return {layouts::journal(), *layouts::journal().field("skip115")};
}

inline uint64_t checksum(std::string_view record, const btrieve::FieldDef& seal) {
    uint64_t h = fnv1a(record.substr(0, seal.offset));
    h = fnv1a(std::string(seal.length, '\0'), h);
    return fnv1a(record.substr(seal.offset + seal.length), h);
}

// Seals record (a whole record of its layout) as version serial.
inline void sealRecord(std::string& record, const btrieve::FieldDef& seal, uint64_t serial) {
    std::fill_n(record.begin() + seal.offset, seal.length, '\0');
    const std::string text = "LIVE " + std::to_string(serial) + " " + hex16(checksum(record, seal));
    record.replace(seal.offset, text.size(), text);
}

enum class SealCheck { Good, Bad, Missing };

inline SealCheck checkSeal(std::string_view record, const btrieve::FieldDef& seal) {
    if (record.size() < seal.offset + seal.length) return SealCheck::Bad;
    const std::string_view field = record.substr(seal.offset, seal.length);
    if (field.substr(0, 5) != "LIVE ") return SealCheck::Missing;
    const size_t space = field.find(' ', 5);
    if (space == std::string_view::npos || space + 17 > field.size()) return SealCheck::Bad;
    const std::string_view sum = field.substr(space + 1, 16);
    return sum == hex16(checksum(record, seal)) ? SealCheck::Good : SealCheck::Bad;
}

// Now on the monotonic clock the log's times use.
inline uint64_t monotonicNs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

// When a record may be read: from the start of the commit that added it to the
// end of the one that removed it (never, while it lives).
struct Lifetime {
    uint64_t from = 0, to = UINT64_MAX;
};

// A whole log read: per file, the last version's records (digest -> count) and
// the lifetime of every record any commit added.
struct VersionLog {
    std::map<std::string, std::map<uint64_t, int>> live;
    std::map<std::string, std::map<uint64_t, Lifetime>> ever;
    uint64_t commits = 0;

    // False (with why) for a log that cannot be read or a line it does not know.
    bool read(const std::string& path, std::string& why) {
        FILE* f = std::fopen(path.c_str(), "r");
        if (!f) {
            why = "cannot open " + path;
            return false;
        }
        char line[256];
        std::string file;
        unsigned long long start = 0, end = 0;
        bool good = true;
        while (good && std::fgets(line, sizeof line, f)) {
            char name[64];
            unsigned long usage = 0;
            uint64_t d = 0;
            if (std::sscanf(line, "commit %63s %lu %llu %llu", name, &usage, &start, &end) == 4) {
                file = name;
                ++commits;
            } else if (std::sscanf(line, "+ %" SCNx64, &d) == 1 && !file.empty()) {
                ++live[file][d];
                ever[file][d] = Lifetime{start, UINT64_MAX};
            } else if (std::sscanf(line, "- %" SCNx64, &d) == 1 && !file.empty()) {
                if (--live[file][d] <= 0) live[file].erase(d);
                ever[file][d].to = end;
            } else {
                why = path + ": unreadable line: " + line;
                good = false;
            }
        }
        std::fclose(f);
        return good;
    }
};

}  // namespace live
