// PlatformServices: which backend set the environment asks for, and the
// program's current set.
#include "PlatformServices.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

PlatformServices* sCurrent = nullptr;

} // namespace

PlatformServices::Kind PlatformServices::selectedKind() {
    const char* value = std::getenv("SABLECOIL_PLATFORM");
    return value && std::strcmp(value, "virtual") == 0 ? Kind::Virtual : Kind::Real;
}

PlatformServices& PlatformServices::current() {
    if (!sCurrent) {
        // A program wires its services in main before anything asks for them.
        std::fprintf(stderr, "Sablecoil: no platform services installed\n");
        std::abort();
    }
    return *sCurrent;
}

void PlatformServices::setCurrent(PlatformServices* services) {
    sCurrent = services;
}
