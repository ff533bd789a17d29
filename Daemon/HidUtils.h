// HidUtils: the functions the agent and the application share for finding the
// mouse's driver instance and the HID system, reading and writing the HID
// system's parameters, the double-click time and the primary button.
// One module, built into both programs; no class, a little file-level state.
#pragma once

#include "IoStatus.h"
#include "PlistValue.h"
#include "ServiceRegistry.h"

#include <cstdint>
#include <string_view>
#include <vector>

// The driver's registered class name, by which its instances are found.
inline constexpr std::string_view kSablecoilClassName = "com_orvix_driver_OrvixSablecoilDriver";
// The HID system's pseudo handle (the parameter service is not a driver instance).
inline constexpr std::string_view kHidSystemHandle = "IOHIDSystem";

// Double-click times in nanoseconds, indexed by the integer part of the 0..10 speed.
extern const std::uint64_t clickSpeeds[11];

// All driver instances, in registration order, into hidObjectIterator.
IoStatus FindDevices(std::vector<ServiceHandle>& hidObjectIterator);
// The HID system's handle, or an empty handle when it cannot be reached.
ServiceHandle FindHidSystem();
// The driver instance to use (see the rules in the source); empty when none.
ServiceHandle FindSablecoil(const ServiceHandle& currSablecoil, bool useCurrentIfFound);
// Whether the instance last accepted by FindSablecoil drives a first-generation mouse.
bool SablecoilIsV1();

// One entry of the HID system's parameters; an empty value when absent.
PlistValue CopyHidSystemParamValue(std::string_view keyName);
// Sets one entry of the HID system's parameters.
IoStatus SetHidSystemParamValue(const PlistValue& value, std::string_view keyName);

// The current double-click time in nanoseconds, 0 when it cannot be read.
double GetDblClickSpeed();
// Sets the double-click time from the stored 0 (shortest) .. 10 (longest) speed.
void SetDblClickSpeed(double speed);
bool IsRightButtonPrimary();
void SetIsRightButtonPrimary(bool rightIsPrimary);
