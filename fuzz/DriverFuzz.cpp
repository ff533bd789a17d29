// Fuzz target for the report filter: property dictionaries built from the
// input (known keys with integer, data, array and other values) interleaved
// with report sequences, short ones included. Checks that every report is
// delivered exactly once, or three times (press, release, press) for a double
// click; that a short report passes unchanged; and that every message word is
// well formed.
#include "OrvixSablecoilDriver.h"

#include "PlistValue.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Driver = com_orvix_driver_OrvixSablecoilDriver;
using Bytes = std::vector<std::uint8_t>;

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : fData(data), fSize(size) {}
    bool done() const { return fPos >= fSize; }
    std::uint8_t byte() { return fPos < fSize ? fData[fPos++] : 0; }
    std::uint32_t word() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            v |= static_cast<std::uint32_t>(byte()) << (8 * i);
        }
        return v;
    }
    Bytes bytes(std::size_t n) {
        Bytes out;
        for (std::size_t i = 0; i < n; ++i) {
            out.push_back(byte());
        }
        return out;
    }

private:
    const std::uint8_t* fData;
    std::size_t fSize;
    std::size_t fPos = 0;
};

class FuzzPort : public DriverPort {
public:
    IoStatus deliverReport(const std::uint8_t* report, std::size_t length, std::uint32_t,
                           std::uint32_t) override {
        deliveries.emplace_back(report, report + length);
        return kIoSuccess;
    }
    void messageClients(std::uint32_t type) override { messages.push_back(type); }
    bool hidSystemParameter(std::string_view, std::int64_t& value) override {
        value = buttonMode;
        return hasButtonMode;
    }
    bool hasUsbInterface() const override { return usb; }
    IoStatus deviceRequest(DeviceRequest& request) override {
        if (request.wLength != 4 || request.data == nullptr || request.bmRequestType != 0x21) {
            std::abort();
        }
        return failRequests ? kIoPipeStall : kIoSuccess;
    }

    std::vector<Bytes> deliveries;
    std::vector<std::uint32_t> messages;
    std::int64_t buttonMode = 0;
    bool hasButtonMode = false;
    bool usb = true;
    bool failRequests = false;
};

const char* const sKeys[] = {
    "DeviceVersion",        "Resolution",
    "PollingRate",          "GlowLogoOn",
    "ScrollLightOn",        "ProfileNumber",
    "MasterSensitivityOn",  "MasterSensitivityX",
    "MasterSensitivityY",   "Sensitivity",
    "ScrollWheelSpeed",     "MasterAccelOn",
    "MasterAccel",          "HIDPointerAcceleration",
    "HIDPointerButtonMode", "Otfs",
    "ButtonMappings",       "Unknown",
};

PlistValue scalar(Reader& in) {
    switch (in.byte() % 6) {
    case 0:
        return PlistValue::integer(static_cast<std::int32_t>(in.word()),
                                   in.byte() & 1 ? PlistValue::Width::Bits32
                                                 : PlistValue::Width::Bits64);
    case 1:
        return PlistValue::integer(in.byte() % 16,
                                   PlistValue::Width::Bits8); // small values hit the tables
    case 2:
        return PlistValue::data(in.bytes(in.byte() % 6));
    case 3:
        return PlistValue::boolean(in.byte() & 1);
    case 4:
        return PlistValue::real(static_cast<std::int32_t>(in.word()) / 65536.0);
    default:
        return PlistValue::string(std::string(in.byte() % 4, 'x'));
    }
}

PlistValue mappingArray(Reader& in) {
    PlistValue items = PlistValue::array();
    const std::size_t count = in.byte() % 10;
    for (std::size_t i = 0; i < count; ++i) {
        if (in.byte() % 8 == 0) {
            items.append(scalar(in)); // not always data
        } else {
            Bytes record = in.bytes(in.byte() % 4);
            if (!record.empty()) {
                record[0] %= 16; // mostly the known map types
            }
            items.append(PlistValue::data(record));
        }
    }
    return items;
}

PlistValue properties(Reader& in) {
    if (in.byte() % 32 == 0) {
        return mappingArray(in); // not a dictionary
    }
    PlistValue d = PlistValue::dictionary();
    const std::size_t count = in.byte() % 8;
    for (std::size_t i = 0; i < count; ++i) {
        const char* key = sKeys[in.byte() % std::size(sKeys)];
        d.set(key, std::string_view(key) == "ButtonMappings" && in.byte() % 4 != 0
                       ? mappingArray(in)
                       : scalar(in));
    }
    return d;
}

void checkMessage(std::uint32_t word) {
    const std::uint32_t input = (word >> 8) & 0xFF;
    if ((word >> 24) != 0 || (input > 6 && input != Driver::kMessageNoInput) ||
        ((word >> 16) & 0xE0) != 0) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in(data, size);
    FuzzPort port;
    Driver driver;
    driver.attachPort(&port);

    while (!in.done()) {
        const std::uint8_t op = in.byte();
        if (op % 5 == 0) {
            port.usb = (op & 0x10) == 0;
            port.failRequests = (op & 0x20) != 0;
            port.hasButtonMode = (op & 0x40) != 0;
            port.buttonMode = (op & 0x80) ? 1 : 2;
            const PlistValue props = properties(in);
            if (driver.setProperties(props) !=
                (props.isDictionary() ? kIoSuccess : kIoBadArgument)) {
                std::abort();
            }
            continue;
        }
        // A report; one in eight is short.
        const std::size_t length = op % 8 == 1 ? in.byte() % 8 : 8;
        Bytes report = in.bytes(length);
        const Bytes original = report;
        port.deliveries.clear();
        port.messages.clear();
        driver.handleReport(report.data(), report.size(), 0, 0);

        for (std::uint32_t word : port.messages) {
            checkMessage(word);
        }
        if (port.messages.size() > 2) {
            std::abort();
        }
        for (const Bytes& delivered : port.deliveries) {
            if (delivered.size() != length) {
                std::abort();
            }
        }
        if (length < Driver::kReportLength) {
            if (port.deliveries.size() != 1 || port.deliveries[0] != original ||
                !port.messages.empty()) {
                std::abort();
            }
        } else if (port.deliveries.size() == 3) {
            // A double click: press, release, press of the primary button.
            const std::uint8_t primary = port.deliveries[0][0];
            if ((primary != 1 && primary != 2) || port.deliveries[1][0] != 0 ||
                port.deliveries[2][0] != primary) {
                std::abort();
            }
        } else if (port.deliveries.size() != 1) {
            std::abort();
        }
    }
    return 0;
}
