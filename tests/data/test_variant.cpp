// COleVariant conversions the window relies on: the low 16 bits of an integer, numbers
// from text, dates as days since 1899-12-30.
#include <gtest/gtest.h>

#include "data/CBtrvdcp1.h"

namespace {

TEST(Variant, IntegersKeepTheirLowSixteenBitsSigned) {
    EXPECT_EQ(COleVariant(int32_t{40000}).toShort(), -25536);
    EXPECT_EQ(COleVariant(int32_t{-25536}).toShort(), -25536);
    EXPECT_EQ(COleVariant(int32_t{65536 + 7}).toShort(), 7);
    EXPECT_EQ(COleVariant(40000.0).toShort(), -25536);
    EXPECT_EQ(COleVariant(2.5).toLong(), 2);   // half to even, as automation rounds
    EXPECT_EQ(COleVariant(3.5).toLong(), 4);
    EXPECT_THROW(COleVariant(3e10).toLong(), CBtrvdcpException);
}

TEST(Variant, TextConvertsStrictlyToNumbers) {
    EXPECT_DOUBLE_EQ(COleVariant(" 12.5 ").toDouble(), 12.5);
    EXPECT_EQ(COleVariant("-3").toLong(), -3);
    EXPECT_THROW(COleVariant("12abc").toDouble(), CBtrvdcpException);
    EXPECT_THROW(COleVariant("").toDouble(), CBtrvdcpException);
    EXPECT_DOUBLE_EQ(COleVariant().toDouble(), 0.0);
    EXPECT_THROW(COleVariant::null().toDouble(), CBtrvdcpException);
    EXPECT_TRUE(COleVariant("TRUE").toBool());
    EXPECT_FALSE(COleVariant("0").toBool());
}

TEST(Variant, TextIsKeptAsBytesAndNumbersPrintShortest) {
    EXPECT_EQ(COleVariant("Caf\xE9").toString(), "Caf\xE9");
    EXPECT_EQ(COleVariant(0.1).toString(), "0.1");
    EXPECT_EQ(COleVariant(int16_t{-7}).toString(), "-7");
    EXPECT_EQ(COleVariant().toString(), "");
    EXPECT_EQ(COleVariant::null().toString(), "");
    EXPECT_EQ(COleVariant(true).toString(), "-1");
}

TEST(Variant, DatesCountDaysFromTheAutomationEpoch) {
    EXPECT_EQ(oleDateFromDate({1899, 12, 30}), 0.0);
    EXPECT_EQ(oleDateFromDate({1900, 3, 1}), 61.0);   // 1900 is no leap year here
    EXPECT_EQ(oleDateFromDate({2000, 1, 1}), 36526.0);
    EXPECT_EQ(dateFromOleDate(-1.0), (btrieve::Date{1899, 12, 29}));
    EXPECT_EQ(dateFromOleDate(36526.75), (btrieve::Date{2000, 1, 1}));
    for (double d : {-700000.0, -1.0, 0.0, 59.0, 60.0, 36585.0, 2958465.0})
        EXPECT_EQ(oleDateFromDate(dateFromOleDate(d)), d);

    const COleVariant d = COleVariant::fromDate(36526.5);
    EXPECT_EQ(d.toString(), "2000-01-01 12:00:00");
    EXPECT_EQ(COleVariant::fromDate(37728).toString(), "2003-04-17");
    EXPECT_EQ(COleVariant("2003-04-17").toCalendarDate(), (btrieve::Date{2003, 4, 17}));
    EXPECT_EQ(COleVariant("4/17/2003").toCalendarDate(), (btrieve::Date{2003, 4, 17}));
    EXPECT_FALSE(COleVariant("2003-02-30").toDate().has_value());
    EXPECT_FALSE(COleVariant("soon").toDate().has_value());
    EXPECT_FALSE(COleVariant().toDate().has_value());
    EXPECT_FALSE(COleVariant::null().toCalendarDate().has_value());
}

}  // namespace
