// CallBacks: device, user-switch, settings-broadcast and quit handlers.
#include "CallBacks.h"

#include "Application.h"
#include "HidUtils.h"
#include "PlatformServices.h"
#include "Preferences.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>

std::uint16_t sCurrVersion = 0;
std::uint16_t sOldVersion = 0;

namespace {

// Opens of a busy device allowed in one device-added event, all devices together.
constexpr int kMaxOpenRetries = 5;

void PrintErrMsg(int expr, const char* msg) {
    if (expr != 0) {
        std::fprintf(stderr, "error:%d, %s\n", expr, msg);
        std::fflush(stderr);
    }
}

// Reads the firmware version: GET_REPORT of report 5, two bytes, high byte first.
// A failed request gives 0, never bytes of another device.
std::uint16_t ReadFirmwareVersion(UsbAccess& usb, const UsbDevice& device) {
    std::uint8_t buffer[2] = {0, 0};
    DeviceRequest request;
    request.bmRequestType = 0xA1;
    request.bRequest = 0x01;
    request.wValue = 5;
    request.wIndex = 0;
    request.wLength = 2;
    request.data = buffer;
    request.noDataTimeoutMs = 5000;
    if (usb.deviceRequest(device, request) != kIoSuccess) {
        return 0;
    }
    return static_cast<std::uint16_t>(buffer[0] << 8 | buffer[1]);
}

} // namespace

void DeviceAddedNotifProc(const std::vector<UsbDevice>& iterator) {
    UsbAccess& usb = PlatformServices::current().usb();
    std::uint16_t version = 0;
    bool found = false;
    int retries = 0;

    for (const UsbDevice& device : iterator) {
        IoStatus status = usb.open(device);
        while (status == kIoExclusiveAccess) {
            ++retries;
            PrintErrMsg(retries, "Exclusive access err, sleeping on it\n");
            QThread::sleep(1);
            if (retries >= kMaxOpenRetries) {
                break;
            }
            status = usb.open(device);
        }
        if (status != kIoSuccess) {
            PrintErrMsg(status, "unable to open device\n");
            continue;
        }
        sOldVersion = sCurrVersion;
        version = ReadFirmwareVersion(usb, device);
        sCurrVersion = version;
        usb.close(device);
        found = true;
    }

    Application* app = Application::GetApp();
    if (found && app->IsLoggedIn()) {
        // Register for the chosen instance's messages only when the choice
        // changed: a second registration on the same instance would deliver
        // every message twice. With no instance at all the registration
        // reports that nothing is in use.
        const ServiceHandle previous = app->fSablecoil;
        app->SetSablecoil(FindSablecoil(app->fSablecoil, false));
        if (app->fSablecoil != previous || app->fSablecoil.empty()) {
            app->RegisterForDeviceNotif();
        }
        if (app->fPreferences) {
            app->fPreferences->ReadPrefs();
            app->fPreferences->SetFirmwareVersion(version);
        }
    }
}

void DeviceRemovedNotifProc(const std::vector<UsbDevice>& iterator) {
    Application* app = Application::GetApp();
    if (iterator.empty() || !app->IsLoggedIn()) {
        return;
    }
    const ServiceHandle chosen = FindSablecoil(ServiceHandle(), false);
    if (chosen == app->fSablecoil) {
        return;
    }
    app->SetSablecoil(chosen);
    if (!app->fPreferences) {
        return;
    }
    if (!chosen.empty()) {
        app->fPreferences->ReadPrefs();
        app->fPreferences->SetFirmwareVersion(sOldVersion);
        std::swap(sOldVersion, sCurrVersion);
    } else {
        app->fPreferences->SetFirmwareVersion(0);
    }
}

int SwitchEventsHandler() {
    Application* app = Application::GetApp();
    while (!app->IsLoggedIn()) {
        QThread::sleep(1);
    }
    const ServiceHandle chosen = FindSablecoil(app->fSablecoil, true);
    if (chosen != app->fSablecoil) {
        app->SetSablecoil(chosen);
        if (!chosen.empty()) {
            app->RegisterForDeviceNotif();
            if (app->fPreferences) {
                app->fPreferences->SetFirmwareVersion(sOldVersion);
            }
            std::swap(sOldVersion, sCurrVersion);
        } else if (app->fPreferences) {
            app->fPreferences->SetFirmwareVersion(0);
        }
    }
    if (app->fPreferences) {
        app->fPreferences->ReadPrefs();
    }
    return 0;
}

void PrefNotifProc(const PlistValue& userInfo) {
    Application* app = Application::GetApp();
    if (app->fPreferences) {
        app->fPreferences->SendPrefsToDriver(userInfo);
    }
}

void HandleAEQuit() {
    Application::GetApp()->Terminate();
    QCoreApplication::exit(0);
}

void DriverNotifProc(const ServiceHandle& service, std::uint32_t messageType) {
    // The dispatcher of special inputs plays keys, macros and commands here.
    (void)service;
    (void)messageType;
}
