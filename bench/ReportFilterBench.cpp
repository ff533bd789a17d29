// Benchmarks of the report filter: one handleReport per iteration over a
// repeating mix of reports, with a delivery stub that only counts.
#include "OrvixSablecoilDriver.h"

#include "PlistValue.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <vector>

namespace {

using Driver = com_orvix_driver_OrvixSablecoilDriver;
using Report = std::array<std::uint8_t, 8>;

class StubPort : public DriverPort {
public:
    IoStatus deliverReport(const std::uint8_t* report, std::size_t, std::uint32_t,
                           std::uint32_t) override {
        benchmark::DoNotOptimize(report[0]);
        ++deliveries;
        return kIoSuccess;
    }
    void messageClients(std::uint32_t type) override {
        benchmark::DoNotOptimize(type);
        ++messages;
    }
    bool hidSystemParameter(std::string_view, std::int64_t& value) override {
        value = 0;
        return true;
    }
    bool hasUsbInterface() const override { return true; }
    IoStatus deviceRequest(DeviceRequest&) override { return kIoSuccess; }

    std::size_t deliveries = 0;
    std::size_t messages = 0;
};

Report report(std::uint8_t buttons, std::int16_t x, std::int16_t y, std::int8_t wheel = 0) {
    const auto ux = static_cast<std::uint16_t>(x);
    const auto uy = static_cast<std::uint16_t>(y);
    return {buttons,
            static_cast<std::uint8_t>(x),
            static_cast<std::uint8_t>(y),
            static_cast<std::uint8_t>(wheel),
            static_cast<std::uint8_t>(ux),
            static_cast<std::uint8_t>(ux >> 8),
            static_cast<std::uint8_t>(uy),
            static_cast<std::uint8_t>(uy >> 8)};
}

// A driver configured with the given map types, half sensitivity, wheel 2.0
// and on-the-fly sensitivity on.
void configure(Driver& driver, const std::array<std::uint8_t, 7>& types) {
    PlistValue items = PlistValue::array();
    for (std::uint8_t t : types) {
        items.append(t == 5 ? PlistValue::data({5, 4, '1'}) : PlistValue::data({t}));
    }
    PlistValue d = PlistValue::dictionary();
    d.set("Otfs", PlistValue::int32(1));
    d.set("Sensitivity", PlistValue::uint32(0x50000));
    d.set("ScrollWheelSpeed", PlistValue::uint32(0x20000));
    d.set("ButtonMappings", items);
    driver.setProperties(d);
}

void runMix(benchmark::State& state, const std::array<std::uint8_t, 7>& layout,
            const std::vector<Report>& mix) {
    StubPort port;
    Driver driver;
    driver.attachPort(&port);
    configure(driver, layout);
    std::size_t i = 0;
    for (auto _ : state) {
        Report r = mix[i];
        benchmark::DoNotOptimize(driver.handleReport(r.data(), r.size(), 0, 0));
        benchmark::ClobberMemory();
        if (++i == mix.size()) {
            i = 0;
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    state.counters["deliveries/report"] = benchmark::Counter(
        static_cast<double>(port.deliveries) / static_cast<double>(state.iterations()));
}

const std::array<std::uint8_t, 7> sDefaultLayout = {0, 1, 9, 3, 4, 10, 11};

void BM_ReportMotionOnly(benchmark::State& state) {
    std::vector<Report> mix;
    for (int k = 0; k < 16; ++k) {
        mix.push_back(
            report(0, static_cast<std::int16_t>(k - 8), static_cast<std::int16_t>(3 - k)));
    }
    runMix(state, sDefaultLayout, mix);
}
BENCHMARK(BM_ReportMotionOnly);

void BM_ReportMotionAndWheel(benchmark::State& state) {
    std::vector<Report> mix;
    for (int k = 0; k < 16; ++k) {
        mix.push_back(report(0, static_cast<std::int16_t>(k * 20 - 150), 4,
                             static_cast<std::int8_t>(k % 3 - 1)));
    }
    runMix(state, sDefaultLayout, mix);
}
BENCHMARK(BM_ReportMotionAndWheel);

// Each input of a layout holding a different map type, pressed (with motion
// and a wheel step) and released in turn: click, menu, key, macro, DPI set,
// profile switch, on-the-fly, macro with on-the-fly, pass-through, button off
// and the wheel inputs used as buttons.
void BM_ReportPressReleaseEachMapType(benchmark::State& state) {
    // Two drivers hold the two layouts; the mix runs through all inputs of
    // the first, then of the second.
    StubPort port;
    Driver drivers[2];
    const std::array<std::array<std::uint8_t, 7>, 2> layouts = {{
        {0, 1, 3, 4, 6, 7, 12},  // wheel up DPI set (button), wheel down button off
        {1, 0, 8, 9, 12, 5, 13}, // input 2 on-the-fly, wheel up macro with on-the-fly
    }};
    const std::uint8_t bits[] = {0x01, 0x02, 0x04, 0x10, 0x08};
    struct Entry {
        int driver;
        Report report;
    };
    std::vector<Entry> mix;
    for (int d = 0; d < 2; ++d) {
        drivers[d].attachPort(&port);
        configure(drivers[d], layouts[static_cast<std::size_t>(d)]);
        for (std::uint8_t bit : bits) {
            mix.push_back({d, report(bit, 0, 0)});
            mix.push_back({d, report(bit, 3, -2, 1)});
            mix.push_back({d, report(0, 1, 0)});
        }
        mix.push_back({d, report(0, 0, 0, 1)});
        mix.push_back({d, report(0, 0, 0, -1)});
        mix.push_back({d, report(0x80, 0, 0)});
    }
    std::size_t i = 0;
    for (auto _ : state) {
        Report r = mix[i].report;
        benchmark::DoNotOptimize(drivers[mix[i].driver].handleReport(r.data(), r.size(), 0, 0));
        benchmark::ClobberMemory();
        if (++i == mix.size()) {
            i = 0;
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_ReportPressReleaseEachMapType);

void BM_ReportDoubleClick(benchmark::State& state) {
    // Press (replayed as press, release, press) and release of a double-click input.
    runMix(state, {0, 1, 2, 0, 0, 10, 11}, {report(0x04, 0, 0), report(0, 0, 0)});
}
BENCHMARK(BM_ReportDoubleClick);

} // namespace

BENCHMARK_MAIN();
