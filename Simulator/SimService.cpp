// SimService: the simulator's D-Bus methods.
#include "SimService.h"

#include "DeviceIds.h"
#include "IoStatus.h"
#include "SimulatorBus.h"
#include "VirtualMouse.h"

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMetaType>

#include <unistd.h>

namespace {

// A report carries between 1 and this many bytes.
constexpr int sMaxReportLength = 64;
// WaitBound waits at most this long.
constexpr uint sMaxWaitMs = 60000;

} // namespace

SimService::SimService(QDBusConnection bus, QObject* parent)
    : QObject(parent), fBus(std::move(bus)) {
    qDBusRegisterMetaType<QList<uint>>();
    qDBusRegisterMetaType<QList<bool>>();
    qDBusRegisterMetaType<QByteArrayList>();
}

SimService::~SimService() {
    for (auto& [id, mouse] : fMice) {
        delete mouse;
    }
}

Status SimService::start() {
    if (!fBus.isConnected()) {
        return Status::fail("cannot connect to the session bus: " +
                            fBus.lastError().message().toStdString());
    }
    if (!fBus.registerObject(QString::fromLatin1(SimulatorBus::kPath), this,
                             QDBusConnection::ExportScriptableSlots |
                                 QDBusConnection::ExportScriptableSignals)) {
        return Status::fail("cannot export " + std::string(SimulatorBus::kPath) + ": " +
                            fBus.lastError().message().toStdString());
    }
    if (!fBus.registerService(QString::fromLatin1(SimulatorBus::kService))) {
        return Status::fail(std::string("cannot own the name ") + SimulatorBus::kService + " (" +
                            fBus.lastError().message().toStdString() +
                            "); is another simulator running?");
    }
    return Status::success();
}

uint SimService::Plug(int generation, ushort firmware, uint busy, uint failCommands) {
    if (generation != 1 && generation != 2) {
        sendError(SimulatorBus::kErrorInvalidArgs,
                  QStringLiteral("generation must be 1 or 2, not %1").arg(generation));
        return 0;
    }
    const uint id = fNextId++;
    const std::uint16_t product = generation == 1 ? kSablecoilV1ProductId : kSablecoilV2ProductId;
    auto* mouse = new VirtualMouse(id, generation, kSablecoilVendorId, product, firmware, busy,
                                   failCommands, fBus, this);
    fMice.emplace(id, mouse);
    emit MousePlugged(id, kSablecoilVendorId, product);
    return id;
}

void SimService::Unplug(uint id) {
    VirtualMouse* mouse = mouseOrError(id);
    if (mouse == nullptr) {
        return;
    }
    fMice.erase(id);
    delete mouse; // closes the report channel: the host sees the end of it
    emit MouseUnplugged(id);
}

QList<uint> SimService::ListMice() {
    QList<uint> ids;
    for (const auto& [id, mouse] : fMice) {
        ids.append(id);
    }
    return ids;
}

QVariantMap SimService::MouseInfo(uint id) {
    VirtualMouse* mouse = mouseOrError(id);
    if (mouse == nullptr) {
        return {};
    }
    QVariantMap info;
    info.insert(QStringLiteral("idVendor"), QVariant::fromValue<ushort>(mouse->vendorId()));
    info.insert(QStringLiteral("idProduct"), QVariant::fromValue<ushort>(mouse->productId()));
    info.insert(QStringLiteral("Generation"), mouse->generation());
    info.insert(QStringLiteral("Firmware"), QVariant::fromValue<ushort>(mouse->firmware()));
    info.insert(QStringLiteral("Busy"), QVariant::fromValue<uint>(mouse->busy()));
    info.insert(QStringLiteral("FailCommands"), QVariant::fromValue<uint>(mouse->failCommands()));
    info.insert(QStringLiteral("Bound"), mouse->bound());
    return info;
}

QDBusUnixFileDescriptor SimService::AttachHost(uint id) {
    VirtualMouse* mouse = mouseOrError(id);
    if (mouse == nullptr) {
        return {};
    }
    const Result<int> fd = mouse->attachHost(fParameters.integerValues());
    if (!fd) {
        sendError("org.freedesktop.DBus.Error.Failed", QString::fromStdString(fd.message()));
        return {};
    }
    QDBusUnixFileDescriptor channel(fd.value()); // dups the descriptor
    ::close(fd.value());
    return channel;
}

void SimService::HostReady(uint id) {
    if (VirtualMouse* mouse = mouseOrError(id)) {
        mouse->hostReady();
    }
}

void SimService::WaitBound(uint id, uint timeoutMs) {
    VirtualMouse* mouse = mouseOrError(id);
    if (mouse == nullptr) {
        return;
    }
    setDelayedReply(true);
    mouse->waitBound(message(), static_cast<int>(std::min(timeoutMs, sMaxWaitMs)));
}

void SimService::Report(uint id, const QByteArray& report) {
    VirtualMouse* mouse = mouseOrError(id);
    if (mouse == nullptr) {
        return;
    }
    if (report.isEmpty() || report.size() > sMaxReportLength) {
        sendError(SimulatorBus::kErrorInvalidArgs,
                  QStringLiteral("a report has 1 to %1 bytes, not %2")
                      .arg(sMaxReportLength)
                      .arg(report.size()));
        return;
    }
    setDelayedReply(true);
    mouse->report(report, message());
}

