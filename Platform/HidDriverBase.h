// HidDriverBase: the small USB HID driver base that the report filter derives
// from. It stands in for the platform's HID driver class: the host feeds every
// raw input report to handleReport(); the base implementation delivers the
// report on to the system's input stack. The filter also reaches its clients
// (messageClients), the HID system's parameters and the mouse's default
// control pipe through the base.
//
// Everything the base reaches outside goes through a DriverPort that the host
// plugs in per device (virtual: the simulator; real: uhid and libusb). The base
// itself is plain C++: no Qt, no I/O, no allocation.
#pragma once

#include "IoStatus.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

class PlistValue;

// One USB control request on the default pipe.
struct DeviceRequest {
    std::uint8_t bmRequestType = 0;
    std::uint8_t bRequest = 0;
    std::uint16_t wValue = 0;
    std::uint16_t wIndex = 0;
    std::uint16_t wLength = 0;
    std::uint8_t* data = nullptr; // wLength bytes, out or in by bmRequestType's direction bit
    std::uint32_t noDataTimeoutMs = 0;
    std::uint32_t completionTimeoutMs = 0;
};

// What a driver instance reaches outside itself. Implemented by the host's
// backends. deliverReport, messageClients and hidSystemParameter are called on
// the report thread; deviceRequest on the thread that sets the properties.
class DriverPort {
public:
    virtual ~DriverPort() = default;

    // Hands one (filtered) input report to the system's input stack.
    virtual IoStatus deliverReport(const std::uint8_t* report, std::size_t length,
                                   std::uint32_t reportType, std::uint32_t options) = 0;
    // Tells every client of the driver instance: one 32-bit message, no argument.
    virtual void messageClients(std::uint32_t type) = 0;
    // Looks up one integer of the HID system's parameters ("HIDPointerButtonMode").
    // Returns false when the HID system or the value is not there.
    virtual bool hidSystemParameter(std::string_view key, std::int64_t& value) = 0;
    // Whether the device's USB interface is there to carry control requests.
    virtual bool hasUsbInterface() const = 0;
    // Issues one control request synchronously.
    virtual IoStatus deviceRequest(DeviceRequest& request) = 0;
};

class HidDriverBase {
public:
    HidDriverBase() = default;
    virtual ~HidDriverBase() = default;
    HidDriverBase(const HidDriverBase&) = delete;
    HidDriverBase& operator=(const HidDriverBase&) = delete;

    // Connects the instance to its device; nullptr detaches it.
    void attachPort(DriverPort* port) { fPort = port; }
    DriverPort* port() const { return fPort; }

    // The report path: the base delivers the report unchanged.
    virtual IoStatus handleReport(std::uint8_t* report, std::size_t length,
                                  std::uint32_t reportType, std::uint32_t options) {
        return fPort ? fPort->deliverReport(report, length, reportType, options) : kIoNotOpen;
    }

    // The property intake; the base keeps nothing.
    virtual IoStatus setProperties(const PlistValue& properties) {
        (void)properties;
        return kIoUnsupported;
    }

protected:
    IoStatus messageClients(std::uint32_t type) {
        if (!fPort) {
            return kIoNotOpen;
        }
        fPort->messageClients(type);
        return kIoSuccess;
    }

    bool hidSystemParameter(std::string_view key, std::int64_t& value) {
        return fPort && fPort->hidSystemParameter(key, value);
    }

    bool hasUsbInterface() const { return fPort && fPort->hasUsbInterface(); }

    IoStatus deviceRequest(DeviceRequest& request) {
        return fPort ? fPort->deviceRequest(request) : kIoNotOpen;
    }

private:
    DriverPort* fPort = nullptr;
};
