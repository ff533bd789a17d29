// SuiteHarness: private bus, real programs, commands and recorded signals.
#include "SuiteHarness.h"

#include <QFile>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDir>

#include <csignal>

#ifndef SABLECOIL_SIM_PROGRAM
#error "the build passes the path of sablecoil-sim"
#endif
#ifndef SABLECOIL_DRIVER_HOST_PROGRAM
#error "the build passes the path of the driver host"
#endif

namespace {

const char* const sSimulator = "sablecoil-sim";
const char* const sDriverHost = "orvix-sablecoil-driver";

} // namespace

QStringList SuiteHarness::CommandResult::lines() const {
    QStringList result = out.split(QLatin1Char('\n'));
    if (!result.isEmpty() && result.last().isEmpty()) {
        result.removeLast();
    }
    return result;
}

SuiteHarness::SuiteHarness() = default;

SuiteHarness::~SuiteHarness() {
    // The host first, so that it does not see the simulator go away.
    for (const char* name : {sDriverHost, sSimulator}) {
        if (fPrograms.count(QString::fromLatin1(name)) > 0) {
            stopProgram(QString::fromLatin1(name));
        }
    }
    for (auto& [name, process] : fPrograms) {
        stopProgram(name);
    }
    fMessages.reset();
    fAdded.reset();
    fRemoved.reset();
}

bool SuiteHarness::start() {
    return startBus() && startSimulator() && startDriverHost();
}

bool SuiteHarness::startBus() {
    if (QCoreApplication::instance() == nullptr) {
        fError = QStringLiteral("the test needs a QCoreApplication (link SablecoilPrivateDBus "
                                "before the harness for its main)");
        return false;
    }
    fDir = std::make_unique<QTemporaryDir>();
    if (!fDir->isValid() || !QDir(fDir->path()).mkpath(QStringLiteral("config"))) {
        fError = QStringLiteral("cannot make the test's temporary directory");
        return false;
    }
    if (!fBus.start()) {
        fError = fBus.error();
        return false;
    }
    fConnection = fBus.connect(QStringLiteral("suite"));
    if (!fConnection.isConnected()) {
        fError = QStringLiteral("cannot connect to the private bus");
        return false;
    }
    const QString interface = QString::fromLatin1(kDriverInterface);
    const QString manager = QStringLiteral("org.freedesktop.DBus.ObjectManager");
    fMessages = std::make_unique<SignalRecorder>(fConnection, QString(), interface,
                                                 QStringLiteral("Message"));
    fAdded = std::make_unique<SignalRecorder>(fConnection, QString::fromLatin1(kManagerPath),
                                              manager, QStringLiteral("InterfacesAdded"));
    fRemoved = std::make_unique<SignalRecorder>(fConnection, QString::fromLatin1(kManagerPath),
                                                manager, QStringLiteral("InterfacesRemoved"));
    if (!fMessages->isListening() || !fAdded->isListening() || !fRemoved->isListening()) {
        fError = QStringLiteral("cannot listen to the driver host's signals");
        return false;
    }
    return true;
}

bool SuiteHarness::startSimulator() {
    return startProgram(QString::fromLatin1(sSimulator), QString::fromLatin1(SABLECOIL_SIM_PROGRAM),
                        {QStringLiteral("serve")}, QStringLiteral("com.orvix.SablecoilSim"));
}

bool SuiteHarness::startDriverHost() {
    return startProgram(QString::fromLatin1(sDriverHost),
                        QString::fromLatin1(SABLECOIL_DRIVER_HOST_PROGRAM), {},
                        QString::fromLatin1(kDriverService));
}

QProcessEnvironment SuiteHarness::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), fBus.address());
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), fBus.address());
    env.insert(QStringLiteral("SABLECOIL_PLATFORM"), QStringLiteral("virtual"));
    // Qt programs under test need no display.
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM"))) {
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }
    if (fDir) {
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), fDir->filePath(QStringLiteral("config")));
    }
    return env;
}

QString SuiteHarness::tempPath(const QString& relative) const {
    return fDir ? fDir->filePath(relative) : QString();
}

