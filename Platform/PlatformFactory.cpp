// PlatformFactory: the real and the virtual service sets.
#include "PlatformFactory.h"

#include "DBusNotificationCenter.h"
#include "DBusServiceRegistry.h"
#include "GSettingsHidSystem.h"
#include "LogindConsoleSession.h"
#include "RealUsbAccess.h"
#include "UinputEventPoster.h"
#include "VirtualConsoleSession.h"
#include "VirtualEventPoster.h"
#include "VirtualHidSystem.h"
#include "VirtualUsbAccess.h"

namespace {

// A service set that owns its backends.
class OwnedServices : public PlatformServices {
public:
    ServiceRegistry& registry() override { return *fRegistry; }
    HidSystem& hidSystem() override { return *fHidSystem; }
    UsbAccess& usb() override { return *fUsb; }
    ConsoleSession& session() override { return *fSession; }
    NotificationCenter& notifications() override { return *fNotifications; }
    EventPoster& events() override { return *fEvents; }

    std::unique_ptr<ServiceRegistry> fRegistry;
    std::unique_ptr<HidSystem> fHidSystem;
    std::unique_ptr<UsbAccess> fUsb;
    std::unique_ptr<ConsoleSession> fSession;
    std::unique_ptr<NotificationCenter> fNotifications;
    std::unique_ptr<EventPoster> fEvents;
};

} // namespace

std::unique_ptr<PlatformServices> PlatformFactory::create(PlatformServices::Kind kind) {
    auto services = std::make_unique<OwnedServices>();
    services->fRegistry = std::make_unique<DBusServiceRegistry>();
    services->fNotifications = std::make_unique<DBusNotificationCenter>();
    if (kind == PlatformServices::Kind::Virtual) {
        services->fHidSystem = std::make_unique<VirtualHidSystem>();
        services->fUsb = std::make_unique<VirtualUsbAccess>();
        services->fSession = std::make_unique<VirtualConsoleSession>();
        services->fEvents = std::make_unique<VirtualEventPoster>();
    } else {
        services->fHidSystem = std::make_unique<GSettingsHidSystem>();
        services->fUsb = std::make_unique<RealUsbAccess>();
        services->fSession = std::make_unique<LogindConsoleSession>();
        services->fEvents = std::make_unique<UinputEventPoster>();
    }
    return services;
}
