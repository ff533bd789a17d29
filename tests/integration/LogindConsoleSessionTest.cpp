// LogindConsoleSessionTest: the console session against dbusmock's logind
// template on a private bus: logged out, logged in on seat0, switched out and
// back (the became-active event).
#include "LogindConsoleSession.h"
#include "PrivateDBus.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr uid_t sUser = 4242;
constexpr uid_t sOtherUser = 4343;
constexpr const char* sMockInterface = "org.freedesktop.DBus.Mock";
constexpr const char* sManagerPath = "/org/freedesktop/login1";

class LogindConsoleSessionTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        sBus = new PrivateDBus;
        ASSERT_TRUE(sBus->start()) << sBus->error().toStdString();
        sConnection = new QDBusConnection(sBus->connect("agent"));
        ASSERT_TRUE(sConnection->isConnected());

        // The Debian interpreter: it has the dbusmock and GObject modules.
        sMock = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), sBus->address());
        sMock->setProcessEnvironment(env);
        sMock->setProcessChannelMode(QProcess::ForwardedChannels);
        sMock->start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral("-m"), QStringLiteral("dbusmock"),
                      QStringLiteral("--template"), QStringLiteral("logind")});
        ASSERT_TRUE(sMock->waitForStarted(10000)) << sMock->errorString().toStdString();
        ASSERT_TRUE(PrivateDBus::waitUntil(
            [] {
                return sMock->state() == QProcess::Running &&
                       sConnection->interface()->isServiceRegistered(
                           LogindConsoleSession::kService);
            },
            30000))
            << "dbusmock's logind did not come up (python3-dbusmock installed?)";
    }

    static void TearDownTestSuite() {
        if (sMock != nullptr) {
            sMock->terminate();
            if (!sMock->waitForFinished(10000)) {
                sMock->kill();
                sMock->waitForFinished(10000);
            }
        }
        delete sMock;
        sMock = nullptr;
        delete sConnection;
        sConnection = nullptr;
        delete sBus;
        sBus = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(sMock, nullptr);
        ASSERT_TRUE(mockCall(sManagerPath, "Reset", {}));
        fSession = std::make_unique<LogindConsoleSession>(*sConnection, sUser);
    }

    static bool mockCall(const QString& path, const char* method, const QList<QVariant>& args) {
        QDBusMessage call = QDBusMessage::createMethodCall(LogindConsoleSession::kService, path,
                                                           sMockInterface, method);
        call.setArguments(args);
        const QDBusMessage reply = sConnection->call(call);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return reply.type() == QDBusMessage::ReplyMessage;
    }

    static QString addSession(const QString& id, const QString& seat, uid_t uid,
                              const QString& name, bool active) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            LogindConsoleSession::kService, sManagerPath, sMockInterface, "AddSession");
        call << id << seat << static_cast<uint>(uid) << name << active;
        const QDBusMessage reply = sConnection->call(call);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return reply.arguments().value(0).toString();
    }

    // What logind does on a user switch: Active and State change together.
    static void setActive(const QString& sessionPath, bool active) {
        mockCall(sessionPath, "UpdateProperties",
                 {QStringLiteral("org.freedesktop.login1.Session"),
                  QVariantMap{{QStringLiteral("Active"), active},
                              {QStringLiteral("State"),
                               active ? QStringLiteral("active") : QStringLiteral("online")}}});
    }

    SessionInfo info() {
        const auto current = fSession->copySessionInfo();
        EXPECT_TRUE(current.has_value());
        return current.value_or(SessionInfo{});
    }

    static PrivateDBus* sBus;
    static QDBusConnection* sConnection;
    static QProcess* sMock;
    std::unique_ptr<LogindConsoleSession> fSession;
};

PrivateDBus* LogindConsoleSessionTest::sBus = nullptr;
QDBusConnection* LogindConsoleSessionTest::sConnection = nullptr;
QProcess* LogindConsoleSessionTest::sMock = nullptr;

TEST_F(LogindConsoleSessionTest, NobodyLoggedInMeansNoLogin) {
    const SessionInfo current = info();
    EXPECT_FALSE(current.loginDone);
    EXPECT_FALSE(current.onConsole);
}

TEST_F(LogindConsoleSessionTest, OwnActiveSessionOnSeat0IsLoggedInOnConsole) {
    addSession(QStringLiteral("c1"), QStringLiteral("seat0"), sUser, QStringLiteral("alice"), true);
    const SessionInfo current = info();
    EXPECT_TRUE(current.loginDone);
    EXPECT_TRUE(current.onConsole);
    EXPECT_EQ(current.userName, "alice");
    EXPECT_EQ(current.userId, sUser);
}

TEST_F(LogindConsoleSessionTest, OtherUsersAndOtherSeatsDoNotCount) {
    addSession(QStringLiteral("c2"), QStringLiteral("seat0"), sOtherUser, QStringLiteral("bob"),
               true);
    addSession(QStringLiteral("c3"), QStringLiteral("seat1"), sUser, QStringLiteral("alice"), true);
    EXPECT_FALSE(info().loginDone);
}

TEST_F(LogindConsoleSessionTest, SwitchedOutSessionIsLoggedInButNotOnConsole) {
    const QString own = addSession(QStringLiteral("c1"), QStringLiteral("seat0"), sUser,
                                   QStringLiteral("alice"), true);
    setActive(own, false);
    const SessionInfo current = info();
    EXPECT_TRUE(current.loginDone);
    EXPECT_FALSE(current.onConsole);
    EXPECT_EQ(current.userName, "alice");
}

TEST_F(LogindConsoleSessionTest, BecomingActiveAgainCallsTheHandlerOnce) {
    const QString own = addSession(QStringLiteral("c1"), QStringLiteral("seat0"), sUser,
                                   QStringLiteral("alice"), true);
    const QString other = addSession(QStringLiteral("c2"), QStringLiteral("seat0"), sOtherUser,
                                     QStringLiteral("bob"), false);
    int calls = 0;
    fSession->setBecameActiveHandler([&calls] { ++calls; });
    ASSERT_TRUE(info().onConsole);
    // Sees the same signals on the same connection: once it has them all, the
    // session object has had them too.
    SignalRecorder changes(*sConnection, QString(),
                           QStringLiteral("org.freedesktop.DBus.Properties"),
                           QStringLiteral("PropertiesChanged"));
    ASSERT_TRUE(changes.isListening());
    const auto settle = [&](int count) {
        EXPECT_TRUE(PrivateDBus::waitUntil([&] { return changes.messages().size() >= count; }));
        QCoreApplication::processEvents();
    };

    // Switch to the other user (whose session becoming active is not ours) and back.
    setActive(own, false);
    setActive(other, true);
    settle(2);
    EXPECT_EQ(calls, 0);
    setActive(other, false);
    setActive(own, true);
    settle(4);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(info().onConsole);

    // A repeated "still active" is no new event; the next switch back is.
    setActive(own, true);
    settle(5);
    EXPECT_EQ(calls, 1);
    setActive(own, false);
    setActive(own, true);
    settle(7);
    EXPECT_EQ(calls, 2);
}

TEST(LogindConsoleSessionAbsent, NoLogindMeansNoSessionDictionary) {
    PrivateDBus bus;
    ASSERT_TRUE(bus.start()) << bus.error().toStdString();
    LogindConsoleSession session(bus.connect("lonely"), sUser);
    EXPECT_FALSE(session.copySessionInfo().has_value());
}

} // namespace
