// ObjectManager: the ordered list of driver instances and its signals.
#include "ObjectManager.h"

#include "objectmanageradaptor.h"

ObjectManager::ObjectManager(QObject* parent) : QObject(parent) {
    new ObjectManagerAdaptor(this);
}

void ObjectManager::add(const QString& path, const InterfaceProperties& interfaces) {
    const QDBusObjectPath objectPath(path);
    fObjects.objects.append({objectPath, interfaces});
    emit InterfacesAdded(objectPath, interfaces);
}

void ObjectManager::remove(const QString& path) {
    const QDBusObjectPath objectPath(path);
    for (qsizetype i = 0; i < fObjects.objects.size(); ++i) {
        if (fObjects.objects[i].first == objectPath) {
            const QStringList names = fObjects.objects[i].second.keys();
            fObjects.objects.removeAt(i);
            emit InterfacesRemoved(objectPath, names);
            return;
        }
    }
}

ManagedObjectList ObjectManager::GetManagedObjects() const {
    return fObjects;
}
