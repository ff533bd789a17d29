// Tests of the driver message dispatcher: action strings, key repeat,
// commands, the profile button and on-the-fly sensitivity.
#include "Application.h"
#include "CallBacks.h"
#include "DeviceIds.h"
#include "FakePlatform.h"
#include "HidUtils.h"
#include "Preferences.h"
#include "SettingsDomain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

using Log = std::vector<std::string>;
const ServiceHandle kInstance = "/com/orvix/driver/OrvixSablecoilDriver/1";

std::uint32_t Word(std::uint32_t w, std::uint32_t u, std::uint32_t flags) {
    return w | u << 8 | flags << 16;
}

PlistValue Record(std::uint8_t type, std::string_view text = {}) {
    PlistValue::Data bytes{type};
    bytes.insert(bytes.end(), text.begin(), text.end());
    return PlistValue::data(std::move(bytes));
}

int VisibleWindows() {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        n += w->isVisible() ? 1 : 0;
    }
    return n;
}

void RunEventsFor(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

class DispatcherTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fConfig.isValid());
        qputenv("XDG_CONFIG_HOME", fConfig.path().toUtf8());
        fPlatform.fRegistry.add(kInstance, kSablecoilVendorId, kSablecoilV2ProductId);
        Application* app = Application::GetApp();
        app->SetSablecoil(FindSablecoil("", false));
        app->fHidSystem = FindHidSystem();
        app->fPreferences = std::make_unique<Preferences>();
        app->fPreferences->InitPrefs();
        app->fPreferences->ReadPrefs();
        fPlatform.fRegistry.setCalls.clear();
        fPlatform.fNotifications.posted.clear();
    }
    void TearDown() override {
        ReleaseHeldKey();
        CloseSensDrawer();
        Application::GetApp()->fPreferences.reset();
        Application::GetApp()->fSablecoil.clear();
    }

    // Gives input u a record, as a push of the current profile would.
    void assign(std::size_t u, PlistValue record) {
        prefs().fMappingArray.items()[u] = std::move(record);
    }
    Preferences& prefs() { return *Application::GetApp()->fPreferences; }
    void message(std::uint32_t word) { DriverNotifProc(kInstance, word); }
    Log take() { return std::exchange(fPlatform.fEvents.log, {}); }

    QTemporaryDir fConfig;
    FakePlatform fPlatform;
};

struct PlayCase {
    const char* name;
    std::uint8_t type;
    const char* text;
    std::uint32_t flags;
    Log expected;
};

class PlayTest : public DispatcherTest, public testing::WithParamInterface<PlayCase> {};

