// DriverHost: the driver host's main object. Owns the well-known name
// com.orvix.driver.OrvixSablecoilDriver on its bus, the ObjectManager at
// /com/orvix/driver and one DriverInstance per attached mouse of either
// generation, exported at /com/orvix/driver/OrvixSablecoilDriver/N. N counts
// up for the life of the host, so a removed instance's path is never reused.
#pragma once

#include "DeviceSource.h"
#include "Result.h"

#include <QDBusConnection>
#include <QObject>

#include <vector>

class DriverInstance;
class ObjectManager;

class DriverHost : public QObject, public DeviceSourceListener {
    Q_OBJECT
public:
    static constexpr const char* kServiceName = "com.orvix.driver.OrvixSablecoilDriver";
    static constexpr const char* kManagerPath = "/com/orvix/driver";
    static constexpr const char* kInstancePathPrefix = "/com/orvix/driver/OrvixSablecoilDriver/";

    DriverHost(QDBusConnection bus, DeviceSource& source, QObject* parent = nullptr);
    ~DriverHost() override;

    // Exports the ObjectManager, takes the well-known name and starts the source.
    Status start();
    // Stops the source and removes every instance. Idempotent.
    void stop();

    void deviceAttached(std::unique_ptr<SourceDevice> device) override;
    void deviceDetached(const std::string& key) override;

private:
    void removeInstance(DriverInstance* instance);

    QDBusConnection fBus;
    DeviceSource& fSource;
    ObjectManager* fObjectManager = nullptr;
    std::vector<DriverInstance*> fInstances; // in attach order; children of this
    unsigned fNextNumber = 1;
    bool fRunning = false;
};
