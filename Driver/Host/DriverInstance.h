// DriverInstance: one attached mouse in the driver host. Owns the report
// filter, the mouse's source device and the report thread, and is the D-Bus
// object of the instance (its adaptor is generated from
// data/dbus/com.orvix.driver.OrvixSablecoilDriver.xml).
//
// Threads: the report thread reads each report, runs the filter on it and
// pushes the filter's messages and a "report done" mark into a lock-free
// ring; an eventfd wakes the main loop, which emits the Message signals in
// order and then tells the source that the report was handled (after a
// round trip to the bus, so the signals have left the host by then).
// SetProperties runs on the main loop.
#pragma once

#include "ManagedObjectList.h"
#include "MessageRing.h"
#include "Result.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

class HostPort;
class QSocketNotifier;
class SourceDevice;
class com_orvix_driver_OrvixSablecoilDriver;

class DriverInstance : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString ClassName READ className)
    Q_PROPERTY(qlonglong idVendor READ idVendor)
    Q_PROPERTY(qlonglong idProduct READ idProduct)

public:
    static constexpr const char* kInterface = "com.orvix.driver.OrvixSablecoilDriver";

    DriverInstance(std::unique_ptr<SourceDevice> device, QDBusConnection bus, QString path,
                   QObject* parent = nullptr);
    ~DriverInstance() override;

    // Attaches the filter, starts the report thread and exports the object.
    Status start();
    // Stops the report thread, emits the messages still queued, detaches the
    // filter and withdraws the object. Idempotent.
    void stop();

    const QString& path() const { return fPath; }
    const std::string& deviceKey() const;
    InterfaceProperties interfaceProperties() const;

    QString className() const;
    qlonglong idVendor() const;
    qlonglong idProduct() const;

    // Report thread: queues one driver message word for the main loop.
    void postMessage(std::uint32_t type);

public slots:
    int SetProperties(const QVariantMap& properties);

signals:
    void Message(uint type);
    // The report channel closed on its own (the device went away).
    void channelClosed();

private:
    enum EntryKind : std::uint32_t { kMessage = 1, kReportDone = 2, kClosed = 3 };
    static constexpr std::size_t kRingCapacity = 1024;

    void reportThreadMain();
    void push(EntryKind kind, std::uint32_t payload);
    void wake();
    void onWakeup();
    void drain();
    void acknowledge(std::uint32_t token);

    std::unique_ptr<SourceDevice> fDevice;
    std::unique_ptr<com_orvix_driver_OrvixSablecoilDriver> fFilter;
    std::unique_ptr<HostPort> fPort;
    QDBusConnection fBus;
    const QString fPath;
    MessageRing<kRingCapacity> fRing;
    int fEventFd = -1;
    QSocketNotifier* fNotifier = nullptr;
    std::thread fReportThread;
    std::atomic<bool> fStopping{false};
    bool fExported = false;
    bool fClosedSeen = false;
};
