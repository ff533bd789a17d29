// DriverHostTest: the driver host as a real process on a private bus, driven
// through the simulator's command line and busctl.
#include "SuiteHarness.h"

#include <gtest/gtest.h>

#include <QDBusMessage>
#include <QDBusVariant>

namespace {

const QString sNone;
const QString sZeroReport = QStringLiteral("00 00 00 00 00 00 00 00");

// busctl arguments for a "ButtonMappings" of seven one-byte records.
QStringList mappings(std::initializer_list<int> types) {
    QStringList args{QStringLiteral("ButtonMappings"), QStringLiteral("aay"),
                     QString::number(types.size())};
    for (int type : types) {
        args << QStringLiteral("1") << QString::number(type);
    }
    return args;
}

// A dictionary of busctl arguments: the entry count first.
QStringList dictionary(const QList<QStringList>& entries) {
    QStringList args{QString::number(entries.size())};
    for (const QStringList& entry : entries) {
        args += entry;
    }
    return args;
}

// The five device keys: 1800 dpi, 500 reports/s, both lights, profile 1.
const QList<QStringList> sDeviceKeys = {
    {QStringLiteral("Resolution"), QStringLiteral("i"), QStringLiteral("2")},
    {QStringLiteral("PollingRate"), QStringLiteral("i"), QStringLiteral("1")},
    {QStringLiteral("GlowLogoOn"), QStringLiteral("i"), QStringLiteral("1")},
    {QStringLiteral("ScrollLightOn"), QStringLiteral("i"), QStringLiteral("1")},
    {QStringLiteral("ProfileNumber"), QStringLiteral("u"), QStringLiteral("1")}};

class DriverHostTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(suite.start()) << qPrintable(suite.error()); }

    // Plugs a mouse and sets a dictionary on its instance.
    QString plugConfigured(int generation, const QList<QStringList>& entries,
                           const QStringList& extra = {}) {
        const QString path = suite.plug(generation, extra);
        EXPECT_FALSE(path.isEmpty()) << qPrintable(suite.error());
        if (!entries.isEmpty()) {
            const auto set = suite.setProperties(path, dictionary(entries));
            EXPECT_TRUE(set.ok()) << qPrintable(set.err);
            EXPECT_EQ(set.out.trimmed(), QStringLiteral("i 0"));
        }
        return path;
    }

    SuiteHarness suite;
};

// One mouse, a configuration, a sequence of reports; what the system
// received and which messages the host sent.
struct ReportCase {
    const char* name;
    QList<QStringList> properties;
    QStringList parameters; // sim "param set" pairs
    QStringList reports;
    QStringList delivered;
    QList<uint> messages;
};

class DriverHostReportTest : public DriverHostTest,
                             public ::testing::WithParamInterface<ReportCase> {};

TEST_P(DriverHostReportTest, DeliversAndMessages) {
    const ReportCase& c = GetParam();
    for (qsizetype i = 0; i + 1 < c.parameters.size(); i += 2) {
        ASSERT_TRUE(suite
                        .sim({QStringLiteral("param"), QStringLiteral("set"), c.parameters[i],
                              c.parameters[i + 1]})
                        .ok());
    }
    const QString path = plugConfigured(1, c.properties);
    const uint mouse = suite.lastMouseId();
    for (const QString& report : c.reports) {
        ASSERT_TRUE(suite.report(mouse, report)) << qPrintable(suite.error());
    }
    EXPECT_EQ(suite.delivered(mouse), c.delivered);
    EXPECT_EQ(suite.messages(path), c.messages);
}

const QList<QStringList> sAllClick = {mappings({0, 0, 0, 0, 0, 10, 11})};

