// Tests of the agent's device, user-switch and settings-broadcast handlers.
#include "CallBacks.h"
#include "Application.h"
#include "DeviceIds.h"
#include "FakePlatform.h"
#include "HidUtils.h"
#include "Preferences.h"
#include "SettingsDomain.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const UsbDevice kDeviceA{"usb-a", kSablecoilVendorId, kSablecoilV2ProductId, 0x0100};
const UsbDevice kDeviceB{"usb-b", kSablecoilVendorId, kSablecoilV2ProductId, 0x0100};
const ServiceHandle kInstanceA = "/com/orvix/driver/OrvixSablecoilDriver/1";
const ServiceHandle kInstanceB = "/com/orvix/driver/OrvixSablecoilDriver/2";

class CallBacksTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fConfig.isValid());
        qputenv("XDG_CONFIG_HOME", fConfig.path().toUtf8());
        sCurrVersion = sOldVersion = 0;
        Application* app = Application::GetApp();
        app->fSablecoil.clear();
        app->fHidSystem = FindHidSystem();
        app->fNotifyPort = true;
        app->fRegistered.clear();
        app->fPreferences = std::make_unique<Preferences>();
    }
    void TearDown() override {
        Application::GetApp()->fPreferences.reset();
        Application::GetApp()->fSablecoil.clear();
    }

    void attach(const UsbDevice& device, const ServiceHandle& instance, std::uint16_t firmware) {
        fPlatform.fUsb.devices[device.id].firmware = firmware;
        fPlatform.fRegistry.add(instance, kSablecoilVendorId, kSablecoilV2ProductId);
    }
    void detach(const ServiceHandle& instance) {
        auto& services = fPlatform.fRegistry.services;
        std::erase_if(services, [&](const auto& s) { return s.handle == instance; });
    }
    std::int64_t publishedVersion() {
        return SettingsDomain(SettingsDomain::kSecondGeneration)
            .copyValue("FirmwareVersion")
            .toInt64(-1);
    }

    QTemporaryDir fConfig;
    FakePlatform fPlatform;
};

TEST_F(CallBacksTest, TwoDevicesComeAndGo) {
    Application* app = Application::GetApp();
    attach(kDeviceA, kInstanceA, 0x0102);
    DeviceAddedNotifProc({kDeviceA});
    EXPECT_EQ(app->fSablecoil, kInstanceA);
    EXPECT_EQ(publishedVersion(), 0x0102);

    attach(kDeviceB, kInstanceB, 0x0200);
    DeviceAddedNotifProc({kDeviceB});
    EXPECT_EQ(app->fSablecoil, kInstanceB);
    EXPECT_EQ(publishedVersion(), 0x0200);

    const std::size_t pushes = fPlatform.fRegistry.setCalls.size();
    detach(kInstanceB);
    DeviceRemovedNotifProc({kDeviceB});
    EXPECT_EQ(app->fSablecoil, kInstanceA);
    EXPECT_EQ(publishedVersion(), 0x0102);
    EXPECT_GT(fPlatform.fRegistry.setCalls.size(), pushes);
    EXPECT_EQ(fPlatform.fRegistry.setCalls.back().service, kInstanceA);

    detach(kInstanceA);
    DeviceRemovedNotifProc({kDeviceA});
    EXPECT_TRUE(app->fSablecoil.empty());
    EXPECT_EQ(publishedVersion(), 0);
    EXPECT_EQ(fPlatform.fRegistry.interest, (std::vector<ServiceHandle>{kInstanceA, kInstanceB}));
}

TEST_F(CallBacksTest, SameInstanceIsRegisteredOnce) {
    attach(kDeviceA, kInstanceA, 0x0102);
    DeviceAddedNotifProc({kDeviceA});
    DeviceAddedNotifProc({kDeviceA});
    EXPECT_EQ(fPlatform.fRegistry.interest, std::vector<ServiceHandle>{kInstanceA});
}

TEST_F(CallBacksTest, FailedFirmwareReadPublishesZero) {
    attach(kDeviceA, kInstanceA, 0x0102);
    attach(kDeviceB, kInstanceB, 0x0200);
    fPlatform.fUsb.devices[kDeviceB.id].failRequest = true;
    DeviceAddedNotifProc({kDeviceA, kDeviceB});
    EXPECT_EQ(publishedVersion(), 0);
    EXPECT_EQ(sOldVersion, 0x0102);
}

