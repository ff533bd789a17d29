// CallBacks: device, user-switch, settings-broadcast and quit handlers.
#include "CallBacks.h"

#include "Application.h"
#include "HidUtils.h"
#include "PlatformServices.h"
#include "Preferences.h"

#include "MapType.h"
#include "SensDrawer.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <string_view>

std::uint16_t sCurrVersion = 0;
std::uint16_t sOldVersion = 0;

namespace {

// The key a type-3 input holds down, released when the input can no longer
// send its release (device gone, profile changed, agent quitting).
struct HeldKey {
    bool held = false;
    std::uint8_t keyCode = 0;
    ServiceHandle service;
};
HeldKey sHeldKey;

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
        // The registration is made once per instance (RegisterForDeviceNotif).
        app->ForgetGoneInstances();
        app->SetSablecoil(FindSablecoil(app->fSablecoil, false));
        app->RegisterForDeviceNotif();
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
    if (chosen != sHeldKey.service) {
        ReleaseHeldKey(); // its input went away with the device
    }
    if (chosen != app->fSablecoil) {
        CloseSensDrawer(); // its on-the-fly input went away too
    }
    if (chosen == app->fSablecoil) {
        return;
    }
    app->ForgetGoneInstances();
    app->SetSablecoil(chosen);
    if (!app->fPreferences) {
        return;
    }
    if (!chosen.empty()) {
        // The instance that remains may never have been the one in use (two
        // mice at start): make sure its messages reach the agent.
        app->RegisterForDeviceNotif();
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
        app->ForgetGoneInstances();
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
    ReleaseHeldKey(); // the input that holds it may have a new assignment
    Application* app = Application::GetApp();
    if (app->fPreferences) {
        app->fPreferences->SendPrefsToDriver(userInfo);
    }
}

void HandleAEQuit() {
    ReleaseHeldKey();
    CloseSensDrawer();
    Application::GetApp()->Terminate();
    QCoreApplication::exit(0);
}

// ---- Driver messages -----------------------------------------------------------

QTimer* sCurrTimer = nullptr;

namespace {

// Message word fields and flags.
constexpr std::uint32_t kNestedAction = 0x01;
constexpr std::uint32_t kOtfsBegin = 0x02;
constexpr std::uint32_t kOtfsEnd = 0x04;
constexpr std::uint32_t kProfileButton = 0x08;
constexpr std::uint32_t kKeyUpFlag = 0x10;

constexpr int kFirstRepeatMs = 500;
constexpr int kRepeatIntervalMs = 80;
constexpr int kShortPauseMs = 50;
// The longest pause a macro records; a longer stored value is cut to it so a
// damaged record cannot stall the agent for days.
constexpr int kLongestPauseMs = 99999;
constexpr double kOtfsStep = 0.2;

SensDrawer*& Drawer() {
    static SensDrawer* sDrawer = nullptr;
    return sDrawer;
}

void StopRepeat() {
    if (sCurrTimer) {
        sCurrTimer->stop();
        sCurrTimer->deleteLater();
        sCurrTimer = nullptr;
    }
}

void StartRepeat(std::uint8_t keyCode) {
    StopRepeat();
    auto* timer = new QTimer(QCoreApplication::instance());
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(kFirstRepeatMs);
    QObject::connect(timer, &QTimer::timeout, [timer, keyCode] {
        // Changing the interval restarts the timer: only once, after the
        // first repeat, so that later repeats keep their own schedule.
        if (timer->interval() != kRepeatIntervalMs) {
            timer->setInterval(kRepeatIntervalMs);
        }
        RepeatKey(timer, keyCode);
    });
    timer->start();
    sCurrTimer = timer;
}

void Pause(int milliseconds) {
    QThread::msleep(static_cast<unsigned long>(std::clamp(milliseconds, 0, kLongestPauseMs)));
}

bool IsCommandField(int v) {
    return (v & 0xFFFF) >= kFirstCommand;
}

// Plays the action string of a record of map type t (3, 4, 6 or 7).
void PlayActionString(int t, std::string_view text, std::uint32_t flags, std::uint32_t input,
                      const ServiceHandle& service) {
    const std::vector<int> fields = ParseActionString(text);
    BeginHidKeySequence();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const int v = fields[i];
        if (t == kMapMacro) {
            if (v & kShortPause) {
                Pause(kShortPauseMs);
                continue;
            }
            if ((v & kTimedPause) && i + 1 < fields.size()) {
                Pause(fields[i + 1]);
                ++i;
                continue;
            }
            DoHidKeyEvent(static_cast<std::uint8_t>(v & 0xFF), v & 0xFFFF, false, false);
            continue;
        }
        if (IsCommandField(v)) {
            if (t == kMapProfileSwitch) {
                StopRepeat();
            }
            if ((flags & kKeyUpFlag) == 0) {
                const auto command = static_cast<std::uint16_t>(v & 0xFFFF);
                if (command >= 0x5000 && command <= 0x5600) {
                    ReleaseHeldKey();
                }
                DoAdvancedCommand(command);
            }
            continue;
        }
        const auto keyCode = static_cast<std::uint8_t>(v & 0xFF);
        const bool release = (flags & kKeyUpFlag) != 0;
        DoHidKeyEvent(keyCode, release ? kKeyUp : kKeyDown, false, t == kMapKey);
        if (t != kMapKey) {
            continue;
        }
        if (input == kInputWheelUp || input == kInputWheelDown) {
            // A wheel step has no release of its own: the key goes up at once
            // instead of staying down on the desktop.
            DoHidKeyEvent(keyCode, kKeyUp, false, true);
            continue;
        }
        if (release) {
            StopRepeat();
            sHeldKey = HeldKey();
        } else {
            sHeldKey = HeldKey{true, keyCode, service};
            if (!IsModifier(keyCode)) {
                StartRepeat(keyCode);
            }
        }
    }
    EndHidKeySequence();
}

} // namespace

