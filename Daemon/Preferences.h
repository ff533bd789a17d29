// Preferences: the agent's settings store. The only place where the agent
// touches the stored settings and the only place where it configures the
// driver: it reads the settings domain of the attached generation, creates it
// with the factory values, marks it active, turns the current profile into the
// driver's property dictionary and sets it on the driver instance, applies the
// desktop's pointer parameters, carries out profile, resolution and sensitivity
// changes, writes them back and broadcasts them to the application.
#pragma once

#include "IoStatus.h"
#include "PlistValue.h"

#include <cstdint>
#include <optional>
#include <string>

// Index into the three sensitivities: both axes, X, Y.
enum SensType : int { kSensBoth = 0, kSensX = 1, kSensY = 2 };

// Names of the broadcast notifications.
inline constexpr const char* kNotificationName = "OrvixSablecoil";
inline constexpr const char* kPrefsChange = "PrefsChange";
inline constexpr const char* kDpiChange = "DpiChange";
inline constexpr const char* kProfileChange = "ProfileChange";
inline constexpr const char* kOtfsChange = "OtfsChange";

class Preferences {
public:
    Preferences() = default;
    virtual ~Preferences() = default;

    // The domain of the attached generation.
    static std::string BundleId();
    // Marks domain active and the other generation's domain inactive.
    static void MakePrefsActive(const std::string& domain);
    // Whether the agent's domain holds at least one key.
    static bool HasPrefs();
    // The factory profile dictionary ("MasterAccel" read from the system).
    static PlistValue FactoryProfile();

    // Creates the domain with the factory values; returns the new top level.
    PlistValue InitPrefs();
    // The current profile number.
    int GetProfile();
    // The current profile, or nothing when there is no profile array.
    std::optional<PlistValue> LoadCurrentProfile();
    void SaveCurrentProfile(const PlistValue& profile);
    void SetProfile(int n);
    int GetDpi();
    void SetDpi(int d);

    double SetSensitivity(double value, SensType index);
    void SendSensToDriver();
    void SaveSensToPrefs();
    void PostOtfsNotification();

    // The push: the profile to the driver and the desktop.
    void SendPrefsToDriver(const std::optional<PlistValue>& profile);
    void ReadPrefs();
    void SetFirmwareVersion(std::uint16_t version);
    void PostDpiChangeNotification(int d);
    void PostProfileChangeNotification(int n);

    static void PrintIOErrMsg(IoStatus status, const char* message);

    // The stored value in the driver's 16.16 fixed point (via single precision).
    static std::int32_t ToFixed(double value);

    PlistValue fMappingArray; // "ButtonMappings" of the last profile pushed, stored order
    double fSens[3] = {0.0, 0.0, 0.0};
    bool fMasterSens = false;
    bool fOtfsOn = true;
    bool fOtfsOnScreen = true;
};
