// Typed field values read from a record: the engine's counterpart of an automation
// VARIANT. Text stays as the file's 8-bit (Windows-1252) bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "btrieve/status.h"
#include "btrieve/types.h"

namespace btrieve {

struct Date {
    int year = 0, month = 0, day = 0;
    bool operator==(const Date&) const = default;
};
struct Time {
    int hour = 0, minute = 0, second = 0, hundredths = 0;
    bool operator==(const Time&) const = default;
};
struct NoDate {  // an all-zero or impossible DATE
    bool operator==(const NoDate&) const = default;
};

// std::monostate = empty (no value); std::string = text; int64_t = signed integer;
// uint64_t = unsigned binary; double = float, money, decimal; bool = logical.
using Value = std::variant<std::monostate, std::string, int64_t, uint64_t, double, bool, Date,
                           NoDate, Time>;

// Decodes one field of a record. A field reaching past the record is a
// Status::Corrupt; an unknown type is Status::UnsupportedLayout.
Status decodeField(const FieldDef& field, std::string_view record, Value& out);

}  // namespace btrieve
