// End-to-end tests of the mouse's special inputs through the agent: keys and
// key repeat, macros, commands, the profile button, on-the-fly sensitivity,
// resolution switching, and no key left down.
#include "AgentSuite.h"

#include <gtest/gtest.h>

namespace {

const QString kRelease = QStringLiteral("00 00 00 00 00 00 00 00");
// The word of a second-generation profile with report rate 500/s and both
// lights, by resolution step.
const QString kCommand900 = QStringLiteral("02 03 00 03");
const QString kCommand1800 = QStringLiteral("02 02 00 03");
const QString kCommand3500 = QStringLiteral("02 01 00 03");

std::string Record(char type, const char* text) {
    return std::string(1, type) + text;
}

class AgentEvents : public AgentSuite {
protected:
    void press(const char* bytes) { ASSERT_TRUE(suite.report(1, QString::fromLatin1(bytes))); }
    // Waits until the log has n lines, then lets any stray further event arrive.
    QStringList settled(int n) {
        EXPECT_TRUE(waitForEvents(n)) << qPrintable(events().join(QLatin1Char('|')));
        SuiteHarness::waitUntil([] { return false; }, 150);
        return events(true);
    }
};

TEST_F(AgentEvents, FactoryButtonFourPostsF12) {
    startRunningAgent();
    press("10 00 00 00 00 00 00 00");
    press(qPrintable(kRelease));
    EXPECT_EQ(settled(4),
              (QStringList{QStringLiteral("keydown 0x6f repeat=0"), QStringLiteral("keyup 0x6f"),
                           QStringLiteral("flags 0x0"), QStringLiteral("flags 0x0")}));
}

TEST_F(AgentEvents, HeldKeyRepeatsAndStopsOnRelease) {
    startRunningAgent();
    pushProfile(MappingProfile({{0, Record(3, "512")}}, 1), kCommand900);
    press("01 00 00 00 00 00 00 00");
    // First repeat after 0.5 s, then every 0.08 s.
    ASSERT_TRUE(SuiteHarness::waitUntil([&] { return events().size() >= 4; }));
    press(qPrintable(kRelease));
    const QStringList log = settled(6);
    ASSERT_GE(log.size(), 6);
    EXPECT_EQ(log.mid(0, 2),
              (QStringList{QStringLiteral("keydown 0x0 repeat=0"), QStringLiteral("flags 0x0")}));
    for (const QString& line : log.mid(2, log.size() - 4)) {
        EXPECT_EQ(line, QStringLiteral("keydown 0x0 repeat=1"));
    }
    EXPECT_EQ(log.mid(log.size() - 2),
              (QStringList{QStringLiteral("keyup 0x0"), QStringLiteral("flags 0x0")}));
    SuiteHarness::waitUntil([] { return false; }, 300);
    EXPECT_TRUE(events().isEmpty()) << qPrintable(events().join(QLatin1Char('|')));
}

TEST_F(AgentEvents, MacroWithPausePlaysInOrder) {
    startRunningAgent();
    // Shift down, A, Shift up, 100 ms, B.
    pushProfile(MappingProfile({{1, Record(4, "568,512,256,312,2048,100,523,267")}}, 1),
                kCommand900);
    press("02 00 00 00 00 00 00 00");
    press(qPrintable(kRelease));
    EXPECT_EQ(settled(7),
              (QStringList{QStringLiteral("flags 0x20000"), QStringLiteral("keydown 0x0 repeat=0"),
                           QStringLiteral("keyup 0x0"), QStringLiteral("flags 0x0"),
                           QStringLiteral("keydown 0xb repeat=0"), QStringLiteral("keyup 0xb"),
                           QStringLiteral("flags 0x0")}));
}

TEST_F(AgentEvents, ProfileButtonAdvancesPushesStoresAndBroadcasts) {
    startRunningAgent();
    // Profile 2 differs from profile 1 in its resolution, so its push shows.
    PlistValue profiles = domain(kV2).get("ProfileArray");
    profiles.items()[2].set("Resolution", PlistValue::int32(3));
    ASSERT_TRUE(writeDomainKey(kV2, "ProfileArray", profiles));

    press("80 00 00 00 00 00 00 00");
    press(qPrintable(kRelease));
    ASSERT_TRUE(SuiteHarness::waitUntil([&] { return domain(kV2).intFor("ProfileNumber") == 2; }))
        << qPrintable(agentErrors());
    EXPECT_TRUE(SuiteHarness::waitUntil([&] { return suite.commands(1).last() == kCommand3500; }));
    ASSERT_TRUE(SuiteHarness::waitUntil([&] {
        for (const Broadcast& b : broadcasts()) {
            if (b.object == QLatin1String("ProfileChange")) {
                return true;
            }
        }
        return false;
    }));
    for (const Broadcast& b : broadcasts()) {
        if (b.object == QLatin1String("ProfileChange")) {
            EXPECT_EQ(b.name, QStringLiteral("OrvixSablecoil"));
            EXPECT_EQ(b.userInfo,
                      PlistValue::dictionary({{"ProfileNumber", PlistValue::int32(2)}}));
        }
    }
}

TEST_F(AgentEvents, OnTheFlyChangesLaterMotionStoresAndBroadcasts) {
    startRunningAgent();
    // Factory button 3 is on-the-fly sensitivity: hold it and turn the wheel down once.
    press("04 00 00 ff 00 00 00 00");
    press(qPrintable(kRelease));
    ASSERT_TRUE(SuiteHarness::waitUntil([&] {
        return domain(kV2).get("ProfileArray").at(1).realFor("Sensitivity") < 10.0;
    })) << qPrintable(agentErrors());
    EXPECT_DOUBLE_EQ(domain(kV2).get("ProfileArray").at(1).realFor("Sensitivity"), 9.8);

    suite.delivered(1, true);
    press("00 00 00 00 64 00 00 00"); // X = 100
    EXPECT_EQ(suite.delivered(1), QStringList{QStringLiteral("00 62 00 00 62 00 00 00")});

    bool seen = false;
    for (const Broadcast& b : broadcasts()) {
        if (b.object == QLatin1String("OtfsChange")) {
            seen = true;
            EXPECT_EQ(b.userInfo, PlistValue::dictionary({{"Sensitivity", PlistValue::real(9.8)}}));
        }
    }
    EXPECT_TRUE(seen);
}

TEST_F(AgentEvents, ResolutionSwitchSendsAndBroadcasts) {
    startRunningAgent();
    // Button 2: next resolution (0x4000); the stored profile is at 1800 dpi.
    pushProfile(MappingProfile({{1, Record(6, "16384")}}, 1), kCommand900);
    press("02 00 00 00 00 00 00 00");
    press(qPrintable(kRelease));
    ASSERT_TRUE(SuiteHarness::waitUntil([&] { return suite.commands(1).last() == kCommand3500; }))
        << qPrintable(suite.commands(1).join(QLatin1Char('|')));
    EXPECT_EQ(domain(kV2).get("ProfileArray").at(1).intFor("Resolution"), 3);
    ASSERT_TRUE(SuiteHarness::waitUntil([&] {
        for (const Broadcast& b : broadcasts()) {
            if (b.object == QLatin1String("DpiChange")) {
                return b.userInfo == PlistValue::dictionary({{"Resolution", PlistValue::int32(3)}});
            }
        }
        return false;
    }));
}

struct StuckCase {
    const char* name;
    int how; // 0 unplug, 1 profile button, 2 quit
};

class StuckKey : public AgentEvents, public testing::WithParamInterface<StuckCase> {};

TEST_P(StuckKey, HeldKeyIsReleased) {
    startRunningAgent();
    // Button 1 holds A; button 2 switches to the next profile.
    pushProfile(MappingProfile({{0, Record(3, "512")}, {1, Record(7, "20480")}}, 1), kCommand900);
    press("01 00 00 00 00 00 00 00");
    ASSERT_TRUE(waitForEvents(2));
    switch (GetParam().how) {
    case 0:
        ASSERT_TRUE(suite.sim({QStringLiteral("unplug"), QStringLiteral("1")}).ok());
        break;
    case 1:
        press("03 00 00 00 00 00 00 00"); // the profile switch while the key is held
        break;
    default:
        EXPECT_EQ(suite.stopProgram(kAgent), 0);
        break;
    }
    ASSERT_TRUE(SuiteHarness::waitUntil([&] {
        return events().contains(QStringLiteral("keyup 0x0"));
    })) << qPrintable(events().join(QLatin1Char('|')));
    // And the repeat is over: nothing but modifier-flag changes follows the release.
    SuiteHarness::waitUntil([] { return false; }, 400);
    const QStringList log = events();
    const qsizetype release = log.indexOf(QStringLiteral("keyup 0x0"));
    for (const QString& line : log.mid(release + 1)) {
        EXPECT_TRUE(line.startsWith(QStringLiteral("flags ")))
            << qPrintable(log.join(QLatin1Char('|')));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, StuckKey,
                         testing::Values(StuckCase{"Unplug", 0}, StuckCase{"ProfileChange", 1},
                                         StuckCase{"Quit", 2}),
                         [](const auto& info) { return info.param.name; });

} // namespace
