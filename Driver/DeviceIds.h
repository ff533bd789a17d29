// DeviceIds: what identifies the mouse and the driver module. The vendor and
// the two product ids are build configuration: CMake's SABLECOIL_VENDOR_ID,
// SABLECOIL_V1_PRODUCT_ID and SABLECOIL_V2_PRODUCT_ID cache variables reach
// this header as compile definitions of every target that links
// SablecoilDriver; without them the defaults below apply.
#pragma once

#include <cstdint>
#include <string_view>

#ifndef SABLECOIL_VENDOR_ID
#define SABLECOIL_VENDOR_ID 0x2F1A
#endif
#ifndef SABLECOIL_V1_PRODUCT_ID
#define SABLECOIL_V1_PRODUCT_ID 0x5301
#endif
#ifndef SABLECOIL_V2_PRODUCT_ID
#define SABLECOIL_V2_PRODUCT_ID 0x5302
#endif

// USB "idVendor" of the mouse's maker.
inline constexpr std::uint16_t kSablecoilVendorId = SABLECOIL_VENDOR_ID;
// USB "idProduct" of the first generation (three resolution steps).
inline constexpr std::uint16_t kSablecoilV1ProductId = SABLECOIL_V1_PRODUCT_ID;
// USB "idProduct" of the second generation (four resolution steps).
inline constexpr std::uint16_t kSablecoilV2ProductId = SABLECOIL_V2_PRODUCT_ID;

static_assert(kSablecoilV1ProductId != kSablecoilV2ProductId,
              "the two generations need distinct product ids");

// The driver module's identifier and version.
inline constexpr std::string_view kDriverModuleIdentifier = "com.orvix.driver.OrvixSablecoilDriver";
inline constexpr std::string_view kDriverModuleVersion = "2.0.2";
