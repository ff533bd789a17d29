// VirtualMouse: identity, class requests, report channel and the kernel's
// receiving side of one simulated mouse.
#include "VirtualMouse.h"

#include "IoStatus.h"
#include "SimChannel.h"
#include "SimulatorBus.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The set-settings request and the read-firmware-version request.
constexpr std::uint8_t sSetSettingsType = 0x21;
constexpr std::uint8_t sSetSettingsRequest = 0x09;
constexpr std::uint16_t sSetSettingsValue = 0x0010;
constexpr std::uint16_t sSetSettingsLength = 4;
constexpr std::uint8_t sReadFirmwareType = 0xA1;
constexpr std::uint8_t sReadFirmwareRequest = 0x01;
constexpr std::uint16_t sReadFirmwareValue = 5;
constexpr std::uint16_t sReadFirmwareLength = 2;

} // namespace

VirtualMouse::VirtualMouse(std::uint32_t id, int generation, std::uint16_t vendorId,
                           std::uint16_t productId, std::uint16_t firmware, std::uint32_t busy,
                           std::uint32_t failCommands, QDBusConnection bus, QObject* parent)
    : QObject(parent), fId(id), fGeneration(generation), fVendorId(vendorId), fProductId(productId),
      fFirmware(firmware), fBusy(busy), fFailCommands(failCommands), fBus(std::move(bus)) {}

VirtualMouse::~VirtualMouse() {
    const QString text = QStringLiteral("mouse %1 was unplugged").arg(fId);
    failReports(false, SimulatorBus::kErrorHostGone, text);
    for (const auto& waiter : fBoundWaiters) {
        fBus.send(waiter.second.createErrorReply(
            QString::fromLatin1(SimulatorBus::kErrorUnknownMouse), text));
    }
    fBoundWaiters.clear();
    closeChannel();
}

Result<int>
VirtualMouse::attachHost(const std::vector<std::pair<std::string, std::int64_t>>& parameters) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        return Result<int>::fail("cannot make a report channel for mouse " + std::to_string(fId));
    }
    closeChannel();
    failReports(true, SimulatorBus::kErrorHostGone,
                QStringLiteral("another driver host took over mouse %1").arg(fId));
    fChannel = pair[0];
    fNotifier = new QSocketNotifier(fChannel, QSocketNotifier::Read, this);
    connect(fNotifier, &QSocketNotifier::activated, this, &VirtualMouse::onChannelReadable);
    for (const auto& [key, value] : parameters) {
        sendParameter(key, value);
    }
    sendQueuedReports();
    return pair[1];
}

void VirtualMouse::hostReady() {
    if (fChannel < 0) {
        return;
    }
    fBound = true;
    for (const auto& waiter : fBoundWaiters) {
        fBus.send(waiter.second.createReply());
    }
    fBoundWaiters.clear();
}

void VirtualMouse::waitBound(const QDBusMessage& call, int timeoutMs) {
    if (fBound) {
        fBus.send(call.createReply());
        return;
    }
    const std::uint64_t ticket = fNextTicket++;
    fBoundWaiters.emplace_back(ticket, call);
    QTimer::singleShot(timeoutMs, this, [this, ticket] {
        for (auto it = fBoundWaiters.begin(); it != fBoundWaiters.end(); ++it) {
            if (it->first == ticket) {
                fBus.send(it->second.createErrorReply(
                    QString::fromLatin1(SimulatorBus::kErrorTimeout),
                    QStringLiteral("no driver host took mouse %1 (is orvix-sablecoil-driver "
                                   "running with SABLECOIL_PLATFORM=virtual?)")
                        .arg(fId)));
                fBoundWaiters.erase(it);
                return;
            }
        }
    });
}

void VirtualMouse::report(const QByteArray& bytes, const QDBusMessage& call) {
    const std::uint32_t seq = fNextSeq++;
    fPending.push_back(PendingReport{seq, bytes, call, false});
    QTimer::singleShot(kReportTimeoutMs, this, [this, seq] { timeOutReport(seq); });
    sendQueuedReports();
}

void VirtualMouse::sendParameter(const std::string& key, std::int64_t value) {
    std::uint8_t datagram[SimChannel::kMaxDatagram];
    const std::size_t size = SimChannel::encodeParameter(key, value, datagram, sizeof datagram);
    if (size > 0 && fChannel >= 0 && !sendDatagram(datagram, size)) {
        std::fprintf(stderr, "sablecoil-sim: mouse %u: cannot pass %s to the driver host\n", fId,
                     key.c_str());
    }
}

std::int32_t VirtualMouse::open() {
    if (fBusy > 0) {
        --fBusy;
        return kIoExclusiveAccess;
    }
    return kIoSuccess;
}

