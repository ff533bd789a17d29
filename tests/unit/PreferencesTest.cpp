// Tests of the agent's settings store: the factory domain, the active mark,
// the driver push, and the resolution, profile and sensitivity changes.
#include "Preferences.h"
#include "Application.h"
#include "DeviceIds.h"
#include "FakePlatform.h"
#include "HidUtils.h"
#include "SettingsDomain.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

PlistValue Records(std::initializer_list<std::initializer_list<std::uint8_t>> records) {
    PlistValue array = PlistValue::array();
    for (auto record : records) {
        array.append(PlistValue::data(PlistValue::Data(record)));
    }
    return array;
}

class PreferencesTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fConfig.isValid());
        qputenv("XDG_CONFIG_HOME", fConfig.path().toUtf8());
        useGeneration(2);
        Application* app = Application::GetApp();
        app->fSablecoil = "/com/orvix/driver/OrvixSablecoilDriver/1";
        app->fHidSystem = FindHidSystem();
    }
    void TearDown() override {
        Application::GetApp()->fSablecoil.clear();
        Application::GetApp()->fHidSystem.clear();
    }

    // Makes FindSablecoil accept an instance of the generation, which sets
    // the domain the store works on.
    void useGeneration(int generation) {
        fPlatform.fRegistry.services.clear();
        fPlatform.fRegistry.add("/com/orvix/driver/OrvixSablecoilDriver/1", kSablecoilVendorId,
                                generation == 1 ? kSablecoilV1ProductId : kSablecoilV2ProductId);
        ASSERT_FALSE(FindSablecoil("", false).empty());
    }

    SettingsDomain domain(const char* name = SettingsDomain::kSecondGeneration) {
        return SettingsDomain(QString::fromUtf8(name));
    }

    const PlistValue& lastPush() {
        EXPECT_FALSE(fPlatform.fRegistry.setCalls.empty());
        return fPlatform.fRegistry.setCalls.back().properties;
    }

    QTemporaryDir fConfig;
    FakePlatform fPlatform;
    Preferences fPrefs;
};

TEST_F(PreferencesTest, FreshUserGetsTheFactoryDomainMarkedActive) {
    fPlatform.fHid.parameters.set("HIDMouseAcceleration", PlistValue::real(0.6875));
    EXPECT_FALSE(Preferences::HasPrefs());
    fPrefs.ReadPrefs();

    PlistValue top = domain().copyAll();
    EXPECT_EQ(top.intFor("ProfileNumber"), 1);
    EXPECT_EQ(top.intFor("PrefIsActive"), 1);
    const PlistValue& profiles = top.get("ProfileArray");
    ASSERT_EQ(profiles.size(), 6u);
    for (const PlistValue& profile : profiles.items()) {
        EXPECT_EQ(profile, profiles.at(0));
    }
    const PlistValue& factory = profiles.at(1);
    EXPECT_DOUBLE_EQ(factory.realFor("Sensitivity"), 10.0);
    EXPECT_DOUBLE_EQ(factory.realFor("MasterAccel"), 0.6875);
    EXPECT_DOUBLE_EQ(factory.realFor("DblClickSpeed"), 6.0);
    EXPECT_EQ(factory.intFor("Resolution"), 2);
    EXPECT_EQ(factory.get("ButtonMappings"), Records({{0x00},
                                                      {0x01},
                                                      {0x08},
                                                      {0x03, '1', '1', '7', '7', '6'},
                                                      {0x03, '1', '1', '0', '0', '8'},
                                                      {0x0A},
                                                      {0x0B}}));
    EXPECT_EQ(domain(SettingsDomain::kFirstGeneration).copyValue("PrefIsActive").toInt64(-1), 0);
    EXPECT_TRUE(Preferences::HasPrefs());

    // The factory profile reached the driver and the desktop.
    EXPECT_EQ(lastPush().intFor("Resolution"), 2);
    EXPECT_EQ(lastPush().intFor("DeviceVersion"), 2);
    EXPECT_EQ(fPlatform.fHid.parameters.intFor("HIDClickTime"), 1700000000);
}

