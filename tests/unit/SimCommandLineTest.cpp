// SimCommandLineTest: parsing and printing of the simulator's command line.
// The commands themselves run against a real service in the integration tests.
#include "SimCommandLine.h"

#include <gtest/gtest.h>

namespace {

QStringList split(const char* text) {
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

struct ReportCase {
    const char* name;
    const char* bytes;
    bool accepted;
    const char* formatted;
};

class SimCommandLineReport : public ::testing::TestWithParam<ReportCase> {};

TEST_P(SimCommandLineReport, ParsesEightHexBytes) {
    const ReportCase& c = GetParam();
    const Result<QByteArray> report = SimCommandLine::parseReport(split(c.bytes));
    ASSERT_EQ(report.ok(), c.accepted) << (report.ok() ? "" : report.message());
    if (c.accepted) {
        EXPECT_EQ(SimCommandLine::formatBytes(report.value()), QString::fromLatin1(c.formatted));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimCommandLineReport,
    ::testing::Values(
        ReportCase{"Plain", "00 02 00 00 02 00 00 00", true, "00 02 00 00 02 00 00 00"},
        ReportCase{"MixedForms", "8 0xA ff FE 0 0 0 0", true, "08 0a ff fe 00 00 00 00"},
        ReportCase{"Seven", "00 00 00 00 00 00 00", false, ""},
        ReportCase{"Nine", "00 00 00 00 00 00 00 00 00", false, ""},
        ReportCase{"NotHex", "00 00 00 zz 00 00 00 00", false, ""},
        ReportCase{"ThreeDigits", "100 00 00 00 00 00 00 00", false, ""},
        ReportCase{"Negative", "-1 00 00 00 00 00 00 00", false, ""},
        ReportCase{"EmptyPrefix", "0x 00 00 00 00 00 00 00", false, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimCommandLine, ParsesIdsCountsAndFirmware) {
    EXPECT_EQ(SimCommandLine::parseId(QStringLiteral("3")).value(), 3u);
    EXPECT_FALSE(SimCommandLine::parseId(QStringLiteral("0")).ok());
    EXPECT_FALSE(SimCommandLine::parseId(QStringLiteral("x")).ok());
    EXPECT_EQ(SimCommandLine::parseCount(QStringLiteral("0"), "--busy").value(), 0u);
    EXPECT_FALSE(SimCommandLine::parseCount(QStringLiteral("-2"), "--busy").ok());
    EXPECT_EQ(SimCommandLine::parseFirmware(QStringLiteral("0x0203")).value(), 0x0203);
    EXPECT_EQ(SimCommandLine::parseFirmware(QStringLiteral("258")).value(), 0x0102);
    EXPECT_FALSE(SimCommandLine::parseFirmware(QStringLiteral("0x10000")).ok());
}

TEST(SimCommandLine, UsageErrorsExitWithTwo) {
    SimCommandLine cli;
    EXPECT_EQ(cli.run({}), SimCommandLine::kExitUsage);
    EXPECT_EQ(cli.run({QStringLiteral("frobnicate")}), SimCommandLine::kExitUsage);
    EXPECT_EQ(cli.run(split("plug --generation 3")), SimCommandLine::kExitUsage);
    EXPECT_EQ(cli.run(split("plug")), SimCommandLine::kExitUsage);
    EXPECT_EQ(cli.run(split("report 1 00")), SimCommandLine::kExitUsage);
    EXPECT_EQ(cli.run(split("unplug x")), SimCommandLine::kExitUsage);
}

} // namespace
