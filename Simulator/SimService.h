// SimService: the simulator's D-Bus object, com.orvix.SablecoilSim at
// /com/orvix/SablecoilSim on the session bus. Plugs and unplugs virtual mice,
// hands their report channels to the driver host, carries reports in and
// the delivered reports out, answers class requests for the mice and keeps
// the desktop's pointer parameters, the console session and the sink of
// synthetic input events. docs/simulator.md lists the methods.
#pragma once

#include "ConsoleSessionState.h"
#include "EventLog.h"
#include "HidParameters.h"
#include "Result.h"

#include <QByteArrayList>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <map>

class VirtualMouse;

class SimService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.orvix.SablecoilSim")

public:
    explicit SimService(QDBusConnection bus, QObject* parent = nullptr);
    ~SimService() override;

    // Exports the object and takes the service name.
    Status start();

public slots:
    Q_SCRIPTABLE uint Plug(int generation, ushort firmware, uint busy, uint failCommands);
    Q_SCRIPTABLE void Unplug(uint id);
    Q_SCRIPTABLE QList<uint> ListMice();
    Q_SCRIPTABLE QVariantMap MouseInfo(uint id);

    Q_SCRIPTABLE QDBusUnixFileDescriptor AttachHost(uint id);
    Q_SCRIPTABLE void HostReady(uint id);
    Q_SCRIPTABLE void WaitBound(uint id, uint timeoutMs);

    Q_SCRIPTABLE void Report(uint id, const QByteArray& report);
    Q_SCRIPTABLE QByteArrayList Delivered(uint id, bool clear);
    Q_SCRIPTABLE QByteArrayList Commands(uint id, QList<bool>& rejected);

    Q_SCRIPTABLE int OpenDevice(uint id);
    Q_SCRIPTABLE int ControlRequest(uint id, uchar requestType, uchar request, ushort value,
                                    ushort index, ushort length, const QByteArray& dataOut,
                                    QByteArray& dataIn);
    Q_SCRIPTABLE int ReadFirmware(uint id, ushort& version);

    Q_SCRIPTABLE QVariantMap GetParameters();
    Q_SCRIPTABLE QDBusVariant GetParameter(const QString& key);
    Q_SCRIPTABLE void SetParameter(const QString& key, const QDBusVariant& value);

    Q_SCRIPTABLE QVariantMap SessionInfo();
    Q_SCRIPTABLE void SessionLogin(const QString& userName, uint userId);
    Q_SCRIPTABLE void SessionLogout();
    Q_SCRIPTABLE void SessionSwitchOut();
    Q_SCRIPTABLE void SessionSwitchIn();

    Q_SCRIPTABLE int PostKey(uchar keyCode, bool down, bool repeat);
    Q_SCRIPTABLE int PostFlags(uint flags);
    Q_SCRIPTABLE int PostKeyboard(uchar keyCode, bool down);
    Q_SCRIPTABLE int PostAux(uchar keyCode);
    Q_SCRIPTABLE int PostSystemDefined(uchar subtype);
    Q_SCRIPTABLE QStringList Events(bool clear);

signals:
    Q_SCRIPTABLE void MousePlugged(uint id, ushort idVendor, ushort idProduct);
    Q_SCRIPTABLE void MouseUnplugged(uint id);
    Q_SCRIPTABLE void ParameterChanged(const QString& key, const QDBusVariant& value);
    Q_SCRIPTABLE void SessionBecameActive();

private:
    // The mouse with this id, or nullptr after sending an UnknownMouse error.
    VirtualMouse* mouseOrError(uint id);
    void sendError(const char* name, const QString& text);

    QDBusConnection fBus;
    std::map<uint, VirtualMouse*> fMice; // children of this
    uint fNextId = 1;
    HidParameters fParameters;
    ConsoleSessionState fSession;
    EventLog fEvents;
};
