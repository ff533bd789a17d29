// DBusServiceRegistryTest: the driver registry against a fake driver host on a
// private bus. The fake host runs on its own thread with its own connection,
// as the real host is another process: the registry's calls block.
#include "DBusServiceRegistry.h"
#include "PrivateDBus.h"

#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QMap>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using InterfaceMap = QMap<QString, QVariantMap>;
using ManagedObjects = QMap<QDBusObjectPath, InterfaceMap>;
Q_DECLARE_METATYPE(InterfaceMap)
Q_DECLARE_METATYPE(ManagedObjects)

namespace {

constexpr const char* sClass = "com_orvix_driver_OrvixSablecoilDriver";
constexpr const char* sInstancePrefix = "/com/orvix/driver/OrvixSablecoilDriver/";

// How a fake instance answers SetProperties.
enum class Answer { Status, NotAStatus, Never };

// One driver instance as the host exports it.
class FakeInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.orvix.driver.OrvixSablecoilDriver")
    Q_PROPERTY(QString ClassName READ className)
    Q_PROPERTY(qlonglong idVendor READ idVendor)
    Q_PROPERTY(qlonglong idProduct READ idProduct)

public:
    FakeInstance(QString className, qlonglong vendor, qlonglong product)
        : fClassName(std::move(className)), fVendor(vendor), fProduct(product) {}

    QString className() const { return fClassName; }
    qlonglong idVendor() const { return fVendor; }
    qlonglong idProduct() const { return fProduct; }

    void answer(Answer answer, int status) {
        QMutexLocker lock(&fMutex);
        fAnswer = answer;
        fStatus = status;
    }
    // The signature of the last SetProperties call and its argument.
    QString lastSignature() {
        QMutexLocker lock(&fMutex);
        return fLastSignature;
    }
    QVariantMap lastProperties() {
        QMutexLocker lock(&fMutex);
        return fLastProperties;
    }
    QVariantMap properties() const {
        return {{QStringLiteral("ClassName"), fClassName},
                {QStringLiteral("idVendor"), fVendor},
                {QStringLiteral("idProduct"), fProduct}};
    }

public slots:
    int SetProperties(const QVariantMap& properties, const QDBusMessage& message) {
        QMutexLocker lock(&fMutex);
        fLastSignature = message.signature();
        fLastProperties = properties;
        if (fAnswer == Answer::NotAStatus) {
            message.setDelayedReply(true);
            fConnectionForReplies.send(message.createReply(QStringLiteral("fine, thanks")));
        } else if (fAnswer == Answer::Never) {
            message.setDelayedReply(true);
        }
        return fStatus;
    }

public:
    QDBusConnection fConnectionForReplies{QString()};

private:
    QString fClassName;
    qlonglong fVendor;
    qlonglong fProduct;
    QMutex fMutex;
    Answer fAnswer = Answer::Status;
    int fStatus = 0;
    QString fLastSignature;
    QVariantMap fLastProperties;
};

// The host's object manager; lists what the host holds.
class FakeObjectManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.DBus.ObjectManager")

public:
    explicit FakeObjectManager(QDBusConnection connection) : fConnection(std::move(connection)) {}

    void set(const QString& path, const QVariantMap& properties) {
        QMutexLocker lock(&fMutex);
        fObjects[QDBusObjectPath(path)] = {
            {QStringLiteral("com.orvix.driver.OrvixSablecoilDriver"), properties}};
    }
    void remove(const QString& path) {
        QMutexLocker lock(&fMutex);
        fObjects.remove(QDBusObjectPath(path));
    }
    void setMalformed(bool malformed) {
        QMutexLocker lock(&fMutex);
        fMalformed = malformed;
    }

public slots:
    void GetManagedObjects(const QDBusMessage& message) {
        QMutexLocker lock(&fMutex);
        message.setDelayedReply(true);
        fConnection.send(fMalformed ? message.createReply(QStringLiteral("not a map"))
                                    : message.createReply(QVariant::fromValue(fObjects)));
    }

private:
    QDBusConnection fConnection;
    QMutex fMutex;
    ManagedObjects fObjects;
    bool fMalformed = false;
};

// A driver host: its own connection, thread and objects.
class FakeDriverHost {
public:
    explicit FakeDriverHost(PrivateDBus& bus) : fBus(bus), fConnection(bus.connect("host")) {
        fThread.start();
        fManager = std::make_unique<FakeObjectManager>(fConnection);
        fManager->moveToThread(&fThread);
        fConnection.registerObject(DBusServiceRegistry::kManagerPath, fManager.get(),
                                   QDBusConnection::ExportAllSlots);
        fConnection.registerService(DBusServiceRegistry::kService);
    }
    ~FakeDriverHost() {
        leaveBus();
        fThread.quit();
        fThread.wait();
    }

