#include <gtest/gtest.h>

#include "data/layouts.h"

using btrieve::DataType;
using btrieve::Status;

namespace {

void expectCoversRecord(const layouts::Layout& l) {
    uint32_t next = 0;
    for (const auto& fd : l.fields) {
        EXPECT_EQ(fd.offset, next) << l.tableName << " field " << fd.name;
        next = fd.offset + fd.length;
    }
    EXPECT_EQ(next, l.recordLength) << l.tableName;
}

void expectKeysOnFields(const layouts::Layout& l) {
    for (size_t i = 0; i < l.keys.size(); ++i) {
        EXPECT_EQ(l.keys[i].number, static_cast<int>(i));
        EXPECT_NE(l.field(l.keys[i].field), nullptr) << l.keys[i].name;
    }
}

}  // namespace

TEST(Layouts, FieldsCoverEachRecordWithoutGaps) {
    for (const auto* l : {&layouts::customer(), &layouts::journal(), &layouts::permiss()}) {
        expectCoversRecord(*l);
        expectKeysOnFields(*l);
    }
    EXPECT_EQ(layouts::customer().fields.size(), 26u);
    EXPECT_EQ(layouts::journal().fields.size(), 22u);
    EXPECT_EQ(layouts::permiss().fields.size(), 3u);
}

TEST(Layouts, FieldsTheProgramReadsHaveTheirTypesAndPlaces) {
    const auto& c = layouts::customer();
    ASSERT_NE(c.field("ARbalance"), nullptr);
    EXPECT_EQ(c.field("ARbalance")->type, DataType::Float);
    EXPECT_EQ(c.field("ARbalance")->offset, 153u);
    EXPECT_EQ(c.field("nindex")->type, DataType::Integer);
    EXPECT_EQ(c.field("nindex")->length, 4u);
    EXPECT_EQ(c.field("BillState")->length, 3u);
    EXPECT_EQ(c.field("Email")->offset, 2721u);
    EXPECT_EQ(c.field("Contact"), nullptr);  // exact spelling here; the control folds case

    const auto& j = layouts::journal();
    EXPECT_EQ(j.field("nindex")->length, 2u);
    EXPECT_EQ(j.field("Date")->type, DataType::Date);
    EXPECT_EQ(j.field("Quote")->type, DataType::Logical);
    EXPECT_EQ(j.field("AmountReceived")->offset, 251u);
    EXPECT_EQ(j.dateFormat, "M/D/YY");
    EXPECT_EQ(j.timeFormat, "HH:MM:SS AM/PM");

    const auto& p = layouts::permiss();
    EXPECT_EQ(p.fileName, "Permiss.dat");
    EXPECT_EQ(p.fieldList, "*");
    EXPECT_EQ(p.keys.at(0).field, "UserName");
    EXPECT_EQ(p.timeFormat, c.timeFormat);
}

TEST(Layouts, ByName) {
    EXPECT_EQ(layouts::byName("customer"), &layouts::customer());
    EXPECT_EQ(layouts::byName("journal"), &layouts::journal());
    EXPECT_EQ(layouts::byName("permiss"), &layouts::permiss());
    EXPECT_EQ(layouts::byName("Customer"), nullptr);
    EXPECT_EQ(layouts::byName(""), nullptr);
}

TEST(LayoutStoredState, RoundTripsEveryLayout) {
    for (const auto* l : {&layouts::customer(), &layouts::journal(), &layouts::permiss()}) {
        auto state = layouts::toStoredState(*l);
        layouts::Layout back;
        ASSERT_EQ(layouts::fromStoredState(state, back), Status::Success) << l->tableName;
        EXPECT_EQ(back.tableName, l->tableName);
        EXPECT_EQ(back.fileName, l->fileName);
        EXPECT_EQ(back.ownerName, l->ownerName);
        EXPECT_EQ(back.recordLength, l->recordLength);
        EXPECT_EQ(back.fieldList, l->fieldList);
        EXPECT_EQ(back.dateFormat, l->dateFormat);
        EXPECT_EQ(back.timeFormat, l->timeFormat);
        ASSERT_EQ(back.fields.size(), l->fields.size());
        for (size_t i = 0; i < l->fields.size(); ++i) {
            EXPECT_EQ(back.fields[i].name, l->fields[i].name);
            EXPECT_EQ(back.fields[i].type, l->fields[i].type);
            EXPECT_EQ(back.fields[i].offset, l->fields[i].offset);
            EXPECT_EQ(back.fields[i].length, l->fields[i].length);
        }
        ASSERT_EQ(back.keys.size(), l->keys.size());
        for (size_t i = 0; i < l->keys.size(); ++i) {
            EXPECT_EQ(back.keys[i].name, l->keys[i].name);
            EXPECT_EQ(back.keys[i].field, l->keys[i].field);
            EXPECT_EQ(back.keys[i].number, l->keys[i].number);
        }
    }
}

