// The loadable SQLite extension (".load ./btrieve"): read-only virtual tables over
// Btrieve files, without an engine.
//
//   CREATE VIRTUAL TABLE t USING btrieve(dictionary='DIR', table='NAME' [, encoding='E'])
//   CREATE VIRTUAL TABLE t USING btrieve(file='PATH', layout='customer'|'journal'|'permiss'
//                                        [, encoding='E'])
//   SELECT btrieve_attach('DIR' [, 'E' [, 'DATA']])  -- a table per readable dictionary table
//
// data='DIR' (and btrieve_attach's third argument) names the folder of the tables'
// files when the dictionary is kept apart from them.
//
// Columns and their values follow btrieve/columns.h (the CSV export's rule). Queries
// are planned on the file's own keys (sql/plan.h): equality and ranges on a key's
// leading columns start and end a walk of the key's index, ORDER BY its columns
// comes in key order without a sort; anything else reads every record in file
// order.
//
// Live: each cursor reads one version of the file. A cursor opened after another
// program committed takes up the new version; a commit that lands while a cursor
// reads stops the statement with a message (reads past it could mix versions).
// Nothing is ever written: INSERT, UPDATE and DELETE fail as read-only.
#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT1

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <tuple>
#include <vector>

#include "btrieve/columns.h"
#include "btrieve/dictionary.h"
#include "btrieve/file.h"
#include "btrieve/index.h"
#include "btrieve/index_btree.h"
#include "btrieve/keys.h"
#include "data/layouts.h"
#include "sql/plan.h"
#include "sql/read_ahead.h"
#include "sql/schema.h"

namespace {

using btrieve::Status;

// One version of the file and the indexes made over it, shared by the cursors that read it.
struct Version {
    std::shared_ptr<const btrieve::File> file;
    std::vector<std::unique_ptr<btrieve::KeyIndex>> indexes;  // by key position, made on first use
    std::vector<std::string> indexFailures;

