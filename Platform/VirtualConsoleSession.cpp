// VirtualConsoleSession: the simulator's console session over D-Bus.
#include "VirtualConsoleSession.h"

#include "SimulatorBus.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QMetaType>
#include <QVariantMap>

namespace {

const char* const sSignal = "SessionBecameActive";

// The entry of the session dictionary if it has the D-Bus type expected.
bool entryOf(const QVariantMap& map, const char* key, int type, QVariant& value) {
    value = map.value(QString::fromLatin1(key));
    return value.metaType().id() == type;
}

} // namespace

VirtualConsoleSession::VirtualConsoleSession()
    : VirtualConsoleSession(QDBusConnection::sessionBus()) {}

VirtualConsoleSession::VirtualConsoleSession(const QDBusConnection& connection)
    : fConnection(connection) {}

VirtualConsoleSession::~VirtualConsoleSession() {
    if (fSubscribed) {
        fConnection.disconnect(QString::fromLatin1(SimulatorBus::kService),
                               QString::fromLatin1(SimulatorBus::kPath),
                               QString::fromLatin1(SimulatorBus::kInterface),
                               QString::fromLatin1(sSignal), this, SLOT(onSessionBecameActive()));
    }
}

std::optional<SessionInfo> VirtualConsoleSession::copySessionInfo() {
    const QDBusMessage call = SimulatorBus::methodCall("SessionInfo");
    const QDBusMessage reply = fConnection.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String("a{sv}") ||
        reply.arguments().size() != 1) {
        return std::nullopt;
    }
    QVariantMap map;
    reply.arguments().at(0).value<QDBusArgument>() >> map;

    QVariant loginDone;
    QVariant onConsole;
    QVariant userName;
    QVariant userId;
    if (!entryOf(map, "LoginDone", QMetaType::Bool, loginDone) ||
        !entryOf(map, "OnConsole", QMetaType::Bool, onConsole) ||
        !entryOf(map, "UserName", QMetaType::QString, userName) ||
        !entryOf(map, "UserId", QMetaType::UInt, userId)) {
        return std::nullopt;
    }
    SessionInfo info;
    info.loginDone = loginDone.toBool();
    info.onConsole = onConsole.toBool();
    info.userName = userName.toString().toStdString();
    info.userId = userId.toUInt();
    return info;
}

void VirtualConsoleSession::setBecameActiveHandler(std::function<void()> handler) {
    fBecameActive = std::move(handler);
    if (!fSubscribed && fBecameActive) {
        fSubscribed = fConnection.connect(
            QString::fromLatin1(SimulatorBus::kService), QString::fromLatin1(SimulatorBus::kPath),
            QString::fromLatin1(SimulatorBus::kInterface), QString::fromLatin1(sSignal), this,
            SLOT(onSessionBecameActive()));
    }
}

void VirtualConsoleSession::onSessionBecameActive() {
    if (fBecameActive) {
        fBecameActive();
    }
}
