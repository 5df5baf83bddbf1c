// The data dictionary files, one row a record. All integers little-endian; names
// are blank- or NUL-padded text in the dictionary's code page.
//
// FILE.DDF (X$File): 87 bytes in 5.x-era dictionaries, 97 later (10 bytes reserved
// at the end)
// | offset | size | field     | meaning                                            |
// |--------|------|-----------|----------------------------------------------------|
// | 0      | 2    | Xf$Id     | table id, the Xe$File and Xi$File of its rows      |
// | 2      | 20   | Xf$Name   | table name                                         |
// | 22     | 64   | Xf$Loc    | the table's file: a Windows path, relative to the  |
// |        |      |           | data folder                                        |
// | 86     | 1    | Xf$Flags  | 0x10: a dictionary file                            |
//
// FIELD.DDF (X$Field): 32 bytes
// | 0      | 2    | Xe$Id       | field id (column order)                          |
// | 2      | 2    | Xe$File     | its table's Xf$Id; 0 for none                    |
// | 4      | 20   | Xe$Name     | column name                                      |
// | 24     | 1    | Xe$DataType | type code; 255 names an index, not a column      |
// | 25     | 2    | Xe$Offset   | 0-based offset in the record                     |
// | 27     | 2    | Xe$Size     | bytes                                            |
// | 29     | 1    | Xe$Dec      | decimals of DECIMAL, MONEY and NUMERIC           |
// | 30     | 2    | Xe$Flags    |                                                  |
//
// INDEX.DDF (X$Index): 10 bytes
// | 0      | 2    | Xi$File     | table id                                         |
// | 2      | 2    | Xi$Field    | the Xe$Id of the column the part is on           |
// | 4      | 2    | Xi$Number   | key number (from 0, or from 1 in some)           |
// | 6      | 2    | Xi$Part     | segment number within the key                    |
// | 8      | 2    | Xi$Flags    | key flags                                        |
#include "btrieve/dictionary.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>
#include <tuple>

#include "btrieve/bytes.h"
#include "btrieve/columns.h"

