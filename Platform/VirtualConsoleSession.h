// VirtualConsoleSession: the console session kept by the simulator
// (sablecoil-sim) on the session bus. SessionInfo() gives the session
// dictionary; the SessionBecameActive signal is the user-switch event.
#pragma once

#include "ConsoleSession.h"

#include <QDBusConnection>
#include <QObject>

class VirtualConsoleSession : public QObject, public ConsoleSession {
    Q_OBJECT

public:
    static constexpr int kCallTimeoutMs = 5000;

    // On the session bus.
    VirtualConsoleSession();
    explicit VirtualConsoleSession(const QDBusConnection& connection);
    ~VirtualConsoleSession() override;

    // nullopt when the simulator is not there or its answer is malformed.
    std::optional<SessionInfo> copySessionInfo() override;
    void setBecameActiveHandler(std::function<void()> handler) override;

private slots:
    void onSessionBecameActive();

private:
    QDBusConnection fConnection;
    std::function<void()> fBecameActive;
    bool fSubscribed = false;
};