TEST_P(PlayTest, PostsTheEvents) {
    const PlayCase& c = GetParam();
    assign(4, Record(c.type, c.text));
    message(Word(0, 4, c.flags));
    EXPECT_EQ(take(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlayTest,
    testing::Values(
        PlayCase{"ShiftedMacro",
                 4,
                 "568,512,256,312",
                 0,
                 {"flags 0x20000", "keydown 0x0 repeat=0", "keyup 0x0", "flags 0x0", "flags 0x0"}},
        PlayCase{
            "ShortPause", 4, "1024,512,256", 0, {"keydown 0x0 repeat=0", "keyup 0x0", "flags 0x0"}},
        PlayCase{"TimedPauseOnly", 4, "2048,300", 0, {"flags 0x0"}},
        PlayCase{"TrailingPauseMarker", 4, "512,2048", 0, {"keydown 0x0 repeat=0", "flags 0x0"}},
        PlayCase{"PressAndReleaseField",
                 4,
                 "780",
                 0,
                 {"keydown 0xc repeat=0", "keyup 0xc", "flags 0x0"}},
        PlayCase{"PressAndReleaseModifier",
                 4,
                 "824",
                 0,
                 {"keydown 0x38 repeat=0", "keyup 0x38", "flags 0x0"}},
        PlayCase{"KeyReleaseUsesTheButton", 3, "512", 0x10, {"keyup 0x0", "flags 0x0"}},
        PlayCase{"SingleModifierKey", 3, "568", 0, {"keyboard 0x38 down", "flags 0x0"}},
        PlayCase{"EmptyKeyIsA", 3, "", 0, {"keydown 0x0 repeat=0", "flags 0x0"}},
        PlayCase{"CommandOnPress",
                 3,
                 "4096",
                 0,
                 {"flags 0x100000", "keydown 0x7 repeat=0", "keyup 0x7", "flags 0x0", "flags 0x0"}},
        PlayCase{"NoCommandOnRelease", 3, "4096", 0x10, {"flags 0x0"}},
        PlayCase{"Dashboard", 3, "11776", 0, {"keydown 0x6f repeat=0", "keyup 0x6f", "flags 0x0"}},
        PlayCase{"SaveAs",
                 3,
                 "5888",
                 0,
                 {"flags 0x20000", "flags 0x120000", "keydown 0x1 repeat=0", "keyup 0x1",
                  "flags 0x20000", "flags 0x0", "flags 0x0"}},
        PlayCase{"Invert",
                 3,
                 "10752",
                 0,
                 {"flags 0x80000", "flags 0x180000", "flags 0x1c0000", "keydown 0x1c repeat=0",
                  "keyup 0x1c", "flags 0x180000", "flags 0x80000", "flags 0x0", "flags 0x0"}},
        PlayCase{"VolumeUpPressOnly", 3, "14336", 0, {"aux 0x0", "flags 0x0"}},
        PlayCase{"Mute", 3, "14848", 0, {"aux 0x7", "flags 0x0"}},
        PlayCase{"Eject", 3, "15104", 0, {"sysdefined 10", "flags 0x0"}},
        PlayCase{"CodeInAGap", 3, "15360", 0, {"flags 0x0"}},
        PlayCase{"NestedMacroOnRelease",
                 5,
                 "\x04"
                 "512,256",
                 0x05,
                 {"keydown 0x0 repeat=0", "keyup 0x0", "flags 0x0"}}),
    [](const auto& info) { return info.param.name; });

TEST_F(DispatcherTest, IgnoredMessages) {
    assign(0, Record(3, "512"));
    message(Word(2, 0, 0x08)); // unexpected wheel value, even with the profile flag
    message(Word(0, 7, 0));    // no such input
    DriverNotifProc("/com/orvix/driver/OrvixSablecoilDriver/9", Word(0, 0, 0)); // not in use
    EXPECT_TRUE(take().empty());
    EXPECT_TRUE(fPlatform.fNotifications.posted.empty());
    EXPECT_EQ(prefs().GetProfile(), 1);
}

TEST_F(DispatcherTest, ProfileButtonAdvancesTheProfile) {
    message(Word(0, 3, 0x08));
    EXPECT_EQ(prefs().GetProfile(), 2);
    ASSERT_FALSE(fPlatform.fNotifications.posted.empty());
    EXPECT_EQ(fPlatform.fNotifications.posted.back().object, "ProfileChange");
    EXPECT_EQ(fPlatform.fRegistry.setCalls.back().properties.intFor("ProfileNumber", -1), -1);
    EXPECT_TRUE(take().empty());
}

TEST_F(DispatcherTest, ResolutionAndProfileCommandsWrapAround) {
    struct Case {
        const char* text;
        std::uint8_t type;
        int from;
        int to;
    };
    for (Case c : {Case{"16384", 6, 3, 0}, Case{"16640", 6, 0, 3}, Case{"17152", 6, 3, 1}}) {
        prefs().SetDpi(c.from);
        assign(1, Record(c.type, c.text));
        message(Word(0, 1, 0));
        EXPECT_EQ(prefs().GetDpi(), c.to) << c.text;
        EXPECT_EQ(fPlatform.fNotifications.posted.back().userInfo.intFor("Resolution"), c.to);
    }
    for (Case c : {Case{"20480", 7, 5, 1}, Case{"20736", 7, 1, 5}, Case{"21248", 7, 4, 2}}) {
        prefs().SetProfile(c.from);
        assign(1, Record(c.type, c.text));
        message(Word(0, 1, 0));
        EXPECT_EQ(prefs().GetProfile(), c.to) << c.text;
    }
}

TEST_F(DispatcherTest, HeldKeyRepeatsUntilReleased) {
    assign(0, Record(3, "512"));
    message(Word(0, 0, 0));
    EXPECT_EQ(take(), (Log{"keydown 0x0 repeat=0", "flags 0x0"}));
    // First repeat at 500 ms, then every 80 ms: wait for two (bounded, so a
    // loaded machine only makes the test slower).
    QElapsedTimer clock;
    clock.start();
    while (fPlatform.fEvents.log.size() < 2 && clock.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    Log repeats = take();
    EXPECT_GE(repeats.size(), 2u);
    for (const std::string& line : repeats) {
        EXPECT_EQ(line, "keydown 0x0 repeat=1");
    }
    message(Word(0, 0, 0x10));
    EXPECT_EQ(take(), (Log{"keyup 0x0", "flags 0x0"}));
    RunEventsFor(300);
    EXPECT_TRUE(take().empty());
}

TEST_F(DispatcherTest, NoRepeatForWheelInputsAndModifiers) {
    assign(5, Record(3, "512"));
    assign(1, Record(3, "568"));
    message(Word(1, 5, 0));
    // A wheel step has no release: its key goes down and up at once.
    EXPECT_EQ(take(), (Log{"keydown 0x0 repeat=0", "keyup 0x0", "flags 0x0"}));
    message(Word(0, 1, 0));
    take();
    RunEventsFor(700);
    EXPECT_TRUE(take().empty());
}

TEST_F(DispatcherTest, ProfileCommandStopsTheRepeat) {
    assign(0, Record(3, "512"));
    assign(1, Record(7, "20480"));
    message(Word(0, 0, 0));
    message(Word(0, 1, 0));
    EXPECT_EQ(prefs().GetProfile(), 2);
    take();
    RunEventsFor(700);
    EXPECT_TRUE(take().empty());
}

TEST_F(DispatcherTest, HeldKeyIsReleasedOnProfileChangeAndQuit) {
    assign(0, Record(3, "512"));
    message(Word(0, 0, 0));
    take();
    message(Word(0, 3, 0x08)); // profile button while the key is down
    EXPECT_EQ(take(), (Log{"keyup 0x0", "flags 0x0"}));

    assign(0, Record(3, "512"));
    message(Word(0, 0, 0));
    take();
    ReleaseHeldKey(); // what quitting and unplugging do
    EXPECT_EQ(take(), (Log{"keyup 0x0", "flags 0x0"}));
    ReleaseHeldKey();
    EXPECT_TRUE(take().empty());
}

TEST_F(DispatcherTest, OnTheFlySteps) {
    assign(2, Record(8));
    prefs().fSens[kSensBoth] = 5.0;
    message(Word(0, 2, 0x02));
    EXPECT_EQ(VisibleWindows(), 0); // the display appears with the first step
    for (double expected : {5.2, 5.4, 5.6}) {
        message(Word(1, 2, 0));
        EXPECT_DOUBLE_EQ(prefs().fSens[kSensBoth], expected);
        EXPECT_EQ(fPlatform.fRegistry.setCalls.back().properties.intFor("Sensitivity"),
                  Preferences::ToFixed(expected));
        EXPECT_EQ(fPlatform.fNotifications.posted.back().object, "OtfsChange");
    }
    EXPECT_EQ(VisibleWindows(), 1);
    message(Word(0xFF, 2, 0));
    EXPECT_DOUBLE_EQ(prefs().fSens[kSensBoth], 5.4);
    PlistValue stored = SettingsDomain(SettingsDomain::kSecondGeneration).copyValue("ProfileArray");
    EXPECT_DOUBLE_EQ(stored.at(1).realFor("Sensitivity"), 5.4);
    message(Word(0, 2, 0x04));
    EXPECT_EQ(VisibleWindows(), 0);
}

TEST_F(DispatcherTest, OnTheFlySeparateAxesHoldAtTheMaximum) {
    assign(2, Record(8));
    prefs().fMasterSens = true;
    prefs().fSens[kSensX] = 10.0;
    prefs().fSens[kSensY] = 9.9;
    message(Word(1, 2, 0x02));
    EXPECT_DOUBLE_EQ(prefs().fSens[kSensX], 10.0);
    EXPECT_DOUBLE_EQ(prefs().fSens[kSensY], 10.0);
    EXPECT_EQ(fPlatform.fNotifications.posted.back().userInfo.dict().size(), 2u);
}

TEST_F(DispatcherTest, OnTheFlyOffChangesNothing) {
    assign(2, Record(8));
    prefs().fOtfsOn = false;
    prefs().fSens[kSensBoth] = 5.0;
    message(Word(0, 2, 0x02));
    message(Word(1, 2, 0));
    EXPECT_DOUBLE_EQ(prefs().fSens[kSensBoth], 5.0);
    EXPECT_EQ(VisibleWindows(), 0);
    EXPECT_TRUE(fPlatform.fNotifications.posted.empty());
}

TEST_F(DispatcherTest, SecondBeginClosesTheOlderDisplay) {
    assign(2, Record(8));
    message(Word(1, 2, 0x02));
    EXPECT_EQ(VisibleWindows(), 1);
    message(Word(1, 2, 0x02)); // a begin without the end of the first
    EXPECT_EQ(VisibleWindows(), 1);
    message(Word(0, 2, 0x04));
    QCoreApplication::processEvents();
    EXPECT_EQ(VisibleWindows(), 0);
}

TEST_F(DispatcherTest, EndClosesTheDisplayEvenWhenTheSwitchWentOff) {
    assign(2, Record(8));
    message(Word(1, 2, 0x02));
    EXPECT_EQ(VisibleWindows(), 1);
    prefs().fOtfsOnScreen = false; // new settings while the button is held
    message(Word(0, 2, 0x04));
    QCoreApplication::processEvents();
    EXPECT_EQ(VisibleWindows(), 0);
}

TEST_F(DispatcherTest, OutOfRangeStageAndProfileStepFromTheDefaults) {
    PlistValue profiles =
        SettingsDomain(SettingsDomain::kSecondGeneration).copyValue("ProfileArray");
    profiles.items()[1].set("Resolution", PlistValue::int32(2147483647));
    ASSERT_TRUE(
        SettingsDomain(SettingsDomain::kSecondGeneration).setValue("ProfileArray", profiles).ok());
    assign(1, Record(6, "16384"));
    message(Word(0, 1, 0));
    EXPECT_EQ(prefs().GetDpi(), 3);

    ASSERT_TRUE(SettingsDomain(SettingsDomain::kSecondGeneration)
                    .setValue("ProfileNumber", PlistValue::int32(-2147483647 - 1))
                    .ok());
    assign(1, Record(7, "20736"));
    message(Word(0, 1, 0));
    EXPECT_EQ(prefs().GetProfile(), 5);
}

} // namespace
