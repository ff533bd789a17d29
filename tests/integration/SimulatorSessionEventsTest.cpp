// SimulatorSessionEventsTest: sablecoil-sim's console session and its log of
// posted input events, through the command line and the D-Bus methods that
// the virtual backends call.
#include "SuiteHarness.h"

#include <QDBusMessage>

#include <gtest/gtest.h>

namespace {

QStringList split(const char* text) {
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

class SimulatorSessionEventsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(suite.startBus()) << qPrintable(suite.error());
        ASSERT_TRUE(suite.startSimulator()) << qPrintable(suite.error());
    }

    QString session() { return suite.sim(split("session")).out.trimmed(); }

    // Calls one of the simulator's methods from the test's connection.
    QDBusMessage callSim(const char* method, const QVariantList& args) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("com.orvix.SablecoilSim"), QStringLiteral("/com/orvix/SablecoilSim"),
            QStringLiteral("com.orvix.SablecoilSim"), QString::fromLatin1(method));
        call.setArguments(args);
        return suite.connection().call(call);
    }

    SuiteHarness suite;
};

TEST_F(SimulatorSessionEventsTest, SessionGoesThroughLoginSwitchAndLogout) {
    EXPECT_EQ(session(), QStringLiteral("logged-out"));
    EXPECT_EQ(suite.sim(split("session show")).out, QStringLiteral("logged-out\n"));

    // One step per row: the command, then what "session" prints.
    const struct {
        const char* command;
        const char* state;
    } steps[] = {
        {"session login alice 1000", "logged-in alice 1000 on-console"},
        {"session switch-out", "logged-in alice 1000 off-console"},
        {"session switch-out", "logged-in alice 1000 off-console"},
        {"session switch-in", "logged-in alice 1000 on-console"},
        {"session switch-out", "logged-in alice 1000 off-console"},
        {"session login bob 4294967295", "logged-in bob 4294967295 on-console"},
        {"session logout", "logged-out"},
        {"session logout", "logged-out"},
        {"session login carol 0", "logged-in carol 0 on-console"},
    };
    for (const auto& step : steps) {
        const auto result = suite.sim(split(step.command));
        EXPECT_TRUE(result.ok()) << step.command << ": " << qPrintable(result.err);
        EXPECT_EQ(result.out, QString()) << step.command;
        EXPECT_EQ(session(), QString::fromLatin1(step.state)) << "after " << step.command;
    }
}

TEST_F(SimulatorSessionEventsTest, SessionInfoCarriesTheDictionary) {
    ASSERT_TRUE(suite.sim(split("session login alice 1000")).ok());
    ASSERT_TRUE(suite.sim(split("session switch-out")).ok());
    const QDBusMessage reply = callSim("SessionInfo", {});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << qPrintable(reply.errorMessage());
    ASSERT_EQ(reply.signature(), QStringLiteral("a{sv}"));

    // The entries with their D-Bus types, as busctl sees them.
    const auto busctl = suite.busctl(
        split("call com.orvix.SablecoilSim /com/orvix/SablecoilSim com.orvix.SablecoilSim "
              "SessionInfo"));
    ASSERT_TRUE(busctl.ok()) << qPrintable(busctl.err);
    for (const char* entry : {"\"LoginDone\" b true", "\"OnConsole\" b false",
                              "\"UserName\" s \"alice\"", "\"UserId\" u 1000"}) {
        EXPECT_TRUE(busctl.out.contains(QString::fromLatin1(entry))) << qPrintable(busctl.out);
    }
}

// A session command that fails: its exit status and a part of the error line.
struct SessionErrorCase {
    const char* name;
    const char* command;
    int exitCode;
    const char* message;
};

class SimulatorSessionErrorTest : public SimulatorSessionEventsTest,
                                  public ::testing::WithParamInterface<SessionErrorCase> {};

