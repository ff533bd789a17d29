// VirtualDeviceSource: the simulator's mice as a device source. Follows the
// simulator on the session bus (its MousePlugged and MouseUnplugged signals,
// and the service itself coming and going), takes over each mouse's report
// channel with AttachHost and tells the simulator with HostReady once the
// listener has the device.
#pragma once

#include "DeviceSource.h"

#include <QDBusConnection>
#include <QObject>

#include <set>

class QDBusServiceWatcher;

class VirtualDeviceSource : public QObject, public DeviceSource {
    Q_OBJECT
public:
    explicit VirtualDeviceSource(QDBusConnection simulatorBus, QObject* parent = nullptr);
    ~VirtualDeviceSource() override;

    Status start(DeviceSourceListener& listener) override;
    void stop() override;

private slots:
    void onMousePlugged(uint id, ushort idVendor, ushort idProduct);
    void onMouseUnplugged(uint id);
    void onSimulatorRegistered();
    void onSimulatorUnregistered();

private:
    void attachMouse(std::uint32_t id, std::uint16_t idVendor, std::uint16_t idProduct);
    void attachPresentMice();
    void detachAll();

    QDBusConnection fBus;
    DeviceSourceListener* fListener = nullptr;
    QDBusServiceWatcher* fWatcher = nullptr;
    std::set<std::uint32_t> fAttached;
};
