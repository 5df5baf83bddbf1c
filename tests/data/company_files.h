// Small company files for the data-control tests, written with the engine's writer
// from records built field by field on the real layouts.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "btrieve/value.h"
#include "btrieve/writer.h"
#include "data/layouts.h"
#include "tests/btrieve/key_segment.h"

namespace testdata {

class Record {
public:
    explicit Record(const layouts::Layout& layout) : layout_(layout), bytes_(layout.recordLength, '\0') {}

    Record& text(const std::string& name, const std::string& value) { return put(name, value); }
    Record& integer(const std::string& name, int64_t v) { return put(name, v); }
    Record& real(const std::string& name, double v) { return put(name, v); }
    // 0, 0, 0 writes no date.
    Record& date(const std::string& name, int y, int m, int d) {
        if (y == 0 && m == 0 && d == 0) return put(name, btrieve::NoDate{});
        return put(name, btrieve::Date{y, m, d});
    }
    Record& logical(const std::string& name, bool v) { return put(name, v); }
    const std::string& bytes() const { return bytes_; }

private:
    Record& put(const std::string& name, const btrieve::Value& value) {
        const btrieve::FieldDef* f = layout_.field(name);
        if (!f) throw std::logic_error("no field " + name);
        const btrieve::Status st = btrieve::encodeField(*f, value, bytes_);
        if (st != btrieve::Status::Success) throw std::logic_error(name + ": " + btrieve::statusText(st));
        return *this;
    }
    const layouts::Layout& layout_;
    std::string bytes_;
};

// Writer options for a layout: one key per layout key, on its field, with the type of
// the field; text keys other than key 0 and the journal's nindex allow duplicates.
inline btrieve::WriterOptions optionsFor(const layouts::Layout& layout, bool duplicatesOnKey0 = false) {
    btrieve::WriterOptions o;
    o.recordLength = layout.recordLength;
    o.pageSize = 4096;
    for (const auto& k : layout.keys) {
        const btrieve::FieldDef* f = layout.field(k.field);
        uint16_t flags = btrieve::keyflag::Modifiable;
        if (k.number != 0 || duplicatesOnKey0) flags |= btrieve::keyflag::Duplicates;
        o.keys.push_back(btrieve::WriterKey{
            {testkeys::keySegment(f->offset, static_cast<uint16_t>(f->length), f->type, flags)}});
    }
    return o;
}

inline void writeRecords(const std::string& path, const btrieve::WriterOptions& options,
                         const std::vector<Record>& records) {
    std::vector<std::string> bytes;
    for (const auto& r : records) bytes.push_back(r.bytes());
    const btrieve::Status st = btrieve::writeFile(path, options, bytes);
    if (st != btrieve::Status::Success) throw std::runtime_error("writeFile " + path + ": " + btrieve::statusText(st));
}

inline Record customer(const std::string& id, const std::string& name, double balance, int32_t nindex) {
    Record r(layouts::customer());
    r.text("custID", id).text("BillName", name).real("ARbalance", balance).integer("nindex", nindex);
    return r;
}

inline Record invoice(int16_t nindex, int journal, const std::string& number, double amount,
                      double received, bool quote = false) {
    Record r(layouts::journal());
    r.integer("nindex", nindex).integer("Journalid", journal).text("InvNumber", number);
    r.real("ARamount", amount).real("AmountReceived", received).logical("Quote", quote);
    r.date("Date", 2003, 4, 17);
    return r;
}

inline Record user(const std::string& name, const std::string& password) {
    Record r(layouts::permiss());
    r.text("UserName", name).text("Inactive", "N").text("Password", password);
    return r;
}

}  // namespace testdata
