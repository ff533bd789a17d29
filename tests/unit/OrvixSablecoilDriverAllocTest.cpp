// Shows that the report path allocates nothing: this executable replaces the
// global operator new and delete with counting versions and runs a mix of
// reports (motion, wheel, every map type pressed and released, double click)
// between start and stop of the count. Kept apart from the other tests so the
// replaced allocator touches no one else.
#include "OrvixSablecoilDriver.h"

#include "PlistValue.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> sCounting{false};
std::atomic<std::size_t> sAllocations{0};

void* countedAlloc(std::size_t size, std::size_t alignment = 0) {
    if (sCounting.load(std::memory_order_relaxed)) {
        sAllocations.fetch_add(1, std::memory_order_relaxed);
    }
    if (size == 0) {
        size = 1;
    }
    void* p = nullptr;
    if (alignment > alignof(std::max_align_t)) {
        size = (size + alignment - 1) / alignment * alignment;
        p = std::aligned_alloc(alignment, size);
    } else {
        p = std::malloc(size);
    }
    return p;
}

} // namespace

void* operator new(std::size_t size) {
    if (void* p = countedAlloc(size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = countedAlloc(size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return countedAlloc(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return countedAlloc(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    if (void* p = countedAlloc(size, static_cast<std::size_t>(alignment))) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    if (void* p = countedAlloc(size, static_cast<std::size_t>(alignment))) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}

namespace {

using Driver = com_orvix_driver_OrvixSablecoilDriver;

// Counts deliveries and messages without storing them.
class CountingPort : public DriverPort {
public:
    IoStatus deliverReport(const std::uint8_t*, std::size_t, std::uint32_t,
                           std::uint32_t) override {
        ++deliveries;
        return kIoSuccess;
    }
    void messageClients(std::uint32_t) override { ++messages; }
    bool hidSystemParameter(std::string_view, std::int64_t& value) override {
        value = 0;
        return true;
    }
    bool hasUsbInterface() const override { return true; }
    IoStatus deviceRequest(DeviceRequest&) override { return kIoSuccess; }

    std::size_t deliveries = 0;
    std::size_t messages = 0;
};

void startCounting() {
    sAllocations.store(0);
    sCounting.store(true);
}

std::size_t stopCounting() {
    sCounting.store(false);
    return sAllocations.load();
}

TEST(DriverAllocations, CounterSeesAnAllocation) {
    startCounting();
    auto* p = new int(1);
    const std::size_t counted = stopCounting();
    delete p;
    EXPECT_EQ(counted, 1u);
}

TEST(DriverAllocations, ReportPathAllocatesNothing) {
    CountingPort port;
    Driver driver;
    driver.attachPort(&port);

    // One input of every map type (the wheels as buttons), on-the-fly enabled.
    PlistValue d = PlistValue::dictionary();
    d.set("Otfs", PlistValue::int32(1));
    d.set("Sensitivity", PlistValue::uint32(0x50000));
    d.set("ScrollWheelSpeed", PlistValue::uint32(0x20000));
    const auto mappingsFor = [](std::array<std::uint8_t, 7> types) {
        PlistValue items = PlistValue::array();
        for (std::uint8_t t : types) {
            items.append(t == 5 ? PlistValue::data({5, 4, '1'}) : PlistValue::data({t}));
        }
        return items;
    };
    const std::array<std::array<std::uint8_t, 7>, 3> layouts = {{
        {0, 1, 2, 3, 4, 6, 7},
        {5, 8, 9, 12, 10, 11, 13},
        {1, 0, 12, 9, 3, 4, 2},
    }};
    const std::uint8_t buttons[] = {0x01, 0x02, 0x04, 0x10, 0x08, 0x80, 0x14, 0x1F, 0x00};

    startCounting();
    for (const auto& layout : layouts) {
        sCounting.store(false); // the property intake may allocate
        d.set("ButtonMappings", mappingsFor(layout));
        driver.setProperties(d);
        sCounting.store(true);
        for (std::uint8_t b : buttons) {
            for (std::int8_t wheel : {0, 1, -1}) {
                for (std::int16_t x : {0, 7, -300}) {
                    std::array<std::uint8_t, 8> press = {
                        b,
                        0,
                        0,
                        static_cast<std::uint8_t>(wheel),
                        static_cast<std::uint8_t>(x),
                        static_cast<std::uint8_t>(static_cast<std::uint16_t>(x) >> 8),
                        3,
                        0};
                    driver.handleReport(press.data(), press.size(), 0, 0);
                    std::array<std::uint8_t, 8> release = {0, 0, 0, 0, 0, 0, 0, 0};
                    driver.handleReport(release.data(), release.size(), 0, 0);
                }
            }
        }
        // a double click without motion, and a short report
        std::array<std::uint8_t, 8> dbl = {0x04, 0, 0, 0, 0, 0, 0, 0};
        driver.handleReport(dbl.data(), dbl.size(), 0, 0);
        std::array<std::uint8_t, 3> shortReport = {1, 2, 3};
        driver.handleReport(shortReport.data(), shortReport.size(), 0, 0);
    }
    const std::size_t counted = stopCounting();

    EXPECT_EQ(counted, 0u);
    // The mix really exercised the path: replays and messages happened.
    EXPECT_GT(port.deliveries, 3u * 9 * 3 * 3 * 2);
    EXPECT_GT(port.messages, 0u);
}

} // namespace
