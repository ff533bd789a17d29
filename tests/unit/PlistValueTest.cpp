// Tests of PlistValue: lookup with defaults, deep copy, equality, debug print.
#include "PlistValue.h"

#include <gtest/gtest.h>

TEST(PlistValue, LookupWithDefaults) {
    PlistValue d = PlistValue::dictionary();
    d.set("Resolution", PlistValue::int32(2));
    d.set("Sensitivity", PlistValue::real(9.8));
    d.set("Name", PlistValue::string("x"));

    EXPECT_EQ(d.intFor("Resolution", 7), 2);
    EXPECT_EQ(d.intFor("Missing", 7), 7);
    EXPECT_EQ(d.intFor("Name", 7), 7); // wrong kind gives the default
    EXPECT_DOUBLE_EQ(d.realFor("Sensitivity", 0.0), 9.8);
    EXPECT_DOUBLE_EQ(d.realFor("Resolution", 0.0), 2.0);
    EXPECT_EQ(d.stringFor("Name"), "x");
    EXPECT_TRUE(d.get("Missing").isNone());
}

TEST(PlistValue, DictionaryKeepsInsertionOrderAndReplacesInPlace) {
    PlistValue d;
    d.set("b", PlistValue::int32(1));
    d.set("a", PlistValue::int32(2));
    d.set("b", PlistValue::int32(3));
    ASSERT_EQ(d.dict().size(), 2u);
    EXPECT_EQ(d.dict()[0].first, "b");
    EXPECT_EQ(d.dict()[0].second.toInt64(), 3);
    EXPECT_EQ(d.dict()[1].first, "a");
    EXPECT_TRUE(d.remove("b"));
    EXPECT_FALSE(d.remove("b"));
}

TEST(PlistValue, CopiesAreDeep) {
    PlistValue inner = PlistValue::array({PlistValue::data({0x03, 0x31})});
    PlistValue outer = PlistValue::dictionary({{"ButtonMappings", inner}});
    PlistValue copy = outer;
    copy.find("ButtonMappings")->items()[0] = PlistValue::data({0x00});
    EXPECT_EQ(outer.get("ButtonMappings").at(0).bytes(), PlistValue::Data({0x03, 0x31}));
    EXPECT_NE(outer, copy);
}

TEST(PlistValue, IntegersRememberWidthAndCompareByValue) {
    PlistValue a = PlistValue::int16(-1);
    EXPECT_EQ(a.integerWidth(), PlistValue::Width::Bits16);
    EXPECT_EQ(a.toInt64(), -1);
    EXPECT_EQ(a, PlistValue::int64(-1));
    // The same bits as an unsigned 64-bit number are a different number.
    EXPECT_NE(PlistValue::int64(-1), PlistValue::unsignedInteger(~0ull));
    EXPECT_EQ(PlistValue::uint32(0xFFFF0000u).toInt64(), 0xFFFF0000ll);
    EXPECT_EQ(PlistValue::integer(0x12345, PlistValue::Width::Bits16).toInt64(), 0x2345);
    EXPECT_NE(PlistValue::int32(1), PlistValue::real(1.0));
    EXPECT_NE(PlistValue::int32(1), PlistValue::boolean(true));
}

TEST(PlistValue, DebugStringShowsKindsAndContent) {
    PlistValue d = PlistValue::dictionary(
        {{"n", PlistValue::int16(5)}, {"d", PlistValue::data({0x0a, 0xff})}});
    const std::string s = d.debugString();
    EXPECT_NE(s.find("\"n\" = 5 (int16)"), std::string::npos) << s;
    EXPECT_NE(s.find("<0a ff>"), std::string::npos) << s;
}

TEST(PlistValue, DictionaryEqualityIgnoresKeyOrder) {
    PlistValue a =
        PlistValue::dictionary({{"x", PlistValue::int32(1)}, {"y", PlistValue::real(2)}});
    PlistValue b =
        PlistValue::dictionary({{"y", PlistValue::real(2)}, {"x", PlistValue::int32(1)}});
    EXPECT_EQ(a, b);
    b.set("y", PlistValue::real(3));
    EXPECT_NE(a, b);
    b.remove("y");
    EXPECT_NE(a, b);
    EXPECT_NE(PlistValue::array({PlistValue::int32(1), PlistValue::int32(2)}),
              PlistValue::array({PlistValue::int32(2), PlistValue::int32(1)}));
}
