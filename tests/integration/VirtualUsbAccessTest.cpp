// VirtualUsbAccessTest: the simulator's mice as USB devices, with the real
// simulator and driver host on a private bus: matching and termination
// notifications, opening a busy mouse and the class requests.
#include "VirtualUsbAccess.h"
#include "DeviceIds.h"
#include "SuiteHarness.h"

#include <QCoreApplication>
#include <QDBusMessage>

#include <gtest/gtest.h>

#include <array>

namespace {

QStringList split(const char* text) {
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// The ids of a list of devices, e.g. "sim-1 sim-3".
QString idsOf(const std::vector<UsbDevice>& devices) {
    QStringList ids;
    for (const UsbDevice& device : devices) {
        ids.append(QString::fromStdString(device.id));
    }
    return ids.join(QLatin1Char(' '));
}

class VirtualUsbAccessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(suite.startBus()) << qPrintable(suite.error());
        ASSERT_TRUE(suite.startSimulator()) << qPrintable(suite.error());
    }

    // The id the simulator gave the new mouse.
    QString plug(const char* options) {
        const auto result = suite.sim(split(options));
        EXPECT_TRUE(result.ok()) << options << ": " << qPrintable(result.err);
        return QStringLiteral("sim-") + result.out.trimmed();
    }

    // Registers for both generations, recording what arrives.
    void registerBoth(VirtualUsbAccess& usb) {
        for (int generation = 0; generation < 2; ++generation) {
            const std::uint16_t product =
                generation == 0 ? kSablecoilV1ProductId : kSablecoilV2ProductId;
            const auto present = usb.addMatchingNotification(
                kSablecoilVendorId, product, [this, generation](const auto& devices) {
                    added[generation].insert(added[generation].end(), devices.begin(),
                                             devices.end());
                });
            ASSERT_TRUE(present.ok()) << present.message();
            presentAtStart[generation] = present.value();
            ASSERT_TRUE(usb.addTerminationNotification(kSablecoilVendorId, product,
                                                       [this, generation](const auto& devices) {
                                                           removed[generation].insert(
                                                               removed[generation].end(),
                                                               devices.begin(), devices.end());
                                                       })
                            .ok());
        }
    }

    // The simulator has sent every signal before its answer; they are handled here.
    void settle() {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("com.orvix.SablecoilSim"), QStringLiteral("/com/orvix/SablecoilSim"),
            QStringLiteral("com.orvix.SablecoilSim"), QStringLiteral("ListMice"));
        ASSERT_EQ(suite.connection().call(call).type(), QDBusMessage::ReplyMessage);
        QCoreApplication::processEvents();
    }

    SuiteHarness suite;
    std::array<std::vector<UsbDevice>, 2> presentAtStart;
    std::array<std::vector<UsbDevice>, 2> added;
    std::array<std::vector<UsbDevice>, 2> removed;
};

TEST_F(VirtualUsbAccessTest, MiceAlreadyThereAreReturnedAtRegistration) {
    EXPECT_EQ(plug("plug --generation 2"), QStringLiteral("sim-1"));
    EXPECT_EQ(plug("plug --generation 1"), QStringLiteral("sim-2"));
    EXPECT_EQ(plug("plug --generation 2"), QStringLiteral("sim-3"));
    VirtualUsbAccess usb(suite.connection());
    registerBoth(usb);
    EXPECT_EQ(idsOf(presentAtStart[0]), QStringLiteral("sim-2"));
    EXPECT_EQ(idsOf(presentAtStart[1]), QStringLiteral("sim-1 sim-3"));
    ASSERT_EQ(presentAtStart[1].size(), 2u);
    EXPECT_EQ(presentAtStart[1][0].idVendor, kSablecoilVendorId);
    EXPECT_EQ(presentAtStart[1][0].idProduct, kSablecoilV2ProductId);
    settle();
    EXPECT_TRUE(added[0].empty() && added[1].empty()) << "present mice are not announced again";
}