    Status index(int position, const btrieve::KeyIndex*& out) {
        const auto p = static_cast<size_t>(position);
        if (indexes.size() <= p) indexes.resize(file->info().keys.size());
        if (!indexes[p]) {
            const Status st = btrieve::makeDefaultIndex(file, file->info().keys[p], indexes[p]);
            if (!btrieve::ok(st)) return st;
        }
        out = indexes[p].get();
        return Status::Success;
    }
};

struct VTab : sqlite3_vtab {
    std::string name;  // as the query names it
    std::string what;  // "table NAME (PATH)" for messages
    std::shared_ptr<const btrieve::Dictionary> dictionary;  // keeps the code page
    std::unique_ptr<btrieve::CodePage> ownCodePage;
    const btrieve::CodePage* codePage = nullptr;
    std::unique_ptr<sqlschema::TextEncoder> encoder;
    std::vector<btrieve::DictColumn> columns;
    std::vector<btrieve::ColumnReader> readers;
    std::vector<sqlplan::KeyUse> keys;
    std::shared_ptr<Version> version;
};

void setError(sqlite3_vtab* vtab, const std::string& message) {
    sqlite3_free(vtab->zErrMsg);
    vtab->zErrMsg = sqlite3_mprintf("%s", message.c_str());
}

std::string statusMessage(const VTab& t, Status st) {
    return "btrieve: " + t.what + ": " + btrieve::statusText(st);
}

// ---- creating a table -----------------------------------------------------------

// key='value' arguments of CREATE VIRTUAL TABLE.
struct Arguments {
    std::string dictionary, table, file, layout, encoding, data;
};

std::string unquote(std::string_view v) {
    while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
    while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
    if (v.size() >= 2 && (v.front() == '\'' || v.front() == '"') && v.back() == v.front()) {
        const char q = v.front();
        std::string out;
        for (size_t i = 1; i + 1 < v.size(); ++i) {
            out += v[i];
            if (v[i] == q && i + 2 < v.size() && v[i + 1] == q) ++i;
        }
        return out;
    }
    return std::string(v);
}

bool parseArguments(int argc, const char* const* argv, Arguments& out, std::string& why) {
    for (int i = 3; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const size_t eq = arg.find('=');
        const std::string key = eq == std::string_view::npos ? unquote(arg) : unquote(arg.substr(0, eq));
        const std::string value = eq == std::string_view::npos ? std::string() : unquote(arg.substr(eq + 1));
        std::string* slot = key == "dictionary" ? &out.dictionary
                            : key == "table"    ? &out.table
                            : key == "file"     ? &out.file
                            : key == "layout"   ? &out.layout
                            : key == "encoding" ? &out.encoding
                            : key == "data"     ? &out.data
                                                : nullptr;
        if (!slot || eq == std::string_view::npos) {
            why = "btrieve: unknown argument '" + std::string(arg) +
                  "' (dictionary='DIR', table='NAME', data='DIR', file='PATH', layout='NAME', encoding='E')";
            return false;
        }
        *slot = value;
    }
    const bool byDictionary = !out.dictionary.empty() || !out.table.empty();
    const bool byLayout = !out.file.empty() || !out.layout.empty();
    if (byDictionary == byLayout || (byDictionary && (out.dictionary.empty() || out.table.empty())) ||
        (byLayout && (out.file.empty() || out.layout.empty()))) {
        why = "btrieve: give dictionary='DIR' and table='NAME', or file='PATH' and layout='customer', "
              "'journal' or 'permiss'";
        return false;
    }
    return true;
}

// The dictionary btrieve_attach has open while it creates its tables, so that each
// does not read it again.
struct Attaching {
    std::string folder, encoding, data;
    std::shared_ptr<const btrieve::Dictionary> dictionary;
};
thread_local const Attaching* attaching = nullptr;

std::string tableNames(const btrieve::Dictionary& d) {
    std::string names;
    for (const auto& t : d.tables()) names += (names.empty() ? "" : ", ") + t.name;
    return names;
}

bool openByDictionary(const Arguments& a, VTab& t, std::shared_ptr<const btrieve::File>& file, std::string& why) {
    btrieve::DictionaryOptions options;
    if (!a.encoding.empty()) options.encoding = a.encoding;
    if (!a.data.empty()) options.dataFolders.push_back(a.data);
    if (attaching && attaching->folder == a.dictionary && attaching->encoding == options.encoding &&
        attaching->data == a.data) {
        t.dictionary = attaching->dictionary;
    } else {
        std::unique_ptr<btrieve::Dictionary> d;
        std::string message;
        if (!btrieve::ok(btrieve::Dictionary::open(a.dictionary, options, d, message))) {
            why = "btrieve: " + message;
            return false;
        }
        t.dictionary = std::move(d);
    }
    const btrieve::DictTable* table = t.dictionary->find(a.table);
    if (!table) {
        why = "btrieve: no table '" + a.table + "' in " + a.dictionary + "; its tables: " + tableNames(*t.dictionary);
        return false;
    }
    t.what = "table " + table->name + " (" + (table->path.empty() ? table->location : table->path) + ")";
    if (!table->readable()) {
        why = "btrieve: " + t.what + ": " + table->problem;
        return false;
    }
    std::unique_ptr<btrieve::File> f;
    if (const Status st = t.dictionary->openFile(*table, f); !btrieve::ok(st)) {
        why = statusMessage(t, st);
        return false;
    }
    file = std::move(f);
    t.codePage = &t.dictionary->codePage();
    t.columns = table->columns;
    t.readers = btrieve::makeColumnReaders(*table, file->info());
    return true;
}

bool openByLayout(const Arguments& a, VTab& t, std::shared_ptr<const btrieve::File>& file, std::string& why) {
    const layouts::Layout* layout = layouts::byName(a.layout);
    if (!layout) {
        why = "btrieve: unknown layout '" + a.layout + "' (customer, journal or permiss)";
        return false;
    }
    t.what = "file " + a.file;
    std::string problem;
    t.ownCodePage =
        a.encoding.empty() ? btrieve::CodePage::windows1252() : btrieve::CodePage::make(a.encoding, problem);
    if (!t.ownCodePage) {
        why = "btrieve: " + problem;
        return false;
    }
    std::unique_ptr<btrieve::File> f;
    btrieve::OpenOptions options;
    options.ownerName = layout->ownerName;
    if (const Status st = btrieve::File::open(a.file, f, options); !btrieve::ok(st)) {
        why = statusMessage(t, st);
        return false;
    }
    // Rows read through a layout the file does not follow would be garbage that
    // looks like data.
    if (const std::string diff = layouts::fileDifferences(*layout, f->info()); !diff.empty()) {
        why = "btrieve: " + t.what + ": does not fit the " + a.layout + " layout: " + diff;
        return false;
    }
    file = std::move(f);
    t.codePage = t.ownCodePage.get();
    t.columns = sqlschema::layoutColumns(*layout);
    std::string fault;  // none: the layouts fit the files they accept
    for (const auto& c : t.columns)
        t.readers.push_back(btrieve::ColumnReader::make(c, btrieve::longestRecord(file->info()), fault));
    return true;
}

int xConnect(sqlite3* db, void*, int argc, const char* const* argv, sqlite3_vtab** out, char** err) {
    Arguments args;
    std::string why;
    auto t = std::make_unique<VTab>();
    std::shared_ptr<const btrieve::File> file;
    if (!parseArguments(argc, argv, args, why) ||
        !(args.file.empty() ? openByDictionary(args, *t, file, why) : openByLayout(args, *t, file, why))) {
        *err = sqlite3_mprintf("%s", why.c_str());
        return SQLITE_ERROR;
    }
    t->name = argv[2];
    t->encoder = std::make_unique<sqlschema::TextEncoder>(*t->codePage);
    t->keys = sqlplan::keyUses(file->info(), t->columns);
    t->version = std::make_shared<Version>();
    t->version->file = std::move(file);
    const std::string schema = "CREATE TABLE x" + sqlschema::columnList(t->columns, t->readers);
    if (const int rc = sqlite3_declare_vtab(db, schema.c_str()); rc != SQLITE_OK) {
        *err = sqlite3_mprintf("btrieve: %s: cannot declare its columns: %s", t->what.c_str(), sqlite3_errmsg(db));
        return rc;
    }
    *out = t.release();
    return SQLITE_OK;
}

int xDisconnect(sqlite3_vtab* vtab) {
    delete static_cast<VTab*>(vtab);
    return SQLITE_OK;
}

// ---- planning -------------------------------------------------------------------

bool binaryCollation(sqlite3_index_info* info, int constraint) {
    const char* c = sqlite3_vtab_collation(info, constraint);
    return !c || sqlite3_stricmp(c, "BINARY") == 0;
}

struct Candidate {
    sqlplan::Plan plan;
    std::vector<int> args;  // constraint indexes in argument order
    double cost = 0, rows = 0;
    bool orderConsumed = false, unique = false;
};

// The constraint usable on segment s with one of ops, or -1.
int findConstraint(sqlite3_index_info* info, const sqlplan::SegmentUse& s, std::initializer_list<int> ops) {
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto& c = info->aConstraint[i];
        if (!c.usable || std::find(s.columns.begin(), s.columns.end(), c.iColumn) == s.columns.end()) continue;
        if (std::find(ops.begin(), ops.end(), c.op) == ops.end()) continue;
        if (s.isText && !binaryCollation(info, i)) continue;
        return i;
    }
    return -1;
}

