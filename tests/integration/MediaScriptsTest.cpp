// MediaScriptsTest: the agent's eight media scripts against media players of
// the test's own on a private session bus. Each player records the calls and
// property sets it receives; the scripts run from the build tree's share/
// folder as the agent runs them.
#include "PrivateDBus.h"

#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <vector>

namespace {

constexpr const char* sScriptsDir = MEDIA_SCRIPTS_DIR;
constexpr const char* sPlayerPath = "/org/mpris/MediaPlayer2";
constexpr const char* sPlayerInterface = "org.mpris.MediaPlayer2.Player";
constexpr const char* sPropertiesInterface = "org.freedesktop.DBus.Properties";

// A media player object: answers the player methods and the three properties
// the scripts use, and records every method call and property set it gets
// ("Seek(x) 30000000", "Set LoopStatus s Playlist"). It can refuse the
// calls and sets, or the property reads, with an error reply.
class TestPlayer : public QDBusVirtualObject {
public:
    QString playbackStatus = QStringLiteral("Paused");
    QString loopStatus = QStringLiteral("None");
    bool shuffle = false;
    bool failCalls = false;
    bool failReads = false;
    QStringList calls;

    QString introspect(const QString&) const override {
        return QStringLiteral(R"(<interface name="org.mpris.MediaPlayer2.Player">
  <method name="PlayPause"/><method name="Stop"/><method name="Next"/><method name="Previous"/>
  <method name="Seek"><arg name="Offset" type="x" direction="in"/></method>
  <property name="PlaybackStatus" type="s" access="read"/>
  <property name="LoopStatus" type="s" access="readwrite"/>
  <property name="Shuffle" type="b" access="readwrite"/>
</interface>
<interface name="org.freedesktop.DBus.Properties">
  <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/>
    <arg type="v" direction="out"/></method>
  <method name="Set"><arg type="s" direction="in"/><arg type="s" direction="in"/>
    <arg type="v" direction="in"/></method>
</interface>
)");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QList<QVariant> args = message.arguments();
        if (message.interface() == QLatin1String(sPropertiesInterface)) {
            if (args.size() < 2 || args.at(0).toString() != QLatin1String(sPlayerInterface)) {
                return false;
            }
            const QString name = args.at(1).toString();
            if (message.member() == QLatin1String("Get")) {
                if (failReads) {
                    return refuse(message, connection);
                }
                QVariant value;
                if (name == QLatin1String("PlaybackStatus")) {
                    value = playbackStatus;
                } else if (name == QLatin1String("LoopStatus")) {
                    value = loopStatus;
                } else if (name == QLatin1String("Shuffle")) {
                    value = shuffle;
                } else {
                    return false;
                }
                return connection.send(
                    message.createReply(QVariant::fromValue(QDBusVariant(value))));
            }
            if (message.member() == QLatin1String("Set") && args.size() == 3) {
                const QVariant value = qvariant_cast<QDBusVariant>(args.at(2)).variant();
                calls.append(
                    QStringLiteral("Set %1 %2 %3")
                        .arg(name,
                             QString::fromLatin1(QDBusMetaType::typeToSignature(value.metaType())),
                             value.toString()));
                if (failCalls) {
                    return refuse(message, connection);
                }
                if (name == QLatin1String("LoopStatus")) {
                    loopStatus = value.toString();
                } else if (name == QLatin1String("Shuffle")) {
                    shuffle = value.toBool();
                }
                return connection.send(message.createReply());
            }
            return false;
        }
        if (message.interface() != QLatin1String(sPlayerInterface)) {
            return false;
        }
        QString call = message.member() + QLatin1Char('(') + message.signature() + QLatin1Char(')');
        for (const QVariant& arg : args) {
            call += QLatin1Char(' ') + arg.toString();
        }
        calls.append(call);
        if (failCalls) {
            return refuse(message, connection);
        }
        return connection.send(message.createReply());
    }

private:
    static bool refuse(const QDBusMessage& message, const QDBusConnection& connection) {
        return connection.send(message.createErrorReply(
            QStringLiteral("org.mpris.MediaPlayer2.Error.Refused"), QStringLiteral("refused")));
    }
};

struct ScriptRun {
    bool finished = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs a script with the session bus at address, keeping the test's event
// loop (and so its players) going meanwhile.
ScriptRun runScript(const QString& path, const QString& address) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(path, {});
    ScriptRun run;
    if (!process.waitForStarted(10000)) {
        return run;
    }
    run.finished =
        PrivateDBus::waitUntil([&] { return process.state() == QProcess::NotRunning; }, 20000);
    if (!run.finished) {
        process.kill();
        process.waitForFinished(5000);
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

// A script exits 0 and shows nothing, whatever happened.
void expectQuiet(const ScriptRun& run) {
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out.toStdString(), "");
    EXPECT_EQ(run.err.toStdString(), "");
}

class MediaScriptsTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        sBus = new PrivateDBus;
        ASSERT_TRUE(sBus->start()) << sBus->error().toStdString();
    }
    static void TearDownTestSuite() {
        delete sBus;
        sBus = nullptr;
    }