TEST_F(VirtualUsbAccessTest, PlugIsAnnouncedOnceTheHostHasBoundIt) {
    VirtualUsbAccess usb(suite.connection());
    registerBoth(usb);
    EXPECT_EQ(plug("plug --generation 2"), QStringLiteral("sim-1"));
    settle();
    EXPECT_TRUE(added[1].empty()) << "announced before any host took the mouse";

    ASSERT_TRUE(suite.startDriverHost()) << qPrintable(suite.error());
    ASSERT_TRUE(SuiteHarness::waitUntil([&] { return !added[1].empty(); }));
    EXPECT_EQ(idsOf(added[1]), QStringLiteral("sim-1"));
    EXPECT_EQ(added[1][0].idProduct, kSablecoilV2ProductId);
    // By then the driver host has published the mouse's instance.
    EXPECT_EQ(suite.managedPaths().size(), 1);

    // With a host running, the next plug is announced too, for its own generation only.
    EXPECT_EQ(plug("plug --generation 1"), QStringLiteral("sim-2"));
    ASSERT_TRUE(SuiteHarness::waitUntil([&] { return !added[0].empty(); }));
    settle();
    EXPECT_EQ(idsOf(added[0]), QStringLiteral("sim-2"));
    EXPECT_EQ(idsOf(added[1]), QStringLiteral("sim-1"));
}

TEST_F(VirtualUsbAccessTest, PlugWithoutAHostIsAnnouncedAfterTheWait) {
    VirtualUsbAccess usb(suite.connection());
    registerBoth(usb);
    EXPECT_EQ(plug("plug --generation 1"), QStringLiteral("sim-1"));
    // No host ever comes: the mouse is announced when the bind wait ends.
    ASSERT_TRUE(SuiteHarness::waitUntil([&] { return !added[0].empty(); },
                                        VirtualUsbAccess::kBindWaitMs + SuiteHarness::kWaitMs));
    EXPECT_EQ(idsOf(added[0]), QStringLiteral("sim-1"));
    EXPECT_TRUE(added[1].empty());
}

TEST_F(VirtualUsbAccessTest, UnplugTerminatesTheMatchingRegistrationOnly) {
    ASSERT_TRUE(suite.startDriverHost()) << qPrintable(suite.error());
    EXPECT_EQ(plug("plug --generation 1"), QStringLiteral("sim-1"));
    VirtualUsbAccess usb(suite.connection());
    registerBoth(usb);
    EXPECT_EQ(plug("plug --generation 2 --wait"), QStringLiteral("sim-2"));
    ASSERT_TRUE(SuiteHarness::waitUntil([&] { return !added[1].empty(); }));

    ASSERT_TRUE(suite.sim(split("unplug 1")).ok());
    ASSERT_TRUE(SuiteHarness::waitUntil([&] { return !removed[0].empty(); }));
    settle();
    EXPECT_EQ(idsOf(removed[0]), QStringLiteral("sim-1"));
    EXPECT_TRUE(removed[1].empty());

    ASSERT_TRUE(suite.sim(split("unplug 2")).ok());
    ASSERT_TRUE(SuiteHarness::waitUntil([&] { return !removed[1].empty(); }));
    settle();
    EXPECT_EQ(idsOf(removed[1]), QStringLiteral("sim-2"));
    EXPECT_EQ(idsOf(removed[0]), QStringLiteral("sim-1"));
}

class VirtualUsbAccessBusyTest : public VirtualUsbAccessTest,
                                 public ::testing::WithParamInterface<int> {};

TEST_P(VirtualUsbAccessBusyTest, OpenIsExclusiveAccessForTheBusyCount) {
    const int busy = GetParam();
    const QString options = QStringLiteral("plug --generation 1 --busy %1").arg(busy);
    EXPECT_EQ(plug(qPrintable(options)), QStringLiteral("sim-1"));
    VirtualUsbAccess usb(suite.connection());
    registerBoth(usb);
    ASSERT_EQ(presentAtStart[0].size(), 1u);
    const UsbDevice mouse = presentAtStart[0][0];
    for (int i = 0; i < busy; ++i) {
        EXPECT_EQ(usb.open(mouse), kIoExclusiveAccess) << "open " << i + 1;
    }
    EXPECT_EQ(usb.open(mouse), kIoSuccess);
    EXPECT_EQ(usb.open(mouse), kIoSuccess);
    usb.close(mouse);
}

