// FakePlatform: in-memory platform services for the agent's unit tests. Each
// fake records what the code under test asked of it.
#pragma once

#include "ConsoleSession.h"
#include "EventPoster.h"
#include "HidSystem.h"
#include "NotificationCenter.h"
#include "PlatformServices.h"
#include "ServiceRegistry.h"
#include "UsbAccess.h"

#include <cstdio>
#include <map>
#include <string>
#include <vector>

class FakeRegistry : public ServiceRegistry {
public:
    struct Service {
        ServiceHandle handle;
        PlistValue properties;
    };
    struct SetCall {
        ServiceHandle service;
        PlistValue properties;
    };

    void add(const ServiceHandle& handle, std::int64_t vendor, std::int64_t product) {
        services.push_back(
            {handle, PlistValue::dictionary({{"idVendor", PlistValue::int64(vendor)},
                                             {"idProduct", PlistValue::int64(product)}})});
    }

    Result<std::vector<ServiceHandle>> matchingServices(std::string_view) override {
        if (failLookup) {
            return Result<std::vector<ServiceHandle>>::fail("lookup failed");
        }
        std::vector<ServiceHandle> handles;
        for (const auto& s : services) {
            handles.push_back(s.handle);
        }
        return handles;
    }
    Result<PlistValue> copyProperties(const ServiceHandle& service) override {
        for (const auto& s : services) {
            if (s.handle == service) {
                return s.properties;
            }
        }
        return Result<PlistValue>::fail("no such service");
    }
    IoStatus setProperties(const ServiceHandle& service, const PlistValue& properties) override {
        setCalls.push_back({service, properties});
        return setStatus;
    }
    IoStatus addInterestNotification(const ServiceHandle& service, MessageHandler) override {
        interest.push_back(service);
        return kIoSuccess;
    }

    std::vector<Service> services;
    std::vector<SetCall> setCalls;
    std::vector<ServiceHandle> interest;
    IoStatus setStatus = kIoSuccess;
    bool failLookup = false;
};

class FakeHidSystem : public HidSystem {
public:
    bool isAvailable() override { return available; }
    Result<PlistValue> copyParameters() override { return parameters; }
    IoStatus setParameters(const PlistValue& values) override {
        for (const auto& [key, value] : values.dict()) {
            parameters.set(key, value);
        }
        return kIoSuccess;
    }
    bool available = true;
    PlistValue parameters = PlistValue::dictionary();
};

class FakeUsb : public UsbAccess {
public:
    struct Device {
        int busyOpens = 0;
        std::uint16_t firmware = 0;
        bool failRequest = false;
    };
    Result<std::vector<UsbDevice>> addMatchingNotification(std::uint16_t, std::uint16_t,
                                                           DevicesHandler) override {
        return std::vector<UsbDevice>{};
    }
    Status addTerminationNotification(std::uint16_t, std::uint16_t, DevicesHandler) override {
        return Status::success();
    }
    IoStatus open(const UsbDevice& device) override {
        ++opens;
        Device& d = devices[device.id];
        if (d.busyOpens > 0) {
            --d.busyOpens;
            return kIoExclusiveAccess;
        }
        return kIoSuccess;
    }
    IoStatus deviceRequest(const UsbDevice& device, DeviceRequest& request) override {
        Device& d = devices[device.id];
        if (d.failRequest) {
            return kIoNotResponding;
        }
        request.data[0] = static_cast<std::uint8_t>(d.firmware >> 8);
        request.data[1] = static_cast<std::uint8_t>(d.firmware);
        return kIoSuccess;
    }
    void close(const UsbDevice&) override {}

    std::map<std::string, Device> devices;
    int opens = 0;
};

class FakeSession : public ConsoleSession {
public:
    std::optional<SessionInfo> copySessionInfo() override { return info; }
    void setBecameActiveHandler(std::function<void()> handler) override {
        becameActive = std::move(handler);
    }
    std::optional<SessionInfo> info = SessionInfo{true, true, "alice", 1000};
    std::function<void()> becameActive;
};

class FakeNotifications : public NotificationCenter {
public:
    struct Posted {
        std::string name;
        std::string object;
        PlistValue userInfo;
    };
    Status post(const std::string& name, const std::string& object,
                const PlistValue& userInfo) override {
        posted.push_back({name, object, userInfo});
        return Status::success();
    }
    int addObserver(const std::string&, const std::string&, Handler handler) override {
        observers.push_back(std::move(handler));
        return static_cast<int>(observers.size()) - 1;
    }
    void removeObserver(int) override {}
    std::vector<Posted> posted;
    std::vector<Handler> observers;
};

// Records posted events in the simulator's log format.
class FakeEvents : public EventPoster {
public:
    IoStatus open() override { return kIoSuccess; }
    IoStatus postKey(std::uint8_t keyCode, bool down, bool repeat) override {
        return add(down ? "keydown 0x" + hex(keyCode) + " repeat=" + (repeat ? "1" : "0")
                        : "keyup 0x" + hex(keyCode));
    }
    IoStatus postFlagsChanged(std::uint32_t flags) override { return add("flags 0x" + hex(flags)); }
    IoStatus postKeyboardEvent(std::uint8_t keyCode, bool down) override {
        return add("keyboard 0x" + hex(keyCode) + (down ? " down" : " up"));
    }
    IoStatus postAuxKey(std::uint8_t auxKeyCode) override {
        return add("aux 0x" + hex(auxKeyCode));
    }
    IoStatus postSystemDefined(std::uint8_t subtype) override {
        return add("sysdefined " + std::to_string(subtype));
    }
    std::vector<std::string> log;

private:
    static std::string hex(std::uint32_t v) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "%x", v);
        return buffer;
    }
    IoStatus add(std::string line) {
        log.push_back(std::move(line));
        return kIoSuccess;
    }
};

class FakePlatform : public PlatformServices {
public:
    FakePlatform() { PlatformServices::setCurrent(this); }
    ~FakePlatform() override { PlatformServices::setCurrent(nullptr); }
    ServiceRegistry& registry() override { return fRegistry; }
    HidSystem& hidSystem() override { return fHid; }
    UsbAccess& usb() override { return fUsb; }
    ConsoleSession& session() override { return fSession; }
    NotificationCenter& notifications() override { return fNotifications; }
    EventPoster& events() override { return fEvents; }

    FakeRegistry fRegistry;
    FakeHidSystem fHid;
    FakeUsb fUsb;
    FakeSession fSession;
    FakeNotifications fNotifications;
    FakeEvents fEvents;
};