// Whether ORDER BY is the key's segments from segment `from` on, all one way.
bool ordersBy(const sqlite3_index_info* info, const sqlplan::KeyUse& key, size_t from, Candidate& c) {
    if (info->nOrderBy == 0 || from + static_cast<size_t>(info->nOrderBy) > key.segments.size()) return false;
    const bool desc = info->aOrderBy[0].desc;
    std::vector<int> columns;
    bool check = false;
    for (int j = 0; j < info->nOrderBy; ++j) {
        const auto& term = info->aOrderBy[j];
        const auto& s = key.segments[from + static_cast<size_t>(j)];
        if (term.desc != desc || !s.orders ||
            std::find(s.columns.begin(), s.columns.end(), term.iColumn) == s.columns.end())
            return false;
        columns.push_back(term.iColumn);
        check = check || s.checkOrder;
    }
    c.plan.descending = desc;
    c.plan.checkOrder = check;
    c.plan.orderColumns = std::move(columns);
    return true;
}

Candidate keyCandidate(sqlite3_index_info* info, const sqlplan::KeyUse& key, double records) {
    Candidate c;
    c.plan.key = key.position;
    size_t e = 0;
    for (; e < key.segments.size() && key.segments[e].pins; ++e) {
        const int i = findConstraint(info, key.segments[e], {SQLITE_INDEX_CONSTRAINT_EQ});
        if (i < 0) break;
        c.args.push_back(i);
    }
    c.plan.pinned = static_cast<int>(e);
    double rows = records / std::pow(10.0, static_cast<double>(e));
    if (e < key.segments.size()) {
        const auto& s = key.segments[e];
        const int eq = s.textEquality ? findConstraint(info, s, {SQLITE_INDEX_CONSTRAINT_EQ}) : -1;
        if (eq >= 0) {
            c.plan.textEquality = c.plan.lower = c.plan.upper = true;
            c.args.push_back(eq);
            rows /= 10;
        } else if (s.ranges) {
            const int lo = findConstraint(info, s, {SQLITE_INDEX_CONSTRAINT_GT, SQLITE_INDEX_CONSTRAINT_GE});
            const int hi = findConstraint(info, s, {SQLITE_INDEX_CONSTRAINT_LT, SQLITE_INDEX_CONSTRAINT_LE});
            if (lo >= 0) c.args.push_back(lo), c.plan.lower = true, rows /= 4;
            if (hi >= 0) c.args.push_back(hi), c.plan.upper = true, rows /= 4;
        }
    }
    c.unique = key.unique && e == key.segments.size();
    if (c.unique) rows = 1;
    c.rows = std::max(rows, 1.0);
    // From the first segment, or from the one after the pinned ones.
    c.orderConsumed = ordersBy(info, key, 0, c) || (e > 0 && ordersBy(info, key, e, c));
    // A walk in key order reads records scattered over the file.
    c.cost = std::log2(records + 2) * (1 + e) + c.rows * 1.5;
    return c;
}

