// DBusServiceRegistry: the driver instances as the driver host publishes them
// on the system bus. The host (well-known name com.orvix.driver.OrvixSablecoilDriver)
// lists its instances through an org.freedesktop.DBus.ObjectManager at
// /com/orvix/driver, one object per instance at
// /com/orvix/driver/OrvixSablecoilDriver/<n>, numbered in attach order. Each
// has the read-only properties ClassName, idVendor and idProduct, the method
// SetProperties(a{sv}) -> (i status) and the signal Message(u type).
#pragma once

#include "ServiceRegistry.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <map>
#include <vector>

class QDBusMessage;
class QDBusServiceWatcher;

class DBusServiceRegistry : public QObject, public ServiceRegistry {
    Q_OBJECT

public:
    static constexpr const char* kService = "com.orvix.driver.OrvixSablecoilDriver";
    static constexpr const char* kInterface = "com.orvix.driver.OrvixSablecoilDriver";
    static constexpr const char* kManagerPath = "/com/orvix/driver";
    static constexpr int kDefaultCallTimeoutMs = 5000;

    // On the system bus.
    DBusServiceRegistry();
    explicit DBusServiceRegistry(const QDBusConnection& connection);
    ~DBusServiceRegistry() override;

    Result<std::vector<ServiceHandle>> matchingServices(std::string_view className) override;
    Result<PlistValue> copyProperties(const ServiceHandle& service) override;
    IoStatus setProperties(const ServiceHandle& service, const PlistValue& properties) override;
    IoStatus addInterestNotification(const ServiceHandle& service, MessageHandler handler) override;

    // How long a call waits for the host before it counts as not responding.
    void setCallTimeout(int milliseconds) { fCallTimeoutMs = milliseconds; }

private slots:
    void onMessage(const QDBusMessage& message);
    void onInterfacesRemoved(const QDBusMessage& message);
    void onHostGone();

private:
    // The status a failed call stands for.
    static IoStatus statusForError(const QDBusMessage& reply);
    static bool isValidPath(const ServiceHandle& service);
    void endRegistrations(const QString& path);

    QDBusConnection fConnection;
    QDBusServiceWatcher* fWatcher = nullptr;
    int fCallTimeoutMs = kDefaultCallTimeoutMs;
    // The interest registrations by object path; one entry per call.
    std::map<QString, std::vector<MessageHandler>> fInterest;
    bool fWatchingRemovals = false;
};
