// VirtualHidSystem: the HID system's parameters kept by the simulator
// (sablecoil-sim) on the session bus: GetParameters and SetParameter.
#pragma once

#include "HidSystem.h"

#include <QDBusConnection>

class VirtualHidSystem : public HidSystem {
public:
    // On the session bus.
    VirtualHidSystem();
    explicit VirtualHidSystem(const QDBusConnection& connection);

    bool isAvailable() override;
    Result<PlistValue> copyParameters() override;
    IoStatus setParameters(const PlistValue& parameters) override;

private:
    QDBusConnection fConnection;
};