int xBestIndex(sqlite3_vtab* vtab, sqlite3_index_info* info) {
    auto* t = static_cast<VTab*>(vtab);
    const double records = static_cast<double>(std::max<uint64_t>(t->version->file->info().recordCount, 1));
    Candidate best;
    best.cost = records;
    best.rows = records;
    for (const auto& key : t->keys) {
        if (!key.usable || key.segments.empty() || key.segments[0].columns.empty()) continue;
        Candidate c = keyCandidate(info, key, records);
        if (c.args.empty() && !c.orderConsumed) continue;
        // A sort is SQLite's to count; a plan that spares it is worth its scatter.
        const double sort = info->nOrderBy && !c.orderConsumed ? c.rows * std::log2(c.rows + 2) : 0;
        const double bestSort =
            info->nOrderBy && !best.orderConsumed ? best.rows * std::log2(best.rows + 2) : 0;
        if (c.cost + sort < best.cost + bestSort) best = std::move(c);
    }
    for (size_t a = 0; a < best.args.size(); ++a) {
        info->aConstraintUsage[best.args[a]].argvIndex = static_cast<int>(a + 1);
        info->aConstraintUsage[best.args[a]].omit = 0;  // SQLite still checks every row
    }
    info->orderByConsumed = best.orderConsumed;
    info->estimatedCost = best.cost;
    info->estimatedRows = static_cast<sqlite3_int64>(best.rows);
    if (best.unique) info->idxFlags |= SQLITE_INDEX_SCAN_UNIQUE;
    info->idxNum = best.plan.key;
    info->idxStr = sqlite3_mprintf("%s", best.plan.text().c_str());
    info->needToFreeIdxStr = 1;
    return SQLITE_OK;
}

// ---- reading --------------------------------------------------------------------

struct Cursor : sqlite3_vtab_cursor {
    std::shared_ptr<Version> version;
    sqlplan::Plan plan;
    // Key walk: the index, the position, and the bounds over their leading segments.
    const btrieve::KeyIndex* index = nullptr;
    std::unique_ptr<btrieve::IndexCursor> at;
    std::string lower, upper;
    btrieve::KeySpec lowerKey, upperKey;
    bool hasLower = false, hasUpper = false;
    // File order: the records read ahead.
    std::unique_ptr<sqlscan::ReadAhead> scan;

    bool eof = true;
    btrieve::RecordAddress address = 0;
    std::string_view record;
    std::string scratch;
    btrieve::Cell cell;
    std::vector<btrieve::Cell> previousOrder, currentOrder;
    bool havePrevious = false;
    uint64_t rowsRead = 0;
    uint32_t checkedPage = 0;

