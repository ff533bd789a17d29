// SimChannelTest: the report channel's datagrams.
#include "SimChannel.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace {

TEST(SimChannel, InputReportRoundTrip) {
    const std::array<std::uint8_t, 8> report = {0x08, 0, 0, 0xff, 0x06, 0, 0x04, 0};
    std::uint8_t buffer[SimChannel::kMaxDatagram];
    const std::size_t size = SimChannel::encodeInputReport(0x01020304, report.data(), report.size(),
                                                           buffer, sizeof buffer);
    ASSERT_EQ(size, 13u);
    SimChannel::Datagram datagram;
    ASSERT_TRUE(SimChannel::decode(buffer, size, datagram));
    EXPECT_EQ(datagram.kind, SimChannel::kInputReport);
    EXPECT_EQ(datagram.seq, 0x01020304u);
    EXPECT_EQ(std::vector<std::uint8_t>(datagram.bytes, datagram.bytes + datagram.length),
              std::vector<std::uint8_t>(report.begin(), report.end()));
}

TEST(SimChannel, ParameterRoundTripKeepsNegativeValues) {
    std::uint8_t buffer[SimChannel::kMaxDatagram];
    const std::size_t size =
        SimChannel::encodeParameter("HIDClickTime", -5000000000, buffer, sizeof buffer);
    SimChannel::Datagram datagram;
    ASSERT_TRUE(SimChannel::decode(buffer, size, datagram));
    EXPECT_EQ(datagram.kind, SimChannel::kParameter);
    EXPECT_EQ(datagram.key, "HIDClickTime");
    EXPECT_EQ(datagram.value, -5000000000);
}

TEST(SimChannel, DeliveredAndHandledRoundTrip) {
    const std::uint8_t report[3] = {1, 2, 3};
    std::uint8_t buffer[SimChannel::kMaxDatagram];
    SimChannel::Datagram datagram;
    std::size_t size = SimChannel::encodeDelivered(report, 3, buffer, sizeof buffer);
    ASSERT_TRUE(SimChannel::decode(buffer, size, datagram));
    EXPECT_EQ(datagram.kind, SimChannel::kDelivered);
    EXPECT_EQ(datagram.length, 3u);
    size = SimChannel::encodeHandled(77, buffer, sizeof buffer);
    ASSERT_TRUE(SimChannel::decode(buffer, size, datagram));
    EXPECT_EQ(datagram.kind, SimChannel::kHandled);
    EXPECT_EQ(datagram.seq, 77u);
}

TEST(SimChannel, EncodingRefusesWhatDoesNotFit) {
    std::uint8_t report[SimChannel::kMaxReport + 1] = {};
    std::uint8_t small[8];
    std::uint8_t buffer[SimChannel::kMaxDatagram];
    EXPECT_EQ(SimChannel::encodeInputReport(1, report, sizeof report, buffer, sizeof buffer), 0u);
    EXPECT_EQ(SimChannel::encodeInputReport(1, report, 0, buffer, sizeof buffer), 0u);
    EXPECT_EQ(SimChannel::encodeInputReport(1, report, 8, small, sizeof small), 0u);
    EXPECT_EQ(SimChannel::encodeParameter("", 1, buffer, sizeof buffer), 0u);
    EXPECT_EQ(SimChannel::encodeHandled(1, small, 4), 0u);
}

struct MalformedCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
};

class SimChannelMalformed : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(SimChannelMalformed, IsRefused) {
    SimChannel::Datagram datagram;
    const auto& bytes = GetParam().bytes;
    EXPECT_FALSE(
        SimChannel::decode(bytes.empty() ? nullptr : bytes.data(), bytes.size(), datagram));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimChannelMalformed,
    ::testing::Values(MalformedCase{"Empty", {}}, MalformedCase{"UnknownKind", {0x7f, 1, 2}},
                      MalformedCase{"ReportWithoutBytes", {0x01, 1, 0, 0, 0}},
                      MalformedCase{"ShortSequence", {0x01, 1, 0}},
                      MalformedCase{"ParameterWithoutKey", {0x02, 0, 0, 0, 0, 0, 0, 0, 0}},
                      MalformedCase{"HandledTooLong", {0x82, 1, 0, 0, 0, 0}},
                      MalformedCase{"HandledTooShort", {0x82, 1}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