INSTANTIATE_TEST_SUITE_P(Counts, VirtualUsbAccessBusyTest, ::testing::Values(0, 1, 3));

TEST_F(VirtualUsbAccessTest, FirmwareRequestAnswersHighByteFirst) {
    EXPECT_EQ(plug("plug --generation 2 --firmware 0x0203"), QStringLiteral("sim-1"));
    VirtualUsbAccess usb(suite.connection());
    registerBoth(usb);
    ASSERT_EQ(presentAtStart[1].size(), 1u);
    const UsbDevice mouse = presentAtStart[1][0];

    std::array<std::uint8_t, 3> data{0xEE, 0xEE, 0xEE};
    DeviceRequest request;
    request.bmRequestType = 0xA1;
    request.bRequest = 0x01;
    request.wValue = 5;
    request.wIndex = 0;
    request.wLength = 2;
    request.data = data.data();
    ASSERT_EQ(usb.deviceRequest(mouse, request), kIoSuccess);
    EXPECT_EQ(data, (std::array<std::uint8_t, 3>{0x02, 0x03, 0xEE})) << "two bytes, no more";
}

// A request and the status it gets.
struct RequestCase {
    const char* name;
    DeviceRequest request;
    const char* device; // the UsbDevice id
    IoStatus status;
};

class VirtualUsbAccessRequestTest : public VirtualUsbAccessTest,
                                    public ::testing::WithParamInterface<RequestCase> {};

TEST_P(VirtualUsbAccessRequestTest, GivesTheStatus) {
    EXPECT_EQ(plug("plug --generation 1"), QStringLiteral("sim-1"));
    VirtualUsbAccess usb(suite.connection());
    std::array<std::uint8_t, 4> data{0x02, 0x01, 0x01, 0x03};
    DeviceRequest request = GetParam().request;
    if (request.wLength > 0) {
        request.data = data.data();
    }
    const UsbDevice device{GetParam().device, kSablecoilVendorId, kSablecoilV1ProductId, 0x0100};
    EXPECT_EQ(usb.deviceRequest(device, request), GetParam().status);
    EXPECT_EQ(usb.open(device),
              std::string(GetParam().device) == "sim-1" ? kIoSuccess : kIoNoDevice);
}

DeviceRequest makeRequest(std::uint8_t type, std::uint8_t request, std::uint16_t value,
                          std::uint16_t length) {
    DeviceRequest r;
    r.bmRequestType = type;
    r.bRequest = request;
    r.wValue = value;
    r.wLength = length;
    return r;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VirtualUsbAccessRequestTest,
    ::testing::Values(
        RequestCase{"SetSettings", makeRequest(0x21, 0x09, 0x0010, 4), "sim-1", kIoSuccess},
        RequestCase{"UnknownRequest", makeRequest(0xA1, 0x02, 0, 2), "sim-1", kIoPipeStall},
        RequestCase{"UnknownMouse", makeRequest(0xA1, 0x01, 5, 2), "sim-9", kIoNoDevice},
        RequestCase{"NotASimulatorDevice", makeRequest(0xA1, 0x01, 5, 2), "usb-1-2", kIoNoDevice},
        RequestCase{"IdWithTrailingText", makeRequest(0xA1, 0x01, 5, 2), "sim-1x", kIoNoDevice},
        RequestCase{"EmptyId", makeRequest(0xA1, 0x01, 5, 2), "sim-", kIoNoDevice}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(VirtualUsbAccessTest, SetSettingsReachesTheMouse) {
    EXPECT_EQ(plug("plug --generation 1"), QStringLiteral("sim-1"));
    VirtualUsbAccess usb(suite.connection());
    std::array<std::uint8_t, 4> data{0x02, 0x01, 0x01, 0x03};
    DeviceRequest request = makeRequest(0x21, 0x09, 0x0010, 4);
    request.data = data.data();
    const UsbDevice mouse{"sim-1", kSablecoilVendorId, kSablecoilV1ProductId, 0x0100};
    ASSERT_EQ(usb.deviceRequest(mouse, request), kIoSuccess);
    EXPECT_EQ(suite.commands(1), QStringList{QStringLiteral("02 01 01 03")});
}

} // namespace
