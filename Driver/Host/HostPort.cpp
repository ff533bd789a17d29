// HostPort: the driver port of one instance.
#include "HostPort.h"

#include "DeviceSource.h"
#include "DriverInstance.h"

IoStatus HostPort::deliverReport(const std::uint8_t* report, std::size_t length,
                                 std::uint32_t reportType, std::uint32_t options) {
    (void)reportType;
    (void)options;
    return fDevice.deliverReport(report, length);
}

void HostPort::messageClients(std::uint32_t type) {
    fInstance.postMessage(type);
}

bool HostPort::hidSystemParameter(std::string_view key, std::int64_t& value) {
    return fDevice.hidSystemParameter(key, value);
}

bool HostPort::hasUsbInterface() const {
    return fDevice.hasControlPipe();
}

IoStatus HostPort::deviceRequest(DeviceRequest& request) {
    return fDevice.controlRequest(request);
}
