// OrvixSablecoilDriver: the report filter for one attached mouse.
//
// Every 8-byte input report passes through handleReport() before it reaches
// the system's input stack: motion and wheel are scaled, the buttons byte is
// remapped by each input's map type, special inputs are reported to the
// driver's clients with a 32-bit message word, and a double-click input is
// replayed as press, release, press. setProperties() takes the configuration
// (map types, sensitivity, wheel speed, hand, on-the-fly sensitivity) and
// sends the device command word (resolution, report rate, profile, lights) to
// the mouse.
//
// handleReport() runs on the host's report thread and setProperties() on the
// thread that sets the properties, without a lock: every field written by one
// and read by the other is a std::atomic accessed with relaxed ordering. The
// report path reads each configuration field once per report, so one report
// sees each field either before or after an update, never a mix of uses.
// Plain C++: no Qt, no I/O, no allocation on the report path.
#pragma once

#include "HidDriverBase.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

class com_orvix_driver_OrvixSablecoilDriver : public HidDriverBase {
public:
    // The registered class name by which clients find the driver's instances.
    static constexpr std::string_view kClassName = "com_orvix_driver_OrvixSablecoilDriver";

    // Number of inputs: buttons 1 to 5, wheel up, wheel down.
    static constexpr std::size_t kInputCount = 7;
    // Bytes of an input report; shorter reports are passed on uninterpreted.
    static constexpr std::size_t kReportLength = 8;

    // 16.16 fixed-point factors.
    static constexpr std::int32_t kHalfFixed = 0x8000;              // one half, for rounding
    static constexpr std::uint32_t kUnchangedSensitivity = 0xA0000; // 10.0: motion unchanged
    static constexpr std::uint32_t kUnchangedWheelSpeed = 0x10000;  // 1.0: wheel unchanged

    // Flags of the driver message word (bits 16 to 23).
    static constexpr std::uint32_t kMessageNestedAction = 0x01; // type-5 input released
    static constexpr std::uint32_t kMessageOtfsBegin = 0x02; // first report of an on-the-fly press
    static constexpr std::uint32_t kMessageOtfsEnd = 0x04;   // on-the-fly input released
    static constexpr std::uint32_t kMessageProfileButton = 0x08; // the device's profile button
    static constexpr std::uint32_t kMessageKeyUp = 0x10;         // held key input released
    // Input field of a message that no input was attributed to.
    static constexpr std::uint32_t kMessageNoInput = 0xFF;

    // Bit of the buttons byte that the device sets for its profile button.
    static constexpr std::uint8_t kProfileButtonBit = 0x80;

    // Input index to buttons-byte bit, right-handed and left-handed. Entry 0
    // is the primary bit, entry 1 the secondary; the wheel inputs have none.
    static constexpr std::uint32_t rightMouseIds[kInputCount] = {0x01, 0x02, 0x04, 0x10,
                                                                 0x08, 0,    0};
    static constexpr std::uint32_t leftMouseIds[kInputCount] = {0x02, 0x01, 0x04, 0x10, 0x08, 0, 0};

    // The set-settings class request that carries the device command word.
    static constexpr std::uint8_t kSetSettingsRequestType = 0x21; // class, interface, out
    static constexpr std::uint8_t kSetSettingsRequest = 0x09;     // SET_REPORT
    static constexpr std::uint16_t kSetSettingsValue = 0x0010;
    static constexpr std::uint32_t kSetSettingsTimeoutMs = 5000;

    com_orvix_driver_OrvixSablecoilDriver() = default;
    ~com_orvix_driver_OrvixSablecoilDriver() override = default;

    // The report path. A report of fewer than kReportLength bytes is
    // delivered unchanged and changes no state. Returns the status of the
    // final delivery.
    IoStatus handleReport(std::uint8_t* report, std::size_t length, std::uint32_t reportType,
                          std::uint32_t options) override;

    // The property intake: map types, scaling factors, hand, on-the-fly
    // switch, and the device command word when the device keys changed.
    // Returns kIoBadArgument (and changes nothing) for a value that is not a
    // dictionary, else success, also when the device request failed.
    IoStatus setProperties(const PlistValue& properties) override;

    // Scales a motion pair in place by the X and Y sensitivity.
    virtual void filterMouse(std::int16_t* x, std::int16_t* y);
    // One axis: value × factor / 10.0, rounded half up, never 0 for a
    // non-zero value, symmetric in the sign of value.
    virtual std::int16_t filterMouseAxis(std::int16_t value, std::uint32_t factor);
    // One wheel step scaled by the wheel speed (rounded down), its sign
    // reversed by a reversing type on the wheel input.
    virtual std::int8_t filterScrollWheel(std::int8_t step);

    // The system's primary button bit: 2 when the HID system's button mode
    // is 1 (left-handed), else 1.
    std::uint8_t getPrimaryButton();
    // Sends the device command word as the set-settings request; returns its status.
    IoStatus sendDeviceRequest(std::uint32_t word);

    // Read access for the host and tests.
    std::uint32_t mapType(std::size_t input) const {
        return input < kInputCount ? fMapTypes[input].load(std::memory_order_relaxed) : 0;
    }
    std::uint32_t restoreType() const { return fRestoreType.load(std::memory_order_relaxed); }
    std::uint32_t sensitivityX() const { return fSensitivityX.load(std::memory_order_relaxed); }
    std::uint32_t sensitivityY() const { return fSensitivityY.load(std::memory_order_relaxed); }
    bool masterSensOn() const { return fMasterSensOn.load(std::memory_order_relaxed) != 0; }
    std::uint32_t wheelSpeed() const { return fWheelSpeed.load(std::memory_order_relaxed); }
    bool leftHanded() const { return fLeftHanded.load(std::memory_order_relaxed) != 0; }
    bool otfsEnabled() const { return fOtfsEnabled.load(std::memory_order_relaxed) != 0; }
    std::uint32_t lastCommand() const { return fLastCommand.load(std::memory_order_relaxed); }
    // Report state; owned by the report thread.
    std::uint8_t lastButtons() const { return fLastButtons; }
    std::uint8_t heldOtfsButton() const { return fHeldOtfsButton; }
    std::uint8_t heldKeyButton() const { return fHeldKeyButton; }

    // Builds the device command word from the device keys of a property
    // dictionary (0 when none of them is there).
    static std::uint32_t deviceCommandWord(const PlistValue& properties);

private:
    // Configuration, written by setProperties and read by the report path.
    // The report path also writes the sensitivity once, from "never set" (0)
    // to unchanged, with a compare-exchange so that it cannot overwrite a
    // value set meanwhile.
    std::array<std::atomic<std::uint32_t>, kInputCount> fMapTypes{};
    std::atomic<std::uint8_t> fOtfsEnabled{0};
    std::atomic<std::uint8_t> fLeftHanded{0};
    std::atomic<std::uint32_t> fRestoreType{0};
    std::atomic<std::uint32_t> fSensitivityX{0};
    std::atomic<std::uint32_t> fSensitivityY{0};
    std::atomic<std::uint8_t> fMasterSensOn{0};
    std::atomic<std::uint32_t> fWheelSpeed{0};
    // Last device command word the mouse accepted; property side only.
    std::atomic<std::uint32_t> fLastCommand{0};

    // Report state, touched only by the report path.
    std::uint8_t fLastButtons = 0;    // previous buttons byte, after release substitution
    std::uint8_t fHeldOtfsButton = 0; // bit of the on-the-fly input held in the previous report
    std::uint8_t fHeldKeyButton = 0;  // bit of the key input being held
};
