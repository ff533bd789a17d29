// GSettingsHidSystemTest: the HID system parameters on the desktop's pointer
// settings, on GSettings' memory backend with the installed schemas.
#include "GSettingsHidSystem.h"

#include <gio/gio.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

class GSettingsHidSystemTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // Never the user's real settings, however the test is started.
        setenv("GSETTINGS_BACKEND", "memory", 1);
    }

    void SetUp() override {
        ASSERT_TRUE(fHid.isAvailable()) << "schema " << GSettingsHidSystem::kMouseSchema
                                        << " not installed (gsettings-desktop-schemas)";
        fDesktop = g_settings_new(GSettingsHidSystem::kMouseSchema);
        g_settings_set_int(fDesktop, "double-click", 400);
        g_settings_set_boolean(fDesktop, "left-handed", false);
        g_settings_set_double(fDesktop, "speed", 0.0);
        g_settings_set_string(fDesktop, "accel-profile", "default");
    }
    void TearDown() override { g_object_unref(fDesktop); }

    std::string profile() {
        gchar* text = g_settings_get_string(fDesktop, "accel-profile");
        std::string result = text;
        g_free(text);
        return result;
    }
    PlistValue read() {
        auto parameters = fHid.copyParameters();
        EXPECT_TRUE(parameters.ok()) << parameters.message();
        return parameters.ok() ? parameters.value() : PlistValue();
    }
    IoStatus set(const char* key, PlistValue value) {
        return fHid.setParameters(PlistValue::dictionary({{key, std::move(value)}}));
    }

    GSettingsHidSystem fHid;
    GSettings* fDesktop = nullptr;
};

TEST_F(GSettingsHidSystemTest, ClickTimeIsDoubleClickInMilliseconds) {
    struct Case {
        PlistValue ns;
        int ms;
    };
    const Case cases[] = {
        {PlistValue::int64(150000000), 150},   {PlistValue::int64(1100000000), 1100},
        {PlistValue::int64(5000000000), 5000}, {PlistValue::int64(400499999), 400},
        {PlistValue::int64(400500000), 401},   {PlistValue::int64(0), 0},
        {PlistValue::real(499999999.0), 500},  {PlistValue::int32(200000000), 200},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(set("HIDClickTime", c.ns), kIoSuccess) << c.ns.debugString();
        EXPECT_EQ(g_settings_get_int(fDesktop, "double-click"), c.ms) << c.ns.debugString();
        const PlistValue back = read().get("HIDClickTime");
        EXPECT_TRUE(back.isInteger());
        EXPECT_EQ(back.integerWidth(), PlistValue::Width::Bits64);
        EXPECT_EQ(back.toInt64(), static_cast<std::int64_t>(c.ms) * 1000000);
    }
}

TEST_F(GSettingsHidSystemTest, ButtonModeIsLeftHanded) {
    EXPECT_EQ(read().intFor("HIDPointerButtonMode"), 2);

    ASSERT_EQ(set("HIDPointerButtonMode", PlistValue::int32(1)), kIoSuccess);
    EXPECT_TRUE(g_settings_get_boolean(fDesktop, "left-handed"));
    EXPECT_EQ(read().intFor("HIDPointerButtonMode"), 1);
    EXPECT_EQ(read().get("HIDPointerButtonMode").integerWidth(), PlistValue::Width::Bits32);

    ASSERT_EQ(set("HIDPointerButtonMode", PlistValue::int32(2)), kIoSuccess);
    EXPECT_FALSE(g_settings_get_boolean(fDesktop, "left-handed"));
    EXPECT_EQ(read().intFor("HIDPointerButtonMode"), 2);
}

TEST_F(GSettingsHidSystemTest, AccelerationIsSpeedAndProfile) {
    struct Case {
        double acceleration;
        double speed;
        double readBack;
    };
    const Case cases[] = {
        {1.0, 0.0, 1.0}, {0.5, -0.5, 0.5}, {0.25, -0.75, 0.25},
        {2.0, 0.5, 2.0}, {3.0, 1.0, 3.0},  {4.5, 1.0, 3.0}, // beyond the range: the fastest setting
    };
    for (const Case& c : cases) {
        ASSERT_EQ(set("HIDMouseAcceleration", PlistValue::real(c.acceleration)), kIoSuccess);
        EXPECT_EQ(profile(), "default") << c.acceleration;
        EXPECT_DOUBLE_EQ(g_settings_get_double(fDesktop, "speed"), c.speed) << c.acceleration;
        EXPECT_DOUBLE_EQ(read().realFor("HIDMouseAcceleration", -9), c.readBack) << c.acceleration;
    }
    // An integer acceleration is a number like any other.
    ASSERT_EQ(set("HIDMouseAcceleration", PlistValue::int32(2)), kIoSuccess);
    EXPECT_DOUBLE_EQ(g_settings_get_double(fDesktop, "speed"), 0.5);
}

TEST_F(GSettingsHidSystemTest, NoAccelerationIsTheFlatProfileAndKeepsSpeed) {
    for (double off : {0.0, -1.0}) {
        g_settings_set_string(fDesktop, "accel-profile", "default");
        g_settings_set_double(fDesktop, "speed", 0.3);
        ASSERT_EQ(set("HIDMouseAcceleration", PlistValue::real(off)), kIoSuccess);
        EXPECT_EQ(profile(), "flat");
        EXPECT_DOUBLE_EQ(g_settings_get_double(fDesktop, "speed"), 0.3);
        EXPECT_DOUBLE_EQ(read().realFor("HIDMouseAcceleration", -9), 0.0);
    }
}

