// PrivateDBus: a private dbus-daemon for the D-Bus backend tests, standing in
// for both the system and the session bus, plus small helpers: connections
// with their own names, waiting on the event loop for a condition, and a
// recorder that keeps the raw messages of a signal.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <memory>

class PrivateDBus {
public:
    PrivateDBus() = default;
    ~PrivateDBus();
    PrivateDBus(const PrivateDBus&) = delete;
    PrivateDBus& operator=(const PrivateDBus&) = delete;

    // Starts the daemon; false (with the reason in error()) when it cannot.
    bool start();
    const QString& address() const { return fAddress; }
    const QString& error() const { return fError; }

    // A new connection of its own to the bus; disconnected when the bus stops.
    QDBusConnection connect(const QString& label);
    void disconnect(const QDBusConnection& connection);

    // Runs the event loop until condition holds or the safety limit passes;
    // the result is the condition's last value.
    static bool waitUntil(const std::function<bool()>& condition, int limitMs = 10000);

private:
    std::unique_ptr<QTemporaryDir> fDir;
    std::unique_ptr<QProcess> fDaemon;
    QString fAddress;
    QString fError;
    QStringList fConnections;
    int fNextConnection = 0;
};

// Keeps every message of one signal as it arrived, with its signature.
class SignalRecorder : public QObject {
    Q_OBJECT

public:
    SignalRecorder(QDBusConnection connection, const QString& path, const QString& interface,
                   const QString& name);
    ~SignalRecorder() override;

    bool isListening() const { return fListening; }
    const QList<QDBusMessage>& messages() const { return fMessages; }

private slots:
    void record(const QDBusMessage& message);

private:
    QDBusConnection fConnection;
    QString fPath;
    QString fInterface;
    QString fName;
    bool fListening = false;
    QList<QDBusMessage> fMessages;
};
