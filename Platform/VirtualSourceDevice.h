// VirtualSourceDevice: one of the simulator's mice as the driver host sees
// it. Reports arrive on the mouse's report channel (SimChannel datagrams on a
// SOCK_SEQPACKET socket); delivered reports and "handled" acknowledgements go
// back on it. The HID system parameters arrive in-band on the same channel,
// so a parameter changed before a report is in force when that report is
// filtered. Class requests go to the simulator as a D-Bus call.
#pragma once

#include "DeviceSource.h"

#include <QDBusConnection>

#include <atomic>

class VirtualSourceDevice : public SourceDevice {
public:
    // Takes ownership of channelFd.
    VirtualSourceDevice(std::uint32_t mouseId, std::uint16_t vendorId, std::uint16_t productId,
                        int channelFd, QDBusConnection simulatorBus);
    ~VirtualSourceDevice() override;
    VirtualSourceDevice(const VirtualSourceDevice&) = delete;
    VirtualSourceDevice& operator=(const VirtualSourceDevice&) = delete;

    std::uint32_t mouseId() const { return fMouseId; }
    static std::string keyFor(std::uint32_t mouseId);

    const std::string& key() const override { return fKey; }
    std::uint16_t vendorId() const override { return fVendorId; }
    std::uint16_t productId() const override { return fProductId; }

    Read readReport(std::uint8_t* buffer, std::size_t capacity) override;
    IoStatus deliverReport(const std::uint8_t* report, std::size_t length) override;
    bool hidSystemParameter(std::string_view key, std::int64_t& value) const override;
    void shutdown() override;
    bool wantsReportHandled() const override { return true; }
    void reportHandled(std::uint32_t token) override;
    bool hasControlPipe() const override { return true; }
    IoStatus controlRequest(DeviceRequest& request) override;

private:
    // One cached integer parameter; "present" tells a value of 0 from none.
    struct CachedParameter {
        std::string_view key;
        std::atomic<std::int64_t> value{0};
        std::atomic<bool> present{false};
    };

    void storeParameter(std::string_view key, std::int64_t value);

    const std::uint32_t fMouseId;
    const std::uint16_t fVendorId;
    const std::uint16_t fProductId;
    const std::string fKey;
    const int fFd;
    QDBusConnection fBus;
    CachedParameter fParameters[2];
};
