// CallBacks: the agent's reactions to the outside world, all run on the main
// loop: a mouse of either generation appeared or went away, the user came
// back to the console, the application broadcast new settings, the quit
// request, and the driver's messages.
#pragma once

#include "ServiceRegistry.h"
#include "UsbAccess.h"

#include <cstdint>
#include <vector>

class QTimer;

// Firmware versions of the device read last and of the one read before it.
extern std::uint16_t sCurrVersion;
extern std::uint16_t sOldVersion;

void DeviceAddedNotifProc(const std::vector<UsbDevice>& iterator);
void DeviceRemovedNotifProc(const std::vector<UsbDevice>& iterator);
int SwitchEventsHandler();
void PrefNotifProc(const PlistValue& userInfo);
// Ends the agent: tears down the application and leaves the event loop with status 0.
void HandleAEQuit();
// A message of the driver instance in use: plays keys, macros and commands
// and steps the on-the-fly sensitivity.
void DriverNotifProc(const ServiceHandle& service, std::uint32_t messageType);
// The key-repeat timer's callback: one more key down, marked as a repeat.
void RepeatKey(QTimer* timer, std::uint8_t keyCode);
// Releases a key that a type-3 input still holds and stops its repeat.
void ReleaseHeldKey();
// Closes the on-screen display if one is open.
void CloseSensDrawer();

// The key-repeat timer that may still post; any other repeat timer stops itself.
extern QTimer* sCurrTimer;
