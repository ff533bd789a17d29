// HidUtils: driver instance discovery and the HID system's parameters.
#include "HidUtils.h"

#include "DeviceIds.h"
#include "EventPoster.h"
#include "HidSystem.h"
#include "PlatformServices.h"

#ifndef SABLECOIL_APPLICATION_BUILD
#include "AppleScript.h"
#include "Application.h"
#include "Preferences.h"
#endif

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iterator>

const std::uint64_t clickSpeeds[11] = {
    150000000ull,  200000000ull,  500000000ull,  800000000ull,  1100000000ull, 1400000000ull,
    1700000000ull, 1800000000ull, 2000000000ull, 3000000000ull, 5000000000ull,
};

namespace {

// True when the instance last accepted serves a first-generation mouse.
bool sIsV1Device = false;

void PrintErrMsg(int expr, const char* msg) {
    if (expr != 0) {
        std::fprintf(stderr, "error:%d, %s\n", expr, msg);
        std::fflush(stderr);
    }
}

} // namespace

IoStatus FindDevices(std::vector<ServiceHandle>& hidObjectIterator) {
    hidObjectIterator.clear();
    auto services = PlatformServices::current().registry().matchingServices(kSablecoilClassName);
    if (!services) {
        PrintErrMsg(kIoNotFound, "No matching HID class devices found.");
        return kIoNotFound;
    }
    hidObjectIterator = std::move(services.value());
    return kIoSuccess;
}

ServiceHandle FindHidSystem() {
    if (!PlatformServices::current().hidSystem().isAvailable()) {
        PrintErrMsg(kIoNotFound, "No matching HID class devices found.");
        return {};
    }
    return ServiceHandle(kHidSystemHandle);
}

// Walks the instances with a one-element look-ahead and keeps the last one
// accepted. With useCurrentIfFound, the instance in use is kept when it is
// still there; without it, another instance than the one in use is preferred.
ServiceHandle FindSablecoil(const ServiceHandle& currSablecoil, bool useCurrentIfFound) {
    std::vector<ServiceHandle> iterator;
    if (FindDevices(iterator) != kIoSuccess) {
        return {};
    }
    ServiceRegistry& registry = PlatformServices::current().registry();
    std::size_t next = 0;
    auto nextElement = [&]() -> ServiceHandle {
        return next < iterator.size() ? iterator[next++] : ServiceHandle();
    };

    ServiceHandle foundDevice;
    ServiceHandle hidDevice = nextElement();
    while (!hidDevice.empty()) {
        ServiceHandle nextDevice = nextElement();
        if (useCurrentIfFound) {
            if (!foundDevice.empty() && foundDevice == currSablecoil) {
                break;
            }
        } else if (hidDevice == currSablecoil && !nextDevice.empty()) {
            hidDevice = nextDevice;
            nextDevice = nextElement();
        } else if (hidDevice == currSablecoil && !foundDevice.empty()) {
            break;
        }

        auto properties = registry.copyProperties(hidDevice);
        if (properties) {
            const PlistValue* vendor = properties->find("idVendor");
            const PlistValue* product = properties->find("idProduct");
            if (vendor && product && vendor->isInteger() && product->isInteger() &&
                vendor->toInt64() == kSablecoilVendorId) {
                const std::int64_t productId = product->toInt64();
                if (productId == kSablecoilV1ProductId || productId == kSablecoilV2ProductId) {
                    sIsV1Device = productId == kSablecoilV1ProductId;
                    foundDevice = hidDevice;
                }
            }
        }
        hidDevice = nextDevice;
    }
    return foundDevice;
}

bool SablecoilIsV1() {
    return sIsV1Device;
}

PlistValue CopyHidSystemParamValue(std::string_view keyName) {
    if (FindHidSystem().empty()) {
        return {};
    }
    auto parameters = PlatformServices::current().hidSystem().copyParameters();
    if (!parameters) {
        return {};
    }
    return parameters->get(keyName);
}

IoStatus SetHidSystemParamValue(const PlistValue& value, std::string_view keyName) {
    PlistValue dict = PlistValue::dictionary();
    dict.set(keyName, value);
    IoStatus status = kIoNotFound;
    if (!FindHidSystem().empty()) {
        status = PlatformServices::current().hidSystem().setParameters(dict);
    }
    printIoError(status, "Error setting hid sys property.");
    return status;
}

double GetDblClickSpeed() {
    PlistValue value = CopyHidSystemParamValue("HIDClickTime");
    return value.isNumber() ? value.toReal() : 0.0;
}

void SetDblClickSpeed(double speed) {
    // A NaN speed counts as the shortest time.
    const double clamped = speed >= 0.0 ? std::min(speed, 10.0) : 0.0;
    const auto index = static_cast<std::size_t>(clamped);
    SetHidSystemParamValue(PlistValue::int64(static_cast<std::int64_t>(clickSpeeds[index])),
                           "HIDClickTime");
}

bool IsRightButtonPrimary() {
    PlistValue value = CopyHidSystemParamValue("HIDPointerButtonMode");
    const std::int32_t mode = value.isNumber() ? static_cast<std::int32_t>(value.toInt64()) : 2;
    return mode == 1;
}

