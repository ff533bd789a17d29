// LogindConsoleSession: the console session from systemd-logind.
#include "LogindConsoleSession.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QStringList>
#include <QVariantMap>

#include <unistd.h>

namespace {

constexpr const char* sManagerPath = "/org/freedesktop/login1";
constexpr const char* sManagerInterface = "org.freedesktop.login1.Manager";
constexpr const char* sSessionInterface = "org.freedesktop.login1.Session";
constexpr const char* sProperties = "org.freedesktop.DBus.Properties";
constexpr int sCallTimeoutMs = 5000;

bool isLoggedInState(const QString& state) {
    // "closing" is a session on its way out; it no longer counts as a login.
    return state == QLatin1String("active") || state == QLatin1String("online");
}

} // namespace

LogindConsoleSession::LogindConsoleSession()
    : LogindConsoleSession(QDBusConnection::systemBus(), getuid()) {}

LogindConsoleSession::LogindConsoleSession(const QDBusConnection& connection, uid_t userId)
    : fConnection(connection), fUserId(userId) {}

LogindConsoleSession::~LogindConsoleSession() {
    if (fSubscribed) {
        fConnection.disconnect(kService, QString(), sProperties, "PropertiesChanged", this,
                               SLOT(onPropertiesChanged(QDBusMessage)));
    }
}

std::optional<std::vector<LogindConsoleSession::SessionEntry>>
LogindConsoleSession::listSessions() {
    const QDBusMessage call =
        QDBusMessage::createMethodCall(kService, sManagerPath, sManagerInterface, "ListSessions");
    const QDBusMessage reply = fConnection.call(call, QDBus::Block, sCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage ||
        reply.signature() != QLatin1String("a(susso)") || reply.arguments().size() != 1) {
        return std::nullopt;
    }
    std::vector<SessionEntry> sessions;
    const QDBusArgument argument = reply.arguments().at(0).value<QDBusArgument>();
    argument.beginArray();
    while (!argument.atEnd()) {
        SessionEntry entry;
        QDBusObjectPath path;
        argument.beginStructure();
        argument >> entry.id >> entry.userId >> entry.userName >> entry.seat >> path;
        argument.endStructure();
        entry.path = path.path();
        sessions.push_back(std::move(entry));
    }
    argument.endArray();
    return sessions;
}

std::optional<SessionInfo> LogindConsoleSession::copySessionInfo() {
    const auto sessions = listSessions();
    if (!sessions) {
        return std::nullopt;
    }
    // The user's sessions on seat0; the active one wins when there are several.
    std::optional<SessionInfo> chosen;
    for (const SessionEntry& entry : *sessions) {
        if (entry.userId != fUserId || entry.seat != QLatin1String(kSeat)) {
            continue;
        }
        QDBusMessage call =
            QDBusMessage::createMethodCall(kService, entry.path, sProperties, "GetAll");
        call << QString::fromLatin1(sSessionInterface);
        const QDBusMessage reply = fConnection.call(call, QDBus::Block, sCallTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage ||
            reply.signature() != QLatin1String("a{sv}")) {
            continue; // gone between the list and now
        }
        QVariantMap properties;
        reply.arguments().at(0).value<QDBusArgument>() >> properties;

        SessionInfo info;
        info.loginDone = isLoggedInState(properties.value(QStringLiteral("State")).toString());
        info.onConsole = info.loginDone && properties.value(QStringLiteral("Active")).toBool();
        const QString name = properties.value(QStringLiteral("Name")).toString();
        info.userName = (name.isEmpty() ? entry.userName : name).toStdString();
        info.userId = entry.userId;
        fActive[entry.path] = info.onConsole;

        if (!info.loginDone) {
            continue;
        }
        if (!chosen || (info.onConsole && !chosen->onConsole)) {
            chosen = std::move(info);
        }
    }
    return chosen.value_or(SessionInfo{});
}

void LogindConsoleSession::setBecameActiveHandler(std::function<void()> handler) {
    fBecameActive = std::move(handler);
    if (!fSubscribed && fBecameActive) {
        // Every session object's property changes; the slot keeps the user's own.
        fSubscribed = fConnection.connect(kService, QString(), sProperties, "PropertiesChanged",
                                          this, SLOT(onPropertiesChanged(QDBusMessage)));
    }
}

QVariant LogindConsoleSession::sessionProperty(const QString& path, const char* name) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, path, sProperties, "Get");
    call << QString::fromLatin1(sSessionInterface) << QString::fromLatin1(name);
    const QDBusMessage reply = fConnection.call(call, QDBus::Block, sCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String("v")) {
        return {};
    }
    return reply.arguments().at(0).value<QDBusVariant>().variant();
}

bool LogindConsoleSession::isOwnSeatSession(const QString& path) {
    const auto sessions = listSessions();
    if (!sessions) {
        return false;
    }
    for (const SessionEntry& entry : *sessions) {
        if (entry.path == path) {
            return entry.userId == fUserId && entry.seat == QLatin1String(kSeat);
        }
    }
    return false;
}

void LogindConsoleSession::onPropertiesChanged(const QDBusMessage& message) {
    if (message.signature() != QLatin1String("sa{sv}as") || message.arguments().size() != 3 ||
        message.arguments().at(0).toString() != QLatin1String(sSessionInterface)) {
        return;
    }
    const QString path = message.path();
    QVariantMap changed;
    message.arguments().at(1).value<QDBusArgument>() >> changed;

    QVariant active = changed.value(QStringLiteral("Active"));
    if (!active.isValid()) {
        // A property that is only invalidated has to be read.
        if (!message.arguments().at(2).toStringList().contains(QStringLiteral("Active"))) {
            return;
        }
        active = sessionProperty(path, "Active");
        if (!active.isValid()) {
            return;
        }
    }
    const bool isActive = active.toBool();
    const auto previous = fActive.find(path);
    const bool wasActive = previous != fActive.end() && previous->second;
    fActive[path] = isActive;

    if (isActive && !wasActive && fBecameActive && isOwnSeatSession(path)) {
        fBecameActive();
    }
}
