// End-to-end tests of the agent with the simulator and the driver host on a
// private bus: start-up and login, the settings domains, the push to the
// driver, firmware versions, broadcasts, the user switch and quitting.
#include "AgentSuite.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace {

// The factory profile as the mouse receives it from a second-generation
// agent: 1800 dpi (step 2), 500 reports per second, both lights, no profile.
const QString kFactoryCommandV2 = QStringLiteral("02 02 00 03");

TEST_F(AgentSuite, FreshUserWithSecondGenerationGetsTheFactoryDomain) {
    login();
    ASSERT_FALSE(suite.plug(2, {QStringLiteral("--firmware"), QStringLiteral("0x0203")}).isEmpty());
    startAgent();
    ASSERT_TRUE(waitForDomainKey(kV2, "FirmwareVersion")) << qPrintable(agentErrors());

    const PlistValue v2 = domain(kV2);
    EXPECT_EQ(v2.intFor("ProfileNumber"), 1);
    EXPECT_EQ(v2.intFor("PrefIsActive"), 1);
    EXPECT_EQ(v2.intFor("FirmwareVersion"), 0x0203);
    const PlistValue& profiles = v2.get("ProfileArray");
    ASSERT_EQ(profiles.size(), 6u);
    for (const PlistValue& profile : profiles.items()) {
        EXPECT_EQ(profile, profiles.at(0));
    }
    EXPECT_DOUBLE_EQ(profiles.at(1).realFor("Sensitivity"), 10.0);
    EXPECT_EQ(domain(kV1).intFor("PrefIsActive", -1), 0);

    // The file is a property list any tool reads.
    const auto converted = suite.run(QStringLiteral("plistutil"),
                                     {QStringLiteral("-i"), domainPath(kV2), QStringLiteral("-o"),
                                      suite.tempPath(QStringLiteral("v2.bin")),
                                      QStringLiteral("-f"), QStringLiteral("bin")});
    EXPECT_TRUE(converted.ok()) << qPrintable(converted.err);

    EXPECT_EQ(suite.commands(1), QStringList{kFactoryCommandV2});
    // The desktop's pointer parameters: double-click speed 6.0 (1.7 s), the
    // left button primary, acceleration off.
    EXPECT_EQ(param("HIDClickTime"), QStringLiteral("1700000000"));
    EXPECT_EQ(param("HIDPointerButtonMode"), QStringLiteral("2"));
    EXPECT_EQ(param("HIDMouseAcceleration"), QStringLiteral("0.0"));
}

TEST_F(AgentSuite, NothingIsWrittenUntilLogin) {
    ASSERT_FALSE(suite.plug(2).isEmpty());
    startAgent();
    // The agent polls the login once a second; give it a few polls.
    SuiteHarness::waitUntil([] { return false; }, 2500);
    EXPECT_FALSE(QFile::exists(domainPath(kV2)));
    EXPECT_FALSE(QFile::exists(domainPath(kV1)));
    EXPECT_TRUE(suite.commands(1).isEmpty());

    login();
    ASSERT_TRUE(waitForDomainKey(kV2, "ProfileArray")) << qPrintable(agentErrors());
    EXPECT_TRUE(SuiteHarness::waitUntil([&] { return !suite.commands(1).isEmpty(); }));
}

TEST_F(AgentSuite, SessionSwitchedOutKeepsTheAgentWaiting) {
    login();
    ASSERT_TRUE(suite.sim({QStringLiteral("session"), QStringLiteral("switch-out")}).ok());
    ASSERT_FALSE(suite.plug(2).isEmpty());
    startAgent();
    SuiteHarness::waitUntil([] { return false; }, 2500);
    EXPECT_FALSE(QFile::exists(domainPath(kV2)));
    ASSERT_TRUE(suite.sim({QStringLiteral("session"), QStringLiteral("switch-in")}).ok());
    EXPECT_TRUE(waitForDomainKey(kV2, "ProfileArray")) << qPrintable(agentErrors());
}

TEST_F(AgentSuite, FirmwareVersionsFollowTheDeviceInUse) {
    login();
    ASSERT_FALSE(suite.plug(2, {QStringLiteral("--firmware"), QStringLiteral("0x0102")}).isEmpty());
    const uint a = suite.lastMouseId();
    startAgent();
    EXPECT_TRUE(waitForFirmware(0x0102)) << qPrintable(agentErrors());
    ASSERT_FALSE(suite.plug(2, {QStringLiteral("--firmware"), QStringLiteral("0x0200")}).isEmpty());
    const uint b = suite.lastMouseId();
    EXPECT_TRUE(waitForFirmware(0x0200)) << qPrintable(agentErrors());

    ASSERT_TRUE(suite.sim({QStringLiteral("unplug"), QString::number(b)}).ok());
    EXPECT_TRUE(waitForFirmware(0x0102)) << qPrintable(agentErrors());
    ASSERT_TRUE(suite.sim({QStringLiteral("unplug"), QString::number(a)}).ok());
    EXPECT_TRUE(waitForFirmware(0)) << qPrintable(agentErrors());
}

