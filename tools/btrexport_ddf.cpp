// btrexport --ddf: a dictionary's tables listed, or one of them as CSV, every column
// by the one rule of btrieve/columns.h.
#include "tools/btrexport_ddf.h"
#include "tools/btrexport_sqlite.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "btrieve/columns.h"
#include "tools/btrexport_emit.h"

namespace btrexport {
namespace {

using btrieve::Status;

int usage(const std::string& why) {
    std::fprintf(stderr, "btrexport: %s\n", why.c_str());
    std::fputs(kDictionaryUsage, stderr);
    return 2;
}

void sayTable(const std::string& folder, const btrieve::DictTable& t, const std::string& what) {
    std::fprintf(stderr, "btrexport: %s: table %s: %s\n", folder.c_str(), t.name.c_str(), what.c_str());
}

// One line of CSV (RFC 4180): the fields, comma-separated, and CRLF.
template <class Fill>
void csvLine(std::string& line, size_t fields, Fill fill) {
    for (size_t i = 0; i < fields; ++i) {
        if (i) line.push_back(',');
        fill(i, line);
    }
    line += "\r\n";
}

void appendCsvText(const std::string& text, std::string& line) {
    btrieve::Cell c;
    c.kind = btrieve::CellKind::Text;
    c.text = text;
    btrieve::appendCsvField(c, line);
}

int runList(const DictionaryArgs& args, const btrieve::Dictionary& dict) {
    Out out;
    out.put("table,file,records,columns\r\n");
    std::string line;
    for (const auto& t : dict.tables()) {
        line.clear();
        const std::string records = t.readable() ? std::to_string(t.records) : t.problem;
        const std::string file = t.relativePath.empty() ? t.location : t.relativePath;
        const std::string columns = std::to_string(t.columns.size());
        const std::string* fields[] = {&t.name, &file, &records, &columns};
        csvLine(line, 4, [&](size_t i, std::string& l) { appendCsvText(*fields[i], l); });
        out.put(line);
        if (!t.readable()) sayTable(args.folder, t, t.problem);
    }
    return out.finish() ? 0 : 1;
}

int runTable(const DictionaryArgs& args, const btrieve::Dictionary& dict) {
    const btrieve::DictTable* t = dict.find(args.table);
    if (!t) {
        std::string names;
        for (const auto& each : dict.tables()) names += (names.empty() ? "" : ", ") + each.name;
        std::fprintf(stderr, "btrexport: %s: no table '%s'; the tables are: %s\n", args.folder.c_str(),
                     args.table.c_str(), names.c_str());
        return 1;
    }
    std::unique_ptr<btrieve::File> file;
    Status st = dict.openFile(*t, file);
    if (!btrieve::ok(st)) {
        sayTable(args.folder, *t, t->problem.empty() ? btrieve::statusText(st) : t->problem);
        return 1;
    }
    const auto& keys = file->info().keys;
    if (args.keyGiven && std::none_of(keys.begin(), keys.end(), [&](auto& k) { return k.number == args.key; })) {
        std::string numbers;
        for (const auto& k : keys) numbers += (numbers.empty() ? "" : ", ") + std::to_string(k.number);
        sayTable(args.folder, *t,
                 "no key " + std::to_string(args.key) + " in " + file->path() +
                     (numbers.empty() ? " (it has no keys)" : " (its keys: " + numbers + ")"));
        return 1;
    }
    const auto readers = btrieve::makeColumnReaders(*t, file->info());
    const btrieve::CodePage& cp = dict.codePage();
    Out out;
    std::string header;
    csvLine(header, t->columns.size(), [&](size_t i, std::string& l) { appendCsvText(t->columns[i].name, l); });
    out.put(header);
    // Rows are formatted in two threads: each row its own cell and line (not
    // thread_local: MinGW's GCC frees such storage before its destructors run).
    size_t rows = 0;
    st = exportRecords(*file, args.key, args.keyGiven, out,
                       [&](csvout::Buffer& b, std::string_view rec, btrieve::Value&) {
                           btrieve::Cell cell;
                           std::string line;
                           csvLine(line, readers.size(), [&](size_t i, std::string& l) {
                               readers[i].read(rec, cp, cell);
                               btrieve::appendCsvField(cell, l);
                           });
                           b.append(line);
                           return Status::Success;
                       },
                       &rows);
    const bool written = out.finish();
    if (!btrieve::ok(st)) {
        std::fprintf(stderr, "btrexport: %s: %s\n", file->path().c_str(), btrieve::statusText(st).c_str());
        if (rows > 0)
            std::fprintf(stderr, "btrexport: %s: %zu rows were written before the damage; the output is incomplete\n",
                         file->path().c_str(), rows);
        return 1;
    }
    if (!written) {
        std::fprintf(stderr, "btrexport: standard output: %s\n", btrieve::statusText(Status::IoError).c_str());
        return 1;
    }
    return 0;
}

bool parseKey(const std::string& text, int& out) {
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && p == end && out >= 0 && out < 128;
}

}  // namespace

const char kDictionaryUsage[] =
    "       btrexport --ddf DIR --list [--encoding E] [--data DIR]...\n"
    "       btrexport --ddf DIR --table NAME [--key N] [--encoding E] [--data DIR]...\n"
    "       btrexport --ddf DIR --sqlite OUT.db [--encoding E] [--data DIR]...\n";

const char kDictionaryHelp[] =
    "  --ddf DIR             the tables of the data dictionary in DIR (FILE.DDF,\n"
    "                        FIELD.DDF, INDEX.DDF), by their own column names:\n"
    "    --list              one CSV row a table: table,file,records,columns (a\n"
    "                        table whose file cannot be read shows why instead of\n"
    "                        its record count, on standard error too)\n"
    "    --table NAME        the table as CSV, every live record in the order of\n"
    "                        key 0 or of --key N; names match ignoring case\n"
    "    --sqlite OUT.db     every readable table into a new SQLite database:\n"
    "                        typed columns, an index per key, each table in a\n"
    "                        transaction of its own; OUT.db must not exist\n"
    "    --encoding E        the code page of names and text (default\n"
    "                        WINDOWS-1252; e.g. CP866, SHIFT_JIS)\n"
    "    --data DIR          where the tables' files are, when not beside the\n"
    "                        dictionary (may be given more than once)\n";

bool parseDictionaryArgs(const std::vector<std::string>& args, DictionaryArgs& out, std::string& why) {
    out = DictionaryArgs{};
    if (args.size() < 2 || args[0] != "--ddf" || args[1].empty()) {
        why = "--ddf needs a folder";
        return false;
    }
    out.folder = args[1];
    bool encodingGiven = false;
    for (size_t i = 2; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        auto setMode = [&](DictionaryArgs::Mode m) {
            if (out.mode != DictionaryArgs::Mode::None) {
                why = "give one of --list, --table and --sqlite";
                return false;
            }
            out.mode = m;
            return true;
        };
        if (a == "--list") {
            if (!setMode(DictionaryArgs::Mode::List)) return false;
        } else if (a == "--table" || a == "--sqlite") {
            if (!hasValue || args[i + 1].empty()) {
                why = a + (a == "--table" ? " needs a table name" : " needs a database file");
                return false;
            }
            if (!setMode(a == "--table" ? DictionaryArgs::Mode::Table : DictionaryArgs::Mode::Sqlite)) return false;
            (a == "--table" ? out.table : out.sqlitePath) = args[++i];
        } else if (a == "--key") {
            if (out.keyGiven || !hasValue || !parseKey(args[i + 1], out.key)) {
                why = "--key needs one key number from 0 to 127";
                return false;
            }
            out.keyGiven = true;
            ++i;
        } else if (a == "--encoding") {
            if (encodingGiven || !hasValue || args[i + 1].empty()) {
                why = "--encoding needs one code page name";
                return false;
            }
            encodingGiven = true;
            out.options.encoding = args[++i];
        } else if (a == "--data") {
            if (!hasValue || args[i + 1].empty()) {
                why = "--data needs a folder";
                return false;
            }
            out.options.dataFolders.push_back(args[++i]);
        } else {
            why = "unexpected argument " + a;
            return false;
        }
    }
    if (out.mode == DictionaryArgs::Mode::None) {
        why = "--ddf needs --list, --table NAME or --sqlite OUT.db";
        return false;
    }
    if (out.keyGiven && out.mode != DictionaryArgs::Mode::Table) {
        why = "--key goes with --table";
        return false;
    }
    return true;
}

int openDictionary(const DictionaryArgs& args, std::unique_ptr<btrieve::Dictionary>& out) {
    std::string message;
    if (!btrieve::CodePage::make(args.options.encoding, message)) return usage(message);
    const Status st = btrieve::Dictionary::open(args.folder, args.options, out, message);
    if (!btrieve::ok(st)) {
        std::fprintf(stderr, "btrexport: %s\n", message.c_str());
        return 1;
    }
    // --table says the faults of its own table only.
    for (const auto& t : out->tables())
        if (args.mode != DictionaryArgs::Mode::Table || &t == out->find(args.table))
            for (const auto& fault : t.faults) sayTable(args.folder, t, fault);
    return 0;
}

int runDictionary(const std::vector<std::string>& args) {
    DictionaryArgs parsed;
    std::string why;
    if (!parseDictionaryArgs(args, parsed, why)) return usage(why);
    std::unique_ptr<btrieve::Dictionary> dict;
    if (const int status = openDictionary(parsed, dict)) return status;
    switch (parsed.mode) {
    case DictionaryArgs::Mode::List: return runList(parsed, *dict);
    case DictionaryArgs::Mode::Table: return runTable(parsed, *dict);
    case DictionaryArgs::Mode::Sqlite: return exportSqlite(*dict, parsed.sqlitePath);
    case DictionaryArgs::Mode::None: break;
    }
    return 2;
}

}  // namespace btrexport
