// DeviceSource: where the driver host gets its mice from. A source reports
// each attached mouse of the two product generations (vendor and product id)
// and its going away, on the main loop. Each attached mouse is a
// SourceDevice: a report channel that the host's report thread reads and
// writes, and a default control pipe for class requests.
//
// Two backends: the virtual one (the simulator's mice, over the session bus)
// and the real one (libusb and uhid; not available yet, see docs/decisions.md).
// DeviceSource::create() picks one by the platform choice of the program.
#pragma once

#include "HidDriverBase.h"
#include "IoStatus.h"
#include "Result.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class SourceDevice {
public:
    virtual ~SourceDevice() = default;

    // Stable while the device is attached; unique among the source's devices.
    virtual const std::string& key() const = 0;
    virtual std::uint16_t vendorId() const = 0;
    virtual std::uint16_t productId() const = 0;

    // --- report thread ---
    struct Read {
        bool closed = false;     // the channel is gone: no more reports
        std::size_t length = 0;  // bytes of the report in the buffer
        std::uint32_t token = 0; // passed back to reportHandled()
    };
    // Blocks until the next input report arrives or the channel closes.
    virtual Read readReport(std::uint8_t* buffer, std::size_t capacity) = 0;
    // Hands one filtered report to the system's input stack.
    virtual IoStatus deliverReport(const std::uint8_t* report, std::size_t length) = 0;
    // Integer HID system parameters, kept current by the source; safe on any thread.
    virtual bool hidSystemParameter(std::string_view key, std::int64_t& value) const = 0;

    // --- any thread ---
    // Makes a blocked or later readReport() return closed.
    virtual void shutdown() = 0;

    // --- main thread ---
    // Whether the source wants to hear when a report was completely handled.
    virtual bool wantsReportHandled() const = 0;
    // The report with this token was delivered and its messages were sent.
    virtual void reportHandled(std::uint32_t token) = 0;
    // Whether the device's interface can carry control requests.
    virtual bool hasControlPipe() const = 0;
    // Issues one class request synchronously (blocks the main loop at most
    // the request's timeout, and never more than 5 s).
    virtual IoStatus controlRequest(DeviceRequest& request) = 0;
};

class DeviceSourceListener {
public:
    virtual ~DeviceSourceListener() = default;
    // A mouse of one of the two generations came; the listener owns it now.
    virtual void deviceAttached(std::unique_ptr<SourceDevice> device) = 0;
    // The mouse with this key went away.
    virtual void deviceDetached(const std::string& key) = 0;
};

class DeviceSource {
public:
    virtual ~DeviceSource() = default;

    // The backend of the program's platform choice.
    static std::unique_ptr<DeviceSource> create();

    // Reports the mice already there and those that come later to listener
    // (not owned; it outlives the source). Fails when the backend cannot run.
    virtual Status start(DeviceSourceListener& listener) = 0;
    // Stops reporting; devices already handed over stay with the listener.
    virtual void stop() = 0;
};
