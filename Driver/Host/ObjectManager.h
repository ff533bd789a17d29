// ObjectManager: the org.freedesktop.DBus.ObjectManager at /com/orvix/driver.
// Lists the driver instances in the order they were attached and announces
// each one coming and going. The D-Bus side is the adaptor generated from
// data/dbus/org.freedesktop.DBus.ObjectManager.xml; this is its parent object.
#pragma once

#include "ManagedObjectList.h"

#include <QObject>
#include <QStringList>

class ObjectManager : public QObject {
    Q_OBJECT
public:
    explicit ObjectManager(QObject* parent = nullptr);

    // Adds an object at the end of the list and emits InterfacesAdded.
    void add(const QString& path, const InterfaceProperties& interfaces);
    // Removes an object and emits InterfacesRemoved with its interface names.
    void remove(const QString& path);

public slots:
    ManagedObjectList GetManagedObjects() const;

signals:
    void InterfacesAdded(const QDBusObjectPath& object, const InterfaceProperties& interfaces);
    void InterfacesRemoved(const QDBusObjectPath& object, const QStringList& interfaces);

private:
    ManagedObjectList fObjects;
};
