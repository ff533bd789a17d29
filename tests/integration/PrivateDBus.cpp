// PrivateDBus: a throw-away dbus-daemon for tests.
#include "PrivateDBus.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

namespace {

// A bus that lets every test connection own names, call anything and hear
// every signal; nothing is activated on demand.
constexpr const char* sConfig =
    R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_type="method_return"/>
    <allow send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="signal"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
  </policy>
</busconfig>
)";

} // namespace

PrivateDBus::~PrivateDBus() {
    for (const QString& name : fConnections) {
        QDBusConnection::disconnectFromBus(name);
    }
    if (fDaemon) {
        fDaemon->terminate();
        if (!fDaemon->waitForFinished(5000)) {
            fDaemon->kill();
            fDaemon->waitForFinished(5000);
        }
    }
}

bool PrivateDBus::start() {
    fDir = std::make_unique<QTemporaryDir>();
    if (!fDir->isValid()) {
        fError = QStringLiteral("cannot make a temporary directory");
        return false;
    }
    const QString configPath = fDir->filePath(QStringLiteral("bus.conf"));
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly) ||
        config.write(QString::fromLatin1(sConfig).arg(fDir->path()).toUtf8()) < 0) {
        fError = QStringLiteral("cannot write ") + configPath;
        return false;
    }
    config.close();

    fDaemon = std::make_unique<QProcess>();
    fDaemon->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    fDaemon->start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--config-file=") + configPath, QStringLiteral("--nofork"),
                    QStringLiteral("--print-address=1")});
    if (!fDaemon->waitForStarted(10000)) {
        fError = QStringLiteral("cannot start dbus-daemon: ") + fDaemon->errorString();
        return false;
    }
    while (!fDaemon->canReadLine()) {
        if (!fDaemon->waitForReadyRead(10000)) {
            fError = QStringLiteral("dbus-daemon printed no address");
            return false;
        }
    }
    fAddress = QString::fromUtf8(fDaemon->readLine()).trimmed();
    return !fAddress.isEmpty();
}

QDBusConnection PrivateDBus::connect(const QString& label) {
    const QString name = QStringLiteral("private-%1-%2").arg(label).arg(fNextConnection++);
    fConnections.append(name);
    return QDBusConnection::connectToBus(fAddress, name);
}

void PrivateDBus::disconnect(const QDBusConnection& connection) {
    const QString name = connection.name();
    fConnections.removeAll(name);
    QDBusConnection::disconnectFromBus(name);
}

bool PrivateDBus::waitUntil(const std::function<bool()>& condition, int limitMs) {
    QDeadlineTimer deadline(limitMs);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return condition();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

SignalRecorder::SignalRecorder(QDBusConnection connection, const QString& path,
                               const QString& interface, const QString& name)
    : fConnection(std::move(connection)), fPath(path), fInterface(interface), fName(name) {
    fListening =
        fConnection.connect(QString(), fPath, fInterface, fName, this, SLOT(record(QDBusMessage)));
}

SignalRecorder::~SignalRecorder() {
    if (fListening) {
        fConnection.disconnect(QString(), fPath, fInterface, fName, this,
                               SLOT(record(QDBusMessage)));
    }
}

void SignalRecorder::record(const QDBusMessage& message) {
    fMessages.append(message);
}
