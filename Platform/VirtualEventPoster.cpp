// VirtualEventPoster: synthetic input events as calls to the simulator.
#include "VirtualEventPoster.h"

#include "SimulatorBus.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

VirtualEventPoster::VirtualEventPoster() : VirtualEventPoster(QDBusConnection::sessionBus()) {}

VirtualEventPoster::VirtualEventPoster(const QDBusConnection& connection)
    : fConnection(connection) {}

IoStatus VirtualEventPoster::open() {
    QDBusConnectionInterface* bus = fConnection.interface();
    if (bus == nullptr) {
        return kIoNotOpen;
    }
    const QDBusReply<bool> registered =
        bus->isServiceRegistered(QString::fromLatin1(SimulatorBus::kService));
    return registered.isValid() && registered.value() ? kIoSuccess : kIoNotOpen;
}

IoStatus VirtualEventPoster::postKey(std::uint8_t keyCode, bool down, bool repeat) {
    return post("PostKey", {QVariant::fromValue<uchar>(keyCode), down, repeat});
}

IoStatus VirtualEventPoster::postFlagsChanged(std::uint32_t flags) {
    return post("PostFlags", {QVariant::fromValue<uint>(flags)});
}

IoStatus VirtualEventPoster::postKeyboardEvent(std::uint8_t keyCode, bool down) {
    return post("PostKeyboard", {QVariant::fromValue<uchar>(keyCode), down});
}

IoStatus VirtualEventPoster::postAuxKey(std::uint8_t auxKeyCode) {
    return post("PostAux", {QVariant::fromValue<uchar>(auxKeyCode)});
}

IoStatus VirtualEventPoster::postSystemDefined(std::uint8_t subtype) {
    return post("PostSystemDefined", {QVariant::fromValue<uchar>(subtype)});
}

IoStatus VirtualEventPoster::post(const char* method, const QVariantList& arguments) {
    QDBusMessage call = SimulatorBus::methodCall(method);
    call.setArguments(arguments);
    const QDBusMessage reply = fConnection.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage) {
        if (reply.signature() != QLatin1String("i")) {
            return kIoError; // not the simulator's answer
        }
        return static_cast<IoStatus>(reply.arguments().at(0).toInt());
    }
    const QString error = reply.errorName();
    if (error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
        error == QLatin1String("org.freedesktop.DBus.Error.Disconnected")) {
        return kIoNotOpen; // the simulator is gone: the next open() tells when it is back
    }
    if (error == QLatin1String(SimulatorBus::kErrorInvalidArgs)) {
        return kIoBadArgument;
    }
    return kIoNotResponding;
}