INSTANTIATE_TEST_SUITE_P(
    Cases, DriverHostReportTest,
    ::testing::Values(
        // Menu on button 1: pressing it gives the secondary button.
        ReportCase{"RemappedPress",
                   {mappings({1, 0, 0, 0, 0, 10, 11})},
                   {},
                   {QStringLiteral("01 00 00 00 00 00 00 00"), sZeroReport},
                   {QStringLiteral("02 00 00 00 00 00 00 00"), sZeroReport},
                   {}},
        // Half sensitivity: X 6 -> 3, Y 4 -> 2 (the 8-bit Y carries the opposite sign).
        ReportCase{"ScaledMotion",
                   {{QStringLiteral("Sensitivity"), QStringLiteral("i"), QStringLiteral("327680")}},
                   {},
                   {QStringLiteral("00 00 00 00 06 00 04 00")},
                   {QStringLiteral("00 03 fe 00 03 00 02 00")},
                   {}},
        // Double click on button 5: press, release, press, then the device's release.
        ReportCase{"DoubleClick",
                   {mappings({0, 1, 0, 0, 2, 10, 11})},
                   {},
                   {QStringLiteral("08 00 00 00 00 00 00 00"), sZeroReport},
                   {QStringLiteral("01 00 00 00 00 00 00 00"), sZeroReport,
                    QStringLiteral("01 00 00 00 00 00 00 00"), sZeroReport},
                   {}},
        // The desktop's primary button is the right one: the double click uses it.
        ReportCase{"DoubleClickLeftHandedDesktop",
                   {mappings({0, 1, 0, 0, 2, 10, 11})},
                   {QStringLiteral("HIDPointerButtonMode"), QStringLiteral("1")},
                   {QStringLiteral("08 00 00 00 00 00 00 00")},
                   {QStringLiteral("02 00 00 00 00 00 00 00"), sZeroReport,
                    QStringLiteral("02 00 00 00 00 00 00 00")},
                   {}},
        // Key on button 5: press message, nothing while held, key-up message.
        ReportCase{"KeyInput",
                   {mappings({0, 1, 0, 0, 3, 10, 11})},
                   {},
                   {QStringLiteral("08 00 00 00 00 00 00 00"),
                    QStringLiteral("08 00 00 00 00 00 00 00"), sZeroReport},
                   {sZeroReport, sZeroReport, sZeroReport},
                   {0x00000400u, 0x00100400u}},
        // The profile button: a message on every report that has it.
        ReportCase{
            "ProfileButton",
            sAllClick,
            {},
            {QStringLiteral("80 00 00 00 00 00 00 00"), QStringLiteral("80 00 00 00 00 00 00 00")},
            {QStringLiteral("80 00 00 00 00 00 00 00"), QStringLiteral("80 00 00 00 00 00 00 00")},
            {0x0008FF00u, 0x0008FF00u}},
        // Wheel up used as a trigger (type 4): the step is consumed.
        ReportCase{"WheelAsButton",
                   {mappings({0, 1, 0, 0, 0, 4, 11})},
                   {},
                   {QStringLiteral("00 00 00 01 00 00 00 00")},
                   {sZeroReport},
                   {0x00000501u}}),
    [](const ::testing::TestParamInfo<ReportCase>& info) { return std::string(info.param.name); });

TEST_F(DriverHostTest, PublishesInstanceProperties) {
    const QString path = suite.plug(2);
    ASSERT_FALSE(path.isEmpty()) << qPrintable(suite.error());
    EXPECT_EQ(path, QStringLiteral("/com/orvix/driver/OrvixSablecoilDriver/1"));
    const auto properties =
        suite.busctl({QStringLiteral("get-property"), SuiteHarness::kDriverService, path,
                      SuiteHarness::kDriverInterface, QStringLiteral("ClassName"),
                      QStringLiteral("idVendor"), QStringLiteral("idProduct")});
    ASSERT_TRUE(properties.ok()) << qPrintable(properties.err);
    const QVariantMap announced = suite.addedProperties(path);
    EXPECT_EQ(announced.value(QStringLiteral("ClassName")).toString(),
              QStringLiteral("com_orvix_driver_OrvixSablecoilDriver"));
    EXPECT_EQ(announced.value(QStringLiteral("idVendor")).toLongLong(), 0x2F1A);
    EXPECT_EQ(announced.value(QStringLiteral("idProduct")).toLongLong(), 0x5302);
    EXPECT_EQ(properties.lines(),
              (QStringList{QStringLiteral("s \"com_orvix_driver_OrvixSablecoilDriver\""),
                           QStringLiteral("x 12058"), QStringLiteral("x 21250")}));
}