    VTab& table() const { return *static_cast<VTab*>(pVtab); }
};

// Whether the columns and the plans made for one version of a file fit another:
// the same record length and the same keys.
bool sameShape(const btrieve::FileInfo& a, const btrieve::FileInfo& b) {
    auto segments = [](const btrieve::KeySpec& k) {
        std::vector<std::tuple<uint32_t, uint16_t, btrieve::DataType, uint16_t, int>> out;
        for (const auto& s : k.segments) out.emplace_back(s.position, s.length, s.type, s.flags, s.acs);
        return out;
    };
    if (a.recordLength != b.recordLength || a.variable != b.variable || a.keys.size() != b.keys.size() ||
        a.acsTables != b.acsTables)
        return false;
    for (size_t k = 0; k < a.keys.size(); ++k)
        if (segments(a.keys[k]) != segments(b.keys[k])) return false;
    return true;
}

int xOpen(sqlite3_vtab* vtab, sqlite3_vtab_cursor** out) {
    auto* t = static_cast<VTab*>(vtab);
    // A cursor opened after another program's commit reads the new version.
    bool changed = false;
    Status st = t->version->file->checkChanged(changed);
    if (btrieve::ok(st) && changed) {
        std::shared_ptr<const btrieve::RecordSource> fresh;
        st = t->version->file->reopen(fresh);
        if (btrieve::ok(st)) {
            auto file = std::dynamic_pointer_cast<const btrieve::File>(fresh);
            if (!file) {
                st = Status::InvalidOperation;
            } else if (!sameShape(file->info(), t->version->file->info())) {
                setError(vtab, "btrieve: " + t->what + ": the file was replaced by one of another shape; "
                               "create the table again");
                return SQLITE_ERROR;
            } else {
                auto v = std::make_shared<Version>();
                v->file = std::move(file);
                t->version = std::move(v);
            }
        }
    }
    if (!btrieve::ok(st)) {
        setError(vtab, statusMessage(*t, st));
        return SQLITE_ERROR;
    }
    auto c = std::make_unique<Cursor>();
    c->version = t->version;
    *out = c.release();
    return SQLITE_OK;
}

int xClose(sqlite3_vtab_cursor* cursor) {
    delete static_cast<Cursor*>(cursor);
    return SQLITE_OK;
}

int fail(Cursor& c, const std::string& message) {
    c.eof = true;
    setError(c.pVtab, message);
    return SQLITE_ERROR;
}

// SQLite's order of two values: NULL, numbers, text (bytes), blobs.
int compareCells(const btrieve::Cell& a, const btrieve::Cell& b) {
    using btrieve::CellKind;
    auto rank = [](const btrieve::Cell& c) {
        switch (c.kind) {
        case CellKind::Null: return 0;
        case CellKind::Integer:
        case CellKind::Unsigned:
        case CellKind::Real: return 1;
        case CellKind::Decimal: return c.roundTrips ? 1 : 2;
        case CellKind::Text: return 2;
        case CellKind::Bytes: return 3;
        }
        return 3;
    };
    auto number = [](const btrieve::Cell& c) {
        return c.kind == CellKind::Integer    ? static_cast<long double>(c.integer)
               : c.kind == CellKind::Unsigned ? static_cast<long double>(c.unsignedValue)
                                              : static_cast<long double>(c.real);
    };
    const int ra = rank(a), rb = rank(b);
    if (ra != rb) return ra < rb ? -1 : 1;
    if (ra == 0) return 0;
    if (ra == 1) {
        const long double x = number(a), y = number(b);
        return x < y ? -1 : x > y ? 1 : 0;
    }
    return a.text.compare(b.text);
}

// The file's order of the ORDER BY columns agrees with SQL's so far.
bool orderHolds(Cursor& c) {
    const VTab& t = c.table();
    c.currentOrder.resize(c.plan.orderColumns.size());
    for (size_t i = 0; i < c.plan.orderColumns.size(); ++i)
        t.readers[static_cast<size_t>(c.plan.orderColumns[i])].read(c.record, *t.codePage, c.currentOrder[i]);
    bool holds = true;
    if (c.havePrevious) {
        for (size_t i = 0; i < c.currentOrder.size(); ++i) {
            const int d = compareCells(c.previousOrder[i], c.currentOrder[i]);
            if (d == 0) continue;
            holds = c.plan.descending ? d > 0 : d < 0;
            break;
        }
    }
    c.previousOrder.swap(c.currentOrder);
    c.havePrevious = true;
    return holds;
}

