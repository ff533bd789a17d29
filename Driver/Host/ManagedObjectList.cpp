// ManagedObjectList: ordered marshalling of a{oa{sa{sv}}}.
#include "ManagedObjectList.h"

#include <QDBusMetaType>

void ManagedObjectList::registerTypes() {
    // The adaptor's signals name the types as written in its header, so the
    // metatype system needs those names too.
    qRegisterMetaType<QDBusObjectPath>("QDBusObjectPath");
    qRegisterMetaType<InterfaceProperties>("InterfaceProperties");
    qDBusRegisterMetaType<InterfaceProperties>();
    qDBusRegisterMetaType<ManagedObjectList>();
}

QDBusArgument& operator<<(QDBusArgument& argument, const ManagedObjectList& list) {
    argument.beginMap(QMetaType::fromType<QDBusObjectPath>(),
                      QMetaType::fromType<InterfaceProperties>());
    for (const auto& [path, interfaces] : list.objects) {
        argument.beginMapEntry();
        argument << path << interfaces;
        argument.endMapEntry();
    }
    argument.endMap();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, ManagedObjectList& list) {
    list.objects.clear();
    argument.beginMap();
    while (!argument.atEnd()) {
        QDBusObjectPath path;
        InterfaceProperties interfaces;
        argument.beginMapEntry();
        argument >> path >> interfaces;
        argument.endMapEntry();
        list.objects.append({path, interfaces});
    }
    argument.endMap();
    return argument;
}
