// VirtualEventPoster: synthetic input events posted to the simulator's event
// sink (sablecoil-sim) on the session bus. Every post is a blocking call, so
// an event is in the simulator's log, in posting order, when the post returns.
#pragma once

#include "EventPoster.h"

#include <QDBusConnection>
#include <QVariantList>

class VirtualEventPoster : public EventPoster {
public:
    static constexpr int kCallTimeoutMs = 5000;

    // On the session bus.
    VirtualEventPoster();
    explicit VirtualEventPoster(const QDBusConnection& connection);

    // kIoSuccess while the simulator is on the bus, else kIoNotOpen.
    IoStatus open() override;

    IoStatus postKey(std::uint8_t keyCode, bool down, bool repeat) override;
    IoStatus postFlagsChanged(std::uint32_t flags) override;
    IoStatus postKeyboardEvent(std::uint8_t keyCode, bool down) override;
    IoStatus postAuxKey(std::uint8_t auxKeyCode) override;
    IoStatus postSystemDefined(std::uint8_t subtype) override;

private:
    // Calls one Post method; the simulator's status, or what the failed call means.
    IoStatus post(const char* method, const QVariantList& arguments);

    QDBusConnection fConnection;
};