TEST_F(DriverHostTest, SameDictionaryTwiceSendsOneRequest) {
    const QString path = plugConfigured(1, sDeviceKeys);
    const auto again = suite.setProperties(path, dictionary(sDeviceKeys));
    EXPECT_EQ(again.out.trimmed(), QStringLiteral("i 0"));
    EXPECT_EQ(suite.commands(suite.lastMouseId()), QStringList{QStringLiteral("02 01 01 03")});
}

TEST_F(DriverHostTest, SecondGenerationEncodesResolutionForItself) {
    plugConfigured(2, sDeviceKeys + QList<QStringList>{{QStringLiteral("DeviceVersion"),
                                                        QStringLiteral("y"), QStringLiteral("2")}});
    EXPECT_EQ(suite.commands(suite.lastMouseId()), QStringList{QStringLiteral("02 02 01 03")});
}

TEST_F(DriverHostTest, RejectedRequestIsSentAgain) {
    const QString path =
        plugConfigured(1, sDeviceKeys, {QStringLiteral("--fail-commands"), QStringLiteral("1")});
    for (int i = 0; i < 2; ++i) {
        const auto set = suite.setProperties(path, dictionary(sDeviceKeys));
        EXPECT_EQ(set.out.trimmed(), QStringLiteral("i 0")) << qPrintable(set.err);
    }
    EXPECT_EQ(suite.commands(suite.lastMouseId()),
              (QStringList{QStringLiteral("02 01 01 03 rejected"), QStringLiteral("02 01 01 03")}));
}

TEST_F(DriverHostTest, TwoMiceAtOnce) {
    const QString first = plugConfigured(1, {sAllClick});
    const uint firstMouse = suite.lastMouseId();
    const QString second = plugConfigured(2, {mappings({0, 1, 0, 0, 3, 10, 11})});
    const uint secondMouse = suite.lastMouseId();
    EXPECT_EQ(suite.managedPaths(), (QStringList{first, second}));

    ASSERT_TRUE(suite.report(firstMouse, QStringLiteral("08 00 00 00 00 00 00 00")));
    ASSERT_TRUE(suite.report(secondMouse, QStringLiteral("08 00 00 00 00 00 00 00")));
    EXPECT_EQ(suite.delivered(firstMouse), QStringList{QStringLiteral("01 00 00 00 00 00 00 00")});
    EXPECT_EQ(suite.delivered(secondMouse), QStringList{sZeroReport});
    EXPECT_EQ(suite.messages(first), QList<uint>{});
    EXPECT_EQ(suite.messages(second), QList<uint>{0x00000400u});
}

TEST_F(DriverHostTest, UnplugWhileButtonHeldRemovesTheInstanceOnly) {
    const QString path = plugConfigured(1, {mappings({0, 1, 0, 0, 3, 10, 11})});
    const uint mouse = suite.lastMouseId();
    ASSERT_TRUE(suite.report(mouse, QStringLiteral("08 00 00 00 00 00 00 00")));
    ASSERT_EQ(suite.messages(path), QList<uint>{0x00000400u});

    ASSERT_TRUE(suite.sim({QStringLiteral("unplug"), QString::number(mouse)}).ok());
    ASSERT_TRUE(SuiteHarness::waitUntil([&] { return suite.removedPaths().contains(path); }));
    EXPECT_EQ(suite.removedInterfaces(path), QStringList{SuiteHarness::kDriverInterface});
    EXPECT_TRUE(suite.isRunning(QStringLiteral("orvix-sablecoil-driver")));
    EXPECT_EQ(suite.managedPaths(), QStringList{});
    const auto gone = suite.setProperties(path, dictionary(sDeviceKeys));
    EXPECT_FALSE(gone.ok());

    // A new mouse gets a new path, and works.
    const QString next = plugConfigured(1, {sAllClick});
    EXPECT_EQ(next, QStringLiteral("/com/orvix/driver/OrvixSablecoilDriver/2"));
    ASSERT_TRUE(suite.report(suite.lastMouseId(), QStringLiteral("02 00 00 00 00 00 00 00")));
    EXPECT_EQ(suite.delivered(suite.lastMouseId()),
              QStringList{QStringLiteral("01 00 00 00 00 00 00 00")});
}

