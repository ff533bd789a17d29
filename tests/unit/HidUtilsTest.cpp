// Tests of HidUtils: choosing the driver instance, the double-click time
// table and the primary button.
#include "HidUtils.h"
#include "DeviceIds.h"
#include "FakePlatform.h"

#include <gtest/gtest.h>

namespace {

constexpr std::int64_t kVendor = kSablecoilVendorId;
constexpr std::int64_t kV1 = kSablecoilV1ProductId;
constexpr std::int64_t kV2 = kSablecoilV2ProductId;

struct FindCase {
    const char* name;
    std::vector<std::pair<std::string, std::int64_t>> services; // handle, product
    std::string current;
    bool useCurrentIfFound;
    std::string expected;
};

class FindSablecoilTest : public testing::TestWithParam<FindCase> {};

TEST_P(FindSablecoilTest, ChoosesTheInstance) {
    FakePlatform platform;
    for (const auto& [handle, product] : GetParam().services) {
        platform.fRegistry.add(handle, kVendor, product);
    }
    EXPECT_EQ(FindSablecoil(GetParam().current, GetParam().useCurrentIfFound), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FindSablecoilTest,
    testing::Values(
        FindCase{"NoneCurrentTakesTheLast", {{"A", kV1}, {"B", kV2}}, "", false, "B"},
        FindCase{"OnlyCurrentIsKept", {{"A", kV2}}, "A", false, "A"},
        FindCase{"OtherAfterCurrentPreferred", {{"A", kV2}, {"B", kV2}}, "A", false, "B"},
        FindCase{"OtherBeforeCurrentPreferred", {{"B", kV2}, {"A", kV2}}, "A", false, "B"},
        FindCase{"CurrentKeptAfterSwitch", {{"A", kV2}, {"B", kV2}}, "A", true, "A"},
        FindCase{"CurrentGoneTakesTheLast", {{"B", kV2}, {"C", kV1}}, "A", true, "C"},
        FindCase{"ForeignProductNeverTaken", {{"A", kV2}, {"X", 0x1234}}, "", false, "A"},
        FindCase{"NothingAccepted", {{"X", 0x1234}}, "", false, ""}),
    [](const auto& info) { return info.param.name; });

TEST(HidUtils, GenerationFollowsTheAcceptedInstance) {
    FakePlatform platform;
    platform.fRegistry.add("A", kVendor, kV1);
    EXPECT_EQ(FindSablecoil("", false), "A");
    EXPECT_TRUE(SablecoilIsV1());
    platform.fRegistry.services.clear();
    platform.fRegistry.add("B", kVendor, kV2);
    EXPECT_EQ(FindSablecoil("", false), "B");
    EXPECT_FALSE(SablecoilIsV1());
    // A walk that accepts nothing leaves the generation as it was.
    platform.fRegistry.services.clear();
    EXPECT_EQ(FindSablecoil("", false), "");
    EXPECT_FALSE(SablecoilIsV1());
}

TEST(HidUtils, FailedLookupIsReported) {
    FakePlatform platform;
    platform.fRegistry.failLookup = true;
    testing::internal::CaptureStderr();
    EXPECT_EQ(FindSablecoil("", false), "");
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "error:-536870160, No matching HID class devices found.\n"),
              std::string::npos);
}

TEST(HidUtils, DoubleClickSpeedIndexesTheTable) {
    FakePlatform platform;
    const std::pair<double, std::int64_t> cases[] = {
        {-3, 150000000},   {0.99, 150000000}, {4.99, 1100000000},
        {6.0, 1700000000}, {10, 5000000000},  {10.9, 5000000000},
    };
    for (const auto& [speed, nanoseconds] : cases) {
        SetDblClickSpeed(speed);
        const PlistValue& time = platform.fHid.parameters.get("HIDClickTime");
        EXPECT_EQ(time.toInt64(), nanoseconds) << speed;
        EXPECT_EQ(time.integerWidth(), PlistValue::Width::Bits64);
        EXPECT_DOUBLE_EQ(GetDblClickSpeed(), static_cast<double>(nanoseconds));
    }
}

TEST(HidUtils, PrimaryButton) {
    FakePlatform platform;
    EXPECT_FALSE(IsRightButtonPrimary()); // absent counts as normal
    SetIsRightButtonPrimary(true);
    EXPECT_EQ(platform.fHid.parameters.get("HIDPointerButtonMode").toInt64(), 1);
    EXPECT_TRUE(IsRightButtonPrimary());
    SetIsRightButtonPrimary(false);
    EXPECT_EQ(platform.fHid.parameters.get("HIDPointerButtonMode").toInt64(), 2);
    EXPECT_FALSE(IsRightButtonPrimary());
}

TEST(HidUtils, MissingHidSystem) {
    FakePlatform platform;
    platform.fHid.available = false;
    testing::internal::CaptureStderr();
    EXPECT_EQ(GetDblClickSpeed(), 0.0);
    EXPECT_NE(SetHidSystemParamValue(PlistValue::int32(1), "HIDPointerButtonMode"), kIoSuccess);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Error setting hid sys property. - data was not found(e00002f0,752)\n"),
              std::string::npos)
        << err;
}

} // namespace
