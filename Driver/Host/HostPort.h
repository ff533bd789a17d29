// HostPort: what one driver instance reaches outside itself, as the host
// wires it: reports and HID system parameters through the instance's source
// device, messages to the instance's D-Bus object through the main loop.
#pragma once

#include "HidDriverBase.h"

class DriverInstance;
class SourceDevice;

class HostPort : public DriverPort {
public:
    HostPort(DriverInstance& instance, SourceDevice& device)
        : fInstance(instance), fDevice(device) {}

    IoStatus deliverReport(const std::uint8_t* report, std::size_t length, std::uint32_t reportType,
                           std::uint32_t options) override;
    void messageClients(std::uint32_t type) override;
    bool hidSystemParameter(std::string_view key, std::int64_t& value) override;
    bool hasUsbInterface() const override;
    IoStatus deviceRequest(DeviceRequest& request) override;

private:
    DriverInstance& fInstance;
    SourceDevice& fDevice;
};
