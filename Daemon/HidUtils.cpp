// HidUtils: driver instance discovery and the HID system's parameters.
#include "HidUtils.h"

#include "DeviceIds.h"
#include "HidSystem.h"
#include "PlatformServices.h"

#include <algorithm>
#include <cstdio>

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
