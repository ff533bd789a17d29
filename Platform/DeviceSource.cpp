// DeviceSource: picks the backend by the program's platform choice.
#include "DeviceSource.h"

#include "PlatformServices.h"
#include "RealDeviceSource.h"
#include "VirtualDeviceSource.h"

#include <QDBusConnection>

std::unique_ptr<DeviceSource> DeviceSource::create() {
    if (PlatformServices::selectedKind() == PlatformServices::Kind::Virtual) {
        return std::make_unique<VirtualDeviceSource>(QDBusConnection::sessionBus());
    }
    return std::make_unique<RealDeviceSource>();
}
