// PlatformFactory: builds the service set of one kind. Real: the driver
// host's instances on the system bus, GSettings, logind, broadcasts on the
// session bus and a uinput keyboard. Virtual: the same registry and
// broadcasts, and the simulator for pointer parameters, USB devices, the
// console session and posted events.
#pragma once

#include "PlatformServices.h"

#include <memory>

class PlatformFactory {
public:
    static std::unique_ptr<PlatformServices> create(PlatformServices::Kind kind);
};