    // Attaches an instance under /<number>.
    FakeInstance& attach(int number, const QString& className, qlonglong vendor,
                         qlonglong product) {
        const QString path = sInstancePrefix + QString::number(number);
        auto instance = std::make_unique<FakeInstance>(className, vendor, product);
        instance->fConnectionForReplies = fConnection;
        instance->moveToThread(&fThread);
        fConnection.registerObject(path, instance.get(),
                                   QDBusConnection::ExportAllSlots |
                                       QDBusConnection::ExportAllProperties);
        fManager->set(path, instance->properties());
        fInstances.push_back(std::move(instance));
        return *fInstances.back();
    }

    // Removes an instance the way the host does: object gone, InterfacesRemoved.
    void detach(int number) {
        const QString path = sInstancePrefix + QString::number(number);
        fConnection.unregisterObject(path);
        fManager->remove(path);
        QDBusMessage signal =
            QDBusMessage::createSignal(DBusServiceRegistry::kManagerPath,
                                       "org.freedesktop.DBus.ObjectManager", "InterfacesRemoved");
        signal << QVariant::fromValue(QDBusObjectPath(path))
               << QStringList{QString::fromLatin1(DBusServiceRegistry::kInterface)};
        fConnection.send(signal);
    }

    void message(int number, uint type) {
        QDBusMessage signal = QDBusMessage::createSignal(
            sInstancePrefix + QString::number(number), DBusServiceRegistry::kInterface, "Message");
        signal << type;
        fConnection.send(signal);
    }

    void leaveBus() {
        if (fConnection.isConnected()) {
            // Released by a call, so the name is gone when this returns.
            fConnection.unregisterService(DBusServiceRegistry::kService);
            fBus.disconnect(fConnection);
        }
    }

    FakeObjectManager& manager() { return *fManager; }

private:
    PrivateDBus& fBus;
    QDBusConnection fConnection;
    QThread fThread;
    std::unique_ptr<FakeObjectManager> fManager;
    std::vector<std::unique_ptr<FakeInstance>> fInstances;
};

QString path(int number) {
    return sInstancePrefix + QString::number(number);
}
ServiceHandle handle(int number) {
    return path(number).toStdString();
}

struct Delivery {
    int registration;
    ServiceHandle service;
    std::uint32_t type;
};

class DBusServiceRegistryTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        qDBusRegisterMetaType<InterfaceMap>();
        qDBusRegisterMetaType<ManagedObjects>();
        sBus = new PrivateDBus;
        ASSERT_TRUE(sBus->start()) << sBus->error().toStdString();
    }
    static void TearDownTestSuite() {
        delete sBus;
        sBus = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(sBus, nullptr);
        fHost = std::make_unique<FakeDriverHost>(*sBus);
        fClientConnection = std::make_unique<QDBusConnection>(sBus->connect("agent"));
        ASSERT_TRUE(fClientConnection->isConnected());
        fRegistry = std::make_unique<DBusServiceRegistry>(*fClientConnection);
    }

    void TearDown() override {
        fRegistry.reset();
        fHost.reset();
        if (sBus != nullptr) {
            sBus->disconnect(*fClientConnection);
        }
    }

    ServiceRegistry::MessageHandler recordAs(int registration) {
        return [this, registration](const ServiceHandle& service, std::uint32_t type) {
            fDeliveries.push_back({registration, service, type});
        };
    }

    // Waits until a message of this type has arrived; one sender's signals
    // arrive in order, so everything sent before it has arrived too.
    bool waitForType(std::uint32_t type) {
        return PrivateDBus::waitUntil([&] {
            for (const Delivery& d : fDeliveries) {
                if (d.type == type) {
                    return true;
                }
            }
            return false;
        });
    }

    static PrivateDBus* sBus;
    std::unique_ptr<FakeDriverHost> fHost;
    std::unique_ptr<QDBusConnection> fClientConnection;
    std::unique_ptr<DBusServiceRegistry> fRegistry;
    std::vector<Delivery> fDeliveries;
};

PrivateDBus* DBusServiceRegistryTest::sBus = nullptr;

TEST_F(DBusServiceRegistryTest, MatchingServicesInAttachOrderByClass) {
    // Attached out of map order: /10 sorts before /2 as text.
    fHost->attach(2, sClass, 0x1234, 0x0001);
    fHost->attach(10, sClass, 0x1234, 0x0002);
    fHost->attach(3, "SomeOtherDriver", 0x1234, 0x0003);

    const auto services = fRegistry->matchingServices(sClass);
    ASSERT_TRUE(services.ok()) << services.message();
    EXPECT_EQ(services.value(), (std::vector<ServiceHandle>{handle(2), handle(10)}));

    const auto none = fRegistry->matchingServices("NoSuchClass");
    ASSERT_TRUE(none.ok());
    EXPECT_TRUE(none.value().empty());
}