TEST(LayoutStoredState, TextForm) {
    auto state = layouts::toStoredState(layouts::customer());
    EXPECT_EQ(state.at("Fields").rfind("custID 11 0 21;type 11 21 9;", 0), 0u);
    EXPECT_EQ(state.at("Keys"), "KEY00 custID;KEY01 Phone;KEY02 Fax;KEY03 BillName;KEY04 nindex");
    EXPECT_EQ(state.at("RecordLength"), "2790");
    EXPECT_EQ(layouts::toStoredState(layouts::journal()).at("Keys"), "KEY00 nindex");
}

TEST(LayoutStoredState, ToleratesExtraBlanksAndNoKeys) {
    auto state = layouts::toStoredState(layouts::permiss());
    state["Fields"] = "UserName  11 0 17; Inactive 0 17 1 ;Password 11 18 17";
    state["Keys"] = "";
    layouts::Layout l;
    ASSERT_EQ(layouts::fromStoredState(state, l), Status::Success);
    EXPECT_EQ(l.fields.size(), 3u);
    EXPECT_EQ(l.fields[1].name, "Inactive");
    EXPECT_TRUE(l.keys.empty());
}

TEST(LayoutStoredState, MalformedStatesAreRefusedAndLeaveTheOutputAlone) {
    const auto good = layouts::toStoredState(layouts::permiss());
    struct Case {
        const char* property;
        const char* value;  // nullptr: property removed
        Status expected;
    };
    const Case cases[] = {
        {"TableName", nullptr, Status::UnsupportedLayout},
        {"Fields", nullptr, Status::UnsupportedLayout},
        {"RecordLength", "", Status::UnsupportedLayout},
        {"RecordLength", "35x", Status::UnsupportedLayout},
        {"RecordLength", "-35", Status::UnsupportedLayout},
        {"RecordLength", "0", Status::UnsupportedLayout},
        {"RecordLength", "99999999999999999999", Status::UnsupportedLayout},
        {"Fields", "", Status::UnsupportedLayout},
        {"Fields", "UserName 11 0", Status::UnsupportedLayout},
        {"Fields", "UserName 11 0 17;;Password 11 18 17", Status::UnsupportedLayout},
        {"Fields", "UserName 11 0 17 9", Status::UnsupportedLayout},
        {"Fields", "UserName eleven 0 17", Status::UnsupportedLayout},
        {"Fields", "UserName 99 0 17", Status::UnsupportedLayout},
        {"Fields", "UserName 11 0 0", Status::UnsupportedLayout},
        {"Fields", "UserName 11 30 17", Status::UnsupportedLayout},          // past the end
        {"Fields", "UserName 11 4294967295 2", Status::UnsupportedLayout},  // wraps around
        {"Fields", "UserName 11 0 17;Password 11 16 17", Status::UnsupportedLayout},  // overlap
        {"Fields", "UserName 11 0 17;UserName 11 18 17", Status::UnsupportedLayout},
        {"Keys", "KEY00", Status::UnsupportedLayout},
        {"Keys", "KEYxx UserName", Status::UnsupportedLayout},
        {"Keys", "KEY00 UserName;KEY00 Password", Status::UnsupportedLayout},
        {"Keys", "KEY00 Nobody", Status::UnknownField},
    };
    for (const auto& c : cases) {
        auto state = good;
        if (c.value) state[c.property] = c.value;
        else state.erase(c.property);
        layouts::Layout out;
        out.tableName = "untouched";
        EXPECT_EQ(layouts::fromStoredState(state, out), c.expected)
            << c.property << " = " << (c.value ? c.value : "(missing)");
        EXPECT_EQ(out.tableName, "untouched");
    }
}