// Takes the record read as the current row. lookForCommit: whether to look first
// whether another program committed since the record was read.
int deliver(Cursor& c, bool lookForCommit) {
    const VTab& t = c.table();
    bool changed = false;
    Status st = lookForCommit || c.rowsRead == 0 ? c.version->file->checkCommitted(changed) : Status::Success;
    if (btrieve::ok(st) && changed)
        return fail(c, "btrieve: " + t.what + ": another program committed to the file while this statement "
                                              "read it; run the statement again");
    if (!btrieve::ok(st)) return fail(c, statusMessage(t, st));
    ++c.rowsRead;
    if (c.plan.checkOrder && !orderHolds(c))
        return fail(c, "btrieve: " + t.what + ": the file's key gives these rows in an order SQL's text order "
                                              "does not; write ORDER BY +column to have SQLite sort them");
    c.eof = false;
    return SQLITE_OK;
}

// Reads the record at the key walk's position, or ends the cursor when the walk
// left the bounds.
int land(Cursor& c) {
    const btrieve::File& file = *c.version->file;
    const auto& info = file.info();
    const std::string_view key = c.at->key();
    if (!c.plan.descending && c.hasUpper &&
        btrieve::compareKeys(c.upperKey, info, key.substr(0, c.upper.size()), c.upper) > 0)
        return c.eof = true, SQLITE_OK;
    if (c.plan.descending && c.hasLower &&
        btrieve::compareKeys(c.lowerKey, info, key.substr(0, c.lower.size()), c.lower) < 0)
        return c.eof = true, SQLITE_OK;
    c.address = c.at->address();
    if (const Status st = file.readRecordView(c.address, c.record, c.scratch); !btrieve::ok(st))
        return fail(c, statusMessage(c.table(), st));
    // A commit is looked for as the walk comes to each page: one look per record
    // would cost as much as the read itself.
    const uint32_t page = btrieve::File::addressPage(c.address);
    const bool newPage = page != c.checkedPage;
    c.checkedPage = page;
    return deliver(c, newPage);
}

int step(Cursor& c, bool first) {
    Status st;
    if (c.plan.key < 0) {
        bool newBatch = false;
        if (!c.scan->next(c.address, c.record, newBatch, st))
            return btrieve::ok(st) ? (c.eof = true, SQLITE_OK) : fail(c, statusMessage(c.table(), st));
        // Each batch was copied before it is taken: a look now covers all of it.
        return deliver(c, newBatch);
    }
    if (first) {
        if (!c.plan.descending) {
            st = c.hasLower ? c.index->lowerBound(c.lower, c.lowerKey.segments.size(), c.at) : c.index->first(c.at);
        } else if (c.hasUpper) {
            st = c.index->upperBound(c.upper, c.upperKey.segments.size(), c.at);
            if (btrieve::ok(st)) st = c.at->previous();
            else if (st == Status::EndOfFile) st = c.index->last(c.at);
        } else {
            st = c.index->last(c.at);
        }
    } else {
        st = c.plan.descending ? c.at->previous() : c.at->next();
    }
    if (st == Status::EndOfFile) return c.eof = true, SQLITE_OK;
    if (!btrieve::ok(st)) return fail(c, statusMessage(c.table(), st));
    return land(c);
}

sqlplan::SqlValue sqlValue(sqlite3_value* v) {
    sqlplan::SqlValue out;
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: out.kind = sqlplan::SqlValue::Integer, out.integer = sqlite3_value_int64(v); break;
    case SQLITE_FLOAT: out.kind = sqlplan::SqlValue::Real, out.real = sqlite3_value_double(v); break;
    case SQLITE_TEXT:
        out.kind = sqlplan::SqlValue::Text;
        out.text.assign(reinterpret_cast<const char*>(sqlite3_value_text(v)),
                        static_cast<size_t>(sqlite3_value_bytes(v)));
        break;
    case SQLITE_BLOB: out.kind = sqlplan::SqlValue::Blob; break;
    default: break;
    }
    return out;
}

