// ManagedObjectList: the D-Bus types of org.freedesktop.DBus.ObjectManager.
// InterfaceProperties is a{sa{sv}} (interface name to its properties);
// ManagedObjectList is a{oa{sa{sv}}} kept as an ordered list, so that
// GetManagedObjects lists the objects in the order they were added (a QMap
// would sort the paths, and "/10" sorts before "/2").
#pragma once

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QPair>
#include <QString>
#include <QVariantMap>

using InterfaceProperties = QMap<QString, QVariantMap>;

struct ManagedObjectList {
    QList<QPair<QDBusObjectPath, InterfaceProperties>> objects;

    // Registers both types with Qt's D-Bus type system; call once before use.
    static void registerTypes();
};

QDBusArgument& operator<<(QDBusArgument& argument, const ManagedObjectList& list);
const QDBusArgument& operator>>(const QDBusArgument& argument, ManagedObjectList& list);

Q_DECLARE_METATYPE(ManagedObjectList)
