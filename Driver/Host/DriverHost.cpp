// DriverHost: instances coming and going, and the host's D-Bus names.
#include "DriverHost.h"

#include "DeviceIds.h"
#include "DriverInstance.h"
#include "ObjectManager.h"

#include <QDBusConnectionInterface>
#include <QDBusError>

#include <algorithm>
#include <cstdio>

namespace {

void warn(const std::string& text) {
    std::fprintf(stderr, "orvix-sablecoil-driver: %s\n", text.c_str());
    std::fflush(stderr);
}

bool isSablecoil(std::uint16_t vendorId, std::uint16_t productId) {
    return vendorId == kSablecoilVendorId &&
           (productId == kSablecoilV1ProductId || productId == kSablecoilV2ProductId);
}

} // namespace

DriverHost::DriverHost(QDBusConnection bus, DeviceSource& source, QObject* parent)
    : QObject(parent), fBus(std::move(bus)), fSource(source) {
    ManagedObjectList::registerTypes();
    fObjectManager = new ObjectManager(this);
}

DriverHost::~DriverHost() {
    stop();
}

Status DriverHost::start() {
    if (!fBus.isConnected()) {
        return Status::fail("not connected to the bus: " +
                            fBus.lastError().message().toStdString());
    }
    if (!fBus.registerObject(QString::fromLatin1(kManagerPath), fObjectManager,
                             QDBusConnection::ExportAdaptors)) {
        return Status::fail(std::string("cannot export ") + kManagerPath + ": " +
                            fBus.lastError().message().toStdString());
    }
    if (!fBus.registerService(QString::fromLatin1(kServiceName))) {
        fBus.unregisterObject(QString::fromLatin1(kManagerPath));
        return Status::fail(std::string("cannot own the name ") + kServiceName + " (" +
                            fBus.lastError().message().toStdString() +
                            "); is another driver host running?");
    }
    fRunning = true;
    Status started = fSource.start(*this);
    if (!started) {
        stop();
        return started;
    }
    return Status::success();
}

void DriverHost::stop() {
    if (!fRunning) {
        return;
    }
    fRunning = false;
    fSource.stop();
    while (!fInstances.empty()) {
        removeInstance(fInstances.back());
    }
    fBus.unregisterService(QString::fromLatin1(kServiceName));
    fBus.unregisterObject(QString::fromLatin1(kManagerPath));
}

void DriverHost::deviceAttached(std::unique_ptr<SourceDevice> device) {
    if (!fRunning) {
        return;
    }
    if (!isSablecoil(device->vendorId(), device->productId())) {
        char ids[32];
        std::snprintf(ids, sizeof ids, "%04x:%04x", device->vendorId(), device->productId());
        warn("ignoring " + device->key() + ": " + ids + " is not a Sablecoil");
        return;
    }
    const QString path = QString::fromLatin1(kInstancePathPrefix) + QString::number(fNextNumber++);
    auto* instance = new DriverInstance(std::move(device), fBus, path, this);
    const Status started = instance->start();
    if (!started) {
        warn(started.message());
        delete instance;
        return;
    }
    fInstances.push_back(instance);
    connect(instance, &DriverInstance::channelClosed, this,
            [this, instance] { removeInstance(instance); });
    fObjectManager->add(path, instance->interfaceProperties());
}

void DriverHost::deviceDetached(const std::string& key) {
    const auto it = std::find_if(fInstances.begin(), fInstances.end(),
                                 [&key](DriverInstance* i) { return i->deviceKey() == key; });
    if (it != fInstances.end()) {
        removeInstance(*it);
    }
}

void DriverHost::removeInstance(DriverInstance* instance) {
    const auto it = std::find(fInstances.begin(), fInstances.end(), instance);
    if (it == fInstances.end()) {
        return;
    }
    fInstances.erase(it);
    instance->stop();
    fObjectManager->remove(instance->path());
    // Later: this may run inside one of the instance's own signals.
    instance->deleteLater();
}