TEST_F(DBusServiceRegistryTest, NoHostMeansNoInstances) {
    fHost->leaveBus();
    const auto services = fRegistry->matchingServices(sClass);
    ASSERT_TRUE(services.ok()) << services.message();
    EXPECT_TRUE(services.value().empty());
}

TEST_F(DBusServiceRegistryTest, MalformedListIsAnErrorNotACrash) {
    fHost->attach(1, sClass, 0x1234, 0x0001);
    fHost->manager().setMalformed(true);
    const auto services = fRegistry->matchingServices(sClass);
    ASSERT_FALSE(services.ok());
    EXPECT_NE(services.message().find("signature"), std::string::npos) << services.message();
}

TEST_F(DBusServiceRegistryTest, CopyPropertiesGivesClassAndIdsAsInt64) {
    fHost->attach(1, sClass, 0x1234, 0xABCD);
    const auto properties = fRegistry->copyProperties(handle(1));
    ASSERT_TRUE(properties.ok()) << properties.message();
    EXPECT_EQ(properties->stringFor("ClassName"), sClass);
    ASSERT_TRUE(properties->get("idVendor").isInteger());
    EXPECT_EQ(properties->get("idVendor").integerWidth(), PlistValue::Width::Bits64);
    EXPECT_EQ(properties->intFor("idVendor"), 0x1234);
    EXPECT_EQ(properties->intFor("idProduct"), 0xABCD);

    EXPECT_FALSE(fRegistry->copyProperties(handle(7)).ok());
    EXPECT_FALSE(fRegistry->copyProperties("not a path").ok());
}

TEST_F(DBusServiceRegistryTest, SetPropertiesSendsTypedDictionaryAndReturnsHostStatus) {
    FakeInstance& instance = fHost->attach(1, sClass, 0x1234, 0x0001);
    const PlistValue mappings =
        PlistValue::array({PlistValue::data({0x00}), PlistValue::data({0x01}),
                           PlistValue::data({0x03, '5', '6', '1'})});
    const PlistValue profile = PlistValue::dictionary({
        {"Sensitivity", PlistValue::int32(0xA0000)},
        {"MasterSensitivityOn", PlistValue::int32(0)},
        {"HIDPointerAcceleration", PlistValue::int32(0x8000)},
        {"Resolution", PlistValue::int32(2)},
        {"ButtonMappings", mappings},
        {"DeviceVersion", PlistValue::int32(2)},
    });

    EXPECT_EQ(fRegistry->setProperties(handle(1), profile), kIoSuccess);
    EXPECT_EQ(instance.lastSignature(), QStringLiteral("a{sv}"));
    const QVariantMap got = instance.lastProperties();
    EXPECT_EQ(got.size(), 6);
    for (const char* key : {"Sensitivity", "MasterSensitivityOn", "HIDPointerAcceleration",
                            "Resolution", "DeviceVersion"}) {
        EXPECT_EQ(got.value(key).metaType(), QMetaType::fromType<int>()) << key; // i
    }
    EXPECT_EQ(got.value("Sensitivity").toInt(), 0xA0000);
    const QVariant buttons = got.value("ButtonMappings");
    ASSERT_EQ(buttons.metaType(), QMetaType::fromType<QDBusArgument>());
    const QDBusArgument array = buttons.value<QDBusArgument>();
    EXPECT_EQ(array.currentSignature(), QStringLiteral("aay"));
    QList<QByteArray> records;
    array >> records;
    EXPECT_EQ(records, (QList<QByteArray>{QByteArray("\x00", 1), QByteArray("\x01", 1),
                                          QByteArray("\x03"
                                                     "561",
                                                     4)}));

    instance.answer(Answer::Status, static_cast<int>(kIoExclusiveAccess));
    EXPECT_EQ(fRegistry->setProperties(handle(1), profile), kIoExclusiveAccess);
}

TEST_F(DBusServiceRegistryTest, SetPropertiesFailuresHaveClearStatuses) {
    FakeInstance& instance = fHost->attach(1, sClass, 0x1234, 0x0001);
    const PlistValue dict = PlistValue::dictionary({{"Resolution", PlistValue::int32(1)}});

    EXPECT_EQ(fRegistry->setProperties(handle(9), dict), kIoNoDevice);
    EXPECT_EQ(fRegistry->setProperties(handle(1), PlistValue::int32(1)), kIoBadArgument);
    EXPECT_EQ(fRegistry->setProperties("", dict), kIoBadArgument);

    instance.answer(Answer::NotAStatus, 0);
    EXPECT_EQ(fRegistry->setProperties(handle(1), dict), kIoError);

    instance.answer(Answer::Never, 0);
    fRegistry->setCallTimeout(200);
    EXPECT_EQ(fRegistry->setProperties(handle(1), dict), kIoNotResponding);

    fHost->leaveBus();
    EXPECT_EQ(fRegistry->setProperties(handle(1), dict), kIoNoDevice);
}