    void SetUp() override { ASSERT_NE(sBus, nullptr); }

    void TearDown() override {
        // Names are given back before the next test lists them.
        for (Player& player : fPlayers) {
            player.connection->unregisterService(player.name);
            player.connection->unregisterObject(QLatin1String(sPlayerPath));
            sBus->disconnect(*player.connection);
        }
        fPlayers.clear();
    }

    // A player on a connection of its own, owning org.mpris.MediaPlayer2.<suffix>.
    TestPlayer& addPlayer(const QString& suffix) {
        Player player;
        player.name = QStringLiteral("org.mpris.MediaPlayer2.") + suffix;
        player.connection = std::make_unique<QDBusConnection>(sBus->connect(suffix));
        player.object = std::make_unique<TestPlayer>();
        EXPECT_TRUE(player.connection->isConnected());
        EXPECT_TRUE(player.connection->registerVirtualObject(QLatin1String(sPlayerPath),
                                                             player.object.get()));
        EXPECT_TRUE(player.connection->registerService(player.name));
        fPlayers.push_back(std::move(player));
        return *fPlayers.back().object;
    }

    // The media players' names in the bus's own order.
    static QStringList playerNamesInBusOrder() {
        QDBusConnection connection = sBus->connect(QStringLiteral("lister"));
        QStringList names;
        for (const QString& name : connection.interface()->registeredServiceNames().value()) {
            if (name.startsWith(QLatin1String("org.mpris.MediaPlayer2."))) {
                names.append(name);
            }
        }
        sBus->disconnect(connection);
        return names;
    }

    static ScriptRun run(const QString& script) {
        return runScript(QLatin1String(sScriptsDir) + QLatin1Char('/') + script, sBus->address());
    }

    struct Player {
        QString name;
        std::unique_ptr<QDBusConnection> connection;
        std::unique_ptr<TestPlayer> object;
    };

    static PrivateDBus* sBus;
    std::vector<Player> fPlayers;
};

PrivateDBus* MediaScriptsTest::sBus = nullptr;

struct ScriptCase {
    const char* script;
    const char* loopStatus; // the player's state before the script runs
    bool shuffle;
    const char* expected; // the call or set the player gets
};

void PrintTo(const ScriptCase& c, std::ostream* out) {
    *out << c.script << " (LoopStatus " << c.loopStatus << ", Shuffle " << c.shuffle << ")";
}

std::string caseName(const testing::TestParamInfo<ScriptCase>& info) {
    std::string name = info.param.script;
    if (name == "Repeat") {
        name += std::string("From") + info.param.loopStatus;
    } else if (name == "Shuffle") {
        name += info.param.shuffle ? "FromOn" : "FromOff";
    }
    return name;
}

const ScriptCase sScriptCases[] = {
    {"Play", "None", false, "PlayPause()"},
    {"Stop", "None", false, "Stop()"},
    {"NextTrack", "None", false, "Next()"},
    {"PrevTrack", "None", false, "Previous()"},
    {"NextChapter", "None", false, "Seek(x) 30000000"},
    {"PrevChapter", "None", false, "Seek(x) -30000000"},
    {"Repeat", "None", false, "Set LoopStatus s Playlist"},
    {"Repeat", "Playlist", false, "Set LoopStatus s None"},
    {"Repeat", "Track", false, "Set LoopStatus s None"},
    {"Shuffle", "None", false, "Set Shuffle b true"},
    {"Shuffle", "None", true, "Set Shuffle b false"},
};

class MediaScriptCaseTest : public MediaScriptsTest,
                            public testing::WithParamInterface<ScriptCase> {};

TEST_P(MediaScriptCaseTest, DrivesThePlayer) {
    TestPlayer& player = addPlayer(QStringLiteral("solo"));
    player.loopStatus = QLatin1String(GetParam().loopStatus);
    player.shuffle = GetParam().shuffle;
    expectQuiet(run(QLatin1String(GetParam().script)));
    EXPECT_EQ(player.calls, QStringList{QLatin1String(GetParam().expected)});
}

