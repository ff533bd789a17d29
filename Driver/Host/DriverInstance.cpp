// DriverInstance: report thread, message hand-over and D-Bus object of one mouse.
#include "DriverInstance.h"

#include "DBusPlist.h"
#include "DeviceSource.h"
#include "HostPort.h"
#include "OrvixSablecoilDriver.h"
#include "orvixsablecoildriveradaptor.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

// Report type of an input report, as the HID driver base passes it on.
constexpr std::uint32_t sInputReportType = 0;
// Room for the longest report a channel may carry.
constexpr std::size_t sReportBufferSize = 64;

} // namespace

DriverInstance::DriverInstance(std::unique_ptr<SourceDevice> device, QDBusConnection bus,
                               QString path, QObject* parent)
    : QObject(parent), fDevice(std::move(device)),
      fFilter(std::make_unique<com_orvix_driver_OrvixSablecoilDriver>()), fBus(std::move(bus)),
      fPath(std::move(path)) {
    fPort = std::make_unique<HostPort>(*this, *fDevice);
    new OrvixSablecoilDriverAdaptor(this);
}

DriverInstance::~DriverInstance() {
    stop();
    if (fEventFd >= 0) {
        ::close(fEventFd);
    }
}

Status DriverInstance::start() {
    fEventFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fEventFd < 0) {
        return Status::fail("cannot make the message wake-up for " + fPath.toStdString());
    }
    fNotifier = new QSocketNotifier(fEventFd, QSocketNotifier::Read, this);
    connect(fNotifier, &QSocketNotifier::activated, this, &DriverInstance::onWakeup);

    fFilter->attachPort(fPort.get());
    fReportThread = std::thread([this] { reportThreadMain(); });

    if (!fBus.registerObject(fPath, this, QDBusConnection::ExportAdaptors)) {
        stop();
        return Status::fail("cannot export " + fPath.toStdString() + ": " +
                            fBus.lastError().message().toStdString());
    }
    fExported = true;
    return Status::success();
}

void DriverInstance::stop() {
    fStopping.store(true, std::memory_order_relaxed);
    if (fReportThread.joinable()) {
        fDevice->shutdown();
        fReportThread.join();
    }
    drain();
    fFilter->attachPort(nullptr);
    if (fExported) {
        fBus.unregisterObject(fPath);
        fExported = false;
    }
}

const std::string& DriverInstance::deviceKey() const {
    return fDevice->key();
}

InterfaceProperties DriverInstance::interfaceProperties() const {
    QVariantMap properties;
    properties.insert(QStringLiteral("ClassName"), className());
    properties.insert(QStringLiteral("idVendor"), idVendor());
    properties.insert(QStringLiteral("idProduct"), idProduct());
    InterfaceProperties interfaces;
    interfaces.insert(QString::fromLatin1(kInterface), properties);
    return interfaces;
}

QString DriverInstance::className() const {
    const auto name = com_orvix_driver_OrvixSablecoilDriver::kClassName;
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

qlonglong DriverInstance::idVendor() const {
    return fDevice->vendorId();
}

qlonglong DriverInstance::idProduct() const {
    return fDevice->productId();
}

int DriverInstance::SetProperties(const QVariantMap& properties) {
    return fFilter->setProperties(DBusPlist::fromVariantMap(properties));
}

void DriverInstance::postMessage(std::uint32_t type) {
    push(kMessage, type);
}

void DriverInstance::reportThreadMain() {
    std::uint8_t report[sReportBufferSize] = {};
    for (;;) {
        const SourceDevice::Read read = fDevice->readReport(report, sizeof report);
        if (read.closed) {
            push(kClosed, 0);
            wake();
            return;
        }
        fFilter->handleReport(report, read.length, sInputReportType, 0);
        push(kReportDone, read.token);
        wake();
    }
}

void DriverInstance::push(EntryKind kind, std::uint32_t payload) {
    const std::uint64_t entry = (static_cast<std::uint64_t>(kind) << 32) | payload;
    while (!fRing.push(entry)) {
        // The main loop is behind: wake it and wait for room, unless the
        // instance is going away, in which case nobody reads the entry.
        if (fStopping.load(std::memory_order_relaxed)) {
            return;
        }
        wake();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void DriverInstance::wake() {
    const std::uint64_t one = 1;
    while (::write(fEventFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void DriverInstance::onWakeup() {
    std::uint64_t count = 0;
    while (::read(fEventFd, &count, sizeof count) < 0 && errno == EINTR) {
    }
    drain();
}

void DriverInstance::drain() {
    std::uint64_t entry = 0;
    while (fRing.pop(entry)) {
        const auto payload = static_cast<std::uint32_t>(entry);
        switch (static_cast<EntryKind>(entry >> 32)) {
        case kMessage:
            emit Message(payload);
            break;
        case kReportDone:
            acknowledge(payload);
            break;
        case kClosed:
            if (!fClosedSeen && !fStopping.load(std::memory_order_relaxed)) {
                fClosedSeen = true;
                // Queued: the host deletes this instance in response.
                QTimer::singleShot(0, this, &DriverInstance::channelClosed);
            }
            break;
        }
    }
}

void DriverInstance::acknowledge(std::uint32_t token) {
    if (!fDevice->wantsReportHandled()) {
        return;
    }
    // A round trip to the bus daemon on the connection that carried the
    // report's Message signals: its answer comes after the daemon has routed
    // them, so whoever waits for the acknowledgement has them too.
    const QDBusMessage ping = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
    auto* watcher = new QDBusPendingCallWatcher(fBus.asyncCall(ping), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, token](QDBusPendingCallWatcher* finished) {
                fDevice->reportHandled(token);
                finished->deleteLater();
            });
}