bool SuiteHarness::startProgram(const QString& name, const QString& program,
                                const QStringList& args, const QString& serviceName) {
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment());
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->start(program, args);
    if (!process->waitForStarted(kWaitMs)) {
        fError = QStringLiteral("cannot start %1: %2").arg(program, process->errorString());
        return false;
    }
    fPrograms[name] = std::move(process);
    return serviceName.isEmpty() || waitForName(serviceName, name);
}

bool SuiteHarness::startCapturedProgram(const QString& name, const QString& program,
                                        const QStringList& args) {
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment());
    process->setStandardOutputFile(tempPath(name + QStringLiteral(".out")));
    process->setStandardErrorFile(tempPath(name + QStringLiteral(".err")));
    process->start(program, args);
    if (!process->waitForStarted(kWaitMs)) {
        fError = QStringLiteral("cannot start %1: %2").arg(program, process->errorString());
        return false;
    }
    fPrograms[name] = std::move(process);
    return true;
}

namespace {

QString ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

QString SuiteHarness::output(const QString& name) const {
    return ReadAll(tempPath(name + QStringLiteral(".out")));
}

QString SuiteHarness::errors(const QString& name) const {
    return ReadAll(tempPath(name + QStringLiteral(".err")));
}

bool SuiteHarness::waitForName(const QString& serviceName, const QString& programName) {
    QDBusConnectionInterface* bus = fConnection.interface();
    const bool owned = waitUntil(
        [&] { return bus->isServiceRegistered(serviceName).value() || !isRunning(programName); });
    if (!owned || !isRunning(programName)) {
        fError = QStringLiteral("%1 did not take the name %2").arg(programName, serviceName);
        return false;
    }
    return true;
}

bool SuiteHarness::isRunning(const QString& name) const {
    const auto it = fPrograms.find(name);
    return it != fPrograms.end() && it->second->state() == QProcess::Running;
}

int SuiteHarness::stopProgram(const QString& name) {
    const auto it = fPrograms.find(name);
    if (it == fPrograms.end()) {
        return -1;
    }
    QProcess& process = *it->second;
    if (process.state() == QProcess::Running) {
        ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
        if (!process.waitForFinished(kWaitMs)) {
            process.kill();
            process.waitForFinished(kWaitMs);
            return -1;
        }
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

SuiteHarness::CommandResult SuiteHarness::run(const QString& program, const QStringList& args,
                                              int timeoutMs) {
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(program, args);
    CommandResult result;
    if (!process.waitForStarted(timeoutMs)) {
        result.err = QStringLiteral("cannot start %1: %2").arg(program, process.errorString());
        return result;
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.err = QStringLiteral("%1 did not finish").arg(program);
        return result;
    }
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

SuiteHarness::CommandResult SuiteHarness::sim(const QStringList& args) {
    return run(QString::fromLatin1(SABLECOIL_SIM_PROGRAM), args);
}

SuiteHarness::CommandResult SuiteHarness::busctl(const QStringList& args) {
    return run(QStringLiteral("busctl"),
               QStringList{QStringLiteral("--address=") + busAddress()} + args);
}

QString SuiteHarness::plug(int generation, const QStringList& extra) {
    const qsizetype before = fAdded->messages().size();
    const CommandResult plugged =
        sim(QStringList{QStringLiteral("plug"), QStringLiteral("--generation"),
                        QString::number(generation), QStringLiteral("--wait")} +
            extra);
    if (!plugged.ok() || plugged.lines().size() != 1) {
        fError = QStringLiteral("plug failed: ") + plugged.err;
        return {};
    }
    fLastMouseId = plugged.lines().first().toUInt();
    if (!waitUntil([&] { return fAdded->messages().size() > before; })) {
        fError = QStringLiteral("no InterfacesAdded for mouse %1").arg(fLastMouseId);
        return {};
    }
    return addedPaths().at(before);
}

bool SuiteHarness::report(uint mouseId, const QString& bytes) {
    const CommandResult sent = sim(QStringList{QStringLiteral("report"), QString::number(mouseId)} +
                                   bytes.split(QLatin1Char(' '), Qt::SkipEmptyParts));
    if (!sent.ok()) {
        fError = QStringLiteral("report failed: ") + sent.err;
        return false;
    }
    barrier();
    return true;
}

QStringList SuiteHarness::delivered(uint mouseId, bool clear) {
    QStringList args{QStringLiteral("delivered"), QString::number(mouseId)};
    if (clear) {
        args << QStringLiteral("--clear");
    }
    return sim(args).lines();
}

QStringList SuiteHarness::commands(uint mouseId) {
    return sim({QStringLiteral("commands"), QString::number(mouseId)}).lines();
}

SuiteHarness::CommandResult SuiteHarness::setProperties(const QString& path,
                                                        const QStringList& dictionaryArgs) {
    return busctl(QStringList{QStringLiteral("call"), QString::fromLatin1(kDriverService), path,
                              QString::fromLatin1(kDriverInterface),
                              QStringLiteral("SetProperties"), QStringLiteral("a{sv}")} +
                  dictionaryArgs);
}

QList<uint> SuiteHarness::messages(const QString& path) const {
    QList<uint> words;
    for (const QDBusMessage& message : fMessages->messages()) {
        if (message.path() == path && message.arguments().size() == 1) {
            words.append(message.arguments().first().toUInt());
        }
    }
    return words;
}

void SuiteHarness::clearMessages() {
    const QString interface = QString::fromLatin1(kDriverInterface);
    fMessages = std::make_unique<SignalRecorder>(fConnection, QString(), interface,
                                                 QStringLiteral("Message"));
}

QStringList SuiteHarness::addedPaths() const {
    QStringList paths;
    for (const QDBusMessage& message : fAdded->messages()) {
        paths.append(qdbus_cast<QDBusObjectPath>(message.arguments().value(0)).path());
    }
    return paths;
}

QStringList SuiteHarness::removedPaths() const {
    QStringList paths;
    for (const QDBusMessage& message : fRemoved->messages()) {
        paths.append(qdbus_cast<QDBusObjectPath>(message.arguments().value(0)).path());
    }
    return paths;
}

QVariantMap SuiteHarness::addedProperties(const QString& path) const {
    for (const QDBusMessage& message : fAdded->messages()) {
        if (qdbus_cast<QDBusObjectPath>(message.arguments().value(0)).path() == path) {
            const auto interfaces =
                qdbus_cast<QMap<QString, QVariantMap>>(message.arguments().value(1));
            return interfaces.value(QString::fromLatin1(kDriverInterface));
        }
    }
    return {};
}

QStringList SuiteHarness::removedInterfaces(const QString& path) const {
    for (const QDBusMessage& message : fRemoved->messages()) {
        if (qdbus_cast<QDBusObjectPath>(message.arguments().value(0)).path() == path) {
            return qdbus_cast<QStringList>(message.arguments().value(1));
        }
    }
    return {};
}

QStringList SuiteHarness::managedPaths() {
    const QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(kDriverService), QString::fromLatin1(kManagerPath),
        QStringLiteral("org.freedesktop.DBus.ObjectManager"), QStringLiteral("GetManagedObjects"));
    const QDBusMessage reply = fConnection.call(call);
    QStringList paths;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        return paths;
    }
    // Read the entries in message order (a QMap would sort them).
    const QDBusArgument objects = reply.arguments().first().value<QDBusArgument>();
    objects.beginMap();
    while (!objects.atEnd()) {
        QDBusObjectPath path;
        objects.beginMapEntry();
        objects >> path;
        (void)objects.asVariant();
        objects.endMapEntry();
        paths.append(path.path());
    }
    objects.endMap();
    return paths;
}

void SuiteHarness::barrier() {
    const QDBusMessage ping = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
    fConnection.call(ping);
    QCoreApplication::processEvents();
}

bool SuiteHarness::waitUntil(const std::function<bool()>& condition, int limitMs) {
    return PrivateDBus::waitUntil(condition, limitMs);
}
