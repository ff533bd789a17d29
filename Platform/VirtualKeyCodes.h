// VirtualKeyCodes: the suite's virtual key codes (the codes stored in action
// strings and recorded by the key window) translated to Linux KEY_* codes for
// the uinput keyboard. One table; a code without a Linux key (Fn, and every
// code the table does not list) translates to 0 (KEY_RESERVED).
#pragma once

#include <cstdint>
#include <span>

struct VirtualKeyMapping {
    std::uint8_t virtualKey;
    std::uint16_t linuxKey;
};

// Every virtual key code that has a Linux key, in ascending virtual key order.
std::span<const VirtualKeyMapping> virtualKeyMappings();

// The Linux KEY_* code of a virtual key code; 0 when the key has none.
std::uint16_t linuxKeyCode(std::uint8_t virtualKeyCode);
