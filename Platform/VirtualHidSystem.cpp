// VirtualHidSystem: the simulator's parameter dictionary over D-Bus.
#include "VirtualHidSystem.h"

#include "DBusPlist.h"
#include "PlistToDBus.h"
#include "SimulatorBus.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>

VirtualHidSystem::VirtualHidSystem() : VirtualHidSystem(QDBusConnection::sessionBus()) {}

VirtualHidSystem::VirtualHidSystem(const QDBusConnection& connection) : fConnection(connection) {}

bool VirtualHidSystem::isAvailable() {
    QDBusConnectionInterface* bus = fConnection.interface();
    return bus && bus->isServiceRegistered(QString::fromLatin1(SimulatorBus::kService)).value();
}

Result<PlistValue> VirtualHidSystem::copyParameters() {
    const QDBusMessage reply = fConnection.call(SimulatorBus::methodCall("GetParameters"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        return Result<PlistValue>::fail("cannot read the simulator's parameters: " +
                                        reply.errorMessage().toStdString());
    }
    const QVariant map = reply.arguments().first();
    PlistValue parameters = DBusPlist::fromVariant(map);
    if (!parameters.isDictionary()) {
        return Result<PlistValue>::fail("the simulator's parameters are not a dictionary");
    }
    return parameters;
}

IoStatus VirtualHidSystem::setParameters(const PlistValue& parameters) {
    if (!parameters.isDictionary()) {
        return kIoBadArgument;
    }
    for (const auto& [key, value] : parameters.dict()) {
        QDBusMessage call = SimulatorBus::methodCall("SetParameter");
        call << QString::fromStdString(key)
             << QVariant::fromValue(QDBusVariant(PlistToDBus::toVariant(value)));
        const QDBusMessage reply = fConnection.call(call);
        if (reply.type() != QDBusMessage::ReplyMessage) {
            return reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")
                       ? kIoNotFound
                       : kIoBadArgument;
        }
    }
    return kIoSuccess;
}
