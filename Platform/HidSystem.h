// HidSystem: the desktop's pointer parameters, as the HID system's parameter
// dictionary: "HIDClickTime" (int64 nanoseconds), "HIDPointerButtonMode"
// (1 = right button primary, 2 = normal) and "HIDMouseAcceleration" (real).
// Virtual backend: the simulator's parameters. Real backend: GSettings
// (docs/decisions.md has the mapping).
#pragma once

#include "IoStatus.h"
#include "PlistValue.h"
#include "Result.h"

class HidSystem {
public:
    virtual ~HidSystem() = default;

    // Whether the HID system can be reached at all.
    virtual bool isAvailable() = 0;
    // The whole parameter dictionary.
    virtual Result<PlistValue> copyParameters() = 0;
    // Merges the entries of a dictionary into the parameters.
    virtual IoStatus setParameters(const PlistValue& parameters) = 0;
};
