// UinputEventPosterTest: the exact input events the uinput keyboard writes
// for each kind of post, through a writer that records them.
#include "UinputEventPoster.h"
#include "VirtualKeyCodes.h"

#include <linux/input-event-codes.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <vector>

namespace {

struct Event {
    std::uint16_t type;
    std::uint16_t code;
    std::int32_t value;
    bool operator==(const Event&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Event& event) {
    return out << "{" << event.type << "," << event.code << "," << event.value << "}";
}

Event press(std::uint16_t code) {
    return {EV_KEY, code, 1};
}
Event release(std::uint16_t code) {
    return {EV_KEY, code, 0};
}
Event repeat(std::uint16_t code) {
    return {EV_KEY, code, 2};
}
Event syn() {
    return {EV_SYN, SYN_REPORT, 0};
}

using Events = std::vector<Event>;

// Keeps what the poster asked for; can be told to refuse the device or a write.
class RecordingWriter : public InputEventWriter {
public:
    IoStatus create(const std::string& name, std::span<const std::uint16_t> keyCodes) override {
        ++creates;
        if (createStatus != kIoSuccess) {
            fError = "refused";
            return createStatus;
        }
        deviceName = name;
        keys.assign(keyCodes.begin(), keyCodes.end());
        return kIoSuccess;
    }
    IoStatus write(std::uint16_t type, std::uint16_t code, std::int32_t value) override {
        if (writeStatus != kIoSuccess) {
            return writeStatus;
        }
        events.push_back({type, code, value});
        return kIoSuccess;
    }
    const std::string& lastError() const override { return fError; }

    // Hands back what was written since the last call.
    Events take() { return std::exchange(events, {}); }

    int creates = 0;
    IoStatus createStatus = kIoSuccess;
    IoStatus writeStatus = kIoSuccess;
    std::string deviceName;
    std::vector<std::uint16_t> keys;
    Events events;

private:
    std::string fError;
};

constexpr std::uint32_t kShift = 0x20000;
constexpr std::uint32_t kControl = 0x40000;
constexpr std::uint32_t kOption = 0x80000;
constexpr std::uint32_t kCommand = 0x100000;
constexpr std::uint32_t kCapsLock = 0x10000;

class UinputEventPosterTest : public testing::Test {
protected:
    UinputEventPosterTest()
        : fWriterOwned(std::make_unique<RecordingWriter>()), fWriter(*fWriterOwned),
          fPoster(std::move(fWriterOwned)) {}

