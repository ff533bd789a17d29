// MapType: the map type codes of a button mapping record and the input order
// of a profile's seven records. Shared by the driver, the agent and the
// application, so plain C++ with no dependencies.
//
// A record is one byte of map type followed by its payload: an action string
// for types 3, 4, 6 and 7, a complete nested record for type 5, nothing for
// every other type (a type byte above 7 never has a payload).
#pragma once

#include <cstdint>

enum MapType : std::int32_t {
    kMapClick = 0,         // the primary button
    kMapMenu = 1,          // the secondary (context-menu) button
    kMapDoubleClick = 2,   // a press gives a complete double click
    kMapKey = 3,           // text: a key, key combination or one command code
    kMapMacro = 4,         // text: a recorded macro
    kMapMacroOtfs = 5,     // nested record (a macro); on-the-fly sensitivity while held
    kMapDpiSet = 6,        // text: one resolution command code
    kMapProfileSwitch = 7, // text: one profile command code
    kMapOtfs = 8,          // on-the-fly sensitivity while held
    kMapPassThrough = 9,   // the device's own button state passes unchanged
    kMapScrollUp = 10,     // wheel: scroll up (reversed on the wheel-down input)
    kMapScrollDown = 11,   // wheel: scroll down (reversed on the wheel-up input)
    kMapButtonOff = 12,    // the input is suppressed
    kMapAdvFunc = 13,      // the advanced-function editor is open for the input
    kMapNA = 14,           // marks catalogue sub-menu entries; never an input's type
};

// The seven inputs, in the order of a profile's records and of the input field
// of the driver message word.
enum InputIndex : std::int32_t {
    kInputButton1 = 0,
    kInputButton2 = 1,
    kInputButton3 = 2,
    kInputButton4 = 3,
    kInputButton5 = 4,
    kInputWheelUp = 5,   // a wheel report with a positive step
    kInputWheelDown = 6, // a wheel report with a negative step
    kInputCount = 7,
};

// Payload rule, as a bit set over the type byte, only for types 0 to 7.
inline constexpr std::uint32_t kTextPayloadTypes = 0xD8;   // types 3, 4, 6, 7
inline constexpr std::uint32_t kNestedPayloadTypes = 0x20; // type 5

// True when a record of this type carries an action string after the type byte.
constexpr bool mapTypeHasText(std::uint32_t type) {
    return type <= 7 && ((kTextPayloadTypes >> type) & 1U) != 0;
}

// True when a record of this type carries a nested record after the type byte.
constexpr bool mapTypeHasNestedRecord(std::uint32_t type) {
    return type <= 7 && ((kNestedPayloadTypes >> type) & 1U) != 0;
}
