// VirtualConsoleSessionTest: the console session backend against the real
// simulator on a private bus, and against malformed answers.
#include "VirtualConsoleSession.h"
#include "SuiteHarness.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>

namespace {

QStringList split(const char* text) {
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

class VirtualConsoleSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(suite.startBus()) << qPrintable(suite.error());
        ASSERT_TRUE(suite.startSimulator()) << qPrintable(suite.error());
    }

    void sim(const char* command) {
        const auto result = suite.sim(split(command));
        ASSERT_TRUE(result.ok()) << command << ": " << qPrintable(result.err);
    }

    // Every signal the simulator sent before this call has been handled here:
    // the simulator answers only after it sent them.
    void settle(VirtualConsoleSession& session) {
        ASSERT_TRUE(session.copySessionInfo().has_value());
        QCoreApplication::processEvents();
    }

    SuiteHarness suite;
};

TEST_F(VirtualConsoleSessionTest, FollowsLoginSwitchAndLogout) {
    VirtualConsoleSession session(suite.connection());

    std::optional<SessionInfo> info = session.copySessionInfo();
    ASSERT_TRUE(info.has_value());
    EXPECT_FALSE(info->loginDone);
    EXPECT_FALSE(info->onConsole);

    sim("session login alice 1000");
    info = session.copySessionInfo();
    ASSERT_TRUE(info.has_value());
    EXPECT_TRUE(info->loginDone);
    EXPECT_TRUE(info->onConsole);
    EXPECT_EQ(info->userName, "alice");
    EXPECT_EQ(info->userId, 1000u);

    sim("session switch-out");
    info = session.copySessionInfo();
    ASSERT_TRUE(info.has_value());
    EXPECT_TRUE(info->loginDone);
    EXPECT_FALSE(info->onConsole);
    EXPECT_EQ(info->userName, "alice");

    sim("session login bob 4294967295");
    info = session.copySessionInfo();
    ASSERT_TRUE(info.has_value());
    EXPECT_TRUE(info->onConsole);
    EXPECT_EQ(info->userName, "bob");
    EXPECT_EQ(info->userId, 4294967295u);

    sim("session logout");
    info = session.copySessionInfo();
    ASSERT_TRUE(info.has_value());
    EXPECT_FALSE(info->loginDone);
    EXPECT_FALSE(info->onConsole);
}

TEST_F(VirtualConsoleSessionTest, HandlerRunsOnceForEachSwitchBack) {
    VirtualConsoleSession session(suite.connection());
    int calls = 0;
    session.setBecameActiveHandler([&calls] { ++calls; });

    sim("session login alice 1000");
    sim("session switch-out");
    settle(session);
    EXPECT_EQ(calls, 0) << "login and switch-out are no switch back";

    sim("session switch-in");
    ASSERT_TRUE(SuiteHarness::waitUntil([&] { return calls >= 1; }));
    settle(session);
    EXPECT_EQ(calls, 1);

    sim("session login bob 1001"); // replacing the user sends nothing
    sim("session switch-out");
    sim("session switch-in");
    ASSERT_TRUE(SuiteHarness::waitUntil([&] { return calls >= 2; }));
    settle(session);
    EXPECT_EQ(calls, 2);
}

TEST_F(VirtualConsoleSessionTest, HandlerFollowsASimulatorStartedLater) {
    ASSERT_EQ(suite.stopProgram(QStringLiteral("sablecoil-sim")), 0);
    VirtualConsoleSession session(suite.connection());
    EXPECT_FALSE(session.copySessionInfo().has_value());
    int calls = 0;
    session.setBecameActiveHandler([&calls] { ++calls; });

    ASSERT_TRUE(suite.startSimulator()) << qPrintable(suite.error());
    sim("session login alice 1000");
    sim("session switch-in");
    ASSERT_TRUE(SuiteHarness::waitUntil([&] { return calls >= 1; }));
    settle(session);
    EXPECT_EQ(calls, 1);
}

TEST_F(VirtualConsoleSessionTest, NoSimulatorGivesNoSession) {
    ASSERT_EQ(suite.stopProgram(QStringLiteral("sablecoil-sim")), 0);
    VirtualConsoleSession session(suite.connection());
    EXPECT_FALSE(session.copySessionInfo().has_value());
}

