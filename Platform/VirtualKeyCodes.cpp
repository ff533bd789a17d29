// VirtualKeyCodes: the translation table from the suite's virtual key codes
// (a US keyboard's key positions) to Linux key codes.
#include "VirtualKeyCodes.h"

#include <linux/input-event-codes.h>

#include <array>

namespace {

constexpr std::array sMappings{
    // letters, digits and punctuation, in virtual key order
    VirtualKeyMapping{0x00, KEY_A},
    VirtualKeyMapping{0x01, KEY_S},
    VirtualKeyMapping{0x02, KEY_D},
    VirtualKeyMapping{0x03, KEY_F},
    VirtualKeyMapping{0x04, KEY_H},
    VirtualKeyMapping{0x05, KEY_G},
    VirtualKeyMapping{0x06, KEY_Z},
    VirtualKeyMapping{0x07, KEY_X},
    VirtualKeyMapping{0x08, KEY_C},
    VirtualKeyMapping{0x09, KEY_V},
    VirtualKeyMapping{0x0A, KEY_102ND}, // the ISO key next to left Shift
    VirtualKeyMapping{0x0B, KEY_B},
    VirtualKeyMapping{0x0C, KEY_Q},
    VirtualKeyMapping{0x0D, KEY_W},
    VirtualKeyMapping{0x0E, KEY_E},
    VirtualKeyMapping{0x0F, KEY_R},
    VirtualKeyMapping{0x10, KEY_Y},
    VirtualKeyMapping{0x11, KEY_T},
    VirtualKeyMapping{0x12, KEY_1},
    VirtualKeyMapping{0x13, KEY_2},
    VirtualKeyMapping{0x14, KEY_3},
    VirtualKeyMapping{0x15, KEY_4},
    VirtualKeyMapping{0x16, KEY_6},
    VirtualKeyMapping{0x17, KEY_5},
    VirtualKeyMapping{0x18, KEY_EQUAL},
    VirtualKeyMapping{0x19, KEY_9},
    VirtualKeyMapping{0x1A, KEY_7},
    VirtualKeyMapping{0x1B, KEY_MINUS},
    VirtualKeyMapping{0x1C, KEY_8},
    VirtualKeyMapping{0x1D, KEY_0},
    VirtualKeyMapping{0x1E, KEY_RIGHTBRACE},
    VirtualKeyMapping{0x1F, KEY_O},
    VirtualKeyMapping{0x20, KEY_U},
    VirtualKeyMapping{0x21, KEY_LEFTBRACE},
    VirtualKeyMapping{0x22, KEY_I},
    VirtualKeyMapping{0x23, KEY_P},
    VirtualKeyMapping{0x24, KEY_ENTER},
    VirtualKeyMapping{0x25, KEY_L},
    VirtualKeyMapping{0x26, KEY_J},
    VirtualKeyMapping{0x27, KEY_APOSTROPHE},
    VirtualKeyMapping{0x28, KEY_K},
    VirtualKeyMapping{0x29, KEY_SEMICOLON},
    VirtualKeyMapping{0x2A, KEY_BACKSLASH},
    VirtualKeyMapping{0x2B, KEY_COMMA},
    VirtualKeyMapping{0x2C, KEY_SLASH},
    VirtualKeyMapping{0x2D, KEY_N},
    VirtualKeyMapping{0x2E, KEY_M},
    VirtualKeyMapping{0x2F, KEY_DOT},
    VirtualKeyMapping{0x30, KEY_TAB},
    VirtualKeyMapping{0x31, KEY_SPACE},
    VirtualKeyMapping{0x32, KEY_GRAVE},
    VirtualKeyMapping{0x33, KEY_BACKSPACE},
    VirtualKeyMapping{0x35, KEY_ESC},
    // modifiers; Command is the Super (Meta) key, Option is Alt; 0x3F (Fn)
    // has no key of its own on Linux
    VirtualKeyMapping{0x36, KEY_RIGHTMETA},
    VirtualKeyMapping{0x37, KEY_LEFTMETA},
    VirtualKeyMapping{0x38, KEY_LEFTSHIFT},
    VirtualKeyMapping{0x39, KEY_CAPSLOCK},
    VirtualKeyMapping{0x3A, KEY_LEFTALT},
    VirtualKeyMapping{0x3B, KEY_LEFTCTRL},
    VirtualKeyMapping{0x3C, KEY_RIGHTSHIFT},
    VirtualKeyMapping{0x3D, KEY_RIGHTALT},
    VirtualKeyMapping{0x3E, KEY_RIGHTCTRL},
    // keypad and the upper function keys
    VirtualKeyMapping{0x40, KEY_F17},
    VirtualKeyMapping{0x41, KEY_KPDOT},
    VirtualKeyMapping{0x43, KEY_KPASTERISK},
    VirtualKeyMapping{0x45, KEY_KPPLUS},
    VirtualKeyMapping{0x47, KEY_NUMLOCK}, // keypad Clear
    VirtualKeyMapping{0x4B, KEY_KPSLASH},
    VirtualKeyMapping{0x4C, KEY_KPENTER},
    VirtualKeyMapping{0x4E, KEY_KPMINUS},
    VirtualKeyMapping{0x4F, KEY_F18},
    VirtualKeyMapping{0x50, KEY_F19},
    VirtualKeyMapping{0x51, KEY_KPEQUAL},
    VirtualKeyMapping{0x52, KEY_KP0},
    VirtualKeyMapping{0x53, KEY_KP1},
    VirtualKeyMapping{0x54, KEY_KP2},
    VirtualKeyMapping{0x55, KEY_KP3},
    VirtualKeyMapping{0x56, KEY_KP4},
    VirtualKeyMapping{0x57, KEY_KP5},
    VirtualKeyMapping{0x58, KEY_KP6},
    VirtualKeyMapping{0x59, KEY_KP7},
    VirtualKeyMapping{0x5B, KEY_KP8},
    VirtualKeyMapping{0x5C, KEY_KP9},
    // function keys
    VirtualKeyMapping{0x60, KEY_F5},
    VirtualKeyMapping{0x61, KEY_F6},
    VirtualKeyMapping{0x62, KEY_F7},
    VirtualKeyMapping{0x63, KEY_F3},
    VirtualKeyMapping{0x64, KEY_F8},
    VirtualKeyMapping{0x65, KEY_F9},
    VirtualKeyMapping{0x67, KEY_F11},
    VirtualKeyMapping{0x69, KEY_F13},
    VirtualKeyMapping{0x6A, KEY_F16},
    VirtualKeyMapping{0x6B, KEY_F14},
    VirtualKeyMapping{0x6D, KEY_F10},
    VirtualKeyMapping{0x6F, KEY_F12},
    VirtualKeyMapping{0x71, KEY_F15},
    // navigation; Help is where a PC keyboard has Insert
    VirtualKeyMapping{0x72, KEY_INSERT},
    VirtualKeyMapping{0x73, KEY_HOME},
    VirtualKeyMapping{0x74, KEY_PAGEUP},
    VirtualKeyMapping{0x75, KEY_DELETE}, // forward delete
    VirtualKeyMapping{0x76, KEY_F4},
    VirtualKeyMapping{0x77, KEY_END},
    VirtualKeyMapping{0x78, KEY_F2},
    VirtualKeyMapping{0x79, KEY_PAGEDOWN},
    VirtualKeyMapping{0x7A, KEY_F1},
    VirtualKeyMapping{0x7B, KEY_LEFT},
    VirtualKeyMapping{0x7C, KEY_RIGHT},
    VirtualKeyMapping{0x7D, KEY_DOWN},
    VirtualKeyMapping{0x7E, KEY_UP},
};

// The same table indexed by virtual key code (0 to 255), built at compile time.
constexpr std::array<std::uint16_t, 256> sByVirtualKey = [] {
    std::array<std::uint16_t, 256> table{};
    for (const VirtualKeyMapping& mapping : sMappings) {
        table[mapping.virtualKey] = mapping.linuxKey;
    }
    return table;
}();

} // namespace

std::span<const VirtualKeyMapping> virtualKeyMappings() {
    return sMappings;
}

std::uint16_t linuxKeyCode(std::uint8_t virtualKeyCode) {
    return sByVirtualKey[virtualKeyCode];
}
