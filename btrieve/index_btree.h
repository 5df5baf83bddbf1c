// The key index read from the file's own B-tree pages (pre-6, 6.x, 8.0, 9.0 and 9.5
// files), so that open, seek and the first moves cost a few page reads instead of a pass
// over the file. The tree is trusted only while it checks out against the data;
// at the first disagreement the index falls back to the sorted in-memory index,
// repositioned on the record it stood on, and goes on from there.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "btrieve/index.h"

namespace btrieve {

class File;

// Why the file's own tree of key cannot be walked at all (the family's or the
// key's index layout is unknown, the source is not a file, ...); empty when it can.
std::string fileIndexUnusable(const RecordSource& source, const KeySpec& key);

// The index over the file's own B-tree of key. Fails (UnsupportedLayout, or the
// status of the root page) when the tree cannot be walked or its root does not
// check out; whyNot then says why.
Status makeBTreeIndex(std::shared_ptr<const RecordSource> source, const KeySpec& key,
                      std::unique_ptr<KeyIndex>& out, std::string* whyNot = nullptr);

// Where the file's own tree of key disagrees with order, the file's live records
// in the engine's order (engineKeyOrder): each page as a walk checks it, the
// entries in that order, each entry's key its record's. Why not, in the words of
// the fallback a walk would make; empty when the tree agrees or cannot be walked
// at all (fileIndexUnusable). Reads the index pages and one or two records an
// entry, not the records between a chain's ends.
std::string treeDisagreement(const File& file, const KeySpec& key, const std::vector<RecordAddress>& order);

// The live records in the order the file's own tree of key lists them, on the
// tree's own evidence: every page checks out as in a walk except for the order of
// its entries, every entry's key is its record's, and the tree names each record
// of order (the records in the key's order, as for treeDisagreement) exactly once.
// Such a tree is the order the engine keeps even where the key's collation sorts
// otherwise, as it does when the collating table is damaged. Why not, else empty.
std::string treeListing(const File& file, const KeySpec& key, const std::vector<RecordAddress>& order,
                        std::vector<RecordAddress>& out);

// The default index of a Table: the file's own tree where it can be walked and
// its root checks out, otherwise the in-memory index, whose description() then
// names the reason. The environment variable BTRIEVE_NO_FILE_INDEX=1 (read once
// per process) turns the tree walk off.
Status makeDefaultIndex(std::shared_ptr<const RecordSource> source, const KeySpec& key,
                        std::unique_ptr<KeyIndex>& out);

// Whether the process-wide switch BTRIEVE_NO_FILE_INDEX=1 is set.
bool fileIndexSwitchedOff();

}  // namespace btrieve
