// VirtualHidSystemTest: the HID system parameters backend against the real
// simulator on a private bus; values keep their types both ways.
#include "VirtualHidSystem.h"
#include "SuiteHarness.h"

#include <gtest/gtest.h>

namespace {

QStringList split(const char* text) {
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

class VirtualHidSystemTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(suite.startBus()) << qPrintable(suite.error()); }

    SuiteHarness suite;
};

TEST_F(VirtualHidSystemTest, CopiesTheSimulatorsParametersWithTheirTypes) {
    ASSERT_TRUE(suite.startSimulator()) << qPrintable(suite.error());
    ASSERT_TRUE(suite.sim(split("param set HIDClickTime 6000000000")).ok());
    VirtualHidSystem hid(suite.connection());
    ASSERT_TRUE(hid.isAvailable());

    const Result<PlistValue> parameters = hid.copyParameters();
    ASSERT_TRUE(parameters.ok()) << parameters.message();
    EXPECT_EQ(parameters.value(),
              PlistValue::dictionary({{"HIDClickTime", PlistValue::int64(6000000000)},
                                      {"HIDMouseAcceleration", PlistValue::real(1.0)},
                                      {"HIDPointerButtonMode", PlistValue::int32(2)}}));
    const PlistValue& clickTime = parameters.value().get("HIDClickTime");
    EXPECT_EQ(clickTime.integerWidth(), PlistValue::Width::Bits64);
    EXPECT_EQ(parameters.value().get("HIDPointerButtonMode").integerWidth(),
              PlistValue::Width::Bits32);
}

TEST_F(VirtualHidSystemTest, SetParametersRoundTripThroughTheSimulator) {
    ASSERT_TRUE(suite.startSimulator()) << qPrintable(suite.error());
    VirtualHidSystem hid(suite.connection());
    const PlistValue set =
        PlistValue::dictionary({{"HIDClickTime", PlistValue::int64(250000000)},
                                {"HIDPointerButtonMode", PlistValue::int32(1)},
                                {"HIDMouseAcceleration", PlistValue::real(0.6875)}});
    ASSERT_EQ(hid.setParameters(set), kIoSuccess);

    EXPECT_EQ(suite.sim(split("param get")).lines(),
              (QStringList{QStringLiteral("HIDClickTime 250000000"),
                           QStringLiteral("HIDMouseAcceleration 0.6875"),
                           QStringLiteral("HIDPointerButtonMode 1")}));
    const Result<PlistValue> copied = hid.copyParameters();
    ASSERT_TRUE(copied.ok()) << copied.message();
    EXPECT_EQ(copied.value(), set);

    // A partial dictionary changes only its own keys.
    ASSERT_EQ(
        hid.setParameters(PlistValue::dictionary({{"HIDPointerButtonMode", PlistValue::int32(2)}})),
        kIoSuccess);
    EXPECT_EQ(suite.sim(split("param get HIDPointerButtonMode")).out, QStringLiteral("2\n"));
    EXPECT_EQ(suite.sim(split("param get HIDClickTime")).out, QStringLiteral("250000000\n"));
}

// A dictionary the simulator refuses.
struct RefusedCase {
    const char* name;
    PlistValue parameters;
};

class VirtualHidSystemRefusedTest : public VirtualHidSystemTest,
                                    public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(VirtualHidSystemRefusedTest, IsABadArgumentAndKeepsTheValues) {
    ASSERT_TRUE(suite.startSimulator()) << qPrintable(suite.error());
    VirtualHidSystem hid(suite.connection());
    EXPECT_EQ(hid.setParameters(GetParam().parameters), kIoBadArgument);
    EXPECT_EQ(suite.sim(split("param get")).lines(),
              (QStringList{QStringLiteral("HIDClickTime 500000000"),
                           QStringLiteral("HIDMouseAcceleration 1.0"),
                           QStringLiteral("HIDPointerButtonMode 2")}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VirtualHidSystemRefusedTest,
    ::testing::Values(
        RefusedCase{"NotADictionary", PlistValue::int32(1)},
        RefusedCase{"UnknownKey", PlistValue::dictionary({{"HIDSpeed", PlistValue::int32(3)}})},
        RefusedCase{"RealButtonMode",
                    PlistValue::dictionary({{"HIDPointerButtonMode", PlistValue::real(1.5)}})},
        RefusedCase{"StringClickTime",
                    PlistValue::dictionary({{"HIDClickTime", PlistValue::string("soon")}})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(VirtualHidSystemTest, WithoutTheSimulatorNothingIsThere) {
    VirtualHidSystem hid(suite.connection());
    EXPECT_FALSE(hid.isAvailable());
    EXPECT_FALSE(hid.copyParameters().ok());
    EXPECT_EQ(
        hid.setParameters(PlistValue::dictionary({{"HIDPointerButtonMode", PlistValue::int32(1)}})),
        kIoNotFound);
}

} // namespace
