// DBusNotificationCenterTest: broadcast notifications over a private bus,
// between two connections and within one, with the user information's D-Bus
// types checked on the wire.
#include "DBusNotificationCenter.h"
#include "PrivateDBus.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusVariant>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

namespace {

constexpr const char* sName = "OrvixSablecoil";

struct Received {
    std::string name;
    std::string object;
    PlistValue userInfo;
};

PlistValue data(std::initializer_list<std::uint8_t> bytes) {
    return PlistValue::data(bytes);
}

// The signature of each user-information entry as it travelled.
std::map<QString, QString> entrySignatures(const QDBusMessage& message) {
    std::map<QString, QString> signatures;
    const QDBusArgument map = message.arguments().at(2).value<QDBusArgument>();
    map.beginMap();
    while (!map.atEnd()) {
        QString key;
        QDBusVariant value;
        map.beginMapEntry();
        map >> key >> value;
        map.endMapEntry();
        const QVariant inner = value.variant();
        signatures[key] =
            inner.metaType() == QMetaType::fromType<QDBusArgument>()
                ? inner.value<QDBusArgument>().currentSignature()
                : QString::fromLatin1(QDBusMetaType::typeToSignature(inner.metaType()));
    }
    map.endMap();
    return signatures;
}

class DBusNotificationCenterTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        sBus = new PrivateDBus;
        ASSERT_TRUE(sBus->start()) << sBus->error().toStdString();
    }
    static void TearDownTestSuite() {
        delete sBus;
        sBus = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(sBus, nullptr);
        fPosterConnection = std::make_unique<QDBusConnection>(sBus->connect("poster"));
        fObserverConnection = std::make_unique<QDBusConnection>(sBus->connect("observer"));
        ASSERT_TRUE(fPosterConnection->isConnected());
        ASSERT_TRUE(fObserverConnection->isConnected());
        fPoster = std::make_unique<DBusNotificationCenter>(*fPosterConnection);
        fObserver = std::make_unique<DBusNotificationCenter>(*fObserverConnection);
    }

    void TearDown() override {
        fPoster.reset();
        fObserver.reset();
        if (sBus != nullptr) {
            sBus->disconnect(*fPosterConnection);
            sBus->disconnect(*fObserverConnection);
        }
    }

    int observe(DBusNotificationCenter& centre, const std::string& object,
                std::vector<Received>& into) {
        return centre.addObserver(sName, object,
                                  [&into](const std::string& name, const std::string& object,
                                          const PlistValue& userInfo) {
                                      into.push_back({name, object, userInfo});
                                  });
    }

    static PrivateDBus* sBus;
    std::unique_ptr<QDBusConnection> fPosterConnection;
    std::unique_ptr<QDBusConnection> fObserverConnection;
    std::unique_ptr<DBusNotificationCenter> fPoster;
    std::unique_ptr<DBusNotificationCenter> fObserver;
};

PrivateDBus* DBusNotificationCenterTest::sBus = nullptr;

TEST_F(DBusNotificationCenterTest, PostReachesAnotherProcessWithEveryTypeKept) {
    const PlistValue userInfo = PlistValue::dictionary({
        {"MasterSensitivityX", PlistValue::real(3.4)},
        {"Resolution", PlistValue::int32(2)},
        {"FirmwareVersion", PlistValue::int16(-2)},
        {"Stamp", PlistValue::int64(-5000000000)},
        {"Mask", PlistValue::uint32(0xFFFF0000u)},
        {"Port", PlistValue::unsignedInteger(7, PlistValue::Width::Bits16)},
        {"Huge", PlistValue::unsignedInteger(1ull << 63)},
        {"Byte", PlistValue::unsignedInteger(200, PlistValue::Width::Bits8)},
        {"GlowLogoOn", PlistValue::boolean(true)},
        {"Title", PlistValue::string("Profil \xc3\xa9t\xc3\xa9")},
        {"Record", data({0x05, 0x00, 0xFF})},
        {"ButtonMappings", PlistValue::array({data({0x00}), data({0x01}), data({0x03, '5', '2'})})},
        {"Mixed", PlistValue::array({PlistValue::int32(1), PlistValue::string("two")})},
        {"Nested", PlistValue::dictionary({{"Inner", PlistValue::real(0.5)}})},
    });
    std::vector<Received> received;
    observe(*fObserver, "PrefsChange", received);
    SignalRecorder wire(*fObserverConnection, DBusNotificationCenter::kPath,
                        DBusNotificationCenter::kInterface, DBusNotificationCenter::kSignal);
    ASSERT_TRUE(wire.isListening());

    ASSERT_TRUE(fPoster->post(sName, "PrefsChange", userInfo).ok());

    ASSERT_TRUE(
        PrivateDBus::waitUntil([&] { return !received.empty() && !wire.messages().empty(); }));
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].name, sName);
    EXPECT_EQ(received[0].object, "PrefsChange");
    // a{sv} keeps no key order, and value equality ignores integer widths:
    // compare key by key, widths included.
    EXPECT_EQ(received[0].userInfo.size(), userInfo.size());
    for (const auto& [key, sent] : userInfo.dict()) {
        const PlistValue& got = received[0].userInfo.get(key);
        EXPECT_EQ(got, sent) << key;
        ASSERT_EQ(got.type(), sent.type()) << key;
        if (sent.isInteger()) {
            EXPECT_EQ(got.integerWidth(), sent.integerWidth()) << key;
            EXPECT_EQ(got.integerIsSigned(), sent.integerIsSigned()) << key;
        }
    }

    const QDBusMessage& message = wire.messages().at(0);
    EXPECT_EQ(message.signature(), QStringLiteral("ssa{sv}"));
    EXPECT_TRUE(message.service().startsWith(QLatin1Char(':')));
    const std::map<QString, QString> expected = {
        {"MasterSensitivityX", "d"},
        {"Resolution", "i"},
        {"FirmwareVersion", "n"},
        {"Stamp", "x"},
        {"Mask", "u"},
        {"Port", "q"},
        {"Huge", "t"},
        {"Byte", "y"},
        {"GlowLogoOn", "b"},
        {"Title", "s"},
        {"Record", "ay"},
        {"ButtonMappings", "aay"},
        {"Mixed", "av"},
        {"Nested", "a{sv}"},
    };
    EXPECT_EQ(entrySignatures(message), expected);
}

