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

// ---- Synthetic input ------------------------------------------------------

// Action string fields: a key press is the key code + kKeyDown, a release
// + kKeyUp, both + kKeyDownUp; kShortPause waits 50 ms, kTimedPause is
// followed by the pause in milliseconds; kFirstCommand and above are commands.
inline constexpr int kKeyUp = 0x100;
inline constexpr int kKeyDown = 0x200;
inline constexpr int kKeyDownUp = 0x300;
inline constexpr int kShortPause = 0x400;
inline constexpr int kTimedPause = 0x800;
inline constexpr int kFirstCommand = 0x1000;

// Modifier flags asserted by the macro player.
extern std::uint32_t sModifiers;

class EventPoster;
// The posting connection, opened at the first post; nullptr when it cannot be opened.
EventPoster* GetEventDriver();
void BeginHidKeySequence();
// Clears every modifier the player asserted.
IoStatus EndHidKeySequence();
IoStatus DoHidKeyEvent(std::uint8_t virtualKeyCode, int upDown, bool repeat, bool singleKey);
IoStatus DoHidAuxKeyEvent(std::uint8_t auxKeyCode);
IoStatus DoHidSysDefinedKeyEvent(std::uint8_t sysKeyCode);
bool IsModifier(std::uint8_t virtualKeyCode);

// The fields of an action string, read leniently: blanks and a sign may
// lead, digits run to the first other character, a field without digits is 0.
std::vector<int> ParseActionString(std::string_view text);

// Carries out one command code (desktop shortcuts, media scripts, volume and
// eject, resolution stages, profiles). The application's build does nothing.
void DoAdvancedCommand(std::uint16_t command);
