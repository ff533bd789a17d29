// Tests of the report filter: motion and wheel scaling, button remapping by map
// type, driver messages, double-click replay, property intake and the device
// command word. A fake port records what the driver delivers, tells and sends.
#include "OrvixSablecoilDriver.h"

#include "PlistValue.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace {

using Driver = com_orvix_driver_OrvixSablecoilDriver;
using Bytes = std::vector<std::uint8_t>;

class FakePort : public DriverPort {
public:
    struct Request {
        DeviceRequest fields;
        Bytes data;
    };

    IoStatus deliverReport(const std::uint8_t* report, std::size_t length, std::uint32_t reportType,
                           std::uint32_t options) override {
        deliveries.emplace_back(report, report + length);
        reportTypes.push_back(reportType);
        optionBits.push_back(options);
        return deliverStatus;
    }
    void messageClients(std::uint32_t type) override { messages.push_back(type); }
    bool hidSystemParameter(std::string_view key, std::int64_t& value) override {
        if (key != "HIDPointerButtonMode" || !buttonMode) {
            return false;
        }
        value = *buttonMode;
        return true;
    }
    bool hasUsbInterface() const override { return usb; }
    IoStatus deviceRequest(DeviceRequest& request) override {
        requests.push_back({request, Bytes(request.data, request.data + request.wLength)});
        return requestStatus;
    }

    // The buttons byte of each delivery since the last clear.
    Bytes deliveredButtons() const {
        Bytes out;
        for (const Bytes& d : deliveries) {
            out.push_back(d.at(0));
        }
        return out;
    }
    void clear() {
        deliveries.clear();
        messages.clear();
        reportTypes.clear();
        optionBits.clear();
    }

    std::vector<Bytes> deliveries;
    std::vector<std::uint32_t> reportTypes;
    std::vector<std::uint32_t> optionBits;
    std::vector<std::uint32_t> messages;
    std::vector<Request> requests;
    IoStatus deliverStatus = kIoSuccess;
    IoStatus requestStatus = kIoSuccess;
    bool usb = true;
    std::optional<std::int64_t> buttonMode;
};

// A raw device report: buttons, 16-bit X and Y (and their 8-bit copies), wheel.
std::array<std::uint8_t, 8> deviceReport(std::uint8_t buttons, std::int16_t x = 0,
                                         std::int16_t y = 0, std::int8_t wheel = 0) {
    const auto ux = static_cast<std::uint16_t>(x);
    const auto uy = static_cast<std::uint16_t>(y);
    return {buttons,
            static_cast<std::uint8_t>(x),
            static_cast<std::uint8_t>(y),
            static_cast<std::uint8_t>(wheel),
            static_cast<std::uint8_t>(ux),
            static_cast<std::uint8_t>(ux >> 8),
            static_cast<std::uint8_t>(uy),
            static_cast<std::uint8_t>(uy >> 8)};
}

std::int16_t word16(const Bytes& report, std::size_t offset) {
    return static_cast<std::int16_t>(report.at(offset) | report.at(offset + 1) << 8);
}

std::uint32_t msg(std::uint8_t wheel, std::uint32_t input, std::uint32_t flags) {
    return wheel | input << 8 | flags << 16;
}

PlistValue records(const std::vector<Bytes>& items) {
    PlistValue array = PlistValue::array();
    for (const Bytes& item : items) {
        array.append(PlistValue::data(item));
    }
    return array;
}

// The seven map types as one-byte records; a type-5 record nests `restore`.
PlistValue mappings(const std::array<std::uint8_t, 7>& types, std::uint8_t restore = 4) {
    std::vector<Bytes> items;
    for (std::uint8_t t : types) {
        items.push_back(t == 5 ? Bytes{5, restore, '1'} : Bytes{t});
    }
    return records(items);
}

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override { driver.attachPort(&port); }

    void configure(const std::array<std::uint8_t, 7>& types, bool otfs = true,
                   bool leftHanded = false, std::uint8_t restore = 4) {
        PlistValue d = PlistValue::dictionary();
        d.set("ScrollWheelSpeed", PlistValue::uint32(0x10000));
        d.set("Otfs", PlistValue::int32(otfs ? 1 : 0));
        d.set("HIDPointerButtonMode", PlistValue::int32(leftHanded ? 1 : 2));
        d.set("ButtonMappings", mappings(types, restore));
        ASSERT_EQ(driver.setProperties(d), kIoSuccess);
    }

    IoStatus send(std::uint8_t buttons, std::int16_t x = 0, std::int16_t y = 0,
                  std::int8_t wheel = 0) {
        auto report = deviceReport(buttons, x, y, wheel);
        return driver.handleReport(report.data(), report.size(), 0, 0);
    }

    FakePort port;
    Driver driver;
};

// --- Motion and wheel scaling --------------------------------------------------

struct AxisCase {
    std::int16_t value;
    std::uint32_t factor;
    std::int16_t expected;
};

class FilterMouseAxis : public DriverTest, public ::testing::WithParamInterface<AxisCase> {};