TEST_F(AgentSuite, BusyDeviceIsRetried) {
    login();
    ASSERT_FALSE(suite
                     .plug(2, {QStringLiteral("--busy"), QStringLiteral("2"),
                               QStringLiteral("--firmware"), QStringLiteral("0x0301")})
                     .isEmpty());
    startAgent();
    ASSERT_TRUE(waitForFirmware(0x0301)) << qPrintable(agentErrors());
    EXPECT_TRUE(agentErrors().contains(QStringLiteral(
        "error:1, Exclusive access err, sleeping on it\n\nerror:2, Exclusive access err, "
        "sleeping on it\n\n")))
        << qPrintable(agentErrors());
    EXPECT_FALSE(agentErrors().contains(QStringLiteral("error:3")));
}

TEST_F(AgentSuite, DeviceThatStaysBusyIsGivenUp) {
    login();
    ASSERT_FALSE(suite.plug(2, {QStringLiteral("--busy"), QStringLiteral("9")}).isEmpty());
    startAgent();
    ASSERT_TRUE(SuiteHarness::waitUntil(
        [&] { return agentErrors().contains(QStringLiteral("unable to open device")); }, 15000))
        << qPrintable(agentErrors());
    EXPECT_TRUE(agentErrors().contains(QStringLiteral("error:5, Exclusive access err")));
    EXPECT_FALSE(agentErrors().contains(QStringLiteral("error:6, Exclusive access err")));
    EXPECT_EQ(domain(kV2).intFor("FirmwareVersion", -1), -1);
}

TEST_F(AgentSuite, PrefsChangeIsPushedAsItCame) {
    startRunningAgent();
    const PlistValue before = domain(kV2);
    // Resolution 0 (450 dpi, step 4), report rate 125/s, lights off, profile 3.
    ASSERT_TRUE(
        suite
            .busctl({QStringLiteral("emit"), kNotificationPath, kNotificationInterface,
                     QStringLiteral("Notification"), QStringLiteral("ssa{sv}"),
                     QStringLiteral("OrvixSablecoil"), QStringLiteral("PrefsChange"),
                     QStringLiteral("3"), QStringLiteral("Resolution"), QStringLiteral("i"),
                     QStringLiteral("0"), QStringLiteral("PollingRate"), QStringLiteral("i"),
                     QStringLiteral("0"), QStringLiteral("ProfileNumber"), QStringLiteral("i"),
                     QStringLiteral("3")})
            .ok());
    ASSERT_TRUE(SuiteHarness::waitUntil([&] { return suite.commands(1).size() == 2; }))
        << qPrintable(agentErrors());
    EXPECT_EQ(suite.commands(1).last(), QStringLiteral("03 04 03 00"));
    // Pushed without being stored.
    EXPECT_EQ(domain(kV2).get("ProfileArray"), before.get("ProfileArray"));
}

TEST_F(AgentSuite, SwitchingBackInPushesTheStoredSettings) {
    startRunningAgent();
    // The stored profile changes behind the agent's back (3500 dpi: step 1).
    PlistValue profiles = domain(kV2).get("ProfileArray");
    profiles.items()[1].set("Resolution", PlistValue::int32(3));
    ASSERT_TRUE(writeDomainKey(kV2, "ProfileArray", profiles));

    ASSERT_TRUE(suite.sim({QStringLiteral("session"), QStringLiteral("switch-out")}).ok());
    ASSERT_TRUE(suite.sim({QStringLiteral("session"), QStringLiteral("switch-in")}).ok());
    ASSERT_TRUE(SuiteHarness::waitUntil([&] { return suite.commands(1).size() == 2; }))
        << qPrintable(agentErrors());
    EXPECT_EQ(suite.commands(1).last(), QStringLiteral("02 01 00 03"));
}

TEST_F(AgentSuite, TerminatesWithStatusZero) {
    startRunningAgent();
    EXPECT_EQ(suite.stopProgram(kAgent), 0);
}

TEST_F(AgentSuite, TerminatesWithStatusZeroWhileWaitingForLogin) {
    startAgent();
    SuiteHarness::waitUntil([] { return false; }, 1200);
    EXPECT_EQ(suite.stopProgram(kAgent), 0);
}

} // namespace

namespace {

TEST_F(AgentSuite, DelayedPushSendsTheStoredSettingsOnce) {
    startRunningAgent();
    // The stored profile changes without a broadcast (3500 dpi: step 1).
    PlistValue profiles = domain(kV2).get("ProfileArray");
    profiles.items()[1].set("Resolution", PlistValue::int32(3));
    ASSERT_TRUE(writeDomainKey(kV2, "ProfileArray", profiles));

    // 15 seconds after start-up the agent pushes the stored settings.
    ASSERT_TRUE(SuiteHarness::waitUntil([&] { return suite.commands(1).size() == 2; }, 20000))
        << qPrintable(agentErrors());
    EXPECT_EQ(suite.commands(1).last(), QStringLiteral("02 01 00 03"));

    // Once: a later change stays where it is.
    profiles.items()[1].set("Resolution", PlistValue::int32(0));
    ASSERT_TRUE(writeDomainKey(kV2, "ProfileArray", profiles));
    SuiteHarness::waitUntil([] { return false; }, 3000);
    EXPECT_EQ(suite.commands(1).size(), 2);
}

} // namespace
