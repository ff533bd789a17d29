// PlistToDBusTest: which D-Bus type each property-list value goes out as, and
// that scalars come back unchanged through DBusPlist. (The whole trip over a
// bus is in the integration tests of the notification centre and registry.)
#include "PlistToDBus.h"
#include "DBusPlist.h"

#include <QDBusArgument>
#include <QDBusMetaType>

#include <gtest/gtest.h>

namespace {

// The signature a converted value is marshalled with.
QString signatureOf(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QDBusArgument>()) {
        return value.value<QDBusArgument>().currentSignature();
    }
    return QString::fromLatin1(QDBusMetaType::typeToSignature(value.metaType()));
}

struct Case {
    const char* label;
    PlistValue value;
    const char* signature;
};

TEST(PlistToDBus, EachKindGoesOutWithItsType) {
    using W = PlistValue::Width;
    const Case cases[] = {
        {"int16", PlistValue::int16(-3), "n"},
        {"int32", PlistValue::int32(0xA0000), "i"},
        {"int64", PlistValue::int64(-1), "x"},
        {"uint8", PlistValue::unsignedInteger(255, W::Bits8), "y"},
        {"int8 (no signed byte on D-Bus)", PlistValue::integer(-5, W::Bits8), "n"},
        {"uint16", PlistValue::unsignedInteger(65535, W::Bits16), "q"},
        {"uint32", PlistValue::uint32(0xFFFFFFFFu), "u"},
        {"uint64", PlistValue::unsignedInteger(~0ull), "t"},
        {"real", PlistValue::real(9.8), "d"},
        {"boolean", PlistValue::boolean(false), "b"},
        {"string", PlistValue::string("PrefsChange"), "s"},
        {"data", PlistValue::data({0x05, 0x00}), "ay"},
        {"array of data", PlistValue::array({PlistValue::data({0}), PlistValue::data({})}), "aay"},
        {"mixed array", PlistValue::array({PlistValue::data({0}), PlistValue::int32(1)}), "av"},
        {"empty array", PlistValue::array(), "av"},
        {"dictionary", PlistValue::dictionary({{"a", PlistValue::int32(1)}}), "a{sv}"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(signatureOf(PlistToDBus::toVariant(c.value)), QString::fromLatin1(c.signature))
            << c.label;
    }
}

TEST(PlistToDBus, ScalarsComeBackWithWidthAndSign) {
    using W = PlistValue::Width;
    const PlistValue values[] = {
        PlistValue::int16(-32768),
        PlistValue::int32(-2147483647 - 1),
        PlistValue::int64(-5000000000),
        PlistValue::unsignedInteger(200, W::Bits8),
        PlistValue::unsignedInteger(65535, W::Bits16),
        PlistValue::uint32(0xFFFF0000u),
        PlistValue::unsignedInteger(1ull << 63),
        PlistValue::real(-0.25),
        PlistValue::boolean(true),
        PlistValue::string("\xc3\xa9t\xc3\xa9"),
        PlistValue::data({0x00, 0xFF, 0x10}),
    };
    for (const PlistValue& value : values) {
        const PlistValue back = DBusPlist::fromVariant(PlistToDBus::toVariant(value));
        EXPECT_EQ(back, value) << value.debugString();
        ASSERT_EQ(back.type(), value.type()) << value.debugString();
        if (value.isInteger()) {
            EXPECT_EQ(back.integerWidth(), value.integerWidth()) << value.debugString();
            EXPECT_EQ(back.integerIsSigned(), value.integerIsSigned()) << value.debugString();
        }
    }
}

TEST(PlistToDBus, EmptyValuesAreLeftOut) {
    EXPECT_FALSE(PlistToDBus::toVariant(PlistValue()).isValid());

    PlistValue dictionary = PlistValue::dictionary(
        {{"kept", PlistValue::int32(1)},
         {"empty", PlistValue()},
         {"list", PlistValue::array({PlistValue(), PlistValue::string("x")})}});
    const QVariantMap map = PlistToDBus::toVariantMap(dictionary);
    EXPECT_EQ(map.keys(), (QStringList{QStringLiteral("kept"), QStringLiteral("list")}));
    EXPECT_EQ(map.value(QStringLiteral("list")).toList().size(), 1);

    EXPECT_TRUE(PlistToDBus::toVariantMap(PlistValue::int32(3)).isEmpty());
}

} // namespace
