// VirtualSourceDevice: report channel, parameter cache and class requests of
// one simulated mouse.
#include "VirtualSourceDevice.h"

#include "SimChannel.h"
#include "SimulatorBus.h"

#include <QByteArray>
#include <QDBusMessage>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Class requests never block the host's main loop longer than this.
constexpr std::uint32_t sMaxRequestTimeoutMs = 5000;

} // namespace

VirtualSourceDevice::VirtualSourceDevice(std::uint32_t mouseId, std::uint16_t vendorId,
                                         std::uint16_t productId, int channelFd,
                                         QDBusConnection simulatorBus)
    : fMouseId(mouseId), fVendorId(vendorId), fProductId(productId), fKey(keyFor(mouseId)),
      fFd(channelFd), fBus(std::move(simulatorBus)) {
    fParameters[0].key = "HIDPointerButtonMode";
    fParameters[1].key = "HIDClickTime";
}

VirtualSourceDevice::~VirtualSourceDevice() {
    if (fFd >= 0) {
        ::close(fFd);
    }
}

std::string VirtualSourceDevice::keyFor(std::uint32_t mouseId) {
    return "virtual:" + std::to_string(mouseId);
}

SourceDevice::Read VirtualSourceDevice::readReport(std::uint8_t* buffer, std::size_t capacity) {
    std::uint8_t datagram[SimChannel::kMaxDatagram];
    for (;;) {
        const ssize_t received = ::recv(fFd, datagram, sizeof datagram, 0);
        if (received < 0 && errno == EINTR) {
            continue;
        }
        if (received <= 0) {
            return Read{true, 0, 0}; // closed by the simulator, or shut down
        }
        SimChannel::Datagram decoded;
        if (!SimChannel::decode(datagram, static_cast<std::size_t>(received), decoded)) {
            continue; // not ours to understand; the channel stays usable
        }
        if (decoded.kind == SimChannel::kParameter) {
            storeParameter(decoded.key, decoded.value);
            continue;
        }
        if (decoded.kind != SimChannel::kInputReport) {
            continue;
        }
        const std::size_t length = std::min(decoded.length, capacity);
        std::memcpy(buffer, decoded.bytes, length);
        return Read{false, length, decoded.seq};
    }
}

IoStatus VirtualSourceDevice::deliverReport(const std::uint8_t* report, std::size_t length) {
    std::uint8_t datagram[SimChannel::kMaxDatagram];
    const std::size_t size = SimChannel::encodeDelivered(report, length, datagram, sizeof datagram);
    if (size == 0) {
        return kIoBadArgument;
    }
    for (;;) {
        const ssize_t sent = ::send(fFd, datagram, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        return sent == static_cast<ssize_t>(size) ? kIoSuccess : kIoNoDevice;
    }
}

bool VirtualSourceDevice::hidSystemParameter(std::string_view key, std::int64_t& value) const {
    for (const CachedParameter& parameter : fParameters) {
        if (parameter.key == key) {
            if (!parameter.present.load(std::memory_order_acquire)) {
                return false;
            }
            value = parameter.value.load(std::memory_order_relaxed);
            return true;
        }
    }
    return false;
}

void VirtualSourceDevice::storeParameter(std::string_view key, std::int64_t value) {
    for (CachedParameter& parameter : fParameters) {
        if (parameter.key == key) {
            parameter.value.store(value, std::memory_order_relaxed);
            parameter.present.store(true, std::memory_order_release);
        }
    }
}

void VirtualSourceDevice::shutdown() {
    ::shutdown(fFd, SHUT_RDWR);
}

void VirtualSourceDevice::reportHandled(std::uint32_t token) {
    std::uint8_t datagram[8];
    const std::size_t size = SimChannel::encodeHandled(token, datagram, sizeof datagram);
    while (::send(fFd, datagram, size, MSG_NOSIGNAL) < 0 && errno == EINTR) {
    }
}

IoStatus VirtualSourceDevice::controlRequest(DeviceRequest& request) {
    const bool in = (request.bmRequestType & 0x80) != 0;
    if (request.wLength > 0 && request.data == nullptr) {
        return kIoBadArgument;
    }
    QByteArray out;
    if (!in && request.wLength > 0) {
        out = QByteArray(reinterpret_cast<const char*>(request.data), request.wLength);
    }
    QDBusMessage call = SimulatorBus::methodCall("ControlRequest");
    call << QVariant::fromValue<uint>(fMouseId) << QVariant::fromValue<uchar>(request.bmRequestType)
         << QVariant::fromValue<uchar>(request.bRequest)
         << QVariant::fromValue<ushort>(request.wValue)
         << QVariant::fromValue<ushort>(request.wIndex)
         << QVariant::fromValue<ushort>(request.wLength) << out;
    std::uint32_t timeout = request.noDataTimeoutMs;
    if (timeout == 0 || timeout > sMaxRequestTimeoutMs) {
        timeout = sMaxRequestTimeoutMs;
    }
    const QDBusMessage reply = fBus.call(call, QDBus::Block, static_cast<int>(timeout));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2) {
        return reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply")
                   ? kIoTimeout
                   : kIoNoDevice;
    }
    const auto status = static_cast<IoStatus>(reply.arguments().at(0).toInt());
    if (status == kIoSuccess && in && request.wLength > 0) {
        const QByteArray data = reply.arguments().at(1).toByteArray();
        if (data.size() != request.wLength) {
            return kIoError;
        }
        std::memcpy(request.data, data.constData(), request.wLength);
    }
    return status;
}