TEST_F(DBusNotificationCenterTest, PosterHearsItsOwnBroadcast) {
    std::vector<Received> own;
    observe(*fPoster, "DpiChange", own);

    ASSERT_TRUE(fPoster
                    ->post(sName, "DpiChange",
                           PlistValue::dictionary({{"Resolution", PlistValue::int32(3)}}))
                    .ok());

    ASSERT_TRUE(PrivateDBus::waitUntil([&] { return !own.empty(); }));
    EXPECT_EQ(own[0].userInfo.intFor("Resolution", -1), 3);
}

TEST_F(DBusNotificationCenterTest, ObserversGetOnlyTheirNameAndObjectUntilRemoved) {
    std::vector<Received> prefs;
    std::vector<Received> profile;
    const int prefsToken = observe(*fObserver, "PrefsChange", prefs);
    observe(*fObserver, "ProfileChange", profile);
    std::vector<Received> otherName;
    fObserver->addObserver("SomethingElse", "ProfileChange",
                           [&](const std::string& n, const std::string& o, const PlistValue& u) {
                               otherName.push_back({n, o, u});
                           });

    fObserver->removeObserver(prefsToken);
    // One sender's signals arrive in order: once "ProfileChange" is here, the
    // earlier "PrefsChange" would have been too.
    const PlistValue info = PlistValue::dictionary({{"ProfileNumber", PlistValue::int32(4)}});
    ASSERT_TRUE(fPoster->post(sName, "PrefsChange", info).ok());
    ASSERT_TRUE(fPoster->post(sName, "ProfileChange", info).ok());

    ASSERT_TRUE(PrivateDBus::waitUntil([&] { return !profile.empty(); }));
    EXPECT_TRUE(prefs.empty());
    EXPECT_TRUE(otherName.empty());
    EXPECT_EQ(profile[0].userInfo.intFor("ProfileNumber"), 4);
}

TEST_F(DBusNotificationCenterTest, SignalWithWrongSignatureIsIgnored) {
    std::vector<Received> received;
    observe(*fObserver, "OtfsChange", received);

    const auto send = [&](const QList<QVariant>& arguments) {
        QDBusMessage signal = QDBusMessage::createSignal(DBusNotificationCenter::kPath,
                                                         DBusNotificationCenter::kInterface,
                                                         DBusNotificationCenter::kSignal);
        signal.setArguments(arguments);
        ASSERT_TRUE(fPosterConnection->send(signal));
    };
    send({QString::fromLatin1(sName), QStringLiteral("OtfsChange")});
    send({QString::fromLatin1(sName), QStringLiteral("OtfsChange"), 7});
    send({QString::fromLatin1(sName), QStringLiteral("OtfsChange"),
          QVariant::fromValue(QStringList{QStringLiteral("x")})});
    ASSERT_TRUE(fPoster
                    ->post(sName, "OtfsChange",
                           PlistValue::dictionary({{"Sensitivity", PlistValue::real(9.8)}}))
                    .ok());

    ASSERT_TRUE(PrivateDBus::waitUntil([&] { return !received.empty(); }));
    ASSERT_EQ(received.size(), 1u);
    EXPECT_DOUBLE_EQ(received[0].userInfo.realFor("Sensitivity"), 9.8);
}

TEST_F(DBusNotificationCenterTest, UserInformationMustBeADictionary) {
    EXPECT_FALSE(fPoster->post(sName, "DpiChange", PlistValue::int32(3)).ok());

    std::vector<Received> received;
    observe(*fObserver, "DpiChange", received);
    ASSERT_TRUE(fPoster->post(sName, "DpiChange", PlistValue()).ok());
    ASSERT_TRUE(PrivateDBus::waitUntil([&] { return !received.empty(); }));
    EXPECT_TRUE(received[0].userInfo.isDictionary());
    EXPECT_EQ(received[0].userInfo.size(), 0u);
}

} // namespace
