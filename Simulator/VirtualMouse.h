// VirtualMouse: one simulated Sablecoil. It has the mouse's USB identity and
// firmware version, answers the two class requests (set settings, read
// firmware version), can be busy (the next N opens fail with the
// exclusive-access status) and can reject the next N set-settings requests.
// It also plays the kernel's receiving side: it keeps every report the
// driver host delivered after its filter.
//
// Reports travel on the mouse's report channel, a SOCK_SEQPACKET socket pair
// whose other end the driver host takes with AttachHost. A report that comes
// before a host has attached waits for one; each report's D-Bus call is
// answered when the host says it has handled the report, or with an error
// after kReportTimeoutMs.
#pragma once

#include "Result.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QObject>

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

class QSocketNotifier;

class VirtualMouse : public QObject {
    Q_OBJECT
public:
    static constexpr int kReportTimeoutMs = 5000;

    struct Command {
        QByteArray data; // the request's data bytes as on the wire
        bool rejected = false;
    };

    VirtualMouse(std::uint32_t id, int generation, std::uint16_t vendorId, std::uint16_t productId,
                 std::uint16_t firmware, std::uint32_t busy, std::uint32_t failCommands,
                 QDBusConnection bus, QObject* parent = nullptr);
    ~VirtualMouse() override;

    std::uint32_t id() const { return fId; }
    int generation() const { return fGeneration; }
    std::uint16_t vendorId() const { return fVendorId; }
    std::uint16_t productId() const { return fProductId; }
    std::uint16_t firmware() const { return fFirmware; }
    std::uint32_t busy() const { return fBusy; }
    std::uint32_t failCommands() const { return fFailCommands; }
    bool bound() const { return fBound; }

    // Makes a new report channel; returns the host's end (the caller closes
    // it once it has been sent). A previous host's channel is closed. The
    // integer parameters go out first, so the host knows them before any report.
    Result<int> attachHost(const std::vector<std::pair<std::string, std::int64_t>>& parameters);
    // The host has published the mouse; wakes the WaitBound calls.
    void hostReady();
    // Answers call once a host is ready, or with a timeout error.
    void waitBound(const QDBusMessage& call, int timeoutMs);

    // Sends one input report (or queues it until a host attaches); call is
    // answered when the host has handled it.
    void report(const QByteArray& bytes, const QDBusMessage& call);
    // Passes a changed integer parameter to the host, in order with the reports.
    void sendParameter(const std::string& key, std::int64_t value);

    // Opening the USB device: the exclusive-access status while busy.
    std::int32_t open();
    // One class request on the default pipe; dataIn gets an IN request's answer.
    std::int32_t controlRequest(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                                std::uint16_t index, std::uint16_t length,
                                const QByteArray& dataOut, QByteArray& dataIn);

    QList<QByteArray> delivered(bool clear);
    const std::vector<Command>& commands() const { return fCommands; }

private:
    struct PendingReport {
        std::uint32_t seq = 0;
        QByteArray bytes;
        QDBusMessage call;
        bool sent = false;
    };

    void onChannelReadable();
    void closeChannel();
    bool sendDatagram(const std::uint8_t* data, std::size_t length);
    void sendQueuedReports();
    void finishReport(std::uint32_t seq);
    void timeOutReport(std::uint32_t seq);
    void failReports(bool sentOnly, const char* errorName, const QString& text);

    const std::uint32_t fId;
    const int fGeneration;
    const std::uint16_t fVendorId;
    const std::uint16_t fProductId;
    const std::uint16_t fFirmware;
    std::uint32_t fBusy;
    std::uint32_t fFailCommands;
    QDBusConnection fBus;

    int fChannel = -1; // the simulator's end of the report channel
    QSocketNotifier* fNotifier = nullptr;
    bool fBound = false;
    std::uint32_t fNextSeq = 1;
    std::deque<PendingReport> fPending;
    std::vector<std::pair<std::uint64_t, QDBusMessage>> fBoundWaiters; // ticket, call
    std::uint64_t fNextTicket = 1;
    QList<QByteArray> fDelivered;
    std::vector<Command> fCommands;
};
