// VirtualUsbAccess: plug and unplug signals, open and class requests of the
// simulator's mice.
#include "VirtualUsbAccess.h"

#include "SimulatorBus.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <charconv>
#include <cstring>
#include <string>

namespace {

IoStatus StatusOf(const QDBusMessage& reply) {
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        return reply.arguments().first().toInt();
    }
    if (reply.errorName() == QLatin1String(SimulatorBus::kErrorUnknownMouse)) {
        return kIoNoDevice;
    }
    if (reply.errorName() == QLatin1String(SimulatorBus::kErrorInvalidArgs)) {
        return kIoBadArgument;
    }
    return kIoNotResponding;
}

} // namespace

VirtualUsbAccess::VirtualUsbAccess() : VirtualUsbAccess(QDBusConnection::sessionBus()) {}

VirtualUsbAccess::VirtualUsbAccess(const QDBusConnection& connection) : fConnection(connection) {}

Status VirtualUsbAccess::connectSignals() {
    if (fConnected) {
        return Status::success();
    }
    const QString service = QString::fromLatin1(SimulatorBus::kService);
    const QString path = QString::fromLatin1(SimulatorBus::kPath);
    const QString interface = QString::fromLatin1(SimulatorBus::kInterface);
    if (!fConnection.connect(service, path, interface, QStringLiteral("MousePlugged"), this,
                             SLOT(onMousePlugged(uint, ushort, ushort))) ||
        !fConnection.connect(service, path, interface, QStringLiteral("MouseUnplugged"), this,
                             SLOT(onMouseUnplugged(uint)))) {
        return Status::fail("cannot follow the simulator's mice: " +
                            fConnection.lastError().message().toStdString());
    }
    fConnected = true;
    return Status::success();
}

UsbDevice VirtualUsbAccess::deviceFor(std::uint32_t id, std::uint16_t idVendor,
                                      std::uint16_t idProduct) {
    return UsbDevice{"sim-" + std::to_string(id), idVendor, idProduct, 0x0100};
}

bool VirtualUsbAccess::idOf(const UsbDevice& device, std::uint32_t& id) {
    if (device.id.rfind("sim-", 0) != 0) {
        return false;
    }
    const char* first = device.id.data() + 4;
    const char* last = device.id.data() + device.id.size();
    const auto [end, error] = std::from_chars(first, last, id);
    return error == std::errc() && end == last && first != last;
}

Result<std::vector<UsbDevice>> VirtualUsbAccess::addMatchingNotification(std::uint16_t idVendor,
                                                                         std::uint16_t idProduct,
                                                                         DevicesHandler added) {
    if (Status connected = connectSignals(); !connected) {
        return Result<std::vector<UsbDevice>>::fail(connected.message());
    }
    fMatching.push_back({idVendor, idProduct, std::move(added)});

    // The mice already there.
    std::vector<UsbDevice> present;
    const QDBusMessage list = fConnection.call(SimulatorBus::methodCall("ListMice"));
    if (list.type() != QDBusMessage::ReplyMessage || list.arguments().isEmpty()) {
        return present; // no simulator yet: its mice arrive as signals
    }
    const auto ids = qdbus_cast<QList<uint>>(list.arguments().first());
    for (uint id : ids) {
        QDBusMessage info = SimulatorBus::methodCall("MouseInfo");
        info << id;
        const QDBusMessage reply = fConnection.call(info);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            continue;
        }
        const QVariantMap map = qdbus_cast<QVariantMap>(reply.arguments().first());
        const auto vendor =
            static_cast<std::uint16_t>(map.value(QStringLiteral("idVendor")).toUInt());
        const auto product =
            static_cast<std::uint16_t>(map.value(QStringLiteral("idProduct")).toUInt());
        const UsbDevice device = deviceFor(id, vendor, product);
        fKnown[id] = device;
        if (vendor == idVendor && product == idProduct) {
            present.push_back(device);
        }
    }
    return present;
}