TEST_F(DBusServiceRegistryTest, MessagesReachEachRegistrationOfTheirInstance) {
    fHost->attach(1, sClass, 0x1234, 0x0001);
    fHost->attach(2, sClass, 0x1234, 0x0002);
    ASSERT_EQ(fRegistry->addInterestNotification(handle(1), recordAs(1)), kIoSuccess);
    ASSERT_EQ(fRegistry->addInterestNotification(handle(2), recordAs(2)), kIoSuccess);

    fHost->message(1, 0x00010501u);
    ASSERT_TRUE(waitForType(0x00010501u));
    ASSERT_EQ(fDeliveries.size(), 1u);
    EXPECT_EQ(fDeliveries[0].registration, 1);
    EXPECT_EQ(fDeliveries[0].service, handle(1));

    // A second registration on the same instance: two calls per message.
    ASSERT_EQ(fRegistry->addInterestNotification(handle(1), recordAs(3)), kIoSuccess);
    fDeliveries.clear();
    fHost->message(1, 7);
    fHost->message(2, 8);
    ASSERT_TRUE(waitForType(8));
    ASSERT_EQ(fDeliveries.size(), 3u);
    EXPECT_EQ(fDeliveries[0].registration, 1);
    EXPECT_EQ(fDeliveries[1].registration, 3);
    EXPECT_EQ(fDeliveries[1].type, 7u);
    EXPECT_EQ(fDeliveries[2].registration, 2);
}

TEST_F(DBusServiceRegistryTest, RegistrationEndsWhenTheInstanceGoesAway) {
    fHost->attach(1, sClass, 0x1234, 0x0001);
    fHost->attach(2, sClass, 0x1234, 0x0002);
    ASSERT_EQ(fRegistry->addInterestNotification(handle(1), recordAs(1)), kIoSuccess);
    ASSERT_EQ(fRegistry->addInterestNotification(handle(2), recordAs(2)), kIoSuccess);

    fHost->detach(1);
    const auto services = fRegistry->matchingServices(sClass);
    ASSERT_TRUE(services.ok());
    EXPECT_EQ(services.value(), std::vector<ServiceHandle>{handle(2)});

    // A host that attaches a new instance at the same path: the old
    // registration does not carry over.
    fHost->attach(1, sClass, 0x1234, 0x0001);
    fHost->message(1, 5);
    fHost->message(2, 6);
    ASSERT_TRUE(waitForType(6));
    ASSERT_EQ(fDeliveries.size(), 1u);
    EXPECT_EQ(fDeliveries[0].registration, 2);
}

TEST_F(DBusServiceRegistryTest, RegistrationsEndWhenTheHostLeaves) {
    fHost->attach(1, sClass, 0x1234, 0x0001);
    ASSERT_EQ(fRegistry->addInterestNotification(handle(1), recordAs(1)), kIoSuccess);
    // The registry hears of the owner changes on the same connection and in
    // the same order as this watcher.
    int unregistered = 0;
    QDBusServiceWatcher watcher(DBusServiceRegistry::kService, *fClientConnection,
                                QDBusServiceWatcher::WatchForUnregistration);
    QObject::connect(&watcher, &QDBusServiceWatcher::serviceUnregistered,
                     [&unregistered] { ++unregistered; });
    fHost.reset();
    ASSERT_TRUE(PrivateDBus::waitUntil([&] { return unregistered == 1; }));

    // A new host on the bus with the same instance path.
    fHost = std::make_unique<FakeDriverHost>(*sBus);
    fHost->attach(1, sClass, 0x1234, 0x0001);
    ASSERT_EQ(fRegistry->addInterestNotification(handle(1), recordAs(2)), kIoSuccess);
    fHost->message(1, 9);
    ASSERT_TRUE(waitForType(9));
    ASSERT_EQ(fDeliveries.size(), 1u);
    EXPECT_EQ(fDeliveries[0].registration, 2);
}

TEST_F(DBusServiceRegistryTest, InterestInAMissingInstanceFails) {
    EXPECT_EQ(fRegistry->addInterestNotification(handle(4), recordAs(1)), kIoNoDevice);
    EXPECT_EQ(fRegistry->addInterestNotification("/bad//path", recordAs(1)), kIoBadArgument);
    fHost->attach(4, sClass, 0x1234, 0x0001);
    EXPECT_EQ(fRegistry->addInterestNotification(handle(4), nullptr), kIoBadArgument);
}

} // namespace

#include "DBusServiceRegistryTest.moc"