// A stand-in for the simulator that answers SessionInfo with given arguments.
class FakeSimulator : public QDBusVirtualObject {
public:
    explicit FakeSimulator(QVariantList reply) : fReply(std::move(reply)) {}

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() != QLatin1String("SessionInfo")) {
            return false;
        }
        ++fCalls;
        connection.send(message.createReply(fReply));
        return true;
    }
    int calls() const { return fCalls; }

private:
    QVariantList fReply;
    std::atomic<int> fCalls{0};
};

// One answer of the stand-in and whether it is a session dictionary.
struct AnswerCase {
    const char* name;
    QVariantList reply;
    bool readable;
};

QVariantMap validEntries() {
    return {{QStringLiteral("LoginDone"), true},
            {QStringLiteral("OnConsole"), false},
            {QStringLiteral("UserName"), QStringLiteral("alice")},
            {QStringLiteral("UserId"), QVariant::fromValue<uint>(1000)}};
}

// The valid entries with one of them replaced, or removed for an invalid value.
QVariantMap with(const char* key, const QVariant& value) {
    QVariantMap map = validEntries();
    if (value.isValid()) {
        map.insert(QString::fromLatin1(key), value);
    } else {
        map.remove(QString::fromLatin1(key));
    }
    return map;
}

class VirtualConsoleSessionAnswerTest : public ::testing::TestWithParam<AnswerCase> {
protected:
    SuiteHarness suite;
};

TEST_P(VirtualConsoleSessionAnswerTest, ReadsOnlyAWellFormedDictionary) {
    ASSERT_TRUE(suite.startBus()) << qPrintable(suite.error());
    // The stand-in answers on a thread of its own while the session's call blocks this one.
    QThread thread;
    thread.start();
    FakeSimulator simulator(GetParam().reply);
    simulator.moveToThread(&thread);
    QDBusConnection fake = suite.connection();
    ASSERT_TRUE(fake.registerVirtualObject(QStringLiteral("/com/orvix/SablecoilSim"), &simulator));
    ASSERT_TRUE(fake.registerService(QStringLiteral("com.orvix.SablecoilSim")));

    const QString name = QStringLiteral("answer-test");
    {
        QDBusConnection own = QDBusConnection::connectToBus(suite.busAddress(), name);
        ASSERT_TRUE(own.isConnected());
        VirtualConsoleSession session(own);
        const std::optional<SessionInfo> info = session.copySessionInfo();
        EXPECT_EQ(info.has_value(), GetParam().readable);
        if (info && GetParam().readable) {
            EXPECT_TRUE(info->loginDone);
            EXPECT_FALSE(info->onConsole);
            EXPECT_EQ(info->userName, "alice");
            EXPECT_EQ(info->userId, 1000u);
        }
        EXPECT_EQ(simulator.calls(), 1) << "the stand-in answered";
    }
    QDBusConnection::disconnectFromBus(name);
    fake.unregisterObject(QStringLiteral("/com/orvix/SablecoilSim"));
    thread.quit();
    thread.wait();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VirtualConsoleSessionAnswerTest,
    ::testing::Values(
        AnswerCase{"WellFormed", {validEntries()}, true},
        AnswerCase{"ExtraEntry", {with("Seat", QStringLiteral("seat0"))}, true},
        AnswerCase{"NotADictionary", {QStringLiteral("logged-in")}, false},
        AnswerCase{"NoArguments", {}, false},
        AnswerCase{"TwoArguments", {validEntries(), QStringLiteral("extra")}, false},
        AnswerCase{"MissingUserId", {with("UserId", QVariant())}, false},
        AnswerCase{"MissingLoginDone", {with("LoginDone", QVariant())}, false},
        AnswerCase{"SignedUserId", {with("UserId", QVariant(1000))}, false},
        AnswerCase{"NumericUserName", {with("UserName", QVariant::fromValue<uint>(7))}, false},
        AnswerCase{"StringLoginDone", {with("LoginDone", QStringLiteral("true"))}, false},
        AnswerCase{"IntegerOnConsole", {with("OnConsole", QVariant(1))}, false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
