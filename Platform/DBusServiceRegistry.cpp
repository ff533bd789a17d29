// DBusServiceRegistry: the driver host's instances over D-Bus.
#include "DBusServiceRegistry.h"

#include "DBusPlist.h"
#include "PlistToDBus.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QMap>
#include <QStringList>

#include <algorithm>
#include <charconv>
#include <optional>

namespace {

constexpr const char* sObjectManager = "org.freedesktop.DBus.ObjectManager";
constexpr const char* sProperties = "org.freedesktop.DBus.Properties";
constexpr const char* sMessageSignal = "Message";

// The instance number at the end of an object path, when it is one.
std::optional<unsigned long long> instanceNumber(const QString& path) {
    const QByteArray tail = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1).toLatin1();
    unsigned long long number = 0;
    const char* end = tail.constData() + tail.size();
    auto [ptr, ec] = std::from_chars(tail.constData(), end, number);
    if (tail.isEmpty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return number;
}

// Attach order: numbered paths by number, anything else after them by name.
bool attachedBefore(const QString& a, const QString& b) {
    const auto na = instanceNumber(a);
    const auto nb = instanceNumber(b);
    if (na && nb) {
        return *na != *nb ? *na < *nb : a < b;
    }
    if (na || nb) {
        return na.has_value();
    }
    return a < b;
}

// The host is not on the bus (no driver host running, or it has gone).
bool isHostAbsent(const QDBusMessage& reply) {
    return QDBusError(reply).type() == QDBusError::ServiceUnknown ||
           reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner");
}

std::string describe(const QDBusMessage& reply) {
    return (reply.errorName() + QStringLiteral(": ") + reply.errorMessage()).toStdString();
}

} // namespace

DBusServiceRegistry::DBusServiceRegistry() : DBusServiceRegistry(QDBusConnection::systemBus()) {}

DBusServiceRegistry::DBusServiceRegistry(const QDBusConnection& connection)
    : fConnection(connection) {}

DBusServiceRegistry::~DBusServiceRegistry() {
    for (const auto& [path, handlers] : fInterest) {
        fConnection.disconnect(kService, path, kInterface, sMessageSignal, this,
                               SLOT(onMessage(QDBusMessage)));
    }
    if (fWatchingRemovals) {
        fConnection.disconnect(kService, kManagerPath, sObjectManager, "InterfacesRemoved", this,
                               SLOT(onInterfacesRemoved(QDBusMessage)));
    }
}

Result<std::vector<ServiceHandle>>
DBusServiceRegistry::matchingServices(std::string_view className) {
    using R = Result<std::vector<ServiceHandle>>;
    const QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kManagerPath, sObjectManager, "GetManagedObjects");
    const QDBusMessage reply = fConnection.call(call, QDBus::Block, fCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        if (isHostAbsent(reply)) {
            return std::vector<ServiceHandle>{}; // no driver host running: no instances
        }
        return R::fail("cannot list the driver instances: " + describe(reply));
    }
    if (reply.signature() != QLatin1String("a{oa{sa{sv}}}") || reply.arguments().size() != 1) {
        return R::fail("cannot list the driver instances: unexpected reply signature '" +
                       reply.signature().toStdString() + "'");
    }

    QMap<QDBusObjectPath, QMap<QString, QVariantMap>> objects;
    reply.arguments().at(0).value<QDBusArgument>() >> objects;

    const QString wanted =
        QString::fromUtf8(className.data(), static_cast<qsizetype>(className.size()));
    QStringList paths;
    for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
        const auto iface = it.value().constFind(QString::fromLatin1(kInterface));
        if (iface == it.value().cend()) {
            continue;
        }
        const QVariant name = iface.value().value(QStringLiteral("ClassName"));
        if (name.metaType() == QMetaType::fromType<QString>() && name.toString() == wanted) {
            paths.append(it.key().path());
        }
    }
    std::sort(paths.begin(), paths.end(), attachedBefore);

    std::vector<ServiceHandle> services;
    services.reserve(static_cast<std::size_t>(paths.size()));
    for (const QString& path : paths) {
        services.push_back(path.toStdString());
    }
    return services;
}

Result<PlistValue> DBusServiceRegistry::copyProperties(const ServiceHandle& service) {
    using R = Result<PlistValue>;
    if (!isValidPath(service)) {
        return R::fail("cannot read the properties of '" + service + "': not an object path");
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, QString::fromStdString(service),
                                                       sProperties, "GetAll");
    call << QString::fromLatin1(kInterface);
    const QDBusMessage reply = fConnection.call(call, QDBus::Block, fCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return R::fail("cannot read the properties of " + service + ": " + describe(reply));
    }
    if (reply.signature() != QLatin1String("a{sv}") || reply.arguments().size() != 1) {
        return R::fail("cannot read the properties of " + service +
                       ": unexpected reply signature '" + reply.signature().toStdString() + "'");
    }
    QVariantMap map;
    reply.arguments().at(0).value<QDBusArgument>() >> map;
    const PlistValue all = DBusPlist::fromVariantMap(map);

    // The registry's view: the class name and the USB identity, the ids as
    // signed 64-bit numbers whatever width the host sent. A property of the
    // wrong kind is left out, as if it were missing.
    PlistValue properties = PlistValue::dictionary();
    if (const PlistValue* name = all.find("ClassName"); name && name->isString()) {
        properties.set("ClassName", *name);
    }
    for (const char* key : {"idVendor", "idProduct"}) {
        if (const PlistValue* id = all.find(key); id && id->isInteger()) {
            properties.set(key, PlistValue::int64(id->toInt64()));
        }
    }
    return properties;
}