// The plan's bounds from the query's values. A value the key cannot hold narrows
// nothing: the walk reads more and SQLite's own check keeps the result right.
void makeBounds(Cursor& c, int argc, sqlite3_value** argv) {
    const VTab& t = c.table();
    const btrieve::KeySpec& key = c.version->file->info().keys[static_cast<size_t>(c.plan.key)];
    const auto& uses = t.keys[static_cast<size_t>(c.plan.key)].segments;
    int arg = 0;
    std::string pinned;
    size_t segments = 0;
    using sqlplan::End;
    for (; segments < static_cast<size_t>(c.plan.pinned) && arg < argc; ++segments, ++arg)
        if (!sqlplan::segmentBytes(key.segments[segments], uses[segments], sqlValue(argv[arg]), End::Exact,
                                   *t.encoder, pinned))
            break;
    const bool allPinned = segments == static_cast<size_t>(c.plan.pinned);
    c.lower = c.upper = pinned;
    size_t lowerSegments = segments, upperSegments = segments;
    if (allPinned && segments < key.segments.size()) {
        const auto& seg = key.segments[segments];
        auto bound = [&](End end, std::string& out, size_t& count) {
            if (arg >= argc) return;
            const sqlplan::SqlValue v = sqlValue(argv[arg]);
            const bool textBound = !c.plan.textEquality && v.kind == sqlplan::SqlValue::Text &&
                                   seg.type != btrieve::DataType::Date;
            if (textBound && !sqlplan::printableAscii(v.text)) return;
            std::string bytes;
            if (!sqlplan::segmentBytes(seg, uses[segments], v, end, *t.encoder, bytes)) return;
            out += bytes;
            ++count;
        };
        if (c.plan.lower) {
            bound(End::Low, c.lower, lowerSegments);
            if (!c.plan.textEquality) ++arg;
        }
        if (c.plan.upper) bound(End::High, c.upper, upperSegments);
    }
    c.hasLower = lowerSegments > 0;
    c.hasUpper = upperSegments > 0;
    c.lowerKey = btrieve::leadingSegments(key, lowerSegments);
    c.upperKey = btrieve::leadingSegments(key, upperSegments);
}

int xFilter(sqlite3_vtab_cursor* cursor, int, const char* idxStr, int argc, sqlite3_value** argv) {
    auto& c = *static_cast<Cursor*>(cursor);
    const VTab& t = c.table();
    c.eof = true;
    c.havePrevious = false;
    c.rowsRead = 0;
    c.at.reset();
    if (!idxStr || !sqlplan::Plan::parse(idxStr, c.plan)) return fail(c, "btrieve: " + t.what + ": no plan");
    if (c.plan.key >= 0) {
        if (const Status st = c.version->index(c.plan.key, c.index); !btrieve::ok(st))
            return fail(c, statusMessage(t, st));
        makeBounds(c, argc, argv);
        return step(c, true);
    }
    c.scan.reset();
    try {
        c.scan = std::make_unique<sqlscan::ReadAhead>(c.version->file);
    } catch (const std::system_error& e) {
        return fail(c, "btrieve: " + t.what + ": cannot start reading: " + e.what());
    }
    return step(c, true);
}

int xNext(sqlite3_vtab_cursor* cursor) { return step(*static_cast<Cursor*>(cursor), false); }

int xEof(sqlite3_vtab_cursor* cursor) { return static_cast<Cursor*>(cursor)->eof; }

