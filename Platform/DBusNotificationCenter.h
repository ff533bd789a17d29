// DBusNotificationCenter: the broadcast notifications between the user's
// processes, as the signal
//   com.orvix.DistributedNotificationCenter.Notification(s name, s object, a{sv} userInfo)
// at /com/orvix/DistributedNotificationCenter on the session bus. A post is a
// broadcast without destination; observers hear every sender, this process
// included, as on the desktop.
#pragma once

#include "NotificationCenter.h"

#include <QDBusConnection>
#include <QObject>

#include <map>

class QDBusMessage;

class DBusNotificationCenter : public QObject, public NotificationCenter {
    Q_OBJECT

public:
    static constexpr const char* kPath = "/com/orvix/DistributedNotificationCenter";
    static constexpr const char* kInterface = "com.orvix.DistributedNotificationCenter";
    static constexpr const char* kSignal = "Notification";

    // On the session bus.
    DBusNotificationCenter();
    explicit DBusNotificationCenter(const QDBusConnection& connection);
    ~DBusNotificationCenter() override;

    Status post(const std::string& name, const std::string& object,
                const PlistValue& userInfo) override;
    int addObserver(const std::string& name, const std::string& object, Handler handler) override;
    void removeObserver(int token) override;

private slots:
    void onNotification(const QDBusMessage& message);

private:
    struct Observer {
        std::string name;
        std::string object;
        Handler handler;
    };

    bool subscribe();
    void unsubscribe();

    QDBusConnection fConnection;
    std::map<int, Observer> fObservers;
    int fNextToken = 1;
    bool fSubscribed = false;
};
