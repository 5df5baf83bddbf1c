// libFuzzer target: parse arbitrary criteria text against the journal and customer
// layouts and evaluate it on a record made of the remaining bytes.
// Input: criteria text, a zero byte, then record bytes.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "btrieve/criteria.h"
#include "data/layouts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view all(reinterpret_cast<const char*>(data), size);
    size_t cut = all.find('\0');
    std::string_view text = all.substr(0, cut);
    std::string_view rest = cut == std::string_view::npos ? std::string_view() : all.substr(cut + 1);
    for (const layouts::Layout* l : {&layouts::journal(), &layouts::customer(), &layouts::permiss()}) {
        btrieve::Criteria c;
        if (btrieve::Criteria::parse(text, l->fields, c) != btrieve::Status::Success) continue;
        std::string record(rest);
        // Short records as well as full ones: a variable record may end early.
        c.matches(record);
        record.resize(l->recordLength, '\0');
        c.matches(record);
    }
    return 0;
}