void RepeatKey(QTimer* timer, std::uint8_t keyCode) {
    if (timer != sCurrTimer) {
        timer->stop();
        timer->deleteLater();
        return;
    }
    DoHidKeyEvent(keyCode, kKeyDown, true, true);
}

void ReleaseHeldKey() {
    StopRepeat();
    if (sHeldKey.held) {
        const std::uint8_t keyCode = sHeldKey.keyCode;
        sHeldKey = HeldKey();
        DoHidKeyEvent(keyCode, kKeyUp, false, true);
        EndHidKeySequence();
    }
}

void DriverNotifProc(const ServiceHandle& service, std::uint32_t messageType) {
    const std::uint32_t w = messageType & 0xFF;
    const std::uint32_t u = (messageType >> 8) & 0xFF;
    const std::uint32_t flags = (messageType >> 16) & 0xFF;
    Application* app = Application::GetApp();
    if ((w != 0 && w != 1 && w != 0xFF) || service != app->fSablecoil) {
        return;
    }
    if (flags & kProfileButton) {
        ReleaseHeldKey();
        DoAdvancedCommand(0x5000);
        return;
    }
    Preferences* preferences = app->fPreferences.get();
    if (u > 6 || !preferences || !preferences->fMappingArray.isArray()) {
        return;
    }

    // With the nested-action flag the type and payload come from the nested
    // record of a type-5 record. A record too short for that has no type.
    const PlistValue::Data& record = preferences->fMappingArray.at(u).bytes();
    const std::size_t off = (flags & kNestedAction) ? 1 : 0;
    const int t = off < record.size() ? record[off] : -1;
    if (t == kMapKey || t == kMapMacro || t == kMapDpiSet || t == kMapProfileSwitch) {
        const std::string_view text(reinterpret_cast<const char*>(record.data()) + off + 1,
                                    record.size() - off - 1);
        PlayActionString(t, text, flags, u, service);
    }

    // On-the-fly sensitivity. An end closes an open display whatever the
    // switches say now: they may have been turned off while it was open.
    SensDrawer*& drawer = Drawer();
    if ((flags & kOtfsEnd) && drawer) {
        CloseSensDrawer();
    }
    if (!preferences->fOtfsOn) {
        return;
    }
    if (preferences->fOtfsOnScreen) {
        if (flags & kOtfsBegin) {
            // A display left open by a begin without its end closes first.
            delete drawer;
            drawer = new SensDrawer();
            drawer->BeginDraw();
        }
    }
    if (w == 0 || (t != kMapMacroOtfs && t != kMapOtfs)) {
        return;
    }
    const double step = w == 1 ? kOtfsStep : -kOtfsStep;
    double values[2];
    unsigned count = 0;
    if (!preferences->fMasterSens) {
        values[count++] =
            preferences->SetSensitivity(preferences->fSens[kSensBoth] + step, kSensBoth);
    } else {
        values[count++] = preferences->SetSensitivity(preferences->fSens[kSensX] + step, kSensX);
        values[count++] = preferences->SetSensitivity(preferences->fSens[kSensY] + step, kSensY);
    }
    if (preferences->fOtfsOnScreen && drawer) {
        drawer->Draw(values, count);
    }
    preferences->SendSensToDriver();
    preferences->SaveSensToPrefs();
    preferences->PostOtfsNotification();
}

void CloseSensDrawer() {
    SensDrawer*& drawer = Drawer();
    delete drawer;
    drawer = nullptr;
}