namespace btrieve {
namespace fs = std::filesystem;
namespace {

constexpr uint32_t kFileRowShort = 87;
constexpr uint32_t kFieldRow = 32;
constexpr uint32_t kIndexRow = 10;
constexpr uint8_t kIndexNameType = 255;

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return true;
}

std::string upperCase(std::string_view s) {
    std::string u(s);
    for (char& c : u) c = upper(c);
    return u;
}

// A stored name without its padding: up to its first NUL, trailing blanks dropped.
std::string_view trimmed(std::string_view b) {
    size_t n = std::min(b.find('\0'), b.size());
    while (n > 0 && (b[n - 1] == ' ' || b[n - 1] == '\0')) --n;
    return b.substr(0, n);
}

// The names of a folder's entries. The engine's one directory listing, so that a
// port has one place to change.
bool listFolder(const fs::path& folder, std::vector<std::string>& names) {
    names.clear();
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    return !ec;
}

// Whether name is an 8.3 alias Windows makes for a long name: NAME~N.EXT.
bool isShortAlias(std::string_view name, std::string& stem, std::string& ext) {
    const size_t tilde = name.rfind('~');
    if (tilde == std::string_view::npos || tilde == 0) return false;
    const size_t dot = name.find('.', tilde);
    const std::string_view digits = name.substr(tilde + 1, (dot == std::string_view::npos ? name.size() : dot) - tilde - 1);
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    stem = upperCase(name.substr(0, tilde));
    ext = dot == std::string_view::npos ? std::string() : upperCase(name.substr(dot + 1));
    return stem.size() + 1 + digits.size() <= 8 && ext.size() <= 3;
}

// Whether the long name could be the one the alias stem~N.ext stands for: its name
// (blanks and extra dots left out, upper case) starts with stem, and its extension
// starts with ext.
bool fitsShortAlias(std::string_view longName, const std::string& stem, const std::string& ext) {
    const size_t dot = longName.rfind('.');
    // A name that is 8.3 already has no alias.
    const size_t baseLength = dot == std::string_view::npos ? longName.size() : dot;
    if (baseLength <= 8 && longName.size() - baseLength <= 4 && longName.find_first_of(" +,;=[]") == std::string_view::npos &&
        longName.find('.') == dot)
        return false;
    std::string base, lext = dot == std::string_view::npos ? std::string() : upperCase(longName.substr(dot + 1));
    for (char c : longName.substr(0, dot == std::string_view::npos ? longName.size() : dot))
        if (c != ' ' && c != '.') base.push_back(upper(c));
    lext.erase(std::remove(lext.begin(), lext.end(), ' '), lext.end());
    return base.compare(0, stem.size(), stem) == 0 && lext.substr(0, 3) == ext;
}

// The entry of folder that name stands for under Windows' rules, spelled as the
// folder spells it; empty with problem set when none or more than one does.
std::string matchEntry(const fs::path& folder, const std::string& name, std::string& problem) {
    const std::string where = folder.lexically_normal().generic_string();
    // Whether the system finds the name itself: exactly on a case-sensitive system,
    // ignoring case (or by an 8.3 alias of its own) on Windows. Either way the
    // listing tells the entry's own spelling.
    std::error_code ec;
    const bool systemFinds = fs::symlink_status(folder / name, ec).type() != fs::file_type::not_found && !ec;
    std::vector<std::string> names;
    if (!listFolder(folder, names)) {
        if (systemFinds) return name;  // a folder that can be entered but not listed
        problem = "cannot list " + where;
        return {};
    }
    std::vector<std::string> fits;
    for (const auto& n : names) {
        if (n == name) return n;
        if (equalIgnoringCase(n, name)) fits.push_back(n);
    }
    std::string stem, ext;
    if (fits.empty() && isShortAlias(name, stem, ext)) {
        for (const auto& n : names)
            if (!equalIgnoringCase(n, name) && fitsShortAlias(n, stem, ext)) fits.push_back(n);
        if (fits.size() == 1) return fits.front();
        if (systemFinds) return name;
        if (fits.empty()) {
            problem = "no file in " + where + " fits the short name '" + name + "'";
        } else {
            problem = std::to_string(fits.size()) + " files in " + where + " fit the short name '" +
                      name + "'";
        }
        return {};
    }
    if (fits.size() == 1) return fits.front();
    if (systemFinds) return name;
    if (fits.empty()) problem = "no '" + name + "' in " + where;
    else problem = std::to_string(fits.size()) + " entries in " + where + " are '" + name + "' ignoring case";
    return {};
}

// A dictionary file (FILE.DDF, ...) of folder, opened.
Status openDictionaryFile(const std::string& folder, const std::string& name, const DictionaryOptions& options,
                          std::unique_ptr<File>& file, std::string& message) {
    std::string path, relative, problem;
    if (!resolveWindowsPath(folder, name, path, relative, problem)) {
        message = name + ": not found in " + folder;
        return Status::FileNotFound;
    }
    OpenOptions open;
    open.ownerName = options.ownerName;
    const Status st = File::open(path, file, open);
    if (!ok(st)) message = path + ": " + statusText(st);
    return st;
}

// Every record of a dictionary file, each at least rowSize bytes.
Status readRows(const std::string& folder, const std::string& name, uint32_t rowSize,
                const DictionaryOptions& options, std::vector<std::string>& rows, std::string& message) {
    std::unique_ptr<File> file;
    Status st = openDictionaryFile(folder, name, options, file, message);
    if (!ok(st)) return st;
    size_t shortRow = 0;
    st = file->forEachRecordView([&](RecordAddress, std::string_view rec) {
        if (rec.size() < rowSize) {
            shortRow = rec.size();
            return false;
        }
        rows.emplace_back(rec);
        return true;
    });
    if (ok(st)) st = file->checkUnchanged();
    if (!ok(st)) {
        message = file->path() + ": " + statusText(st);
        return st;
    }
    if (shortRow) {
        message = file->path() + ": a record of " + std::to_string(shortRow) + " bytes, where each holds " +
                  std::to_string(rowSize) + ": not a " + name;
        return Status::Corrupt;
    }
    return Status::Success;
}

// name made unique among taken (ignoring case, as SQL does) by a suffix _2, _3, ...
std::string uniqueName(std::string name, std::set<std::string>& taken) {
    if (taken.insert(upperCase(name)).second) return name;
    for (int n = 2;; ++n) {
        std::string candidate = name + "_" + std::to_string(n);
        if (taken.insert(upperCase(candidate)).second) return candidate;
    }
}

}  // namespace

