// Search criteria: "field op operand" comparisons joined by AND. Operators
// =, <>, >, <, >=, <=; an operand is an integer, a decimal number, another field of
// the record, a bare word taken as text, or text in single or double quotes.
// Field names and "AND" match regardless of case. Numbers compare numerically with
// numeric and logical fields (false 0, true 1); text compares exactly and
// case-sensitively with text fields, and a number against a text field is the text
// of its digits; two fields compare when of the same kind (text, numeric, date, time).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "btrieve/status.h"
#include "btrieve/types.h"
#include "btrieve/value.h"

namespace btrieve {

enum class CompareOp { Eq, Ne, Gt, Lt, Ge, Le };

struct Criterion {
    size_t field = 0;                 // index into the layout's fields
    CompareOp op = CompareOp::Eq;
    std::optional<size_t> otherField; // operand is another field
    Value literal;                    // operand otherwise: int64_t, double or std::string
};

class Criteria {
public:
    // Parses text against the layout's fields. Errors: CriteriaSyntax, UnknownField,
    // TypeMismatch (e.g. a text operand against a numeric field).
    static Status parse(std::string_view text, const std::vector<FieldDef>& fields, Criteria& out);

    // Whether record meets every comparison. A field that cannot be decoded fails.
    bool matches(std::string_view record) const;

    // When "=" terms with a literal pin the leading segments of key, each segment
    // lying exactly over one field whose matching records all hold key bytes equal
    // to the literal's (integers; zstrings and lstrings under a key of their own
    // type; floats under a float key), the padded key bytes of those segments and
    // how many there are. A search then needs only that key range.
    struct KeyPrefix {
        std::string bytes;
        size_t segments = 0;
    };
    std::optional<KeyPrefix> pinnedKeyPrefix(const KeySpec& key) const;

    const std::vector<Criterion>& terms() const { return terms_; }
    const std::vector<FieldDef>& fields() const { return fields_; }

private:
    std::vector<Criterion> terms_;
    std::vector<FieldDef> fields_;
};

}  // namespace btrieve
