// VirtualUsbAccess: the simulator's mice as USB devices. A mouse counts as
// matched once a driver host has taken it (so the agent finds its driver
// instance), or after kBindWaitMs without a host; it terminates when it is
// unplugged. Opening and the class requests go to the simulator.
#pragma once

#include "UsbAccess.h"

#include <QDBusConnection>
#include <QObject>

#include <cstdint>
#include <map>
#include <vector>

class VirtualUsbAccess : public QObject, public UsbAccess {
    Q_OBJECT
public:
    static constexpr int kBindWaitMs = 5000;

    // On the session bus.
    VirtualUsbAccess();
    explicit VirtualUsbAccess(const QDBusConnection& connection);

    Result<std::vector<UsbDevice>> addMatchingNotification(std::uint16_t idVendor,
                                                           std::uint16_t idProduct,
                                                           DevicesHandler added) override;
    Status addTerminationNotification(std::uint16_t idVendor, std::uint16_t idProduct,
                                      DevicesHandler removed) override;
    IoStatus open(const UsbDevice& device) override;
    IoStatus deviceRequest(const UsbDevice& device, DeviceRequest& request) override;
    void close(const UsbDevice& device) override;

private slots:
    void onMousePlugged(uint id, ushort idVendor, ushort idProduct);
    void onMouseUnplugged(uint id);

private:
    struct Registration {
        std::uint16_t idVendor;
        std::uint16_t idProduct;
        DevicesHandler handler;
    };

    Status connectSignals();
    static UsbDevice deviceFor(std::uint32_t id, std::uint16_t idVendor, std::uint16_t idProduct);
    static bool idOf(const UsbDevice& device, std::uint32_t& id);
    void announce(const UsbDevice& device);

    QDBusConnection fConnection;
    bool fConnected = false;
    std::vector<Registration> fMatching;
    std::vector<Registration> fTermination;
    // The mice seen, by id, for the termination of a mouse whose unplug
    // signal no longer names its product.
    std::map<std::uint32_t, UsbDevice> fKnown;
};