TEST_F(PreferencesTest, DomainWithoutProfileNumberIsCreatedKeepingOtherKeys) {
    ASSERT_TRUE(domain().setValue("FirmwareVersion", PlistValue::int16(0x0102)).ok());
    EXPECT_EQ(fPrefs.GetProfile(), 1);
    PlistValue top = domain().copyAll();
    EXPECT_EQ(top.intFor("FirmwareVersion"), 0x0102);
    EXPECT_EQ(top.get("ProfileArray").size(), 6u);
}

TEST_F(PreferencesTest, FirstGenerationUsesItsOwnDomain) {
    useGeneration(1);
    fPrefs.ReadPrefs();
    EXPECT_EQ(domain(SettingsDomain::kFirstGeneration).copyValue("PrefIsActive").toInt64(), 1);
    EXPECT_EQ(domain(SettingsDomain::kSecondGeneration).copyValue("PrefIsActive").toInt64(-1), 0);
    EXPECT_EQ(lastPush().intFor("DeviceVersion"), 1);
}

TEST_F(PreferencesTest, PushConvertsFactorsAndAcceleration) {
    struct Case {
        int accelOn;
        double systemAcceleration;
    };
    for (Case c : {Case{1, 0.5}, Case{0, 0.0}}) {
        PlistValue profile = PlistValue::dictionary({
            {"Sensitivity", PlistValue::real(10.0)},
            {"MasterSensitivityOn", PlistValue::int32(0)},
            {"ScrollWheelSpeed", PlistValue::real(10.0)},
            {"MasterAccel", PlistValue::real(0.5)},
            {"MasterAccelOn", PlistValue::int32(c.accelOn)},
        });
        fPrefs.SendPrefsToDriver(profile);
        const PlistValue& d = lastPush();
        EXPECT_EQ(d.intFor("Sensitivity"), 0xA0000);
        EXPECT_EQ(d.intFor("ScrollWheelSpeed"), 0xA0000);
        EXPECT_EQ(d.intFor("HIDPointerAcceleration"), 0x8000);
        EXPECT_EQ(d.intFor("MasterAccelOn"), c.accelOn);
        EXPECT_FALSE(d.contains("MasterAccel"));
        EXPECT_DOUBLE_EQ(fPlatform.fHid.parameters.realFor("HIDMouseAcceleration"),
                         c.systemAcceleration);
    }
}

TEST(PreferencesFixed, NarrowsThroughSinglePrecision) {
    EXPECT_EQ(Preferences::ToFixed(9.8), 642252);
    EXPECT_EQ(Preferences::ToFixed(10.0), 0xA0000);
    EXPECT_EQ(Preferences::ToFixed(1.0), 0x10000);
    EXPECT_EQ(Preferences::ToFixed(0.5), 0x8000);
    EXPECT_EQ(Preferences::ToFixed(1e12), 0x7FFFFFFF);
    EXPECT_EQ(Preferences::ToFixed(std::nan("")), 0);
}

struct ExchangeCase {
    const char* name;
    int generation;
    int leftHanded; // -1: key absent
    std::uint8_t t0, t1;
    bool exchanged;
};

class PreferencesExchangeTest : public PreferencesTest,
                                public testing::WithParamInterface<ExchangeCase> {};

TEST_P(PreferencesExchangeTest, PrimaryButtonAndMappingOrder) {
    const ExchangeCase& c = GetParam();
    useGeneration(c.generation);
    PlistValue stored = Records({{c.t0}, {c.t1}, {0x08}});
    PlistValue profile = PlistValue::dictionary({{"ButtonMappings", stored}});
    if (c.leftHanded >= 0) {
        profile.set("LeftHanded", PlistValue::int32(c.leftHanded));
    }
    fPrefs.SendPrefsToDriver(profile);

    PlistValue expected = stored;
    if (c.exchanged) {
        std::swap(expected.items()[0], expected.items()[1]);
    }
    EXPECT_EQ(lastPush().get("ButtonMappings"), expected);
    EXPECT_FALSE(lastPush().contains("LeftHanded"));
    EXPECT_EQ(IsRightButtonPrimary(), c.exchanged);
    EXPECT_EQ(fPrefs.fMappingArray, stored);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PreferencesExchangeTest,
    testing::Values(ExchangeCase{"FactoryFirstGeneration", 1, -1, 0, 1, false},
                    ExchangeCase{"LeftHandedSecondGeneration", 2, 1, 0, 1, true},
                    ExchangeCase{"LeftHandedIgnoredOnFirstGeneration", 1, 1, 0, 1, false},
                    ExchangeCase{"SwappedRightHanded", 2, 0, 1, 0, true},
                    ExchangeCase{"SwappedLeftHanded", 2, 1, 1, 0, false},
                    ExchangeCase{"NeitherClickNorMenu", 2, 1, 2, 3, false}),
    [](const auto& info) { return info.param.name; });