    std::unique_ptr<RecordingWriter> fWriterOwned;
    RecordingWriter& fWriter;
    UinputEventPoster fPoster;
};

TEST_F(UinputEventPosterTest, OpenMakesOneKeyboardWithEveryPostableKey) {
    ASSERT_EQ(fPoster.open(), kIoSuccess);
    ASSERT_EQ(fPoster.open(), kIoSuccess);
    EXPECT_EQ(fWriter.creates, 1);
    EXPECT_EQ(fWriter.deviceName, "Sablecoil virtual keyboard");
    std::vector<std::uint16_t> expected;
    for (const VirtualKeyMapping& mapping : virtualKeyMappings()) {
        expected.push_back(mapping.linuxKey);
    }
    expected.insert(expected.end(), {KEY_VOLUMEUP, KEY_VOLUMEDOWN, KEY_MUTE, KEY_EJECTCD});
    std::vector<std::uint16_t> keys = fWriter.keys;
    std::sort(keys.begin(), keys.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(keys, expected);
    EXPECT_TRUE(fWriter.events.empty());
}

TEST_F(UinputEventPosterTest, FirstPostOpensTheKeyboard) {
    EXPECT_EQ(fPoster.postKey(0x00, true, false), kIoSuccess);
    EXPECT_EQ(fWriter.creates, 1);
    EXPECT_EQ(fWriter.take(), (Events{press(KEY_A), syn()}));
}

TEST_F(UinputEventPosterTest, RefusedDeviceFailsEveryPostAndIsTriedAgain) {
    fWriter.createStatus = kIoNoDevice;
    EXPECT_EQ(fPoster.open(), kIoNoDevice);
    EXPECT_EQ(fPoster.postKey(0x00, true, false), kIoNoDevice);
    EXPECT_EQ(fPoster.postFlagsChanged(kShift), kIoNoDevice);
    EXPECT_EQ(fPoster.postAuxKey(0), kIoNoDevice);
    EXPECT_EQ(fPoster.postSystemDefined(10), kIoNoDevice);
    EXPECT_EQ(fPoster.lastError(), "refused");
    EXPECT_TRUE(fWriter.events.empty());
    EXPECT_EQ(fWriter.creates, 5);

    fWriter.createStatus = kIoSuccess;
    EXPECT_EQ(fPoster.postKey(0x00, true, false), kIoSuccess);
    EXPECT_EQ(fWriter.take(), (Events{press(KEY_A), syn()}));
}

struct KeyPostCase {
    const char* name;
    std::uint8_t virtualKey;
    bool down;
    bool repeat;
    Events expected;
};

void PrintTo(const KeyPostCase& c, std::ostream* out) {
    *out << c.name;
}

class UinputEventPosterKeyTest : public UinputEventPosterTest,
                                 public testing::WithParamInterface<KeyPostCase> {};

TEST_P(UinputEventPosterKeyTest, WritesTheKeyEventAndAReport) {
    const KeyPostCase& c = GetParam();
    EXPECT_EQ(fPoster.postKey(c.virtualKey, c.down, c.repeat), kIoSuccess);
    EXPECT_EQ(fWriter.take(), c.expected);
    EXPECT_EQ(fPoster.heldFlags(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Posts, UinputEventPosterKeyTest,
    testing::Values(KeyPostCase{"down", 0x00, true, false, {press(KEY_A), syn()}},
                    KeyPostCase{"up", 0x00, false, false, {release(KEY_A), syn()}},
                    KeyPostCase{"repeat", 0x7E, true, true, {repeat(KEY_UP), syn()}},
                    KeyPostCase{"upAfterRepeat", 0x7E, false, true, {release(KEY_UP), syn()}},
                    KeyPostCase{"rightCommand", 0x36, true, false, {press(KEY_RIGHTMETA), syn()}},
                    KeyPostCase{"shiftAsKey", 0x38, true, false, {press(KEY_LEFTSHIFT), syn()}},
                    KeyPostCase{"f1", 0x7A, false, false, {release(KEY_F1), syn()}}),
    [](const testing::TestParamInfo<KeyPostCase>& info) { return info.param.name; });

TEST_F(UinputEventPosterTest, KeyWithoutLinuxKeyPostsNothing) {
    for (const std::uint8_t code : {0x3F, 0x34, 0x7F, 0xFF}) {
        EXPECT_EQ(fPoster.postKey(static_cast<std::uint8_t>(code), true, false), kIoBadArgument);
        EXPECT_EQ(fPoster.postKeyboardEvent(static_cast<std::uint8_t>(code), true), kIoBadArgument);
    }
    EXPECT_TRUE(fWriter.events.empty());
}

TEST_F(UinputEventPosterTest, ShiftCommandBuildsUpAndComesDownInOrder) {
    // Shift+Command+S as the agent posts it, step by step.
    EXPECT_EQ(fPoster.postFlagsChanged(kShift), kIoSuccess);
    EXPECT_EQ(fWriter.take(), (Events{press(KEY_LEFTSHIFT), syn()}));
    EXPECT_EQ(fPoster.postFlagsChanged(kShift | kCommand), kIoSuccess);
    EXPECT_EQ(fWriter.take(), (Events{press(KEY_LEFTMETA), syn()}));
    EXPECT_EQ(fPoster.heldFlags(), kShift | kCommand);
    fPoster.postKey(0x01, true, false);
    fPoster.postKey(0x01, false, false);
    EXPECT_EQ(fWriter.take(), (Events{press(KEY_S), syn(), release(KEY_S), syn()}));
    EXPECT_EQ(fPoster.postFlagsChanged(kShift), kIoSuccess);
    EXPECT_EQ(fWriter.take(), (Events{release(KEY_LEFTMETA), syn()}));
    EXPECT_EQ(fPoster.postFlagsChanged(0), kIoSuccess);
    EXPECT_EQ(fWriter.take(), (Events{release(KEY_LEFTSHIFT), syn()}));
    // The sequence's closing change finds nothing left to release.
    EXPECT_EQ(fPoster.postFlagsChanged(0), kIoSuccess);
    EXPECT_TRUE(fWriter.take().empty());
    EXPECT_EQ(fPoster.heldFlags(), 0u);
}

TEST_F(UinputEventPosterTest, SeveralFlagsAtOnceGoDownInOrderAndUpInReverse) {
    EXPECT_EQ(fPoster.postFlagsChanged(kCommand | kShift | kOption | kControl), kIoSuccess);
    EXPECT_EQ(fWriter.take(), (Events{press(KEY_LEFTSHIFT), press(KEY_LEFTCTRL), press(KEY_LEFTALT),
                                      press(KEY_LEFTMETA), syn()}));
    // A macro that ends with modifiers down: the closing change lets go of all of them.
    EXPECT_EQ(fPoster.postFlagsChanged(kShift), kIoSuccess);
    EXPECT_EQ(fWriter.take(),
              (Events{release(KEY_LEFTMETA), release(KEY_LEFTALT), release(KEY_LEFTCTRL), syn()}));
    // Releases come before presses within one change.
    EXPECT_EQ(fPoster.postFlagsChanged(kOption), kIoSuccess);
    EXPECT_EQ(fWriter.take(), (Events{release(KEY_LEFTSHIFT), press(KEY_LEFTALT), syn()}));
}

TEST_F(UinputEventPosterTest, CapsLockFlagTogglesWithOnePressAndRelease) {
    EXPECT_EQ(fPoster.postFlagsChanged(kCapsLock), kIoSuccess);
    EXPECT_EQ(fWriter.take(), (Events{press(KEY_CAPSLOCK), syn(), release(KEY_CAPSLOCK), syn()}));
    EXPECT_EQ(fPoster.postFlagsChanged(kCapsLock | kShift), kIoSuccess);
    EXPECT_EQ(fWriter.take(), (Events{press(KEY_LEFTSHIFT), syn()}));
    EXPECT_EQ(fPoster.postFlagsChanged(0), kIoSuccess);
    EXPECT_EQ(fWriter.take(), (Events{press(KEY_CAPSLOCK), syn(), release(KEY_CAPSLOCK), syn(),
                                      release(KEY_LEFTSHIFT), syn()}));
    EXPECT_EQ(fPoster.heldFlags(), 0u);
}

TEST_F(UinputEventPosterTest, FlagsOutsideTheFiveModifiersAreIgnored) {
    EXPECT_EQ(fPoster.postFlagsChanged(0x800000 | 0x100), kIoSuccess);
    EXPECT_TRUE(fWriter.events.empty());
    EXPECT_EQ(fPoster.postFlagsChanged(0x800000 | kControl), kIoSuccess);
    EXPECT_EQ(fWriter.take(), (Events{press(KEY_LEFTCTRL), syn()}));
    EXPECT_EQ(fPoster.heldFlags(), kControl);
}

// A button assigned Shift holds Shift while it is held: the key sequence's
// closing flags change, which follows the press at once, must not let go of it.
TEST_F(UinputEventPosterTest, SingleModifierKeyStaysDownUntilItsRelease) {
    EXPECT_EQ(fPoster.postKeyboardEvent(0x38, true), kIoSuccess);
    EXPECT_EQ(fWriter.take(), (Events{press(KEY_LEFTSHIFT), syn()}));
    EXPECT_EQ(fPoster.postFlagsChanged(0), kIoSuccess);
    EXPECT_TRUE(fWriter.take().empty());
    EXPECT_EQ(fPoster.postKeyboardEvent(0x38, false), kIoSuccess);
    EXPECT_EQ(fWriter.take(), (Events{release(KEY_LEFTSHIFT), syn()}));
    EXPECT_EQ(fPoster.postKeyboardEvent(0x3D, true), kIoSuccess);
    EXPECT_EQ(fWriter.take(), (Events{press(KEY_RIGHTALT), syn()}));
    EXPECT_EQ(fPoster.heldFlags(), 0u);
}

// Caps Lock on a button toggles the lock once per click; the closing flags
// change does not toggle it back.
TEST_F(UinputEventPosterTest, SingleCapsLockKeyIsNotUndoneByTheClosingFlags) {
    fPoster.postKeyboardEvent(0x39, true);
    fPoster.postFlagsChanged(0);
    fPoster.postKeyboardEvent(0x39, false);
    fPoster.postFlagsChanged(0);
    EXPECT_EQ(fWriter.take(), (Events{press(KEY_CAPSLOCK), syn(), release(KEY_CAPSLOCK), syn()}));
}

struct TapCase {
    const char* name;
    bool aux;
    std::uint8_t code;
    IoStatus status;
    std::uint16_t key; // 0: nothing written
};

void PrintTo(const TapCase& c, std::ostream* out) {
    *out << c.name;
}

class UinputEventPosterTapTest : public UinputEventPosterTest,
                                 public testing::WithParamInterface<TapCase> {};

TEST_P(UinputEventPosterTapTest, PressAndReleaseOrNothing) {
    const TapCase& c = GetParam();
    EXPECT_EQ(c.aux ? fPoster.postAuxKey(c.code) : fPoster.postSystemDefined(c.code), c.status);
    const Events expected = c.key ? Events{press(c.key), syn(), release(c.key), syn()} : Events{};
    EXPECT_EQ(fWriter.take(), expected);
}

INSTANTIATE_TEST_SUITE_P(Posts, UinputEventPosterTapTest,
                         testing::Values(TapCase{"soundUp", true, 0, kIoSuccess, KEY_VOLUMEUP},
                                         TapCase{"soundDown", true, 1, kIoSuccess, KEY_VOLUMEDOWN},
                                         TapCase{"mute", true, 7, kIoSuccess, KEY_MUTE},
                                         TapCase{"auxBrightness", true, 2, kIoBadArgument, 0},
                                         TapCase{"auxPlay", true, 16, kIoBadArgument, 0},
                                         TapCase{"eject", false, 10, kIoSuccess, KEY_EJECTCD},
                                         TapCase{"auxSubtype", false, 8, kIoUnsupported, 0},
                                         TapCase{"subtypeZero", false, 0, kIoUnsupported, 0}),
                         [](const testing::TestParamInfo<TapCase>& info) {
                             return info.param.name;
                         });

TEST_F(UinputEventPosterTest, FailedWriteIsReportedAndLeavesTheFlagsUnchanged) {
    ASSERT_EQ(fPoster.open(), kIoSuccess);
    fWriter.writeStatus = kIoError;
    EXPECT_EQ(fPoster.postKey(0x00, true, false), kIoError);
    EXPECT_EQ(fPoster.postFlagsChanged(kShift), kIoError);
    EXPECT_EQ(fPoster.postAuxKey(7), kIoError);
    EXPECT_EQ(fPoster.heldFlags(), 0u);
    fWriter.writeStatus = kIoSuccess;
    EXPECT_EQ(fPoster.postFlagsChanged(kShift), kIoSuccess);
    EXPECT_EQ(fWriter.take(), (Events{press(KEY_LEFTSHIFT), syn()}));
}

} // namespace