void SetIsRightButtonPrimary(bool rightIsPrimary) {
    SetHidSystemParamValue(PlistValue::int32(rightIsPrimary ? 1 : 2), "HIDPointerButtonMode");
}

// ---- Synthetic input ------------------------------------------------------

std::uint32_t sModifiers = 0;

namespace {

constexpr std::uint8_t kCommandKey = 0x37;
constexpr std::uint8_t kShiftKey = 0x38;
constexpr std::uint8_t kCapsLockKey = 0x39;
constexpr std::uint8_t kOptionKey = 0x3A;
constexpr std::uint8_t kControlKey = 0x3B;

std::uint32_t ModifierFlag(std::uint8_t virtualKeyCode) {
    switch (virtualKeyCode) {
    case kCapsLockKey:
        return 0x10000;
    case kShiftKey:
        return 0x20000;
    case kControlKey:
        return 0x40000;
    case kOptionKey:
        return 0x80000;
    case kCommandKey:
        return 0x100000;
    default:
        return 0;
    }
}

} // namespace

// Opened once and kept; opened again only when the program's services were
// replaced (tests) or the last open failed.
EventPoster* GetEventDriver() {
    static EventPoster* eventDriver = nullptr;
    EventPoster& poster = PlatformServices::current().events();
    if (eventDriver != &poster) {
        eventDriver = poster.open() == kIoSuccess ? &poster : nullptr;
    }
    return eventDriver;
}

void BeginHidKeySequence() {}

IoStatus EndHidKeySequence() {
    sModifiers = 0;
    EventPoster* poster = GetEventDriver();
    return poster ? poster->postFlagsChanged(0) : kIoNotOpen;
}

IoStatus DoHidKeyEvent(std::uint8_t virtualKeyCode, int upDown, bool repeat, bool singleKey) {
    EventPoster* poster = GetEventDriver();
    // A press-and-release field always goes down and up as a key, a modifier
    // included; a macro passes the whole field, so the test is on both bits.
    if ((upDown & kKeyDownUp) == kKeyDownUp || !IsModifier(virtualKeyCode)) {
        IoStatus result = kIoSuccess;
        if (upDown & kKeyDown) {
            result = poster ? poster->postKey(virtualKeyCode, true, repeat) : kIoNotOpen;
        }
        if (upDown & kKeyUp) {
            result = poster ? poster->postKey(virtualKeyCode, false, repeat) : kIoNotOpen;
        }
        return result;
    }
    if (singleKey) {
        if (poster) {
            poster->postKeyboardEvent(virtualKeyCode, (upDown & kKeyDown) != 0);
        }
        return kIoSuccess;
    }
    const std::uint32_t mask = ModifierFlag(virtualKeyCode);
    if (upDown & kKeyDown) {
        sModifiers |= mask;
    }
    if (upDown & kKeyUp) {
        sModifiers &= ~mask;
    }
    return poster ? poster->postFlagsChanged(sModifiers) : kIoNotOpen;
}

IoStatus DoHidAuxKeyEvent(std::uint8_t auxKeyCode) {
    EventPoster* poster = GetEventDriver();
    return poster ? poster->postAuxKey(auxKeyCode) : kIoNotOpen;
}

IoStatus DoHidSysDefinedKeyEvent(std::uint8_t sysKeyCode) {
    EventPoster* poster = GetEventDriver();
    return poster ? poster->postSystemDefined(sysKeyCode) : kIoNotOpen;
}

bool IsModifier(std::uint8_t virtualKeyCode) {
    return ModifierFlag(virtualKeyCode) != 0;
}

std::vector<int> ParseActionString(std::string_view text) {
    std::vector<int> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = std::min(text.find(',', start), text.size());
        std::string_view field = text.substr(start, end - start);
        std::size_t i = 0;
        while (i < field.size() && std::isspace(static_cast<unsigned char>(field[i]))) {
            ++i;
        }
        bool negative = false;
        if (i < field.size() && (field[i] == '+' || field[i] == '-')) {
            negative = field[i] == '-';
            ++i;
        }
        // Saturates instead of overflowing on absurdly long digit runs.
        long long value = 0;
        while (i < field.size() && field[i] >= '0' && field[i] <= '9') {
            value = std::min(value * 10 + (field[i] - '0'), 0x7FFFFFFFll);
            ++i;
        }
        fields.push_back(static_cast<int>(negative ? -value : value));
        if (end >= text.size()) {
            break;
        }
        start = end + 1;
    }
    return fields;
}

// ---- Commands ---------------------------------------------------------------

#ifdef SABLECOIL_APPLICATION_BUILD

void DoAdvancedCommand(std::uint16_t command) {
    // The application writes command codes but never carries them out.
    (void)command;
}

#else