TEST_F(PreferencesTest, OneMappingIsSentAsItIsAndLeavesThePrimaryButton) {
    fPlatform.fHid.parameters.set("HIDPointerButtonMode", PlistValue::int32(1));
    PlistValue one = Records({{0x01}});
    fPrefs.SendPrefsToDriver(PlistValue::dictionary({{"ButtonMappings", one}}));
    EXPECT_EQ(lastPush().get("ButtonMappings"), one);
    EXPECT_EQ(fPlatform.fHid.parameters.intFor("HIDPointerButtonMode"), 1);
}

TEST_F(PreferencesTest, OnTheFlyFlags) {
    fPrefs.SendPrefsToDriver(PlistValue::dictionary(
        {{"Otfs", PlistValue::int32(2)}, {"OtfsOnScreen", PlistValue::int32(2)}}));
    EXPECT_TRUE(fPrefs.fOtfsOn);
    EXPECT_FALSE(fPrefs.fOtfsOnScreen);
    EXPECT_EQ(lastPush().intFor("OtfsOnScreen"), 2);
}

TEST_F(PreferencesTest, NothingIsPushedWithoutDriverOrProfile) {
    fPrefs.SendPrefsToDriver(std::nullopt);
    Application::GetApp()->fSablecoil.clear();
    fPrefs.SendPrefsToDriver(PlistValue::dictionary({{"Resolution", PlistValue::int32(1)}}));
    fPrefs.SendSensToDriver();
    EXPECT_TRUE(fPlatform.fRegistry.setCalls.empty());
}

TEST_F(PreferencesTest, FailedPushIsReportedAndDoubleClickStillSet) {
    fPlatform.fRegistry.setStatus = kIoNoDevice;
    testing::internal::CaptureStderr();
    fPrefs.SendPrefsToDriver(PlistValue::dictionary({{"DblClickSpeed", PlistValue::real(0.0)}}));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error setting Sablecoil property. - no such device(e00002c0,704)\n");
    EXPECT_EQ(fPlatform.fHid.parameters.intFor("HIDClickTime"), 150000000);
}

TEST_F(PreferencesTest, SetDpiRewritesAndPushesTheCurrentProfile) {
    fPrefs.InitPrefs();
    fPrefs.SetProfile(2);
    fPrefs.SetDpi(3);

    PlistValue profiles = domain().copyValue("ProfileArray");
    EXPECT_EQ(profiles.at(2).intFor("Resolution"), 3);
    EXPECT_EQ(profiles.at(1).intFor("Resolution"), 2);
    EXPECT_EQ(lastPush().intFor("Resolution"), 3);
    EXPECT_EQ(lastPush().get("ButtonMappings").size(), 7u); // the whole profile
    EXPECT_EQ(fPrefs.GetDpi(), 3);

    ASSERT_GE(fPlatform.fNotifications.posted.size(), 2u);
    const auto& profileChange = fPlatform.fNotifications.posted.front();
    EXPECT_EQ(profileChange.object, "ProfileChange");
    EXPECT_EQ(profileChange.userInfo.intFor("ProfileNumber"), 2);
    const auto& dpiChange = fPlatform.fNotifications.posted.back();
    EXPECT_EQ(dpiChange.name, "OrvixSablecoil");
    EXPECT_EQ(dpiChange.object, "DpiChange");
    EXPECT_EQ(dpiChange.userInfo, PlistValue::dictionary({{"Resolution", PlistValue::int32(3)}}));
}

