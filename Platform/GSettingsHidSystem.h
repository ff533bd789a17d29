// GSettingsHidSystem: the HID system parameters on the desktop's pointer
// settings (GSettings schema org.gnome.desktop.peripherals.mouse):
//   "HIDClickTime" (int64 ns)        <-> double-click (int ms, rounded to the nearest ms)
//   "HIDPointerButtonMode" (1 or 2)  <-> left-handed (1 = true, 2 = false)
//   "HIDMouseAcceleration" (real)    <-> speed (-1..1) and accel-profile
// The acceleration mapping is in docs/decisions.md ("Desktop pointer settings").
#pragma once

#include "HidSystem.h"

#include <string>

typedef struct _GSettings GSettings;

class GSettingsHidSystem : public HidSystem {
public:
    static constexpr const char* kMouseSchema = "org.gnome.desktop.peripherals.mouse";

    // The acceleration range the suite uses; larger values are taken as the maximum.
    static constexpr double kMaxAcceleration = 3.0;

    GSettingsHidSystem();
    // Another schema with the same keys (tests use this to name a missing one).
    explicit GSettingsHidSystem(std::string schemaId);
    ~GSettingsHidSystem() override;
    GSettingsHidSystem(const GSettingsHidSystem&) = delete;
    GSettingsHidSystem& operator=(const GSettingsHidSystem&) = delete;

    bool isAvailable() override;
    Result<PlistValue> copyParameters() override;
    IoStatus setParameters(const PlistValue& parameters) override;

    // The acceleration mapping, both ways (acceleration 0 is the flat profile
    // and leaves speed as it is).
    static double speedForAcceleration(double acceleration);
    static double accelerationForSpeed(double speed);

private:
    // Opens the settings when the schema is installed with the keys used here.
    GSettings* settings();

    std::string fSchemaId;
    GSettings* fSettings = nullptr;
    bool fLookedUp = false;
};
