// InputEventWriter: where the uinput keyboard's events go. The real writer
// creates a uinput device through libevdev and writes to it; tests put a
// recorder in its place, since a machine without /dev/uinput cannot make one.
#pragma once

#include "IoStatus.h"

#include <cstdint>
#include <span>
#include <string>

class InputEventWriter {
public:
    virtual ~InputEventWriter() = default;

    // Creates the device, a keyboard of that name able to send the EV_KEY codes
    // given (and EV_SYN); kIoSuccess when it can take events, otherwise the
    // reason is in lastError().
    virtual IoStatus create(const std::string& name, std::span<const std::uint16_t> keyCodes) = 0;
    // Writes one event (type, code, value) to the created device.
    virtual IoStatus write(std::uint16_t type, std::uint16_t code, std::int32_t value) = 0;
    // A readable account of the last failure, for the log.
    virtual const std::string& lastError() const = 0;
};
