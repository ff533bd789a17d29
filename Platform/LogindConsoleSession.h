// LogindConsoleSession: the console session from systemd-logind
// (org.freedesktop.login1 on the system bus). The session that counts is the
// user's own on seat0: login is done while it is active or online, the user is
// on the console while it is the seat's active session (its Active property),
// and the user becomes active again when Active turns true after a switch.
#pragma once

#include "ConsoleSession.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <map>
#include <sys/types.h>
#include <vector>

class QDBusMessage;

class LogindConsoleSession : public QObject, public ConsoleSession {
    Q_OBJECT

public:
    static constexpr const char* kService = "org.freedesktop.login1";
    static constexpr const char* kSeat = "seat0";

    // The process's own user, on the system bus.
    LogindConsoleSession();
    // Another user's sessions, or another bus (tests use a private one).
    LogindConsoleSession(const QDBusConnection& connection, uid_t userId);
    ~LogindConsoleSession() override;

    std::optional<SessionInfo> copySessionInfo() override;
    void setBecameActiveHandler(std::function<void()> handler) override;

private slots:
    void onPropertiesChanged(const QDBusMessage& message);

private:
    struct SessionEntry {
        QString id;
        uint userId = 0;
        QString userName;
        QString seat;
        QString path;
    };

    // The sessions logind knows; nullopt when it cannot be asked.
    std::optional<std::vector<SessionEntry>> listSessions();
    // One property of a session object; invalid when it cannot be read.
    QVariant sessionProperty(const QString& path, const char* name);
    // Whether a session object belongs to this user on seat0.
    bool isOwnSeatSession(const QString& path);

    QDBusConnection fConnection;
    uid_t fUserId;
    std::function<void()> fBecameActive;
    bool fSubscribed = false;
    // The last Active value seen per session object.
    std::map<QString, bool> fActive;
};
