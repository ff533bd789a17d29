// UsbAccess: USB devices of one vendor and product. First-match and
// termination notifications on the main loop, opening a device (which fails
// with kIoExclusiveAccess while another party holds it) and control requests
// on its default pipe. Virtual backend: the simulator's mice. Real backend:
// libudev for the notifications; the requests go through the driver host,
// which owns the interface.
#pragma once

#include "HidDriverBase.h"
#include "IoStatus.h"
#include "Result.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct UsbDevice {
    std::string id; // stable while the device is attached
    std::uint16_t idVendor = 0;
    std::uint16_t idProduct = 0;
    std::uint16_t bcdDevice = 0;
};

class UsbAccess {
public:
    using DevicesHandler = std::function<void(const std::vector<UsbDevice>& devices)>;

    virtual ~UsbAccess() = default;

    // Registers for devices of the pair that appear from now on; returns those
    // already present, which the caller handles at once.
    virtual Result<std::vector<UsbDevice>> addMatchingNotification(std::uint16_t idVendor,
                                                                   std::uint16_t idProduct,
                                                                   DevicesHandler added) = 0;
    // Registers for devices of the pair that go away.
    virtual Status addTerminationNotification(std::uint16_t idVendor, std::uint16_t idProduct,
                                              DevicesHandler removed) = 0;

    virtual IoStatus open(const UsbDevice& device) = 0;
    virtual IoStatus deviceRequest(const UsbDevice& device, DeviceRequest& request) = 0;
    virtual void close(const UsbDevice& device) = 0;
};
