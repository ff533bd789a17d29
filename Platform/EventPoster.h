// EventPoster: posting synthetic input to the desktop. Key down and up by the
// suite's virtual key code (with a repeat mark), the global modifier flags,
// a single modifier key through the keyboard-event path, the auxiliary
// control keys (sound up 0, sound down 1, mute 7) and system-defined events
// (10 = eject). Virtual backend: the simulator's event log. Real backend: one
// uinput keyboard through libevdev.
#pragma once

#include "IoStatus.h"

#include <cstdint>

class EventPoster {
public:
    virtual ~EventPoster() = default;

    // Opens the posting connection; called before the first post and again
    // after a failure. kIoSuccess when events can be posted.
    virtual IoStatus open() = 0;

    virtual IoStatus postKey(std::uint8_t keyCode, bool down, bool repeat) = 0;
    // The modifier flags the system holds from now on (0x10000 Caps Lock,
    // 0x20000 Shift, 0x40000 Control, 0x80000 Option, 0x100000 Command).
    virtual IoStatus postFlagsChanged(std::uint32_t flags) = 0;
    // One modifier key pressed or released on its own.
    virtual IoStatus postKeyboardEvent(std::uint8_t keyCode, bool down) = 0;
    // One press of an auxiliary control key.
    virtual IoStatus postAuxKey(std::uint8_t auxKeyCode) = 0;
    virtual IoStatus postSystemDefined(std::uint8_t subtype) = 0;
};
