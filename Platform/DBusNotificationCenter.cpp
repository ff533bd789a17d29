// DBusNotificationCenter: broadcast notifications as a session-bus signal.
#include "DBusNotificationCenter.h"

#include "DBusPlist.h"
#include "PlistToDBus.h"

#include <QDBusArgument>
#include <QDBusMessage>

#include <vector>

namespace {

constexpr const char* sSignature = "ssa{sv}";

} // namespace

DBusNotificationCenter::DBusNotificationCenter()
    : DBusNotificationCenter(QDBusConnection::sessionBus()) {}

DBusNotificationCenter::DBusNotificationCenter(const QDBusConnection& connection)
    : fConnection(connection) {}

DBusNotificationCenter::~DBusNotificationCenter() {
    unsubscribe();
}

Status DBusNotificationCenter::post(const std::string& name, const std::string& object,
                                    const PlistValue& userInfo) {
    if (!fConnection.isConnected()) {
        return Status::fail("cannot post notification " + name + "/" + object +
                            ": not connected to the session bus");
    }
    if (!userInfo.isNone() && !userInfo.isDictionary()) {
        return Status::fail("cannot post notification " + name + "/" + object +
                            ": the user information is not a dictionary");
    }
    QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, kSignal);
    signal << QString::fromStdString(name) << QString::fromStdString(object)
           << PlistToDBus::toVariantMap(userInfo);
    if (!fConnection.send(signal)) {
        return Status::fail("cannot post notification " + name + "/" + object + ": " +
                            fConnection.lastError().message().toStdString());
    }
    return Status::success();
}

int DBusNotificationCenter::addObserver(const std::string& name, const std::string& object,
                                        Handler handler) {
    if (!fSubscribed) {
        fSubscribed = subscribe();
    }
    const int token = fNextToken++;
    fObservers.emplace(token, Observer{name, object, std::move(handler)});
    return token;
}

void DBusNotificationCenter::removeObserver(int token) {
    fObservers.erase(token);
    if (fObservers.empty()) {
        unsubscribe();
    }
}

bool DBusNotificationCenter::subscribe() {
    // Any sender, any signature: the slot checks the signature itself so that
    // a malformed signal is dropped instead of half-decoded.
    return fConnection.connect(QString(), kPath, kInterface, kSignal, this,
                               SLOT(onNotification(QDBusMessage)));
}

void DBusNotificationCenter::unsubscribe() {
    if (fSubscribed) {
        fConnection.disconnect(QString(), kPath, kInterface, kSignal, this,
                               SLOT(onNotification(QDBusMessage)));
        fSubscribed = false;
    }
}

void DBusNotificationCenter::onNotification(const QDBusMessage& message) {
    if (message.signature() != QLatin1String(sSignature) || message.arguments().size() != 3) {
        return;
    }
    const QList<QVariant> arguments = message.arguments();
    const std::string name = arguments.at(0).toString().toStdString();
    const std::string object = arguments.at(1).toString().toStdString();

    // The a{sv} arrives as a QDBusArgument; read it as a map of variants.
    QVariantMap map;
    if (arguments.at(2).metaType() == QMetaType::fromType<QDBusArgument>()) {
        arguments.at(2).value<QDBusArgument>() >> map;
    } else {
        map = arguments.at(2).toMap();
    }
    const PlistValue userInfo = DBusPlist::fromVariantMap(map);

    // A handler may add or remove observers; walk a snapshot of the tokens and
    // skip any removed meanwhile.
    std::vector<int> tokens;
    for (const auto& [token, observer] : fObservers) {
        if (observer.name == name && observer.object == object) {
            tokens.push_back(token);
        }
    }
    for (int token : tokens) {
        auto it = fObservers.find(token);
        if (it != fObservers.end()) {
            Handler handler = it->second.handler;
            handler(name, object, userInfo);
        }
    }
}
