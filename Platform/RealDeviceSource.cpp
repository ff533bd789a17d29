// RealDeviceSource: placeholder for the libusb + uhid backend.
#include "RealDeviceSource.h"

Status RealDeviceSource::start(DeviceSourceListener& listener) {
    (void)listener;
    return Status::fail("real device backend not available yet; set SABLECOIL_PLATFORM=virtual "
                        "to drive the simulator's mice");
}