TEST_P(MediaScriptCaseTest, RefusedCallIsQuiet) {
    TestPlayer& player = addPlayer(QStringLiteral("refusing"));
    player.loopStatus = QLatin1String(GetParam().loopStatus);
    player.shuffle = GetParam().shuffle;
    player.failCalls = true;
    expectQuiet(run(QLatin1String(GetParam().script)));
    EXPECT_EQ(player.calls, QStringList{QLatin1String(GetParam().expected)});
}

TEST_P(MediaScriptCaseTest, NoPlayerIsQuiet) {
    expectQuiet(run(QLatin1String(GetParam().script)));
}

TEST_P(MediaScriptCaseTest, NoSessionBusIsQuiet) {
    expectQuiet(
        runScript(QLatin1String(sScriptsDir) + QLatin1Char('/') + QLatin1String(GetParam().script),
                  QStringLiteral("unix:path=/nonexistent/sablecoil-test-bus")));
}

INSTANTIATE_TEST_SUITE_P(Scripts, MediaScriptCaseTest, testing::ValuesIn(sScriptCases), caseName);

// Whichever of two players comes first on the bus, the playing one is addressed.
TEST_F(MediaScriptsTest, PlayingPlayerIsChosenOverAPausedOne) {
    TestPlayer& first = addPlayer(QStringLiteral("first"));
    TestPlayer& second = addPlayer(QStringLiteral("second"));
    const QStringList order = playerNamesInBusOrder();
    ASSERT_EQ(order.size(), 2);
    TestPlayer& earlier = order.first() == fPlayers[0].name ? first : second;
    TestPlayer& later = &earlier == &first ? second : first;

    earlier.playbackStatus = QStringLiteral("Paused");
    later.playbackStatus = QStringLiteral("Playing");
    expectQuiet(run(QStringLiteral("NextTrack")));
    EXPECT_EQ(later.calls, QStringList{QStringLiteral("Next()")});
    EXPECT_EQ(earlier.calls, QStringList{});

    later.playbackStatus = QStringLiteral("Stopped");
    earlier.playbackStatus = QStringLiteral("Playing");
    expectQuiet(run(QStringLiteral("Stop")));
    EXPECT_EQ(earlier.calls, QStringList{QStringLiteral("Stop()")});
    EXPECT_EQ(later.calls, QStringList{QStringLiteral("Next()")});
}

TEST_F(MediaScriptsTest, WithNothingPlayingTheFirstPlayerOnTheBusIsChosen) {
    TestPlayer& first = addPlayer(QStringLiteral("first"));
    TestPlayer& second = addPlayer(QStringLiteral("second"));
    const QStringList order = playerNamesInBusOrder();
    ASSERT_EQ(order.size(), 2);
    TestPlayer& earlier = order.first() == fPlayers[0].name ? first : second;
    TestPlayer& later = &earlier == &first ? second : first;
    earlier.playbackStatus = QStringLiteral("Stopped");
    later.playbackStatus = QStringLiteral("Paused");

    expectQuiet(run(QStringLiteral("Play")));
    EXPECT_EQ(earlier.calls, QStringList{QStringLiteral("PlayPause()")});
    EXPECT_EQ(later.calls, QStringList{});
}

// A player whose status cannot be read still counts as found; the properties
// it will not tell are left alone rather than guessed.
TEST_F(MediaScriptsTest, UnreadablePlayerGetsCallsButNoPropertySets) {
    TestPlayer& player = addPlayer(QStringLiteral("mute"));
    player.failReads = true;
    expectQuiet(run(QStringLiteral("Repeat")));
    expectQuiet(run(QStringLiteral("Shuffle")));
    expectQuiet(run(QStringLiteral("PrevTrack")));
    EXPECT_EQ(player.calls, QStringList{QStringLiteral("Previous()")});
}

// A script without the shared file beside it does nothing and says nothing.
TEST_F(MediaScriptsTest, ScriptWithoutItsSharedFileIsQuiet) {
    TestPlayer& player = addPlayer(QStringLiteral("solo"));
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString copy = dir.filePath(QStringLiteral("Play"));
    ASSERT_TRUE(QFile::copy(QLatin1String(sScriptsDir) + QStringLiteral("/Play"), copy));
    expectQuiet(runScript(copy, sBus->address()));
    EXPECT_EQ(player.calls, QStringList{});
}

} // namespace