bool resolveWindowsPath(const std::string& base, std::string_view windowsPath, std::string& path,
                        std::string& relativePath, std::string& problem) {
    path.clear();
    relativePath.clear();
    problem.clear();
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = 0; i <= windowsPath.size(); ++i) {
        if (i == windowsPath.size() || windowsPath[i] == '\\' || windowsPath[i] == '/') {
            parts.emplace_back(windowsPath.substr(start, i - start));
            start = i + 1;
        }
    }
    // A drive or a root names a place on another machine: look for the same path
    // below base, then for ever shorter tails of it, down to the file name alone.
    const bool rooted = !parts.empty() && (parts.front().empty() || (parts.front().size() == 2 && parts.front()[1] == ':'));
    size_t first = rooted ? 1 : 0;
    for (;; ++first) {
        fs::path at(base);
        std::string relative, why;
        bool found = true;
        for (size_t i = first; i < parts.size() && found; ++i) {
            const std::string& p = parts[i];
            if (p.empty() || p == ".") continue;
            std::string entry = p == ".." ? p : matchEntry(at, p, why);
            found = !entry.empty();
            if (!found) break;
            at /= entry;
            relative += (relative.empty() ? "" : "/") + entry;
        }
        if (found && !relative.empty()) {
            path = at.generic_string();  // with / on every system, as messages name it
            relativePath = relative;
            return true;
        }
        if (problem.empty()) problem = found ? "no file named" : why;
        if (!rooted || first + 1 >= parts.size()) return false;
    }
}

class Dictionary::Impl {
public:
    std::string folder;
    DictionaryOptions options;
    std::unique_ptr<CodePage> codePage;
    std::vector<DictTable> tables;
    std::vector<Status> fileStatus;  // per table: how its file opened

    std::string text(std::string_view stored) const { return codePage->toUtf8(trimmed(stored)); }
    Status readTables(std::string& message);
    Status readFields(std::string& message);
    Status readIndexes(std::string& message);
    void findFiles();
};

Status Dictionary::Impl::readTables(std::string& message) {
    std::vector<std::string> rows;
    const Status st = readRows(folder, "FILE.DDF", kFileRowShort, options, rows, message);
    if (!ok(st)) return st;
    std::set<std::string> names;
    for (const auto& row : rows) {
        detail::ByteReader r(row);
        DictTable t;
        t.id = r.u16(0);
        t.name = uniqueName(text(r.slice(2, 20)), names);
        t.location = text(r.slice(22, 64));
        t.flags = r.u8(86);
        tables.push_back(std::move(t));
    }
    return Status::Success;
}

Status Dictionary::Impl::readFields(std::string& message) {
    std::vector<std::string> rows;
    const Status st = readRows(folder, "FIELD.DDF", kFieldRow, options, rows, message);
    if (!ok(st)) return st;
    std::map<uint16_t, size_t> byId;
    for (size_t i = 0; i < tables.size(); ++i) byId.emplace(tables[i].id, i);
    std::vector<std::vector<DictColumn>> columns(tables.size());
    for (const auto& row : rows) {
        detail::ByteReader r(row);
        DictColumn c;
        c.id = r.u16(0);
        const auto table = byId.find(r.u16(2));
        c.name = text(r.slice(4, 20));
        c.type = r.u8(24);
        c.offset = r.u16(25);
        c.size = r.u16(27);
        c.decimals = r.u8(29);
        c.flags = r.u16(30);
        // Rows of no table (Xe$File 0 or a table not in FILE.DDF) and the rows that name
        // indexes are not columns.
        if (table == byId.end() || c.type == kIndexNameType) continue;
        columns[table->second].push_back(std::move(c));
    }
    for (size_t i = 0; i < tables.size(); ++i) {
        auto& cols = columns[i];
        std::stable_sort(cols.begin(), cols.end(), [](const DictColumn& a, const DictColumn& b) { return a.id < b.id; });
        std::set<std::string> names;
        for (auto& c : cols) {
            if (c.name.empty()) c.name = "field_" + std::to_string(c.id);
            c.name = uniqueName(c.name, names);
        }
        tables[i].columns = std::move(cols);
    }
    return Status::Success;
}

Status Dictionary::Impl::readIndexes(std::string& message) {
    std::vector<std::string> rows;
    const Status st = readRows(folder, "INDEX.DDF", kIndexRow, options, rows, message);
    if (!ok(st)) return st;
    struct Part { uint16_t file, field, number, part, flags; };
    std::vector<Part> parts;
    bool fromZero = false;
    for (const auto& row : rows) {
        detail::ByteReader r(row);
        parts.push_back({r.u16(0), r.u16(2), r.u16(4), r.u16(6), r.u16(8)});
        fromZero = fromZero || parts.back().number == 0;
    }
    // Some dictionaries count keys from 1: when no row names key 0, every number moves down.
    std::stable_sort(parts.begin(), parts.end(), [](const Part& a, const Part& b) {
        return std::tie(a.file, a.number, a.part) < std::tie(b.file, b.number, b.part);
    });
    for (auto& t : tables) {
        for (const auto& p : parts) {
            if (p.file != t.id) continue;
            const int number = fromZero ? p.number : p.number - 1;
            if (t.keys.empty() || t.keys.back().number != number) t.keys.push_back({number, {}});
            DictKeyPart part;
            part.fieldId = p.field;
            part.flags = p.flags;
            for (size_t c = 0; c < t.columns.size(); ++c)
                if (t.columns[c].id == p.field) part.column = static_cast<int>(c);
            t.keys.back().parts.push_back(part);
        }
    }
    return Status::Success;
}

