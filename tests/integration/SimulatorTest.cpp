// SimulatorTest: sablecoil-sim's command line against its running service,
// and the driver host following the simulator's mice.
#include "SuiteHarness.h"

#include <gtest/gtest.h>

namespace {

QStringList split(const char* text) {
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

class SimulatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(suite.startBus()) << qPrintable(suite.error());
        ASSERT_TRUE(suite.startSimulator()) << qPrintable(suite.error());
    }

    SuiteHarness suite;
};

// A command that fails: its exit status and a line on standard error.
struct ErrorCase {
    const char* name;
    const char* command;
    int exitCode;
    const char* message; // part of the error line
};

class SimulatorErrorTest : public SimulatorTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(SimulatorErrorTest, FailsClearly) {
    ASSERT_EQ(suite.sim(split("plug --generation 1")).out, QStringLiteral("1\n"));
    const ErrorCase& c = GetParam();
    const auto result = suite.sim(split(c.command));
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_TRUE(result.err.startsWith(QStringLiteral("sablecoil-sim: "))) << qPrintable(result.err);
    EXPECT_TRUE(result.err.contains(QString::fromLatin1(c.message))) << qPrintable(result.err);
    EXPECT_EQ(result.out, QString());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimulatorErrorTest,
    ::testing::Values(
        ErrorCase{"UnknownId", "report 7 00 00 00 00 00 00 00 00", 1, "no virtual mouse 7"},
        ErrorCase{"UnknownIdUnplug", "unplug 7", 1, "no virtual mouse 7"},
        ErrorCase{"UnknownIdDelivered", "delivered 7", 1, "no virtual mouse 7"},
        ErrorCase{"BadHex", "report 1 00 00 0g 00 00 00 00 00", 2, "\"0g\" is not a hex byte"},
        ErrorCase{"ShortReport", "report 1 00 00 00", 2, "a report has 8 bytes, not 3"},
        ErrorCase{"UnknownParameter", "param set HIDSpeed 3", 1, "unknown HID system parameter"},
        ErrorCase{"ParameterNotANumber", "param set HIDClickTime soon", 2, "is not a number"},
        ErrorCase{"ParameterWrongType", "param set HIDPointerButtonMode 1.5", 1,
                  "takes an integer"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimulatorTest, NoServiceRunning) {
    ASSERT_EQ(suite.stopProgram(QStringLiteral("sablecoil-sim")), 0);
    const auto result = suite.sim(split("plug --generation 1"));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains(QStringLiteral("the simulator is not running")))
        << qPrintable(result.err);
}

TEST_F(SimulatorTest, BusyMouseOpensAfterItsCount) {
    ASSERT_TRUE(suite.sim(split("plug --generation 2 --busy 2 --firmware 0x0203")).ok());
    EXPECT_EQ(suite.sim(split("open 1")).exitCode, 1);
    const auto second = suite.sim(split("open 1"));
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_TRUE(second.err.contains(QStringLiteral("exclusive access"))) << qPrintable(second.err);
    EXPECT_EQ(suite.sim(split("open 1")).out, QStringLiteral("opened\n"));
    EXPECT_EQ(suite.sim(split("firmware 1")).out, QStringLiteral("0x0203\n"));
    EXPECT_EQ(suite.sim(split("list")).lines(),
              QStringList{QStringLiteral("1 generation 2 usb 2f1a:5302 firmware 0x0203 unbound")});
}

TEST_F(SimulatorTest, ParametersPrintStably) {
    ASSERT_TRUE(suite.sim(split("param set HIDMouseAcceleration 0.5")).ok());
    ASSERT_TRUE(suite.sim(split("param set HIDClickTime 150000000")).ok());
    EXPECT_EQ(suite.sim(split("param get HIDMouseAcceleration")).out, QStringLiteral("0.5\n"));
    EXPECT_EQ(suite.sim(split("param get")).lines(),
              (QStringList{QStringLiteral("HIDClickTime 150000000"),
                           QStringLiteral("HIDMouseAcceleration 0.5"),
                           QStringLiteral("HIDPointerButtonMode 2")}));
}

TEST_F(SimulatorTest, ReportWithoutHostTimesOut) {
    ASSERT_TRUE(suite.sim(split("plug --generation 1")).ok());
    const auto result = suite.sim(split("report 1 01 00 00 00 00 00 00 00"));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains(QStringLiteral("no driver host took the report")))
        << qPrintable(result.err);
}

TEST_F(SimulatorTest, ReportBeforeTheHostWaitsForIt) {
    ASSERT_TRUE(suite.sim(split("plug --generation 1")).ok());
    QProcess report;
    report.setProcessEnvironment(suite.environment());
    report.start(QStringLiteral(SABLECOIL_SIM_PROGRAM), split("report 1 01 00 00 00 00 00 00 00"));
    ASSERT_TRUE(report.waitForStarted());
    ASSERT_TRUE(suite.startDriverHost()) << qPrintable(suite.error());
    ASSERT_TRUE(report.waitForFinished(SuiteHarness::kWaitMs));
    EXPECT_EQ(report.exitCode(), 0) << report.readAllStandardError().constData();
    EXPECT_EQ(suite.delivered(1), QStringList{QStringLiteral("01 00 00 00 00 00 00 00")});
}

TEST_F(SimulatorTest, SimulatorGoingAwayRemovesTheInstances) {
    ASSERT_TRUE(suite.startDriverHost()) << qPrintable(suite.error());
    const QString first = suite.plug(1);
    const QString second = suite.plug(2);
    ASSERT_FALSE(second.isEmpty()) << qPrintable(suite.error());
    ASSERT_EQ(suite.stopProgram(QStringLiteral("sablecoil-sim")), 0);
    ASSERT_TRUE(SuiteHarness::waitUntil([&] { return suite.removedPaths().size() == 2; }));
    EXPECT_EQ(suite.managedPaths(), QStringList{});
    EXPECT_TRUE(suite.isRunning(QStringLiteral("orvix-sablecoil-driver")));

    // A new simulator: the host takes its mice again, under new paths.
    ASSERT_TRUE(suite.startSimulator()) << qPrintable(suite.error());
    const QString again = suite.plug(1);
    EXPECT_EQ(again, QStringLiteral("/com/orvix/driver/OrvixSablecoilDriver/3"));
}

} // namespace
