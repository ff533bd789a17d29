// AgentSuite: start-up of the suite with the agent, settings files, broadcasts.
#include "AgentSuite.h"

#include "DBusPlist.h"
#include "PlistCodec.h"
#include "PlistToDBus.h"
#include "SettingsDomain.h"

#include <QDBusArgument>

void AgentSuite::SetUp() {
    ASSERT_TRUE(suite.start()) << qPrintable(suite.error());
    // The test process reads and writes the same settings files as the agent.
    qputenv("XDG_CONFIG_HOME", suite.tempPath(QStringLiteral("config")).toUtf8());
    fNotifications =
        std::make_unique<SignalRecorder>(suite.connection(), kNotificationPath,
                                         kNotificationInterface, QStringLiteral("Notification"));
    ASSERT_TRUE(fNotifications->isListening());
}

void AgentSuite::TearDown() {
    if (suite.isRunning(kAgent)) {
        suite.stopProgram(kAgent);
    }
}

void AgentSuite::login() {
    const auto result = suite.sim({QStringLiteral("session"), QStringLiteral("login"),
                                   QStringLiteral("alice"), QStringLiteral("1000")});
    ASSERT_TRUE(result.ok()) << qPrintable(result.err);
}

void AgentSuite::startAgent() {
    ASSERT_TRUE(suite.startCapturedProgram(kAgent, QStringLiteral(SABLECOIL_AGENT_PROGRAM)))
        << qPrintable(suite.error());
}

void AgentSuite::startRunningAgent() {
    login();
    ASSERT_FALSE(suite.plug(2, {QStringLiteral("--firmware"), QStringLiteral("0x0101")}).isEmpty())
        << qPrintable(suite.error());
    startAgent();
    ASSERT_TRUE(waitForFirmware(0x0101)) << qPrintable(agentErrors());
    ASSERT_TRUE(SuiteHarness::waitUntil([&] { return suite.commands(1).size() == 1; }));
}

QString AgentSuite::domainPath(const char* domain) const {
    return suite.tempPath(QStringLiteral("config/sablecoil/%1.plist").arg(QLatin1String(domain)));
}

PlistValue AgentSuite::domain(const char* domain) const {
    QFile file(domainPath(domain));
    if (!file.open(QIODevice::ReadOnly)) {
        return PlistValue::dictionary();
    }
    const QByteArray bytes = file.readAll();
    auto value = PlistCodec::readDictionary(std::string_view(bytes.constData(), bytes.size()));
    return value ? value.value() : PlistValue::dictionary();
}

bool AgentSuite::writeDomainKey(const char* domain, const char* key, const PlistValue& value) {
    return SettingsDomain(QString::fromLatin1(domain)).setValue(key, value).ok();
}

bool AgentSuite::waitForDomainKey(const char* name, const char* key) {
    return SuiteHarness::waitUntil([&] { return domain(name).contains(key); }, 15000);
}

bool AgentSuite::waitForFirmware(std::int64_t version) {
    return SuiteHarness::waitUntil(
        [&] { return domain(kV2).intFor("FirmwareVersion", -1) == version; }, 15000);
}

QString AgentSuite::param(const QString& key) {
    return suite.sim({QStringLiteral("param"), QStringLiteral("get"), key}).out.trimmed();
}

std::vector<AgentSuite::Broadcast> AgentSuite::broadcasts() const {
    std::vector<Broadcast> result;
    for (const QDBusMessage& message : fNotifications->messages()) {
        const QList<QVariant> args = message.arguments();
        if (args.size() != 3) {
            continue;
        }
        const QVariantMap info = qdbus_cast<QVariantMap>(args.at(2));
        result.push_back(
            {args.at(0).toString(), args.at(1).toString(), DBusPlist::fromVariantMap(info)});
    }
    return result;
}

void AgentSuite::pushProfile(const PlistValue& profile, const QString& expectedCommand) {
    QDBusMessage signal = QDBusMessage::createSignal(kNotificationPath, kNotificationInterface,
                                                     QStringLiteral("Notification"));
    signal << QStringLiteral("OrvixSablecoil") << QStringLiteral("PrefsChange")
           << PlistToDBus::toVariantMap(profile);
    ASSERT_TRUE(suite.connection().send(signal));
    ASSERT_TRUE(SuiteHarness::waitUntil([&] {
        return !suite.commands(1).isEmpty() && suite.commands(1).last() == expectedCommand;
    })) << qPrintable(suite.commands(1).join(QLatin1Char('|')))
        << qPrintable(agentErrors());
}

PlistValue AgentSuite::MappingProfile(std::initializer_list<std::pair<int, std::string>> records,
                                      int resolution) {
    PlistValue mappings = PlistValue::array(PlistValue::Array(7, PlistValue::data({0x00})));
    for (const auto& [input, record] : records) {
        mappings.items()[static_cast<std::size_t>(input)] =
            PlistValue::data(PlistValue::Data(record.begin(), record.end()));
    }
    return PlistValue::dictionary({{"ButtonMappings", mappings},
                                   {"Resolution", PlistValue::int32(resolution)},
                                   {"PollingRate", PlistValue::int32(1)},
                                   {"GlowLogoOn", PlistValue::int32(1)},
                                   {"ScrollLightOn", PlistValue::int32(1)},
                                   {"Otfs", PlistValue::int32(1)},
                                   {"OtfsOnScreen", PlistValue::int32(1)}});
}

QStringList AgentSuite::events(bool clear) {
    QStringList args{QStringLiteral("events")};
    if (clear) {
        args << QStringLiteral("--clear");
    }
    return suite.sim(args).lines();
}

bool AgentSuite::waitForEvents(int n) {
    return SuiteHarness::waitUntil([&] { return events().size() >= n; });
}