IoStatus DBusServiceRegistry::setProperties(const ServiceHandle& service,
                                            const PlistValue& properties) {
    if (!isValidPath(service) || !properties.isDictionary()) {
        return kIoBadArgument;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, QString::fromStdString(service),
                                                       kInterface, "SetProperties");
    call << PlistToDBus::toVariantMap(properties);
    const QDBusMessage reply = fConnection.call(call, QDBus::Block, fCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return statusForError(reply);
    }
    if (reply.signature() != QLatin1String("i") || reply.arguments().size() != 1) {
        return kIoError; // a reply that is not a status is no success
    }
    return reply.arguments().at(0).toInt();
}

IoStatus DBusServiceRegistry::addInterestNotification(const ServiceHandle& service,
                                                      MessageHandler handler) {
    if (!isValidPath(service) || !handler) {
        return kIoBadArgument;
    }
    const QString path = QString::fromStdString(service);

    // Only a living instance can be watched.
    QDBusMessage call = QDBusMessage::createMethodCall(kService, path, sProperties, "Get");
    call << QString::fromLatin1(kInterface) << QStringLiteral("ClassName");
    const QDBusMessage reply = fConnection.call(call, QDBus::Block, fCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return statusForError(reply);
    }

    // A registration ends with its instance: when the host removes the
    // object, or when the host leaves the bus.
    if (!fWatchingRemovals) {
        fWatchingRemovals =
            fConnection.connect(kService, kManagerPath, sObjectManager, "InterfacesRemoved", this,
                                SLOT(onInterfacesRemoved(QDBusMessage)));
        if (!fWatchingRemovals) {
            return kIoError;
        }
        fWatcher = new QDBusServiceWatcher(kService, fConnection,
                                           QDBusServiceWatcher::WatchForUnregistration, this);
        connect(fWatcher, &QDBusServiceWatcher::serviceUnregistered, this,
                &DBusServiceRegistry::onHostGone);
    }

    auto [it, inserted] = fInterest.try_emplace(path);
    if (inserted && !fConnection.connect(kService, path, kInterface, sMessageSignal, this,
                                         SLOT(onMessage(QDBusMessage)))) {
        fInterest.erase(it);
        return kIoError;
    }
    it->second.push_back(std::move(handler));
    return kIoSuccess;
}

void DBusServiceRegistry::onMessage(const QDBusMessage& message) {
    if (message.signature() != QLatin1String("u") || message.arguments().size() != 1) {
        return;
    }
    const auto it = fInterest.find(message.path());
    if (it == fInterest.end()) {
        return;
    }
    const std::uint32_t type = message.arguments().at(0).toUInt();
    const ServiceHandle service = message.path().toStdString();
    // A handler may add registrations; this message goes to those that existed.
    const std::vector<MessageHandler> handlers = it->second;
    for (const MessageHandler& handler : handlers) {
        handler(service, type);
    }
}

void DBusServiceRegistry::onInterfacesRemoved(const QDBusMessage& message) {
    if (message.signature() != QLatin1String("oas") || message.arguments().size() != 2) {
        return;
    }
    const QString path = message.arguments().at(0).value<QDBusObjectPath>().path();
    if (message.arguments().at(1).toStringList().contains(QString::fromLatin1(kInterface))) {
        endRegistrations(path);
    }
}

void DBusServiceRegistry::onHostGone() {
    while (!fInterest.empty()) {
        endRegistrations(fInterest.begin()->first);
    }
}

void DBusServiceRegistry::endRegistrations(const QString& path) {
    if (fInterest.erase(path) > 0) {
        fConnection.disconnect(kService, path, kInterface, sMessageSignal, this,
                               SLOT(onMessage(QDBusMessage)));
    }
}

IoStatus DBusServiceRegistry::statusForError(const QDBusMessage& reply) {
    if (isHostAbsent(reply)) {
        return kIoNoDevice;
    }
    switch (QDBusError(reply).type()) {
    case QDBusError::UnknownObject:
    case QDBusError::UnknownInterface:
        return kIoNoDevice;
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
        return kIoNotResponding;
    case QDBusError::InvalidArgs:
    case QDBusError::InvalidSignature:
        return kIoBadArgument;
    default:
        return kIoError;
    }
}

bool DBusServiceRegistry::isValidPath(const ServiceHandle& service) {
    // D-Bus object path: "/" or "/"-separated non-empty elements of [A-Za-z0-9_].
    if (service.empty() || service.front() != '/') {
        return false;
    }
    if (service.size() == 1) {
        return true;
    }
    if (service.back() == '/') {
        return false;
    }
    char previous = '\0';
    for (char c : service) {
        const bool element =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
        if (!element && c != '/') {
            return false;
        }
        if (c == '/' && previous == '/') {
            return false;
        }
        previous = c;
    }
    return true;
}