TEST_F(CallBacksTest, BusyDeviceIsRetriedWithinOneBudget) {
    attach(kDeviceA, kInstanceA, 0x0102);
    fPlatform.fUsb.devices[kDeviceA.id].busyOpens = 2;
    testing::internal::CaptureStderr();
    DeviceAddedNotifProc({kDeviceA});
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "error:1, Exclusive access err, sleeping on it\n\n"
              "error:2, Exclusive access err, sleeping on it\n\n");
    EXPECT_EQ(publishedVersion(), 0x0102);
}

TEST_F(CallBacksTest, NothingHappensWhileLoggedOut) {
    fPlatform.fSession.info->onConsole = false;
    attach(kDeviceA, kInstanceA, 0x0102);
    DeviceAddedNotifProc({kDeviceA});
    EXPECT_TRUE(Application::GetApp()->fSablecoil.empty());
    EXPECT_TRUE(fPlatform.fRegistry.setCalls.empty());
    EXPECT_EQ(publishedVersion(), -1);
    EXPECT_EQ(sCurrVersion, 0x0102); // read and remembered all the same
}

TEST_F(CallBacksTest, UserSwitchPushesAgainWithoutNewRegistration) {
    attach(kDeviceA, kInstanceA, 0x0102);
    DeviceAddedNotifProc({kDeviceA});
    const std::size_t pushes = fPlatform.fRegistry.setCalls.size();
    EXPECT_EQ(SwitchEventsHandler(), 0);
    EXPECT_GT(fPlatform.fRegistry.setCalls.size(), pushes);
    EXPECT_EQ(fPlatform.fRegistry.interest.size(), 1u);
    EXPECT_EQ(publishedVersion(), 0x0102);
}

TEST_F(CallBacksTest, PrefsChangePushesTheDictionaryAsItCame) {
    attach(kDeviceA, kInstanceA, 0x0102);
    Application::GetApp()->SetSablecoil(kInstanceA);
    PrefNotifProc(PlistValue::dictionary(
        {{"Resolution", PlistValue::int32(1)}, {"ProfileNumber", PlistValue::int32(4)}}));
    ASSERT_EQ(fPlatform.fRegistry.setCalls.size(), 1u);
    EXPECT_EQ(fPlatform.fRegistry.setCalls[0].properties,
              PlistValue::dictionary({{"Resolution", PlistValue::int32(1)},
                                      {"ProfileNumber", PlistValue::int32(4)},
                                      {"DeviceVersion", PlistValue::int32(2)}}));
    // Storage was not touched.
    EXPECT_FALSE(SettingsDomain(SettingsDomain::kSecondGeneration).exists());
}

TEST_F(CallBacksTest, RemainingMouseIsRegisteredWhenTheOneInUseGoes) {
    Application* app = Application::GetApp();
    app->fRegistered.clear();
    attach(kDeviceA, kInstanceA, 0x0102);
    attach(kDeviceB, kInstanceB, 0x0200);
    DeviceAddedNotifProc({kDeviceA, kDeviceB}); // both present at start
    EXPECT_EQ(app->fSablecoil, kInstanceB);
    EXPECT_EQ(fPlatform.fRegistry.interest, std::vector<ServiceHandle>{kInstanceB});

    detach(kInstanceB);
    DeviceRemovedNotifProc({kDeviceB});
    EXPECT_EQ(app->fSablecoil, kInstanceA);
    EXPECT_EQ(fPlatform.fRegistry.interest, (std::vector<ServiceHandle>{kInstanceB, kInstanceA}));

    // An instance that comes back under a path seen before is registered again.
    detach(kInstanceA);
    DeviceRemovedNotifProc({kDeviceA});
    attach(kDeviceB, kInstanceB, 0x0200);
    DeviceAddedNotifProc({kDeviceB});
    EXPECT_EQ(fPlatform.fRegistry.interest,
              (std::vector<ServiceHandle>{kInstanceB, kInstanceA, kInstanceB}));
}

} // namespace