Status VirtualUsbAccess::addTerminationNotification(std::uint16_t idVendor, std::uint16_t idProduct,
                                                    DevicesHandler removed) {
    if (Status connected = connectSignals(); !connected) {
        return connected;
    }
    fTermination.push_back({idVendor, idProduct, std::move(removed)});
    return Status::success();
}

void VirtualUsbAccess::onMousePlugged(uint id, ushort idVendor, ushort idProduct) {
    const UsbDevice device = deviceFor(id, idVendor, idProduct);
    fKnown[id] = device;
    // A real device is busy until the driver host has bound it; here the
    // device is announced once the host has taken it, so that the agent
    // finds its driver instance. Without a host it is announced all the same.
    QDBusMessage wait = SimulatorBus::methodCall("WaitBound");
    wait << id << static_cast<uint>(kBindWaitMs);
    auto* watcher =
        new QDBusPendingCallWatcher(fConnection.asyncCall(wait, kBindWaitMs + 1000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, id, device](auto* w) {
        w->deleteLater();
        if (fKnown.count(id)) {
            announce(device);
        }
    });
}

void VirtualUsbAccess::announce(const UsbDevice& device) {
    for (const Registration& r : fMatching) {
        if (r.idVendor == device.idVendor && r.idProduct == device.idProduct) {
            r.handler({device});
        }
    }
}

void VirtualUsbAccess::onMouseUnplugged(uint id) {
    auto known = fKnown.find(id);
    if (known == fKnown.end()) {
        return;
    }
    const UsbDevice device = known->second;
    fKnown.erase(known);
    for (const Registration& r : fTermination) {
        if (r.idVendor == device.idVendor && r.idProduct == device.idProduct) {
            r.handler({device});
        }
    }
}

IoStatus VirtualUsbAccess::open(const UsbDevice& device) {
    std::uint32_t id = 0;
    if (!idOf(device, id)) {
        return kIoNoDevice;
    }
    QDBusMessage call = SimulatorBus::methodCall("OpenDevice");
    call << static_cast<uint>(id);
    return StatusOf(fConnection.call(call));
}

IoStatus VirtualUsbAccess::deviceRequest(const UsbDevice& device, DeviceRequest& request) {
    std::uint32_t id = 0;
    if (!idOf(device, id)) {
        return kIoNoDevice;
    }
    const bool in = (request.bmRequestType & 0x80) != 0;
    QByteArray out;
    if (!in && request.data && request.wLength > 0) {
        out = QByteArray(reinterpret_cast<const char*>(request.data), request.wLength);
    }
    QDBusMessage call = SimulatorBus::methodCall("ControlRequest");
    // QVariant takes small integers as int: name the D-Bus types y and q.
    call << static_cast<uint>(id) << QVariant::fromValue<uchar>(request.bmRequestType)
         << QVariant::fromValue<uchar>(request.bRequest)
         << QVariant::fromValue<ushort>(request.wValue)
         << QVariant::fromValue<ushort>(request.wIndex)
         << QVariant::fromValue<ushort>(request.wLength) << QVariant::fromValue(out);
    const int timeout =
        request.noDataTimeoutMs > 0 ? static_cast<int>(request.noDataTimeoutMs) : -1;
    const QDBusMessage reply = fConnection.call(call, QDBus::Block, timeout);
    const IoStatus status = StatusOf(reply);
    if (status == kIoSuccess && in && request.data && reply.arguments().size() >= 2) {
        const QByteArray data = reply.arguments().at(1).toByteArray();
        const auto n = std::min<qsizetype>(data.size(), request.wLength);
        std::memcpy(request.data, data.constData(), static_cast<std::size_t>(n));
    }
    return status;
}

void VirtualUsbAccess::close(const UsbDevice& device) {
    (void)device; // the simulator keeps no open state beyond the busy count
}