struct ResultSink {
    sqlite3_context* context;
    void null() { sqlite3_result_null(context); }
    void integer(int64_t v) { sqlite3_result_int64(context, v); }
    void real(double v) { sqlite3_result_double(context, v); }
    void text(std::string_view s) {
        sqlite3_result_text64(context, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
    void blob(std::string_view s) { sqlite3_result_blob64(context, s.data(), s.size(), SQLITE_TRANSIENT); }
};

int xColumn(sqlite3_vtab_cursor* cursor, sqlite3_context* context, int column) {
    auto& c = *static_cast<Cursor*>(cursor);
    const VTab& t = c.table();
    t.readers[static_cast<size_t>(column)].read(c.record, *t.codePage, c.cell);
    ResultSink sink{context};
    sqlschema::putCell(c.cell, sink);
    return SQLITE_OK;
}

int xRowid(sqlite3_vtab_cursor* cursor, sqlite3_int64* rowid) {
    *rowid = static_cast<sqlite3_int64>(static_cast<Cursor*>(cursor)->address);
    return SQLITE_OK;
}

int xUpdate(sqlite3_vtab* vtab, int, sqlite3_value**, sqlite3_int64*) {
    const auto* t = static_cast<VTab*>(vtab);
    setError(vtab, "btrieve: table " + t->name + " is read-only: the Btrieve files are never written");
    return SQLITE_READONLY;
}

// Version 0 of the module: the members later SQLite versions add stay empty,
// whichever version's header this is built with.
sqlite3_module makeModule() {
    sqlite3_module m{};
    m.iVersion = 0;
    m.xCreate = xConnect;
    m.xConnect = xConnect;
    m.xBestIndex = xBestIndex;
    m.xDisconnect = xDisconnect;
    m.xDestroy = xDisconnect;
    m.xOpen = xOpen;
    m.xClose = xClose;
    m.xFilter = xFilter;
    m.xNext = xNext;
    m.xEof = xEof;
    m.xColumn = xColumn;
    m.xRowid = xRowid;
    m.xUpdate = xUpdate;
    return m;
}

const sqlite3_module kModule = makeModule();

// ---- btrieve_attach ---------------------------------------------------------------

void attach(sqlite3_context* context, int argc, sqlite3_value** argv) {
    auto text = [&](int i) {
        const unsigned char* s = i < argc ? sqlite3_value_text(argv[i]) : nullptr;
        return s ? std::string(reinterpret_cast<const char*>(s)) : std::string();
    };
    Attaching a;
    a.folder = text(0);
    btrieve::DictionaryOptions options;
    if (argc > 1 && !text(1).empty()) options.encoding = text(1);
    a.encoding = options.encoding;
    a.data = text(2);
    if (!a.data.empty()) options.dataFolders.push_back(a.data);
    std::unique_ptr<btrieve::Dictionary> d;
    std::string message;
    if (a.folder.empty() || !btrieve::ok(btrieve::Dictionary::open(a.folder, options, d, message))) {
        const std::string why = "btrieve_attach: " + (a.folder.empty() ? "no dictionary folder given" : message);
        sqlite3_result_error(context, why.c_str(), -1);
        return;
    }
    a.dictionary = std::move(d);
    sqlite3* db = sqlite3_context_db_handle(context);
    int made = 0;
    attaching = &a;
    for (const auto& table : a.dictionary->tables()) {
        if (!table.readable()) continue;
        const std::string sql = "CREATE VIRTUAL TABLE " + sqlschema::quoteIdentifier(table.name) +
                                " USING btrieve(dictionary=" + sqlschema::quoteLiteral(a.folder) +
                                ", table=" + sqlschema::quoteLiteral(table.name) +
                                ", encoding=" + sqlschema::quoteLiteral(a.encoding) +
                                (a.data.empty() ? "" : ", data=" + sqlschema::quoteLiteral(a.data)) + ")";
        char* err = nullptr;
        if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
            attaching = nullptr;
            const std::string why = "btrieve_attach: table " + table.name + ": " + (err ? err : "failed");
            sqlite3_free(err);
            sqlite3_result_error(context, why.c_str(), -1);
            return;
        }
        ++made;
    }
    attaching = nullptr;
    sqlite3_result_int(context, made);
}

}  // namespace

extern "C"
#ifdef _WIN32
    __declspec(dllexport)
#else
    __attribute__((visibility("default")))
#endif
    int sqlite3_btrieve_init(sqlite3* db, char** err, const sqlite3_api_routines* api) {
    SQLITE_EXTENSION_INIT2(api);
    int rc = sqlite3_create_module_v2(db, "btrieve", &kModule, nullptr, nullptr);
    for (int n = 1; rc == SQLITE_OK && n <= 3; ++n)
        rc = sqlite3_create_function_v2(db, "btrieve_attach", n, SQLITE_UTF8 | SQLITE_DIRECTONLY, nullptr, attach,
                                        nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) *err = sqlite3_mprintf("btrieve: cannot register: %s", sqlite3_errmsg(db));
    return rc;
}