QByteArrayList SimService::Delivered(uint id, bool clear) {
    VirtualMouse* mouse = mouseOrError(id);
    return mouse != nullptr ? mouse->delivered(clear) : QByteArrayList();
}

QByteArrayList SimService::Commands(uint id, QList<bool>& rejected) {
    QByteArrayList data;
    rejected.clear();
    if (VirtualMouse* mouse = mouseOrError(id)) {
        for (const VirtualMouse::Command& command : mouse->commands()) {
            data.append(command.data);
            rejected.append(command.rejected);
        }
    }
    return data;
}

int SimService::OpenDevice(uint id) {
    VirtualMouse* mouse = mouseOrError(id);
    return mouse != nullptr ? mouse->open() : kIoNoDevice;
}

int SimService::ControlRequest(uint id, uchar requestType, uchar request, ushort value,
                               ushort index, ushort length, const QByteArray& dataOut,
                               QByteArray& dataIn) {
    VirtualMouse* mouse = mouseOrError(id);
    if (mouse == nullptr) {
        return kIoNoDevice;
    }
    return mouse->controlRequest(requestType, request, value, index, length, dataOut, dataIn);
}

int SimService::ReadFirmware(uint id, ushort& version) {
    version = 0;
    VirtualMouse* mouse = mouseOrError(id);
    if (mouse == nullptr) {
        return kIoNoDevice;
    }
    QByteArray data;
    const int status = mouse->controlRequest(0xA1, 0x01, 5, 0, 2, QByteArray(), data);
    if (status == kIoSuccess && data.size() == 2) {
        version =
            static_cast<ushort>((static_cast<uchar>(data[0]) << 8) | static_cast<uchar>(data[1]));
    }
    return status;
}

QVariantMap SimService::GetParameters() {
    return fParameters.all();
}

QDBusVariant SimService::GetParameter(const QString& key) {
    const Result<QVariant> value = fParameters.value(key);
    if (!value) {
        sendError(SimulatorBus::kErrorUnknownParameter, QString::fromStdString(value.message()));
        return QDBusVariant(QVariant(0));
    }
    return QDBusVariant(value.value());
}

void SimService::SetParameter(const QString& key, const QDBusVariant& value) {
    const Status set = fParameters.setValue(key, value.variant());
    if (!set) {
        sendError(HidParameters::isKnown(key) ? SimulatorBus::kErrorInvalidArgs
                                              : SimulatorBus::kErrorUnknownParameter,
                  QString::fromStdString(set.message()));
        return;
    }
    const QVariant stored = fParameters.value(key).value();
    if (stored.metaType().id() != QMetaType::Double) {
        for (auto& [id, mouse] : fMice) {
            mouse->sendParameter(key.toStdString(), stored.toLongLong());
        }
    }
    emit ParameterChanged(key, QDBusVariant(stored));
}

QVariantMap SimService::SessionInfo() {
    QVariantMap info;
    info.insert(QStringLiteral("LoginDone"), fSession.loginDone());
    info.insert(QStringLiteral("OnConsole"), fSession.onConsole());
    info.insert(QStringLiteral("UserName"), fSession.userName());
    info.insert(QStringLiteral("UserId"), QVariant::fromValue<uint>(fSession.userId()));
    return info;
}

void SimService::SessionLogin(const QString& userName, uint userId) {
    const Status login = fSession.login(userName, userId);
    if (!login) {
        sendError(SimulatorBus::kErrorInvalidArgs, QString::fromStdString(login.message()));
    }
}

void SimService::SessionLogout() {
    fSession.logout();
}

void SimService::SessionSwitchOut() {
    const Status switched = fSession.switchOut();
    if (!switched) {
        sendError(SimulatorBus::kErrorNotLoggedIn, QString::fromStdString(switched.message()));
    }
}

void SimService::SessionSwitchIn() {
    const Status switched = fSession.switchIn();
    if (!switched) {
        sendError(SimulatorBus::kErrorNotLoggedIn, QString::fromStdString(switched.message()));
        return;
    }
    emit SessionBecameActive();
}

int SimService::PostKey(uchar keyCode, bool down, bool repeat) {
    fEvents.postKey(keyCode, down, repeat);
    return kIoSuccess;
}

int SimService::PostFlags(uint flags) {
    fEvents.postFlags(flags);
    return kIoSuccess;
}

int SimService::PostKeyboard(uchar keyCode, bool down) {
    fEvents.postKeyboard(keyCode, down);
    return kIoSuccess;
}

int SimService::PostAux(uchar keyCode) {
    fEvents.postAux(keyCode);
    return kIoSuccess;
}

int SimService::PostSystemDefined(uchar subtype) {
    fEvents.postSystemDefined(subtype);
    return kIoSuccess;
}

QStringList SimService::Events(bool clear) {
    return fEvents.lines(clear);
}

VirtualMouse* SimService::mouseOrError(uint id) {
    const auto it = fMice.find(id);
    if (it == fMice.end()) {
        sendError(SimulatorBus::kErrorUnknownMouse, QStringLiteral("no virtual mouse %1").arg(id));
        return nullptr;
    }
    return it->second;
}

void SimService::sendError(const char* name, const QString& text) {
    if (calledFromDBus()) {
        sendErrorReply(QString::fromLatin1(name), text);
    }
}