TEST_F(DriverHostTest, QuitsCleanlyOnSigterm) {
    const QString path = plugConfigured(1, {mappings({0, 1, 0, 0, 3, 10, 11})});
    ASSERT_TRUE(suite.report(suite.lastMouseId(), QStringLiteral("08 00 00 00 00 00 00 00")));
    EXPECT_EQ(suite.stopProgram(QStringLiteral("orvix-sablecoil-driver")), 0);
    ASSERT_TRUE(SuiteHarness::waitUntil([&] { return suite.removedPaths().contains(path); }));
    // The mouse is free for the next host.
    EXPECT_EQ(suite.sim({QStringLiteral("list")}).lines(),
              QStringList{QStringLiteral("1 generation 1 usb 2f1a:5301 firmware 0x0100 unbound")});
}

// SetProperties with what a client should not send: a D-Bus error or, for
// odd values, success with the key ignored; the host lives on either way.
struct MalformedCase {
    const char* name;
    QStringList callArgs; // after "SetProperties"
    bool callSucceeds;
};

class DriverHostMalformedTest : public DriverHostTest,
                                public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(DriverHostMalformedTest, NeverCrashes) {
    const MalformedCase& c = GetParam();
    const QString path = plugConfigured(1, {});
    const auto result =
        suite.busctl(QStringList{QStringLiteral("call"), SuiteHarness::kDriverService, path,
                                 SuiteHarness::kDriverInterface, QStringLiteral("SetProperties")} +
                     c.callArgs);
    EXPECT_EQ(result.ok(), c.callSucceeds) << qPrintable(result.err);
    if (c.callSucceeds) {
        EXPECT_EQ(result.out.trimmed(), QStringLiteral("i 0"));
    }
    // Nothing reached the mouse and nothing changed: motion is unscaled,
    // the buttons are plain clicks.
    EXPECT_EQ(suite.commands(suite.lastMouseId()), QStringList{});
    ASSERT_TRUE(suite.report(suite.lastMouseId(), QStringLiteral("02 00 00 00 06 00 00 00")));
    EXPECT_EQ(suite.delivered(suite.lastMouseId()),
              QStringList{QStringLiteral("01 06 00 00 06 00 00 00")});
    EXPECT_TRUE(suite.isRunning(QStringLiteral("orvix-sablecoil-driver")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DriverHostMalformedTest,
    ::testing::Values(
        MalformedCase{"NotADictionary", {QStringLiteral("s"), QStringLiteral("hello")}, false},
        MalformedCase{"NoArgument", {}, false},
        MalformedCase{"TwoArguments",
                      {QStringLiteral("a{sv}i"), QStringLiteral("0"), QStringLiteral("1")},
                      false},
        MalformedCase{"EmptyDictionary", {QStringLiteral("a{sv}"), QStringLiteral("0")}, true},
        MalformedCase{"ValuesOfOtherTypes",
                      {QStringLiteral("a{sv}"), QStringLiteral("5"), QStringLiteral("Sensitivity"),
                       QStringLiteral("s"), QStringLiteral("fast"), QStringLiteral("Resolution"),
                       QStringLiteral("d"), QStringLiteral("2.0"), QStringLiteral("ProfileNumber"),
                       QStringLiteral("b"), QStringLiteral("true"), QStringLiteral("PollingRate"),
                       QStringLiteral("(ii)"), QStringLiteral("1"), QStringLiteral("2"),
                       QStringLiteral("ButtonMappings"), QStringLiteral("as"), QStringLiteral("1"),
                       QStringLiteral("x")},
                      true},
        MalformedCase{"OddButtonMappings",
                      {QStringLiteral("a{sv}"), QStringLiteral("1"),
                       QStringLiteral("ButtonMappings"), QStringLiteral("aay"), QStringLiteral("9"),
                       QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0"),
                       QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0"),
                       QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0")},
                      true},
        MalformedCase{"NestedDictionaries",
                      {QStringLiteral("a{sv}"), QStringLiteral("1"), QStringLiteral("Sensitivity"),
                       QStringLiteral("a{sv}"), QStringLiteral("1"), QStringLiteral("x"),
                       QStringLiteral("v"), QStringLiteral("i"), QStringLiteral("3")},
                      true}),
    [](const ::testing::TestParamInfo<MalformedCase>& info) {
        return std::string(info.param.name);
    });

} // namespace