TEST_P(SimulatorSessionErrorTest, FailsClearlyAndChangesNothing) {
    const SessionErrorCase& c = GetParam();
    const auto result = suite.sim(split(c.command));
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_TRUE(result.err.startsWith(QStringLiteral("sablecoil-sim: "))) << qPrintable(result.err);
    EXPECT_TRUE(result.err.contains(QString::fromLatin1(c.message))) << qPrintable(result.err);
    EXPECT_EQ(result.out, QString());
    EXPECT_EQ(session(), QStringLiteral("logged-out"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimulatorSessionErrorTest,
    ::testing::Values(
        SessionErrorCase{"SwitchOutLoggedOut", "session switch-out", 1, "nobody is logged in"},
        SessionErrorCase{"SwitchInLoggedOut", "session switch-in", 1, "nobody is logged in"},
        SessionErrorCase{"LoginWithoutId", "session login alice", 2,
                         "session login takes a user name and a user id"},
        SessionErrorCase{"NegativeId", "session login alice -1", 2, "\"-1\" is not a user id"},
        SessionErrorCase{"IdTooLarge", "session login alice 4294967296", 2,
                         "\"4294967296\" is not a user id"},
        SessionErrorCase{"UnknownSubcommand", "session suspend", 2, "session login NAME UID"},
        SessionErrorCase{"LogoutWithArgument", "session logout now", 2,
                         "session logout takes no arguments"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimulatorSessionEventsTest, LoginRefusesNamesThatBreakTheFormat) {
    // Passed as one argument each; the service refuses them, not only the command line.
    for (const QString& name : {QString(), QStringLiteral("bob smith"), QStringLiteral("tab\tname"),
                                QStringLiteral("line\nbreak")}) {
        const auto result = suite.sim(
            {QStringLiteral("session"), QStringLiteral("login"), name, QStringLiteral("1000")});
        EXPECT_EQ(result.exitCode, 1) << qPrintable(name);
        EXPECT_TRUE(result.err.contains(QStringLiteral("is not a user name")))
            << qPrintable(result.err);
    }
    const QDBusMessage reply = callSim("SessionLogin", {QStringLiteral("a b"), 7u});
    EXPECT_EQ(reply.errorName(), QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"));
    EXPECT_EQ(session(), QStringLiteral("logged-out"));
}

TEST_F(SimulatorSessionEventsTest, SwitchInSendsBecameActiveOnly) {
    SignalRecorder became(suite.connection(), QStringLiteral("/com/orvix/SablecoilSim"),
                          QStringLiteral("com.orvix.SablecoilSim"),
                          QStringLiteral("SessionBecameActive"));
    ASSERT_TRUE(became.isListening());
    for (const char* command : {"session login alice 1000", "session switch-out",
                                "session login bob 1001", "session logout"}) {
        ASSERT_TRUE(suite.sim(split(command)).ok()) << command;
    }
    // A round trip through the simulator: its signals sent so far have arrived.
    ASSERT_EQ(callSim("SessionInfo", {}).type(), QDBusMessage::ReplyMessage);
    suite.barrier();
    EXPECT_EQ(became.messages().size(), 0);

    ASSERT_TRUE(suite.sim(split("session login alice 1000")).ok());
    ASSERT_TRUE(suite.sim(split("session switch-out")).ok());
    ASSERT_TRUE(suite.sim(split("session switch-in")).ok());
    ASSERT_EQ(callSim("SessionInfo", {}).type(), QDBusMessage::ReplyMessage);
    suite.barrier();
    ASSERT_EQ(became.messages().size(), 1);
    EXPECT_EQ(became.messages().first().signature(), QString());
}

// One posted event and the line the log shows for it.
struct EventCase {
    const char* method;
    QVariantList args;
    const char* line;
};

TEST_F(SimulatorSessionEventsTest, EventsPrintEveryKindInPostingOrder) {
    const EventCase cases[] = {
        {"PostKey", {QVariant::fromValue<uchar>(0x00), true, false}, "keydown 0x0 repeat=0"},
        {"PostKey", {QVariant::fromValue<uchar>(0x7e), true, true}, "keydown 0x7e repeat=1"},
        {"PostKey", {QVariant::fromValue<uchar>(0xff), false, false}, "keyup 0xff"},
        {"PostFlags", {QVariant::fromValue<uint>(0x20000)}, "flags 0x20000"},
        {"PostFlags", {QVariant::fromValue<uint>(0)}, "flags 0x0"},
        {"PostFlags", {QVariant::fromValue<uint>(0xffffffffu)}, "flags 0xffffffff"},
        {"PostKeyboard", {QVariant::fromValue<uchar>(0x38), true}, "keyboard 0x38 down"},
        {"PostKeyboard", {QVariant::fromValue<uchar>(0x3b), false}, "keyboard 0x3b up"},
        {"PostAux", {QVariant::fromValue<uchar>(7)}, "aux 0x7"},
        {"PostAux", {QVariant::fromValue<uchar>(0)}, "aux 0x0"},
        {"PostSystemDefined", {QVariant::fromValue<uchar>(10)}, "sysdefined 10"},
        {"PostSystemDefined", {QVariant::fromValue<uchar>(255)}, "sysdefined 255"},
    };
    EXPECT_EQ(suite.sim(split("events")).out, QString());
    QStringList expected;
    for (const EventCase& c : cases) {
        const QDBusMessage reply = callSim(c.method, c.args);
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage)
            << c.method << ": " << qPrintable(reply.errorMessage());
        EXPECT_EQ(reply.signature(), QStringLiteral("i")) << c.method;
        EXPECT_EQ(reply.arguments().value(0).toInt(), 0) << c.method;
        expected.append(QString::fromLatin1(c.line));
    }
    EXPECT_EQ(suite.sim(split("events")).lines(), expected);
    // --clear prints the log once more, then empties it.
    EXPECT_EQ(suite.sim(split("events --clear")).lines(), expected);
    EXPECT_EQ(suite.sim(split("events")).out, QString());

    ASSERT_EQ(callSim("PostAux", {QVariant::fromValue<uchar>(1)}).type(),
              QDBusMessage::ReplyMessage);
    const QDBusMessage events = callSim("Events", {true});
    ASSERT_EQ(events.signature(), QStringLiteral("as"));
    EXPECT_EQ(events.arguments().value(0).toStringList(), QStringList{QStringLiteral("aux 0x1")});
    EXPECT_EQ(suite.sim(split("events")).out, QString());
}

TEST_F(SimulatorSessionEventsTest, EventsRefusesOtherArguments) {
    const auto result = suite.sim(split("events --all"));
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_TRUE(result.err.contains(QStringLiteral("events takes only an optional --clear")))
        << qPrintable(result.err);
}

} // namespace