namespace {

struct Shortcut {
    std::uint16_t command;
    std::initializer_list<std::uint8_t> modifiers; // pressed in order, released in reverse
    std::uint8_t key;
};

// Desktop shortcuts by command code; key codes are the suite's virtual key codes.
const Shortcut sShortcuts[] = {
    {0x1000, {kCommandKey}, 0x07},                          // cut
    {0x1100, {kCommandKey}, 0x08},                          // copy
    {0x1200, {kCommandKey}, 0x09},                          // paste
    {0x1300, {kCommandKey}, 0x06},                          // undo
    {0x1400, {kCommandKey}, 0x00},                          // select all
    {0x1500, {kCommandKey}, 0x2D},                          // new
    {0x1600, {kCommandKey}, 0x01},                          // save
    {0x1700, {kShiftKey, kCommandKey}, 0x01},               // save as
    {0x1800, {kCommandKey}, 0x23},                          // print
    {0x1900, {kCommandKey}, 0x03},                          // find
    {0x2000, {kCommandKey}, 0x04},                          // hide window
    {0x2100, {kCommandKey}, 0x32},                          // cycle windows
    {0x2200, {kCommandKey}, 0x0D},                          // close window
    {0x2300, {kOptionKey, kCommandKey}, 0x0D},              // close all windows
    {0x2400, {kCommandKey}, 0x2E},                          // minimise window
    {0x2500, {kOptionKey, kCommandKey}, 0x18},              // zoom in
    {0x2600, {kOptionKey, kCommandKey}, 0x1B},              // zoom out
    {0x2700, {kCommandKey}, 0x31},                          // search
    {0x2800, {kShiftKey, kCommandKey}, 0x2C},               // application help
    {0x2900, {kShiftKey, kCommandKey}, 0x14},               // full screenshot
    {0x2A00, {kOptionKey, kCommandKey, kControlKey}, 0x1C}, // invert colours
    {0x2B00, {}, 0x65},                                     // F9: all windows
    {0x2C00, {}, 0x6D},                                     // F10: application windows
    {0x2D00, {}, 0x67},                                     // F11: show desktop
    {0x2E00, {}, 0x6F},                                     // F12: dashboard
};

// Media scripts by command code 0x3000 to 0x3700.
const char* const sMediaScripts[] = {"Play",        "Stop",        "NextTrack", "PrevTrack",
                                     "NextChapter", "PrevChapter", "Repeat",    "Shuffle"};

void PlayShortcut(const Shortcut& shortcut) {
    for (std::uint8_t modifier : shortcut.modifiers) {
        DoHidKeyEvent(modifier, kKeyDown, false, false);
    }
    DoHidKeyEvent(shortcut.key, kKeyDown, false, false);
    DoHidKeyEvent(shortcut.key, kKeyUp, false, false);
    for (auto it = std::rbegin(shortcut.modifiers); it != std::rend(shortcut.modifiers); ++it) {
        DoHidKeyEvent(*it, kKeyUp, false, false);
    }
}

} // namespace

void DoAdvancedCommand(std::uint16_t command) {
    for (const Shortcut& shortcut : sShortcuts) {
        if (shortcut.command == command) {
            PlayShortcut(shortcut);
            return;
        }
    }
    if (command >= 0x3000 && command <= 0x3700 && (command & 0xFF) == 0) {
        const std::string path = AppleScript::scriptPath(sMediaScripts[(command >> 8) - 0x30]);
        if (!path.empty()) {
            AppleScript::executeScriptAtPath(path);
        }
        return;
    }
    Preferences* preferences = Application::GetApp()->fPreferences.get();
    switch (command) {
    case 0x3800:
        DoHidAuxKeyEvent(0); // sound up
        return;
    case 0x3900:
        DoHidAuxKeyEvent(1); // sound down
        return;
    case 0x3A00:
        DoHidAuxKeyEvent(7); // mute
        return;
    case 0x3B00:
        DoHidSysDefinedKeyEvent(10); // eject
        return;
    default:
        break;
    }
    if (!preferences) {
        return;
    }
    // A stored stage or profile outside its range steps from the default
    // (stage 2, profile 1) rather than wrapping through nonsense values.
    auto stage = [preferences] {
        const int s = preferences->GetDpi();
        return s >= 0 && s <= 3 ? s : 2;
    };
    auto profile = [preferences] {
        const int p = preferences->GetProfile();
        return p >= 0 && p <= 5 ? p : 1;
    };
    switch (command) {
    case 0x4000:
        preferences->SetDpi((stage() + 1) % 4);
        return;
    case 0x4100: {
        const int previous = stage() - 1;
        preferences->SetDpi(previous < 0 ? 3 : previous);
        return;
    }
    case 0x4200:
    case 0x4300:
    case 0x4400:
    case 0x4500:
        preferences->SetDpi((command >> 8) - 0x42);
        return;
    case 0x5000:
        preferences->SetProfile(profile() % 5 + 1);
        return;
    case 0x5100: {
        const int previous = profile() - 1;
        preferences->SetProfile(previous <= 0 ? 5 : previous);
        return;
    }
    case 0x5200:
    case 0x5300:
    case 0x5400:
    case 0x5500:
    case 0x5600:
        preferences->SetProfile((command >> 8) - 0x51);
        return;
    default:
        return; // not a command
    }
}

#endif