TEST_F(PreferencesTest, SensitivityStepIsClampedSavedAndBroadcast) {
    fPrefs.InitPrefs();
    EXPECT_DOUBLE_EQ(fPrefs.SetSensitivity(10.2, kSensBoth), 10.0);
    EXPECT_DOUBLE_EQ(fPrefs.SetSensitivity(0.8, kSensX), 1.0);
    EXPECT_DOUBLE_EQ(fPrefs.SetSensitivity(9.8, kSensY), 9.8);
    fPrefs.SendSensToDriver();
    fPrefs.SaveSensToPrefs();
    fPrefs.PostOtfsNotification();

    EXPECT_EQ(lastPush(),
              PlistValue::dictionary({{"Sensitivity", PlistValue::int32(0xA0000)},
                                      {"MasterSensitivityX", PlistValue::int32(0x10000)},
                                      {"MasterSensitivityY", PlistValue::int32(642252)}}));
    PlistValue profile = domain().copyValue("ProfileArray").at(1);
    EXPECT_DOUBLE_EQ(profile.realFor("MasterSensitivityY"), 9.8);
    EXPECT_EQ(fPlatform.fNotifications.posted.back().userInfo,
              PlistValue::dictionary({{"Sensitivity", PlistValue::real(10.0)}}));

    fPrefs.fMasterSens = true;
    fPrefs.PostOtfsNotification();
    EXPECT_EQ(fPlatform.fNotifications.posted.back().userInfo,
              PlistValue::dictionary({{"MasterSensitivityX", PlistValue::real(1.0)},
                                      {"MasterSensitivityY", PlistValue::real(9.8)}}));
}

TEST_F(PreferencesTest, ProfileNumberOutsideTheArrayPushesNothing) {
    fPrefs.InitPrefs();
    ASSERT_TRUE(domain().setValue("ProfileNumber", PlistValue::int32(9)).ok());
    fPrefs.ReadPrefs();
    fPrefs.SaveSensToPrefs();
    EXPECT_TRUE(fPlatform.fRegistry.setCalls.empty());
    EXPECT_EQ(fPrefs.GetDpi(), 2);
}

} // namespace

namespace {

TEST_F(PreferencesTest, DelayedPushCreatesTheDefaultsOnlyWhenNothingWasStored) {
    Application* app = Application::GetApp();
    app->fPreferences = std::make_unique<Preferences>();
    app->fHasPrefs = false;
    ResendPrefs(app);
    EXPECT_EQ(domain().copyValue("ProfileArray").size(), 6u);
    ASSERT_EQ(fPlatform.fRegistry.setCalls.size(), 1u);

    // A domain created since start-up keeps its values, whatever the start
    // found: the delayed push sends them as they are.
    PlistValue profiles = domain().copyValue("ProfileArray");
    profiles.items()[1].set("Resolution", PlistValue::int32(0));
    ASSERT_TRUE(domain().setValue("ProfileArray", profiles).ok());
    for (bool hadPrefs : {false, true}) {
        app->fHasPrefs = hadPrefs;
        ResendPrefs(app);
        EXPECT_EQ(lastPush().intFor("Resolution"), 0);
        EXPECT_EQ(domain().copyValue("ProfileArray").at(1).intFor("Resolution"), 0);
    }
    app->fPreferences.reset();
}

} // namespace

namespace {

TEST_F(PreferencesTest, BadProfileNumberLosesNoProfiles) {
    fPrefs.InitPrefs();
    PlistValue profiles = domain().copyValue("ProfileArray");
    profiles.items()[3].set("Resolution", PlistValue::int32(0));
    ASSERT_TRUE(domain().setValue("ProfileArray", profiles).ok());

    // A profile number of another kind: reported, profile 1 used, nothing rewritten.
    ASSERT_TRUE(domain().setValue("ProfileNumber", PlistValue::string("three")).ok());
    testing::internal::CaptureStdout();
    EXPECT_EQ(fPrefs.GetProfile(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Sablecoil: Could not initialize preferences!\n");
    EXPECT_EQ(domain().copyValue("ProfileArray"), profiles);

    // A lost profile number: the profiles stay, the number becomes 1.
    ASSERT_TRUE(domain().setValue("ProfileNumber", PlistValue()).ok());
    EXPECT_EQ(fPrefs.GetProfile(), 1);
    EXPECT_EQ(domain().copyValue("ProfileArray"), profiles);
    EXPECT_EQ(domain().copyValue("ProfileNumber").toInt64(), 1);
}

} // namespace
