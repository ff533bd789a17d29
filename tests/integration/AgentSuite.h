// AgentSuite: the fixture of the agent's end-to-end tests. Starts the bus,
// the simulator and the driver host, runs the agent as a real process with
// its output kept, and reads the settings domains from their files.
#pragma once

#include "PlistValue.h"
#include "PrivateDBus.h"
#include "SuiteHarness.h"

#include <QFile>
#include <QString>

#include <gtest/gtest.h>

#include <memory>

class AgentSuite : public testing::Test {
protected:
    static constexpr const char* kV1 = "com.Orvix.Sablecoil";
    static constexpr const char* kV2 = "com.Orvix.SablecoilV2";
    static inline const QString kAgent = QStringLiteral("agent");
    static inline const QString kNotificationPath =
        QStringLiteral("/com/orvix/DistributedNotificationCenter");
    static inline const QString kNotificationInterface =
        QStringLiteral("com.orvix.DistributedNotificationCenter");

    void SetUp() override;
    void TearDown() override;

    // sablecoil-sim session login alice 1000
    void login();
    void startAgent();
    // Logs in, plugs a second-generation mouse (id 1), starts the agent and
    // waits until it has published the mouse's firmware version.
    void startRunningAgent();
    QString agentErrors() const { return suite.errors(kAgent); }
    QString agentOutput() const { return suite.output(kAgent); }

    QString domainPath(const char* domain) const;
    // The stored domain; an empty dictionary when the file is missing or unreadable.
    PlistValue domain(const char* domain) const;
    bool writeDomainKey(const char* domain, const char* key, const PlistValue& value);
    bool waitForDomainKey(const char* domain, const char* key);
    bool waitForFirmware(std::int64_t version);
    QString param(const QString& key);

    // Broadcasts "PrefsChange" with a profile, as the application does, and
    // waits until the mouse has received the command word it leads to.
    void pushProfile(const PlistValue& profile, const QString& expectedCommand);
    // A profile made of mapping records (type byte and text) for inputs 0..6;
    // the rest are clicks.
    static PlistValue MappingProfile(std::initializer_list<std::pair<int, std::string>> records,
                                     int resolution);
    // The simulator's event log, and a wait until it has at least n lines.
    QStringList events(bool clear = false);
    bool waitForEvents(int n);

    // The broadcasts seen on the bus: name, object and user information.
    struct Broadcast {
        QString name;
        QString object;
        PlistValue userInfo;
    };
    std::vector<Broadcast> broadcasts() const;

    SuiteHarness suite;
    std::unique_ptr<SignalRecorder> fNotifications;
};