TEST_P(FilterMouseAxis, ScalesRoundsHalfUpAndNeverVanishes) {
    const AxisCase& c = GetParam();
    EXPECT_EQ(driver.filterMouseAxis(c.value, c.factor), c.expected);
    // The result is symmetric in the sign of the value.
    if (c.value != -32768) {
        EXPECT_EQ(driver.filterMouseAxis(static_cast<std::int16_t>(-c.value), c.factor),
                  -c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, FilterMouseAxis,
                         ::testing::Values(
                             // half speed: v × 0.5 rounded half up
                             AxisCase{1, 0x50000, 1}, AxisCase{2, 0x50000, 1},
                             AxisCase{3, 0x50000, 2}, AxisCase{4, 0x50000, 2},
                             AxisCase{5, 0x50000, 3}, AxisCase{6, 0x50000, 3},
                             AxisCase{7, 0x50000, 4}, AxisCase{-3, 0x50000, -2},
                             // 1.0: the truncated scale 0x1999 sits just below a tenth
                             AxisCase{1, 0x10000, 1}, AxisCase{15, 0x10000, 1},
                             AxisCase{16, 0x10000, 2}, AxisCase{100, 0x10000, 10},
                             // double speed
                             AxisCase{1, 0x140000, 2}, AxisCase{2, 0x140000, 4},
                             AxisCase{3, 0x140000, 6},
                             // unchanged, also at the ends of the range
                             AxisCase{300, 0xA0000, 300}, AxisCase{32767, 0xA0000, 32767},
                             AxisCase{-32768, 0xA0000, -32768},
                             // zero stays zero; a tiny factor keeps a motion of 1
                             AxisCase{0, 0x50000, 0}, AxisCase{0, 0, 0}, AxisCase{1000, 1, 1}));

struct WheelCase {
    std::uint32_t speed;
    std::int8_t step;
    std::uint8_t wheelUpType;
    std::uint8_t wheelDownType;
    std::int8_t expected;
};

class FilterScrollWheel : public DriverTest, public ::testing::WithParamInterface<WheelCase> {};

TEST_P(FilterScrollWheel, ScalesRoundsDownAndReverses) {
    const WheelCase& c = GetParam();
    PlistValue d = PlistValue::dictionary();
    d.set("ScrollWheelSpeed", PlistValue::uint32(c.speed));
    d.set("ButtonMappings", mappings({0, 1, 0, 0, 0, c.wheelUpType, c.wheelDownType}));
    driver.setProperties(d);
    EXPECT_EQ(driver.filterScrollWheel(c.step), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, FilterScrollWheel,
                         ::testing::Values(
                             // speed never set: no scrolling at all
                             WheelCase{0, 1, 10, 11, 0}, WheelCase{0, -5, 10, 11, 0},
                             WheelCase{0x10000, 1, 10, 11, 1}, WheelCase{0x10000, -1, 10, 11, -1},
                             // 2.5: rounded down, no minimum
                             WheelCase{0x28000, 1, 10, 11, 2}, WheelCase{0x28000, 3, 10, 11, 7},
                             WheelCase{0x28000, -3, 10, 11, -7}, WheelCase{0x8000, 1, 10, 11, 0},
                             // reversing types on the wheel inputs
                             WheelCase{0x10000, 1, 11, 11, -1}, WheelCase{0x10000, -1, 10, 10, 1},
                             WheelCase{0x10000, -1, 11, 11, -1}, WheelCase{0x10000, 1, 10, 10, 1},
                             // 10.0 × 13 = 130 does not fit: truncated to 8 bits
                             WheelCase{0xA0000, 13, 10, 11, -126}));

struct MotionCase {
    std::int16_t x;
    std::int16_t y;
    std::uint32_t sensitivity; // 0: never set
    std::int8_t x8;
    std::int8_t y8;
    std::int16_t x16;
    std::int16_t y16;
};

class ReportMotion : public DriverTest, public ::testing::WithParamInterface<MotionCase> {};

TEST_P(ReportMotion, WritesScaledAndClampedFields) {
    const MotionCase& c = GetParam();
    if (c.sensitivity != 0) {
        PlistValue d = PlistValue::dictionary();
        d.set("Sensitivity", PlistValue::uint32(c.sensitivity));
        driver.setProperties(d);
    }
    send(0, c.x, c.y);
    ASSERT_EQ(port.deliveries.size(), 1u);
    const Bytes& r = port.deliveries[0];
    EXPECT_EQ(static_cast<std::int8_t>(r[1]), c.x8);
    EXPECT_EQ(static_cast<std::int8_t>(r[2]), c.y8);
    EXPECT_EQ(word16(r, 4), c.x16);
    EXPECT_EQ(word16(r, 6), c.y16);
    EXPECT_EQ(port.messages.size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReportMotion,
    ::testing::Values(MotionCase{300, 0, 0, 127, 0, 300, 0},
                      MotionCase{-128, 0, 0, -127, 0, -128, 0},
                      MotionCase{127, -127, 0, 127, 127, 127, -127},
                      // the 8-bit Y carries the opposite sign
                      MotionCase{0, 5, 0, 0, -5, 0, 5}, MotionCase{0, -300, 0, 0, 127, 0, -300},
                      MotionCase{7, -3, 0x50000, 4, 2, 4, -2},
                      MotionCase{-32768, 32767, 0, -127, -127, -32768, 32767}));

TEST_F(DriverTest, SensitivityNeverSetBecomesUnchangedAndStays) {
    EXPECT_EQ(driver.sensitivityX(), 0u);
    send(0, 3, 4);
    EXPECT_EQ(driver.sensitivityX(), Driver::kUnchangedSensitivity);
    EXPECT_EQ(driver.sensitivityY(), Driver::kUnchangedSensitivity);
    EXPECT_EQ(word16(port.deliveries.at(0), 4), 3);
    EXPECT_EQ(word16(port.deliveries.at(0), 6), 4);
}

// --- Report scenarios ----------------------------------------------------------

struct Step {
    std::uint8_t buttons;
    std::int8_t wheel;
    std::int16_t x;
    Bytes delivered; // buttons byte of each delivery
    std::vector<std::uint32_t> messages;
    std::optional<std::int8_t> wheelOut = std::nullopt; // byte 3 of the last delivery
};

struct Scenario {
    const char* name;
    std::array<std::uint8_t, 7> types;
    bool otfs;
    bool leftHanded;
    std::vector<Step> steps;
    std::optional<std::int64_t> systemButtonMode = std::nullopt;
};

void PrintTo(const Scenario& s, std::ostream* os) {
    *os << s.name;
}

class ReportScenario : public DriverTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(ReportScenario, DeliversAndTells) {
    const Scenario& s = GetParam();
    configure(s.types, s.otfs, s.leftHanded);
    port.buttonMode = s.systemButtonMode;
    for (std::size_t i = 0; i < s.steps.size(); ++i) {
        const Step& step = s.steps[i];
        SCOPED_TRACE(::testing::Message() << "step " << i);
        port.clear();
        send(step.buttons, step.x, 0, step.wheel);
        EXPECT_EQ(port.deliveredButtons(), step.delivered);
        EXPECT_EQ(port.messages, step.messages);
        if (step.wheelOut) {
            ASSERT_FALSE(port.deliveries.empty());
            EXPECT_EQ(static_cast<std::int8_t>(port.deliveries.back()[3]), *step.wheelOut);
        }
    }
}

constexpr std::uint32_t kUp = Driver::kMessageKeyUp;
constexpr std::uint32_t kBegin = Driver::kMessageOtfsBegin;
constexpr std::uint32_t kEnd = Driver::kMessageOtfsEnd;
constexpr std::uint32_t kNested = Driver::kMessageNestedAction;
constexpr std::uint32_t kProfile = Driver::kMessageProfileButton;

INSTANTIATE_TEST_SUITE_P(
    Cases, ReportScenario,
    ::testing::Values(
        Scenario{"AllClickSecondButtonIsPrimary",
                 {0, 0, 0, 0, 0, 10, 11},
                 true,
                 false,
                 {{0x02, 0, 0, {0x01}, {}}, {0x03, 0, 0, {0x01}, {}}, {0x00, 0, 0, {0x00}, {}}}},
        Scenario{"ClickAndMenuTogether",
                 {0, 1, 0, 0, 0, 10, 11},
                 true,
                 false,
                 {{0x03, 0, 0, {0x03}, {}}, {0x02, 0, 0, {0x02}, {}}}},
        Scenario{"LeftHandedClickAndMenu",
                 {0, 1, 0, 0, 0, 10, 11},
                 true,
                 true,
                 // the left table swaps the first two bits: device 0x01 is input 1
                 {{0x03, 0, 0, {0x03}, {}}, {0x01, 0, 0, {0x01}, {}}, {0x02, 0, 0, {0x02}, {}}}},
        Scenario{"LeftHandedAllClick",
                 {0, 0, 0, 0, 0, 10, 11},
                 true,
                 true,
                 {{0x01, 0, 0, {0x02}, {}}, {0x04, 0, 0, {0x02}, {}}}},
        Scenario{"ButtonOffStaysOff",
                 {0, 1, 12, 0, 0, 10, 11},
                 true,
                 false,
                 {{0x04, 0, 0, {0x00}, {}}, {0x04, 0, 0, {0x00}, {}}, {0x00, 0, 0, {0x00}, {}}}},
        Scenario{"PassThroughKeepsDeviceByte",
                 {0, 1, 0, 9, 0, 10, 11},
                 true,
                 false,
                 {{0x10, 0, 0, {0x10}, {}}, {0x00, 0, 0, {0x00}, {}}}},
        Scenario{"WheelUpScrollsWithScrollUpType",
                 {0, 1, 0, 0, 0, 10, 11},
                 true,
                 false,
                 {{0x00, 1, 0, {0x00}, {}, 1}, {0x00, -2, 0, {0x00}, {}, -2}}},
        Scenario{"WheelReversedByOtherScrollType",
                 {0, 1, 0, 0, 0, 11, 10},
                 true,
                 false,
                 {{0x00, 1, 0, {0x00}, {}, -1}, {0x00, -1, 0, {0x00}, {}, 1}}},
        Scenario{"WheelUpAsMacroButton",
                 {0, 1, 0, 0, 0, 4, 11},
                 true,
                 false,
                 {{0x00, 1, 0, {0x00}, {msg(1, 5, 0)}, 0},
                  {0x00, 1, 0, {0x00}, {msg(1, 5, 0)}, 0},
                  {0x00, -1, 0, {0x00}, {}, -1}}},
        Scenario{"WheelDownAsKey",
                 {0, 1, 0, 0, 0, 10, 3},
                 true,
                 false,
                 {{0x00, -1, 0, {0x00}, {msg(0xFF, 6, 0)}, 0}}},
        Scenario{"WheelScrollsWhileClickHeld",
                 {0, 1, 0, 0, 0, 4, 4},
                 true,
                 false,
                 {{0x01, 1, 0, {0x01}, {}, 1}, {0x01, -1, 0, {0x01}, {}, -1}}},
        Scenario{"DoubleClickReplaysPressReleasePress",
                 {0, 1, 0, 2, 0, 10, 11},
                 true,
                 false,
                 {{0x10, 0, 0, {0x01, 0x00, 0x01}, {}},
                  {0x00, 0, 0, {0x00}, {}},
                  // pressed while moving: no click at all
                  {0x10, 0, 5, {0x00}, {}}}},
        Scenario{"DoubleClickUsesSystemPrimaryButton",
                 {0, 1, 0, 2, 0, 10, 11},
                 true,
                 false,
                 {{0x10, 0, 0, {0x02, 0x00, 0x02}, {}}},
                 1},
        // The system's primary button is the right one (2), which is also
        // the bit of input 1, switched off and held: the synthesised double
        // click is still press, release, press.
        Scenario{"DoubleClickWhileButtonOffHeldOnPrimaryBit",
                 {0, 12, 0, 2, 0, 10, 11},
                 true,
                 false,
                 {{0x02, 0, 0, {0x00}, {}}, {0x12, 0, 0, {0x02, 0x00, 0x02}, {}}},
                 1},
        Scenario{"WheelAsDoubleClick",
                 {0, 1, 0, 0, 0, 2, 11},
                 true,
                 false,
                 {{0x00, 1, 0, {0x01, 0x00, 0x01}, {msg(1, 5, 0)}, 0}}},
        Scenario{"KeyPressHeldRelease",
                 {0, 1, 0, 0, 3, 10, 11},
                 true,
                 false,
                 {{0x08, 0, 0, {0x00}, {msg(0, 4, 0)}},
                  {0x08, 0, 0, {0x00}, {}},
                  {0x00, 0, 0, {0x00}, {msg(0, 4, kUp)}},
                  {0x00, 0, 0, {0x00}, {}}}},
        Scenario{"SecondKeyWhileKeyHeldIsSwallowed",
                 {0, 1, 3, 3, 0, 10, 11},
                 true,
                 false,
                 {{0x04, 0, 0, {0x00}, {msg(0, 2, 0)}},
                  {0x14, 0, 0, {0x00}, {}},
                  // the released key input is told, the other one never armed
                  {0x10, 0, 0, {0x00}, {msg(0, 2, kUp)}}}},
        Scenario{"OtfsPressHeldRelease",
                 {0, 1, 8, 0, 0, 10, 11},
                 true,
                 false,
                 {{0x04, 0, 0, {0x00}, {msg(0, 2, kBegin)}},
                  {0x04, -1, 0, {0x00}, {msg(0xFF, 2, 0)}, 0},
                  {0x04, 0, 0, {0x00}, {msg(0, 2, 0)}},
                  {0x00, 0, 0, {0x00}, {msg(0, 2, kEnd)}},
                  {0x00, 0, 0, {0x00}, {}}}},
        Scenario{"OtfsDisabledActsAsButton",
                 {0, 1, 8, 0, 0, 10, 11},
                 false,
                 false,
                 {{0x04, 0, 0, {0x04}, {}}, {0x04, 1, 0, {0x04}, {}, 1}, {0x00, 0, 0, {0x00}, {}}}},
        Scenario{"MacroOtfsRestoresNestedTypeOnRelease",
                 {0, 1, 0, 5, 0, 10, 11},
                 true,
                 false,
                 {{0x10, 0, 0, {0x00}, {msg(0, 3, kBegin)}},
                  {0x10, 1, 0, {0x00}, {msg(1, 3, 0)}, 0},
                  {0x00, 0, 0, {0x00}, {msg(0, 3, kNested | kEnd)}},
                  {0x00, 0, 0, {0x00}, {}},
                  // pressed again: on-the-fly once more, the type is 5 again
                  {0x10, 0, 0, {0x00}, {msg(0, 3, kBegin)}}}},
        Scenario{"MacroPressHeldRelease",
                 {0, 1, 0, 0, 4, 10, 11},
                 true,
                 false,
                 {{0x08, 0, 0, {0x00}, {msg(0, 4, 0)}},
                  {0x08, 0, 0, {0x00}, {}},
                  {0x00, 0, 0, {0x00}, {}}}},
        Scenario{"ProfileButtonOnEveryReport",
                 {0, 1, 0, 0, 0, 10, 11},
                 true,
                 false,
                 {{0x80, 0, 0, {0x80}, {msg(0, 0xFF, kProfile)}},
                  {0x80, 0, 0, {0x80}, {msg(0, 0xFF, kProfile)}},
                  // a held button is attributed instead
                  {0x81, 0, 0, {0x01}, {}}}},
        // A key input and an on-the-fly input released in one report: the
        // key-up is told on its own, so the key cannot stay down.
        Scenario{"KeyAndOtfsReleasedTogether",
                 {0, 1, 8, 3, 0, 10, 11},
                 true,
                 false,
                 {{0x04, 0, 0, {0x00}, {msg(0, 2, kBegin)}},
                  {0x14, 0, 0, {0x00}, {msg(0, 3, 0)}},
                  {0x00, 0, 0, {0x00}, {msg(0, 3, kUp), msg(0, 2, kEnd)}}}},
        // A pass-through input newly pressed while a macro input is held:
        // the macro button's bit does not reach the system.
        Scenario{"PassThroughWithSpecialSecondInput",
                 {0, 1, 4, 9, 0, 10, 11},
                 true,
                 false,
                 {{0x04, 0, 0, {0x00}, {msg(0, 2, 0)}},
                  {0x14, 0, 0, {0x10}, {}},
                  // held on: the macro input is attributed and clears the other
                  {0x14, 0, 0, {0x00}, {}}}},
        // Another input pressed while an on-the-fly input is held takes the
        // attribution of that report; the on-the-fly input stays armed, so it
        // gets no second begin and its release still ends it.
        Scenario{"OtfsHeldAcrossAnotherPress",
                 {0, 1, 8, 0, 0, 10, 11},
                 true,
                 false,
                 {{0x04, 0, 0, {0x00}, {msg(0, 2, kBegin)}},
                  {0x14, 0, 0, {0x01}, {}},
                  {0x14, 0, 0, {0x10}, {msg(0, 2, 0)}},
                  {0x10, 0, 0, {0x00}, {msg(0, 2, kEnd)}},
                  {0x10, 0, 0, {0x01}, {}}}},
        // The key input released while the on-the-fly input stays held:
        // only the key-up is told; the on-the-fly input ends on its release.
        Scenario{"KeyReleasedWhileOtfsHeld",
                 {0, 1, 8, 3, 0, 10, 11},
                 true,
                 false,
                 {{0x10, 0, 0, {0x00}, {msg(0, 3, 0)}},
                  {0x14, 0, 0, {0x00}, {msg(0, 2, kBegin)}},
                  {0x04, 0, 0, {0x00}, {msg(0, 3, kUp)}},
                  {0x04, 0, 0, {0x00}, {msg(0, 2, 0)}},
                  {0x00, 0, 0, {0x00}, {msg(0, 2, kEnd)}}}},
        Scenario{"OtfsReleasedRightAfterAnotherPress",
                 {0, 1, 5, 0, 0, 10, 11},
                 true,
                 false,
                 {{0x04, 0, 0, {0x00}, {msg(0, 2, kBegin)}},
                  {0x14, 0, 0, {0x01}, {}},
                  {0x10, 0, 0, {0x00}, {msg(0, 2, kNested | kEnd)}}}}),
    [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

TEST_F(DriverTest, MacroOtfsTypeIsFiveAgainAfterRelease) {
    configure({0, 1, 0, 5, 0, 10, 11}, true, false, 4);
    EXPECT_EQ(driver.restoreType(), 4u);
    send(0x10);
    send(0x00);
    EXPECT_EQ(driver.mapType(3), 5u);
    EXPECT_EQ(driver.heldOtfsButton(), 0);
}

TEST_F(DriverTest, ReportTypeOptionsAndFinalStatusPassThrough) {
    configure({0, 1, 0, 2, 0, 10, 11});
    port.deliverStatus = kIoNotResponding;
    auto report = deviceReport(0x10);
    EXPECT_EQ(driver.handleReport(report.data(), report.size(), 7, 0x55), kIoNotResponding);
    ASSERT_EQ(port.deliveries.size(), 3u);
    EXPECT_EQ(port.reportTypes, (std::vector<std::uint32_t>{7, 7, 7}));
    EXPECT_EQ(port.optionBits, (std::vector<std::uint32_t>{0x55, 0x55, 0x55}));
}

TEST_F(DriverTest, ShortReportIsDeliveredUnchangedAndChangesNoState) {
    configure({0, 1, 0, 0, 3, 10, 11});
    send(0x08); // key input 4 held
    ASSERT_EQ(driver.heldKeyButton(), 0x08);
    port.clear();

    const Bytes shortReport = {0x00, 0x05, 0x05, 0x01, 0x09};
    Bytes copy = shortReport;
    EXPECT_EQ(driver.handleReport(copy.data(), copy.size(), 0, 0), kIoSuccess);
    ASSERT_EQ(port.deliveries.size(), 1u);
    EXPECT_EQ(port.deliveries[0], shortReport);
    EXPECT_TRUE(port.messages.empty());
    EXPECT_EQ(driver.heldKeyButton(), 0x08);
    EXPECT_EQ(driver.lastButtons(), 0x08);
}

TEST_F(DriverTest, ConfigurationChangeKeepsHeldState) {
    configure({0, 1, 0, 0, 3, 10, 11});
    send(0x08);
    configure({0, 1, 0, 0, 0, 10, 11}); // input 4 becomes a click
    port.clear();
    send(0x00);
    // The release is still told as a key-up.
    EXPECT_EQ(port.messages, (std::vector<std::uint32_t>{msg(0, 4, kUp)}));
}

// --- Property intake -------------------------------------------------------------

struct CommandCase {
    const char* name;
    PlistValue properties;
    std::optional<Bytes> wire; // nullopt: nothing is sent
};

void PrintTo(const CommandCase& c, std::ostream* os) {
    *os << c.name;
}

PlistValue dict(std::initializer_list<std::pair<const char*, PlistValue>> entries) {
    PlistValue d = PlistValue::dictionary();
    for (const auto& [key, value] : entries) {
        d.set(key, value);
    }
    return d;
}

PlistValue i32(std::int32_t v) {
    return PlistValue::int32(v);
}

class CommandWord : public DriverTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandWord, SendsTheWordLeastSignificantByteFirst) {
    const CommandCase& c = GetParam();
    EXPECT_EQ(driver.setProperties(c.properties), kIoSuccess);
    if (!c.wire) {
        EXPECT_TRUE(port.requests.empty());
        return;
    }
    ASSERT_EQ(port.requests.size(), 1u);
    EXPECT_EQ(port.requests[0].data, *c.wire);
}

const PlistValue sAllDeviceKeys = dict({{"Resolution", i32(2)},
                                        {"PollingRate", i32(1)},
                                        {"GlowLogoOn", i32(1)},
                                        {"ScrollLightOn", i32(1)},
                                        {"ProfileNumber", i32(1)}});

PlistValue withKey(PlistValue d, const char* key, PlistValue value) {
    d.set(key, std::move(value));
    return d;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandWord,
    ::testing::Values(
        CommandCase{"AllKeysFirstGeneration", sAllDeviceKeys, Bytes{0x02, 0x01, 0x01, 0x03}},
        CommandCase{"AllKeysSecondGeneration", withKey(sAllDeviceKeys, "DeviceVersion", i32(2)),
                    Bytes{0x02, 0x02, 0x01, 0x03}},
        CommandCase{"Res3V1", dict({{"Resolution", i32(3)}}), Bytes{0x00, 0x01, 0x00, 0x00}},
        CommandCase{"Res3V2", dict({{"Resolution", i32(3)}, {"DeviceVersion", i32(2)}}),
                    Bytes{0x00, 0x01, 0x00, 0x00}},
        CommandCase{"Res0V1", dict({{"Resolution", i32(0)}}), Bytes{0x00, 0x03, 0x00, 0x00}},
        CommandCase{"Res0AnyOtherVersion",
                    dict({{"Resolution", i32(0)}, {"DeviceVersion", i32(7)}}),
                    Bytes{0x00, 0x04, 0x00, 0x00}},
        CommandCase{"Res1V2", dict({{"Resolution", i32(1)}, {"DeviceVersion", i32(2)}}),
                    Bytes{0x00, 0x03, 0x00, 0x00}},
        CommandCase{"Poll0", dict({{"PollingRate", i32(0)}}), Bytes{0x03, 0x00, 0x00, 0x00}},
        CommandCase{"Poll2", dict({{"PollingRate", i32(2)}}), Bytes{0x01, 0x00, 0x00, 0x00}},
        CommandCase{"PollOutOfRange", dict({{"PollingRate", i32(3)}}), std::nullopt},
        CommandCase{"ResOutOfRange", dict({{"Resolution", i32(4)}}), std::nullopt},
        CommandCase{"ResNegative", dict({{"Resolution", i32(-1)}}), std::nullopt},
        CommandCase{"LightsUseLowByte", dict({{"GlowLogoOn", i32(0x100)}}), std::nullopt},
        CommandCase{"LightsAnyLowBits", dict({{"ScrollLightOn", PlistValue::int64(-1)}}),
                    Bytes{0x00, 0x00, 0x00, 0x02}},
        CommandCase{"ProfileAlone", dict({{"ProfileNumber", i32(5)}}),
                    Bytes{0x00, 0x00, 0x05, 0x00}},
        // a profile beyond its 8-bit field must not switch the lights
        CommandCase{"ProfileKeptInItsField", dict({{"ProfileNumber", i32(0x105)}}),
                    Bytes{0x00, 0x00, 0x05, 0x00}},
        CommandCase{"NoDeviceKeys", dict({{"Otfs", i32(1)}}), std::nullopt},
        CommandCase{"NarrowInteger", dict({{"Resolution", PlistValue::int16(2)}}),
                    Bytes{0x00, 0x01, 0x00, 0x00}},
        // values that are not integers count as absent
        CommandCase{"BooleanIsAbsent", dict({{"Resolution", PlistValue::boolean(true)}}),
                    std::nullopt},
        CommandCase{"RealIsAbsent", dict({{"Resolution", PlistValue::real(2.0)}}), std::nullopt},
        CommandCase{"StringIsAbsent", dict({{"ProfileNumber", PlistValue::string("2")}}),
                    std::nullopt}),
    [](const ::testing::TestParamInfo<CommandCase>& info) { return std::string(info.param.name); });

TEST_F(DriverTest, SetSettingsRequestFields) {
    EXPECT_EQ(driver.sendDeviceRequest(0x03020102), kIoSuccess);
    ASSERT_EQ(port.requests.size(), 1u);
    const DeviceRequest& r = port.requests[0].fields;
    EXPECT_EQ(r.bmRequestType, 0x21);
    EXPECT_EQ(r.bRequest, 0x09);
    EXPECT_EQ(r.wValue, 0x0010);
    EXPECT_EQ(r.wIndex, 0);
    EXPECT_EQ(r.wLength, 4);
    EXPECT_EQ(r.noDataTimeoutMs, 5000u);
    EXPECT_EQ(r.completionTimeoutMs, 0u);
    EXPECT_EQ(port.requests[0].data, (Bytes{0x02, 0x01, 0x02, 0x03}));

    port.requestStatus = kIoPipeStall;
    EXPECT_EQ(driver.sendDeviceRequest(1), kIoPipeStall);
}

TEST_F(DriverTest, SameWordIsSentOnceUnlessTheRequestFailed) {
    driver.setProperties(sAllDeviceKeys);
    driver.setProperties(sAllDeviceKeys);
    EXPECT_EQ(port.requests.size(), 1u);
    EXPECT_EQ(driver.lastCommand(), 0x03010102u);

    const PlistValue other = dict({{"Resolution", i32(0)}});
    port.requestStatus = kIoTimeout;
    EXPECT_EQ(driver.setProperties(other), kIoSuccess); // a failure is not reported
    EXPECT_EQ(driver.lastCommand(), 0x03010102u);
    port.requestStatus = kIoSuccess;
    driver.setProperties(other);
    EXPECT_EQ(port.requests.size(), 3u);
    EXPECT_EQ(driver.lastCommand(), 0x300u);
}

TEST_F(DriverTest, WithoutUsbInterfaceNothingIsSentButKeysApply) {
    port.usb = false;
    driver.setProperties(withKey(sAllDeviceKeys, "Otfs", i32(1)));
    EXPECT_TRUE(port.requests.empty());
    EXPECT_EQ(driver.lastCommand(), 0u);
    EXPECT_TRUE(driver.otfsEnabled());
}

TEST_F(DriverTest, NonDictionaryIsRefused) {
    EXPECT_EQ(driver.setProperties(PlistValue::array({i32(1)})), kIoBadArgument);
    EXPECT_EQ(driver.setProperties(PlistValue()), kIoBadArgument);
    EXPECT_TRUE(port.requests.empty());
}

TEST_F(DriverTest, SensitivityFollowsTheLastMasterSwitch) {
    driver.setProperties(
        dict({{"MasterSensitivityOn", i32(1)}, {"Sensitivity", PlistValue::uint32(0x50000)}}));
    EXPECT_TRUE(driver.masterSensOn());
    EXPECT_EQ(driver.sensitivityX(), 0u);
    EXPECT_EQ(driver.sensitivityY(), 0u);

    driver.setProperties(dict({{"MasterSensitivityX", PlistValue::uint32(0x20000)},
                               {"MasterSensitivityY", PlistValue::uint32(0x30000)}}));
    EXPECT_EQ(driver.sensitivityX(), 0x20000u);
    EXPECT_EQ(driver.sensitivityY(), 0x30000u);
    driver.setProperties(dict({{"Sensitivity", PlistValue::uint32(0x70000)}})); // still master
    EXPECT_EQ(driver.sensitivityX(), 0x20000u);

    driver.setProperties(dict({{"MasterSensitivityOn", i32(0)},
                               {"Sensitivity", PlistValue::uint32(0x50000)},
                               {"MasterSensitivityX", PlistValue::uint32(0x20000)}}));
    EXPECT_EQ(driver.sensitivityX(), 0x50000u);
    EXPECT_EQ(driver.sensitivityY(), 0x50000u);
    driver.setProperties(dict({{"Sensitivity", PlistValue::uint32(0x60000)}}));
    EXPECT_EQ(driver.sensitivityX(), 0x60000u);
    EXPECT_EQ(driver.sensitivityY(), 0x60000u);
}

TEST_F(DriverTest, SwitchesAndWheelSpeed) {
    driver.setProperties(dict({{"HIDPointerButtonMode", i32(1)},
                               {"Otfs", i32(2)},
                               {"ScrollWheelSpeed", PlistValue::uint32(0xA0000)}}));
    EXPECT_TRUE(driver.leftHanded());
    EXPECT_TRUE(driver.otfsEnabled());
    EXPECT_EQ(driver.wheelSpeed(), 0xA0000u);

    // Values of another kind count as absent and leave the fields.
    driver.setProperties(dict(
        {{"HIDPointerButtonMode", PlistValue::boolean(false)}, {"Otfs", PlistValue::string("0")}}));
    EXPECT_TRUE(driver.leftHanded());
    EXPECT_TRUE(driver.otfsEnabled());

    driver.setProperties(dict({{"HIDPointerButtonMode", i32(2)}, {"Otfs", i32(0)}}));
    EXPECT_FALSE(driver.leftHanded());
    EXPECT_FALSE(driver.otfsEnabled());
    EXPECT_EQ(driver.wheelSpeed(), 0xA0000u); // absent: unchanged
}

TEST_F(DriverTest, AccelerationKeysLeaveNoState) {
    const PlistValue d = dict({{"MasterAccelOn", i32(0)},
                               {"MasterAccel", PlistValue::uint32(0x8000)},
                               {"HIDPointerAcceleration", PlistValue::uint32(0x8000)}});
    const PlistValue before = d;
    EXPECT_EQ(driver.setProperties(d), kIoSuccess);
    EXPECT_EQ(d, before); // the caller's dictionary is not rewritten
    EXPECT_EQ(driver.sensitivityX(), 0u);
    EXPECT_EQ(driver.wheelSpeed(), 0u);
}

struct MappingCase {
    const char* name;
    PlistValue mappings;
    std::array<std::uint32_t, 7> types;
    std::uint32_t restore;
};

void PrintTo(const MappingCase& c, std::ostream* os) {
    *os << c.name;
}

class ButtonMappings : public DriverTest, public ::testing::WithParamInterface<MappingCase> {};

TEST_P(ButtonMappings, TakeTypeBytesAndRestoreSlot) {
    const MappingCase& c = GetParam();
    // Start from known types, all 12 with a restore slot of 7.
    driver.setProperties(
        dict({{"ButtonMappings", records({{12}, {12}, {12}, {5, 7}, {12}, {12}, {12}})}}));
    ASSERT_EQ(driver.restoreType(), 7u);

    driver.setProperties(dict({{"ButtonMappings", c.mappings}}));
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(driver.mapType(i), c.types[i]) << "input " << i;
    }
    EXPECT_EQ(driver.restoreType(), c.restore);
}

PlistValue itemsOf(std::vector<PlistValue> items) {
    return PlistValue::array(std::move(items));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ButtonMappings,
    ::testing::Values(
        MappingCase{"TypesInInputOrder",
                    records({{0}, {1}, {8}, {3, '1', '2'}, {3, '5'}, {10}, {11}}),
                    {0, 1, 8, 3, 3, 10, 11},
                    0},
        MappingCase{"NestedTypeIsRestoreSlot",
                    records({{0}, {1}, {0}, {5, 4, '1'}, {0}, {10}, {11}}),
                    {0, 1, 0, 5, 0, 10, 11},
                    4},
        MappingCase{"LoneTypeFiveHasNoRestore",
                    records({{0}, {1}, {0}, {5}, {0}, {10}, {11}}),
                    {0, 1, 0, 5, 0, 10, 11},
                    0},
        MappingCase{"LastTypeFiveWins",
                    records({{5, 4}, {1}, {0}, {5, 9}, {0}, {10}, {11}}),
                    {5, 1, 0, 5, 0, 10, 11},
                    9},
        MappingCase{"FewerItemsKeepTheRest", records({{0}, {1}}), {0, 1, 12, 5, 12, 12, 12}, 0},
        // only the first seven items count
        MappingCase{"EighthItemIgnored",
                    records({{0}, {1}, {0}, {0}, {0}, {10}, {11}, {5, 4}}),
                    {0, 1, 0, 0, 0, 10, 11},
                    0},
        // an empty or non-data item leaves that input's type
        MappingCase{"EmptyAndNonDataItemsKeepType",
                    itemsOf({PlistValue::data(Bytes{0}), PlistValue::data(Bytes{}),
                             PlistValue::string("1"), i32(1), PlistValue::data(Bytes{4}),
                             PlistValue::data(Bytes{10}), PlistValue::data(Bytes{11})}),
                    {0, 12, 12, 5, 4, 10, 11},
                    0},
        MappingCase{"NotAnArrayIsAbsent",
                    PlistValue::data(Bytes{0, 1, 2}),
                    {12, 12, 12, 5, 12, 12, 12},
                    7}),
    [](const ::testing::TestParamInfo<MappingCase>& info) { return std::string(info.param.name); });

} // namespace
