// RealDeviceSource: the mice on the machine's USB bus. Claiming the mouse's
// HID interface with libusb and handing the filtered reports to /dev/uhid is
// not built yet; until then start() fails with a clear message, so that the
// service manager shows why the host stopped (docs/decisions.md).
#pragma once

#include "DeviceSource.h"

class RealDeviceSource : public DeviceSource {
public:
    Status start(DeviceSourceListener& listener) override;
    void stop() override {}
};
