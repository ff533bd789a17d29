// RealUsbAccess: USB access on real hardware. The libudev notifications and
// the firmware read through the driver host come with the real device
// backend; until then every registration fails with a clear message, so the
// agent says why it sees no mouse instead of waiting silently.
#pragma once

#include "UsbAccess.h"

class RealUsbAccess : public UsbAccess {
public:
    static constexpr const char* kUnavailable =
        "USB device access on real hardware is not available yet; "
        "run the suite on the virtual platform (SABLECOIL_PLATFORM=virtual)";

    Result<std::vector<UsbDevice>> addMatchingNotification(std::uint16_t, std::uint16_t,
                                                           DevicesHandler) override {
        return Result<std::vector<UsbDevice>>::fail(kUnavailable);
    }
    Status addTerminationNotification(std::uint16_t, std::uint16_t, DevicesHandler) override {
        return Status::fail(kUnavailable);
    }
    IoStatus open(const UsbDevice&) override { return kIoUnsupported; }
    IoStatus deviceRequest(const UsbDevice&, DeviceRequest&) override { return kIoUnsupported; }
    void close(const UsbDevice&) override {}
};
