#include "btrieve/columns.h"

namespace btrieve {

const char* sqlTypeName(SqlType t) {
    switch (t) {
    case SqlType::Integer: return "INTEGER";
    case SqlType::Real: return "REAL";
    case SqlType::Text: return "TEXT";
    case SqlType::Blob: return "BLOB";
    }
    return "BLOB";
}

uint64_t longestRecord(const FileInfo& file) { return file.variable ? UINT64_MAX : file.recordLength; }

ColumnReader ColumnReader::make(const DictColumn& column, uint64_t, std::string& fault) {
    fault.clear();
    ColumnReader r;
    r.offset_ = column.offset;
    r.size_ = column.size;
    r.decimals_ = column.decimals;
    return r;
}

void ColumnReader::read(std::string_view, const CodePage&, Cell& out) const { out.kind = CellKind::Null; }

std::vector<ColumnReader> makeColumnReaders(const DictTable& table, const FileInfo& file) {
    std::vector<ColumnReader> readers;
    std::string fault;
    for (const auto& c : table.columns) readers.push_back(ColumnReader::make(c, longestRecord(file), fault));
    return readers;
}

void appendCsvText(const Cell&, std::string&) {}
void appendCsvField(const Cell& cell, std::string& out) { appendCsvText(cell, out); }

}  // namespace btrieve
