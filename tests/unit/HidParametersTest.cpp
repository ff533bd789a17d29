// HidParametersTest: the simulator's pointer parameters.
#include "HidParameters.h"

#include <gtest/gtest.h>

namespace {

TEST(HidParameters, DefaultsAreTypedAndReadable) {
    const HidParameters parameters;
    EXPECT_EQ(parameters.value(QStringLiteral("HIDPointerButtonMode")).value(), QVariant(2));
    EXPECT_EQ(parameters.value(QStringLiteral("HIDClickTime")).value(),
              QVariant::fromValue<qlonglong>(500000000));
    EXPECT_EQ(
        HidParameters::format(parameters.value(QStringLiteral("HIDMouseAcceleration")).value()),
        QStringLiteral("1.0"));
    const auto integers = parameters.integerValues();
    ASSERT_EQ(integers.size(), 2u);
}

struct SetCase {
    const char* name;
    const char* key;
    QVariant value;
    bool accepted;
    const char* stored; // formatted, when accepted
};

class HidParametersSet : public ::testing::TestWithParam<SetCase> {};

TEST_P(HidParametersSet, ChecksTypeAndRange) {
    const SetCase& c = GetParam();
    HidParameters parameters;
    const Status set = parameters.setValue(QString::fromLatin1(c.key), c.value);
    EXPECT_EQ(set.ok(), c.accepted) << set.message();
    if (c.accepted) {
        EXPECT_EQ(HidParameters::format(parameters.value(QString::fromLatin1(c.key)).value()),
                  QString::fromLatin1(c.stored));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HidParametersSet,
    ::testing::Values(
        SetCase{"ButtonModeLeft", "HIDPointerButtonMode", QVariant::fromValue<qlonglong>(1), true,
                "1"},
        SetCase{"ButtonModeTooWide", "HIDPointerButtonMode",
                QVariant::fromValue<qlonglong>(1LL << 40), false, ""},
        SetCase{"ButtonModeReal", "HIDPointerButtonMode", QVariant(1.5), false, ""},
        SetCase{"ClickTimeLarge", "HIDClickTime", QVariant::fromValue<qlonglong>(5000000000), true,
                "5000000000"},
        SetCase{"ClickTimeString", "HIDClickTime", QVariant(QStringLiteral("1")), false, ""},
        SetCase{"AccelerationReal", "HIDMouseAcceleration", QVariant(0.5), true, "0.5"},
        SetCase{"AccelerationInteger", "HIDMouseAcceleration", QVariant::fromValue<qlonglong>(2),
                true, "2.0"},
        SetCase{"UnknownKey", "HIDSomethingElse", QVariant(1), false, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HidParameters, ParsesCommandLineValues) {
    EXPECT_EQ(HidParameters::parse(QStringLiteral("42")).value(),
              QVariant::fromValue<qlonglong>(42));
    EXPECT_EQ(HidParameters::parse(QStringLiteral("0x10")).value(),
              QVariant::fromValue<qlonglong>(16));
    EXPECT_EQ(HidParameters::parse(QStringLiteral("010")).value(),
              QVariant::fromValue<qlonglong>(10));
    EXPECT_EQ(HidParameters::parse(QStringLiteral("0.25")).value(), QVariant(0.25));
    EXPECT_FALSE(HidParameters::parse(QStringLiteral("fast")).ok());
    EXPECT_FALSE(HidParameters::parse(QStringLiteral("inf")).ok());
}

} // namespace
