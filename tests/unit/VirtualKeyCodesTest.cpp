// VirtualKeyCodesTest: the translation of the suite's virtual key codes to
// Linux key codes: one case from every group and every irregular position,
// the codes without a key, and the table's own consistency.
#include "VirtualKeyCodes.h"

#include <linux/input-event-codes.h>

#include <gtest/gtest.h>

#include <set>

namespace {

struct KeyCase {
    std::uint8_t virtualKey;
    std::uint16_t linuxKey;
};

class VirtualKeyCodesKeyTest : public testing::TestWithParam<KeyCase> {};

TEST_P(VirtualKeyCodesKeyTest, TranslatesToTheLinuxKey) {
    EXPECT_EQ(linuxKeyCode(GetParam().virtualKey), GetParam().linuxKey);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, VirtualKeyCodesKeyTest,
    testing::Values(
        // letters in their scattered positions
        KeyCase{0x00, KEY_A}, KeyCase{0x04, KEY_H}, KeyCase{0x05, KEY_G}, KeyCase{0x0B, KEY_B},
        KeyCase{0x10, KEY_Y}, KeyCase{0x11, KEY_T}, KeyCase{0x1F, KEY_O}, KeyCase{0x22, KEY_I},
        KeyCase{0x26, KEY_J}, KeyCase{0x28, KEY_K}, KeyCase{0x2D, KEY_N}, KeyCase{0x2E, KEY_M},
        // digits, 5 and 6 and 7, 8, 9 out of order
        KeyCase{0x12, KEY_1}, KeyCase{0x16, KEY_6}, KeyCase{0x17, KEY_5}, KeyCase{0x19, KEY_9},
        KeyCase{0x1A, KEY_7}, KeyCase{0x1C, KEY_8}, KeyCase{0x1D, KEY_0},
        // punctuation and the ISO key
        KeyCase{0x18, KEY_EQUAL}, KeyCase{0x1B, KEY_MINUS}, KeyCase{0x1E, KEY_RIGHTBRACE},
        KeyCase{0x21, KEY_LEFTBRACE}, KeyCase{0x27, KEY_APOSTROPHE}, KeyCase{0x29, KEY_SEMICOLON},
        KeyCase{0x2A, KEY_BACKSLASH}, KeyCase{0x2B, KEY_COMMA}, KeyCase{0x2C, KEY_SLASH},
        KeyCase{0x2F, KEY_DOT}, KeyCase{0x32, KEY_GRAVE}, KeyCase{0x0A, KEY_102ND},
        // editing keys
        KeyCase{0x24, KEY_ENTER}, KeyCase{0x30, KEY_TAB}, KeyCase{0x31, KEY_SPACE},
        KeyCase{0x33, KEY_BACKSPACE}, KeyCase{0x35, KEY_ESC},
        // modifiers, left and right
        KeyCase{0x37, KEY_LEFTMETA}, KeyCase{0x36, KEY_RIGHTMETA}, KeyCase{0x38, KEY_LEFTSHIFT},
        KeyCase{0x3C, KEY_RIGHTSHIFT}, KeyCase{0x3A, KEY_LEFTALT}, KeyCase{0x3D, KEY_RIGHTALT},
        KeyCase{0x3B, KEY_LEFTCTRL}, KeyCase{0x3E, KEY_RIGHTCTRL}, KeyCase{0x39, KEY_CAPSLOCK},
        // keypad
        KeyCase{0x41, KEY_KPDOT}, KeyCase{0x43, KEY_KPASTERISK}, KeyCase{0x45, KEY_KPPLUS},
        KeyCase{0x47, KEY_NUMLOCK}, KeyCase{0x4B, KEY_KPSLASH}, KeyCase{0x4C, KEY_KPENTER},
        KeyCase{0x4E, KEY_KPMINUS}, KeyCase{0x51, KEY_KPEQUAL}, KeyCase{0x52, KEY_KP0},
        KeyCase{0x59, KEY_KP7}, KeyCase{0x5B, KEY_KP8}, KeyCase{0x5C, KEY_KP9},
        // function keys
        KeyCase{0x7A, KEY_F1}, KeyCase{0x78, KEY_F2}, KeyCase{0x63, KEY_F3}, KeyCase{0x76, KEY_F4},
        KeyCase{0x60, KEY_F5}, KeyCase{0x61, KEY_F6}, KeyCase{0x62, KEY_F7}, KeyCase{0x64, KEY_F8},
        KeyCase{0x65, KEY_F9}, KeyCase{0x6D, KEY_F10}, KeyCase{0x67, KEY_F11},
        KeyCase{0x6F, KEY_F12}, KeyCase{0x69, KEY_F13}, KeyCase{0x6B, KEY_F14},
        KeyCase{0x71, KEY_F15}, KeyCase{0x6A, KEY_F16}, KeyCase{0x40, KEY_F17},
        KeyCase{0x4F, KEY_F18}, KeyCase{0x50, KEY_F19},
        // navigation
        KeyCase{0x72, KEY_INSERT}, KeyCase{0x73, KEY_HOME}, KeyCase{0x74, KEY_PAGEUP},
        KeyCase{0x75, KEY_DELETE}, KeyCase{0x77, KEY_END}, KeyCase{0x79, KEY_PAGEDOWN},
        KeyCase{0x7B, KEY_LEFT}, KeyCase{0x7C, KEY_RIGHT}, KeyCase{0x7D, KEY_DOWN},
        KeyCase{0x7E, KEY_UP},
        // no Linux key: Fn, the gaps, codes past the keyboard
        KeyCase{0x3F, KEY_RESERVED}, KeyCase{0x34, KEY_RESERVED}, KeyCase{0x42, KEY_RESERVED},
        KeyCase{0x5A, KEY_RESERVED}, KeyCase{0x66, KEY_RESERVED}, KeyCase{0x70, KEY_RESERVED},
        KeyCase{0x7F, KEY_RESERVED}, KeyCase{0x80, KEY_RESERVED}, KeyCase{0xFF, KEY_RESERVED}));

// Two virtual keys on one Linux key would be a slip in the table.
TEST(VirtualKeyCodesTest, EveryKeyHasItsOwnLinuxKey) {
    std::set<std::uint8_t> virtualKeys;
    std::set<std::uint16_t> linuxKeys;
    for (const VirtualKeyMapping& mapping : virtualKeyMappings()) {
        EXPECT_TRUE(virtualKeys.insert(mapping.virtualKey).second)
            << "virtual key 0x" << std::hex << int(mapping.virtualKey) << " listed twice";
        EXPECT_TRUE(linuxKeys.insert(mapping.linuxKey).second)
            << "Linux key " << mapping.linuxKey << " given to two virtual keys";
        EXPECT_NE(mapping.linuxKey, KEY_RESERVED);
        EXPECT_EQ(linuxKeyCode(mapping.virtualKey), mapping.linuxKey);
    }
    // 26 letters, 10 digits, 12 punctuation keys, 5 editing keys, 9 modifiers,
    // 18 keypad keys, 19 function keys, 10 navigation keys.
    EXPECT_EQ(virtualKeyMappings().size(), 109u);
}

// Whatever the key window records by name or offers as a special key can be posted.
TEST(VirtualKeyCodesTest, NamedAndSpecialKeysAllTranslate) {
    const std::uint8_t named[] = {0x24, 0x30, 0x31, 0x33, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B,
                                  0x3C, 0x3D, 0x3E, 0x40, 0x47, 0x4C, 0x4F, 0x50, 0x60, 0x61, 0x62,
                                  0x63, 0x64, 0x65, 0x67, 0x69, 0x6A, 0x6B, 0x6D, 0x6F, 0x71, 0x73,
                                  0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E};
    for (const std::uint8_t code : named) {
        EXPECT_NE(linuxKeyCode(code), KEY_RESERVED) << "0x" << std::hex << int(code);
    }
}

} // namespace
