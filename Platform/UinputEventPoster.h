// UinputEventPoster: the real EventPoster, one virtual keyboard on uinput.
// Virtual key codes are translated by the VirtualKeyCodes table; modifier
// flag changes become presses and releases of the left modifier keys; the
// sound and eject keys are a press followed by a release. The device is made
// at open(), the first post; events go through an InputEventWriter.
#pragma once

#include "EventPoster.h"
#include "InputEventWriter.h"

#include <memory>
#include <string>
#include <vector>

class UinputEventPoster : public EventPoster {
public:
    static constexpr const char* kDeviceName = "Sablecoil virtual keyboard";

    // The keyboard on /dev/uinput.
    UinputEventPoster();
    // The keyboard made by this writer (tests record the events).
    explicit UinputEventPoster(std::unique_ptr<InputEventWriter> writer);

    IoStatus open() override;
    IoStatus postKey(std::uint8_t keyCode, bool down, bool repeat) override;
    IoStatus postFlagsChanged(std::uint32_t flags) override;
    IoStatus postKeyboardEvent(std::uint8_t keyCode, bool down) override;
    IoStatus postAuxKey(std::uint8_t auxKeyCode) override;
    IoStatus postSystemDefined(std::uint8_t subtype) override;

    // Every Linux key the keyboard can send.
    static std::vector<std::uint16_t> keyboardKeys();
    // The modifier flags the keyboard holds through postFlagsChanged.
    std::uint32_t heldFlags() const { return fHeldFlags; }
    // Why the last open or post failed.
    const std::string& lastError() const { return fWriter->lastError(); }

private:
    IoStatus ensureOpen();
    IoStatus writeEvent(std::uint16_t code, std::int32_t value);
    IoStatus sync();
    IoStatus tap(std::uint16_t code);

    std::unique_ptr<InputEventWriter> fWriter;
    bool fOpen = false;
    std::uint32_t fHeldFlags = 0;
    std::string fReportedError;
};
