// VirtualDeviceSource: attach and detach of the simulator's mice.
#include "VirtualDeviceSource.h"

#include "SimulatorBus.h"
#include "VirtualSourceDevice.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusUnixFileDescriptor>
#include <QList>

#include <cstdio>
#include <unistd.h>

namespace {

void warn(const QString& text) {
    std::fprintf(stderr, "orvix-sablecoil-driver: %s\n", qPrintable(text));
    std::fflush(stderr);
}

} // namespace

VirtualDeviceSource::VirtualDeviceSource(QDBusConnection simulatorBus, QObject* parent)
    : QObject(parent), fBus(std::move(simulatorBus)) {}

VirtualDeviceSource::~VirtualDeviceSource() {
    stop();
}

Status VirtualDeviceSource::start(DeviceSourceListener& listener) {
    if (!fBus.isConnected()) {
        return Status::fail("cannot reach the simulator: no session bus (" +
                            fBus.lastError().message().toStdString() + ")");
    }
    fListener = &listener;
    const QString service = QString::fromLatin1(SimulatorBus::kService);
    const QString path = QString::fromLatin1(SimulatorBus::kPath);
    const QString interface = QString::fromLatin1(SimulatorBus::kInterface);
    if (!fBus.connect(service, path, interface, "MousePlugged", this,
                      SLOT(onMousePlugged(uint, ushort, ushort))) ||
        !fBus.connect(service, path, interface, "MouseUnplugged", this,
                      SLOT(onMouseUnplugged(uint)))) {
        return Status::fail("cannot follow the simulator's signals: " +
                            fBus.lastError().message().toStdString());
    }
    fWatcher = new QDBusServiceWatcher(service, fBus,
                                       QDBusServiceWatcher::WatchForRegistration |
                                           QDBusServiceWatcher::WatchForUnregistration,
                                       this);
    connect(fWatcher, &QDBusServiceWatcher::serviceRegistered, this,
            &VirtualDeviceSource::onSimulatorRegistered);
    connect(fWatcher, &QDBusServiceWatcher::serviceUnregistered, this,
            &VirtualDeviceSource::onSimulatorUnregistered);
    attachPresentMice();
    return Status::success();
}

void VirtualDeviceSource::stop() {
    if (fListener == nullptr) {
        return;
    }
    const QString service = QString::fromLatin1(SimulatorBus::kService);
    const QString path = QString::fromLatin1(SimulatorBus::kPath);
    const QString interface = QString::fromLatin1(SimulatorBus::kInterface);
    fBus.disconnect(service, path, interface, "MousePlugged", this,
                    SLOT(onMousePlugged(uint, ushort, ushort)));
    fBus.disconnect(service, path, interface, "MouseUnplugged", this, SLOT(onMouseUnplugged(uint)));
    delete fWatcher;
    fWatcher = nullptr;
    fAttached.clear();
    fListener = nullptr;
}

void VirtualDeviceSource::onMousePlugged(uint id, ushort idVendor, ushort idProduct) {
    attachMouse(id, idVendor, idProduct);
}

void VirtualDeviceSource::onMouseUnplugged(uint id) {
    if (fListener != nullptr && fAttached.erase(id) > 0) {
        fListener->deviceDetached(VirtualSourceDevice::keyFor(id));
    }
}

void VirtualDeviceSource::onSimulatorRegistered() {
    attachPresentMice();
}

void VirtualDeviceSource::onSimulatorUnregistered() {
    detachAll();
}

void VirtualDeviceSource::attachPresentMice() {
    const QDBusMessage reply = fBus.call(SimulatorBus::methodCall("ListMice"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        return; // no simulator yet; its registration brings the mice
    }
    const QList<uint> ids = qdbus_cast<QList<uint>>(reply.arguments().at(0));
    for (uint id : ids) {
        QDBusMessage info = SimulatorBus::methodCall("MouseInfo");
        info << id;
        const QDBusMessage answer = fBus.call(info);
        if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().size() != 1) {
            continue; // unplugged meanwhile
        }
        const QVariantMap identity = qdbus_cast<QVariantMap>(answer.arguments().at(0));
        attachMouse(
            id, static_cast<std::uint16_t>(identity.value(QStringLiteral("idVendor")).toUInt()),
            static_cast<std::uint16_t>(identity.value(QStringLiteral("idProduct")).toUInt()));
    }
}

void VirtualDeviceSource::attachMouse(std::uint32_t id, std::uint16_t idVendor,
                                      std::uint16_t idProduct) {
    if (fListener == nullptr || fAttached.count(id) > 0) {
        return;
    }
    QDBusMessage call = SimulatorBus::methodCall("AttachHost");
    call << id;
    const QDBusMessage reply = fBus.call(call);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        warn(QStringLiteral("cannot take over virtual mouse %1: %2")
                 .arg(id)
                 .arg(reply.errorMessage()));
        return;
    }
    const auto channel = qdbus_cast<QDBusUnixFileDescriptor>(reply.arguments().at(0));
    if (!channel.isValid()) {
        warn(QStringLiteral("virtual mouse %1 came without a report channel").arg(id));
        return;
    }
    const int fd = ::dup(channel.fileDescriptor());
    if (fd < 0) {
        warn(QStringLiteral("cannot keep the report channel of virtual mouse %1").arg(id));
        return;
    }
    fAttached.insert(id);
    fListener->deviceAttached(
        std::make_unique<VirtualSourceDevice>(id, idVendor, idProduct, fd, fBus));
    QDBusMessage ready = SimulatorBus::methodCall("HostReady");
    ready << id;
    fBus.send(ready);
}

void VirtualDeviceSource::detachAll() {
    const std::set<std::uint32_t> attached = std::move(fAttached);
    fAttached.clear();
    for (std::uint32_t id : attached) {
        if (fListener != nullptr) {
            fListener->deviceDetached(VirtualSourceDevice::keyFor(id));
        }
    }
}
