// ServiceRegistry: the agent's and the application's view of the driver
// instances. Finds the instances of a driver class in the order they were
// registered, reads their properties, sets a property dictionary on one and
// delivers its client messages. The backend speaks the driver host's D-Bus
// contract (docs/dbus.md) on the system bus.
#pragma once

#include "IoStatus.h"
#include "PlistValue.h"
#include "Result.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// A driver instance: its object path. Empty means none.
using ServiceHandle = std::string;

class ServiceRegistry {
public:
    using MessageHandler = std::function<void(const ServiceHandle& service, std::uint32_t type)>;

    virtual ~ServiceRegistry() = default;

    // Every registered instance of the class, in registration order.
    virtual Result<std::vector<ServiceHandle>> matchingServices(std::string_view className) = 0;
    // The instance's properties ("ClassName", "idVendor", "idProduct") as a dictionary.
    virtual Result<PlistValue> copyProperties(const ServiceHandle& service) = 0;
    // Sets a property dictionary on the instance; its status.
    virtual IoStatus setProperties(const ServiceHandle& service, const PlistValue& properties) = 0;
    // A general-interest registration: handler gets every message of the
    // instance on the main loop until the instance goes away. Each call adds one.
    virtual IoStatus addInterestNotification(const ServiceHandle& service,
                                             MessageHandler handler) = 0;
};