std::int32_t VirtualMouse::controlRequest(std::uint8_t requestType, std::uint8_t request,
                                          std::uint16_t value, std::uint16_t index,
                                          std::uint16_t length, const QByteArray& dataOut,
                                          QByteArray& dataIn) {
    dataIn.clear();
    const bool in = (requestType & 0x80) != 0;
    if (!in && dataOut.size() != length) {
        return kIoBadArgument;
    }
    if (requestType == sSetSettingsType && request == sSetSettingsRequest) {
        Command command{dataOut, false};
        const bool wellFormed =
            value == sSetSettingsValue && index == 0 && length == sSetSettingsLength;
        if (!wellFormed) {
            command.rejected = true;
        } else if (fFailCommands > 0) {
            --fFailCommands;
            command.rejected = true;
        }
        fCommands.push_back(command);
        return command.rejected ? kIoPipeStall : kIoSuccess;
    }
    if (requestType == sReadFirmwareType && request == sReadFirmwareRequest &&
        value == sReadFirmwareValue && index == 0 && length == sReadFirmwareLength) {
        dataIn.append(static_cast<char>(fFirmware >> 8));
        dataIn.append(static_cast<char>(fFirmware & 0xFF));
        return kIoSuccess;
    }
    return kIoPipeStall; // a request the mouse does not know
}

QList<QByteArray> VirtualMouse::delivered(bool clear) {
    QList<QByteArray> reports = fDelivered;
    if (clear) {
        fDelivered.clear();
    }
    return reports;
}

void VirtualMouse::onChannelReadable() {
    std::uint8_t buffer[SimChannel::kMaxDatagram];
    for (;;) {
        const ssize_t received = ::recv(fChannel, buffer, sizeof buffer, MSG_DONTWAIT);
        if (received < 0 && errno == EINTR) {
            continue;
        }
        if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        }
        if (received <= 0) {
            // The host let go of the mouse: its reports in flight are lost,
            // the queued ones wait for the next host.
            closeChannel();
            failReports(true, SimulatorBus::kErrorHostGone,
                        QStringLiteral("the driver host let go of mouse %1").arg(fId));
            return;
        }
        SimChannel::Datagram datagram;
        if (!SimChannel::decode(buffer, static_cast<std::size_t>(received), datagram)) {
            std::fprintf(stderr, "sablecoil-sim: mouse %u: ignoring a malformed datagram\n", fId);
            continue;
        }
        if (datagram.kind == SimChannel::kDelivered) {
            fDelivered.append(QByteArray(reinterpret_cast<const char*>(datagram.bytes),
                                         static_cast<qsizetype>(datagram.length)));
        } else if (datagram.kind == SimChannel::kHandled) {
            finishReport(datagram.seq);
        }
    }
}

void VirtualMouse::closeChannel() {
    if (fNotifier != nullptr) {
        // May run inside the notifier's own signal.
        fNotifier->setEnabled(false);
        fNotifier->deleteLater();
        fNotifier = nullptr;
    }
    if (fChannel >= 0) {
        ::close(fChannel);
        fChannel = -1;
    }
    fBound = false;
}

bool VirtualMouse::sendDatagram(const std::uint8_t* data, std::size_t length) {
    for (;;) {
        const ssize_t sent = ::send(fChannel, data, length, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        return sent == static_cast<ssize_t>(length);
    }
}

void VirtualMouse::sendQueuedReports() {
    if (fChannel < 0) {
        return;
    }
    std::uint8_t datagram[SimChannel::kMaxDatagram];
    for (PendingReport& pending : fPending) {
        if (pending.sent) {
            continue;
        }
        const std::size_t size = SimChannel::encodeInputReport(
            pending.seq, reinterpret_cast<const std::uint8_t*>(pending.bytes.constData()),
            static_cast<std::size_t>(pending.bytes.size()), datagram, sizeof datagram);
        if (size == 0 || !sendDatagram(datagram, size)) {
            return; // the channel is full; the timeout answers the call
        }
        pending.sent = true;
    }
}

void VirtualMouse::finishReport(std::uint32_t seq) {
    for (auto it = fPending.begin(); it != fPending.end(); ++it) {
        if (it->seq == seq) {
            fBus.send(it->call.createReply());
            fPending.erase(it);
            return;
        }
    }
}

void VirtualMouse::timeOutReport(std::uint32_t seq) {
    for (auto it = fPending.begin(); it != fPending.end(); ++it) {
        if (it->seq == seq) {
            const QString text =
                it->sent ? QStringLiteral("the driver host did not finish the report for mouse %1 "
                                          "within %2 ms")
                               .arg(fId)
                               .arg(kReportTimeoutMs)
                         : QStringLiteral("no driver host took the report for mouse %1 within %2 "
                                          "ms (is orvix-sablecoil-driver running with "
                                          "SABLECOIL_PLATFORM=virtual?)")
                               .arg(fId)
                               .arg(kReportTimeoutMs);
            fBus.send(
                it->call.createErrorReply(QString::fromLatin1(SimulatorBus::kErrorTimeout), text));
            fPending.erase(it);
            return;
        }
    }
}

void VirtualMouse::failReports(bool sentOnly, const char* errorName, const QString& text) {
    for (auto it = fPending.begin(); it != fPending.end();) {
        if (sentOnly && !it->sent) {
            ++it;
            continue;
        }
        fBus.send(it->call.createErrorReply(QString::fromLatin1(errorName), text));
        it = fPending.erase(it);
    }
}