TEST_F(GSettingsHidSystemTest, DesktopValuesReadAsAcceleration) {
    // What the desktop's own settings panel may have stored.
    struct Case {
        const char* profile;
        double speed;
        double acceleration;
    };
    const Case cases[] = {
        {"default", 0.0, 1.0},  {"adaptive", 0.0, 1.0}, {"adaptive", -1.0, 0.0},
        {"default", -0.2, 0.8}, {"default", 0.25, 1.5}, {"flat", 0.7, 0.0},
    };
    for (const Case& c : cases) {
        g_settings_set_string(fDesktop, "accel-profile", c.profile);
        g_settings_set_double(fDesktop, "speed", c.speed);
        EXPECT_NEAR(read().realFor("HIDMouseAcceleration", -9), c.acceleration, 1e-12)
            << c.profile << " " << c.speed;
    }
}

TEST(GSettingsAccelerationMapping, IsMonotonicAndInvertible) {
    double previous = -2.0;
    for (int step = 1; step <= 60; ++step) {
        const double acceleration = step * 0.05;
        const double speed = GSettingsHidSystem::speedForAcceleration(acceleration);
        EXPECT_GT(speed, previous) << acceleration;
        EXPECT_GE(speed, -1.0);
        EXPECT_LE(speed, 1.0);
        EXPECT_NEAR(GSettingsHidSystem::accelerationForSpeed(speed), acceleration, 1e-12);
        previous = speed;
    }
}

TEST_F(GSettingsHidSystemTest, SeveralParametersAtOnceAndUnknownKeysIgnored) {
    const PlistValue parameters = PlistValue::dictionary({
        {"HIDClickTime", PlistValue::int64(800000000)},
        {"HIDPointerButtonMode", PlistValue::int32(1)},
        {"HIDMouseAcceleration", PlistValue::real(0.5)},
        {"HIDTrackingAcceleration", PlistValue::real(9.0)},
    });
    ASSERT_EQ(fHid.setParameters(parameters), kIoSuccess);
    const PlistValue back = read();
    EXPECT_EQ(back.intFor("HIDClickTime"), 800000000);
    EXPECT_EQ(back.intFor("HIDPointerButtonMode"), 1);
    EXPECT_DOUBLE_EQ(back.realFor("HIDMouseAcceleration"), 0.5);
    EXPECT_FALSE(back.contains("HIDTrackingAcceleration"));
}

TEST_F(GSettingsHidSystemTest, BadValuesAreRejectedAndChangeNothing) {
    const PlistValue bad[] = {
        PlistValue::dictionary({{"HIDClickTime", PlistValue::string("500")}}),
        PlistValue::dictionary({{"HIDClickTime", PlistValue::int64(-1)}}),
        PlistValue::dictionary(
            {{"HIDClickTime", PlistValue::int64(std::numeric_limits<std::int64_t>::max())}}),
        PlistValue::dictionary({{"HIDClickTime", PlistValue::real(std::nan(""))}}),
        PlistValue::dictionary({{"HIDPointerButtonMode", PlistValue::int32(3)}}),
        PlistValue::dictionary({{"HIDPointerButtonMode", PlistValue::boolean(true)}}),
        PlistValue::dictionary({{"HIDMouseAcceleration", PlistValue::real(INFINITY)}}),
        PlistValue::dictionary({{"HIDMouseAcceleration", PlistValue::data({1, 2})}}),
        // A good entry next to a bad one is not written either.
        PlistValue::dictionary({{"HIDPointerButtonMode", PlistValue::int32(1)},
                                {"HIDClickTime", PlistValue::string("fast")}}),
        PlistValue::int32(1),
    };
    for (const PlistValue& parameters : bad) {
        EXPECT_EQ(fHid.setParameters(parameters), kIoBadArgument) << parameters.debugString();
    }
    EXPECT_EQ(g_settings_get_int(fDesktop, "double-click"), 400);
    EXPECT_FALSE(g_settings_get_boolean(fDesktop, "left-handed"));
    EXPECT_EQ(profile(), "default");
    EXPECT_DOUBLE_EQ(g_settings_get_double(fDesktop, "speed"), 0.0);
}

TEST(GSettingsHidSystemMissing, UnavailableSchemaGivesErrors) {
    setenv("GSETTINGS_BACKEND", "memory", 1);
    // No such schema, and a schema without the keys this backend needs.
    for (const char* schema :
         {"com.orvix.sablecoil.no-such-schema", "org.gnome.desktop.peripherals.touchpad"}) {
        GSettingsHidSystem hid(schema);
        EXPECT_FALSE(hid.isAvailable()) << schema;
        const auto parameters = hid.copyParameters();
        ASSERT_FALSE(parameters.ok()) << schema;
        EXPECT_NE(parameters.message().find(schema), std::string::npos);
        EXPECT_EQ(hid.setParameters(
                      PlistValue::dictionary({{"HIDPointerButtonMode", PlistValue::int32(1)}})),
                  kIoNoDevice)
            << schema;
    }
}

} // namespace