// Finds and opens each table's file: the data folders first, then the dictionary's
// own (where its X$ tables' files are). A file several tables share is opened once.
void Dictionary::Impl::findFiles() {
    std::vector<std::string> places = options.dataFolders;
    places.push_back(folder);
    std::map<std::string, std::pair<Status, FileInfo>> opened;
    fileStatus.assign(tables.size(), Status::FileNotFound);
    for (size_t i = 0; i < tables.size(); ++i) {
        DictTable& t = tables[i];
        if (t.location.empty()) {
            t.problem = "the dictionary names no file";
        } else {
            std::string problem;
            for (const auto& place : places) {
                std::string why;
                if (resolveWindowsPath(place, t.location, t.path, t.relativePath, why)) break;
                if (problem.empty()) problem = why;
            }
            if (t.path.empty()) t.problem = "missing: " + problem;
        }
        FileInfo info;
        info.variable = true;  // no bound on the records of a file not read
        if (!t.path.empty()) {
            auto it = opened.find(t.path);
            if (it == opened.end()) {
                std::unique_ptr<File> file;
                OpenOptions open;
                open.ownerName = options.ownerName;
                const Status st = File::open(t.path, file, open);
                it = opened.emplace(t.path, std::make_pair(st, ok(st) ? file->info() : FileInfo{})).first;
            }
            fileStatus[i] = it->second.first;
            if (ok(it->second.first)) {
                info = it->second.second;
                t.records = info.recordCount;
            } else {
                t.problem = statusText(it->second.first);
            }
        }
        for (const auto& c : t.columns) {
            std::string fault;
            ColumnReader::make(c, longestRecord(info), fault);
            if (!fault.empty()) t.faults.push_back("field '" + c.name + "': " + fault);
        }
    }
}

Dictionary::Dictionary(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Dictionary::~Dictionary() = default;

Status Dictionary::open(const std::string& folder, const DictionaryOptions& options, std::unique_ptr<Dictionary>& out,
                        std::string& message) {
    out.reset();
    message.clear();
    auto impl = std::make_unique<Impl>();
    impl->folder = folder;
    impl->options = options;
    impl->codePage = CodePage::make(options.encoding, message);
    if (!impl->codePage) return Status::InvalidOperation;
    std::vector<std::string> folders = options.dataFolders;
    folders.insert(folders.begin(), folder);
    for (const auto& f : folders) {
        std::error_code ec;
        if (fs::is_directory(f, ec)) continue;
        const bool there = fs::exists(f, ec);
        message = f + (there ? ": not a folder" : ": no such folder");
        return there ? Status::NotBtrieveFile : Status::FileNotFound;
    }
    Status st = impl->readTables(message);
    if (ok(st)) st = impl->readFields(message);
    if (ok(st)) st = impl->readIndexes(message);
    if (!ok(st)) return st;
    impl->findFiles();
    out.reset(new Dictionary(std::move(impl)));
    return Status::Success;
}

const std::string& Dictionary::folder() const { return impl_->folder; }
const CodePage& Dictionary::codePage() const { return *impl_->codePage; }
const std::vector<DictTable>& Dictionary::tables() const { return impl_->tables; }

const DictTable* Dictionary::find(std::string_view name) const {
    for (const auto& t : impl_->tables)
        if (equalIgnoringCase(t.name, name)) return &t;
    return nullptr;
}

Status Dictionary::openFile(const DictTable& table, std::unique_ptr<File>& out) const {
    out.reset();
    if (table.path.empty()) return Status::FileNotFound;
    // A table of this dictionary whose file did not open says why again; any other
    // (a copy) is opened by its path.
    for (size_t i = 0; i < impl_->tables.size(); ++i)
        if (&impl_->tables[i] == &table && !ok(impl_->fileStatus[i])) return impl_->fileStatus[i];
    OpenOptions open;
    open.ownerName = impl_->options.ownerName;
    return File::open(table.path, out, open);
}

}  // namespace btrieve
