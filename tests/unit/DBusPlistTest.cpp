// DBusPlistTest: D-Bus values to property-list values. (Values that arrive as
// QDBusArgument, such as aay and nested dictionaries, are covered through a
// real bus in DriverHostTest.)
#include "DBusPlist.h"

#include <gtest/gtest.h>

#include <QByteArrayList>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QStringList>

namespace {

using W = PlistValue::Width;

struct ScalarCase {
    const char* name;
    QVariant value;
    PlistValue expected;
    W width;
    bool isSigned;
};

class DBusPlistScalar : public ::testing::TestWithParam<ScalarCase> {};

TEST_P(DBusPlistScalar, KeepsWidthAndSign) {
    const ScalarCase& c = GetParam();
    const PlistValue value = DBusPlist::fromVariant(c.value);
    EXPECT_EQ(value, c.expected);
    ASSERT_TRUE(value.isInteger());
    EXPECT_EQ(value.integerWidth(), c.width);
    EXPECT_EQ(value.integerIsSigned(), c.isSigned);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DBusPlistScalar,
    ::testing::Values(ScalarCase{"Byte", QVariant::fromValue<uchar>(200), PlistValue::integer(200),
                                 W::Bits8, false},
                      ScalarCase{"Int16", QVariant::fromValue<short>(-2), PlistValue::integer(-2),
                                 W::Bits16, true},
                      ScalarCase{"UInt16", QVariant::fromValue<ushort>(65535),
                                 PlistValue::integer(65535), W::Bits16, false},
                      ScalarCase{"Int32", QVariant(-327680), PlistValue::integer(-327680),
                                 W::Bits32, true},
                      ScalarCase{"UInt32", QVariant(0xFFFF0000u), PlistValue::integer(0xFFFF0000LL),
                                 W::Bits32, false},
                      ScalarCase{"Int64", QVariant::fromValue<qlonglong>(-(1LL << 40)),
                                 PlistValue::integer(-(1LL << 40)), W::Bits64, true},
                      ScalarCase{"UInt64", QVariant::fromValue<qulonglong>(1ULL << 63),
                                 PlistValue::unsignedInteger(1ULL << 63), W::Bits64, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DBusPlist, OtherKindsConvert) {
    EXPECT_EQ(DBusPlist::fromVariant(QVariant(0.5)), PlistValue::real(0.5));
    EXPECT_EQ(DBusPlist::fromVariant(QVariant(true)), PlistValue::boolean(true));
    EXPECT_EQ(DBusPlist::fromVariant(QVariant(QStringLiteral("x"))), PlistValue::string("x"));
    EXPECT_EQ(DBusPlist::fromVariant(QVariant(QByteArray("\x05\x04", 2))),
              PlistValue::data({5, 4}));
    EXPECT_EQ(DBusPlist::fromVariant(QVariant(QStringList{QStringLiteral("a")})),
              PlistValue::array({PlistValue::string("a")}));
    EXPECT_EQ(DBusPlist::fromVariant(QVariant::fromValue(QByteArrayList{QByteArray(1, '\x03')})),
              PlistValue::array({PlistValue::data({3})}));
    EXPECT_EQ(DBusPlist::fromVariant(QVariant::fromValue(QDBusVariant(QVariant(7)))),
              PlistValue::int32(7));
}

TEST(DBusPlist, DictionaryLeavesOutWhatHasNoForm) {
    QVariantMap map;
    map.insert(QStringLiteral("Sensitivity"), QVariant(327680));
    map.insert(QStringLiteral("Path"), QVariant::fromValue(QDBusObjectPath("/a")));
    map.insert(QStringLiteral("Nothing"), QVariant());
    const PlistValue dictionary = DBusPlist::fromVariantMap(map);
    ASSERT_TRUE(dictionary.isDictionary());
    EXPECT_EQ(dictionary.size(), 1u);
    EXPECT_EQ(dictionary.get("Sensitivity"), PlistValue::int32(327680));
}

} // namespace
