// VirtualEventPosterTest: synthetic input events posted to the real
// simulator on a private bus appear in its log exactly and in order.
#include "VirtualEventPoster.h"
#include "SuiteHarness.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

QStringList split(const char* text) {
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

class VirtualEventPosterTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(suite.startBus()) << qPrintable(suite.error()); }

    SuiteHarness suite;
};

// One post and the line the simulator's log shows for it.
struct PostCase {
    std::function<IoStatus(EventPoster&)> post;
    const char* line;
};

TEST_F(VirtualEventPosterTest, EveryPostAppearsExactlyInOrder) {
    ASSERT_TRUE(suite.startSimulator()) << qPrintable(suite.error());
    VirtualEventPoster poster(suite.connection());
    ASSERT_EQ(poster.open(), kIoSuccess);

    const PostCase cases[] = {
        {[](EventPoster& p) { return p.postFlagsChanged(0x20000); }, "flags 0x20000"},
        {[](EventPoster& p) { return p.postKey(0x00, true, false); }, "keydown 0x0 repeat=0"},
        {[](EventPoster& p) { return p.postKey(0x00, false, false); }, "keyup 0x0"},
        {[](EventPoster& p) { return p.postKey(0x7e, true, true); }, "keydown 0x7e repeat=1"},
        {[](EventPoster& p) { return p.postKey(0xff, false, false); }, "keyup 0xff"},
        {[](EventPoster& p) { return p.postFlagsChanged(0x1f0000); }, "flags 0x1f0000"},
        {[](EventPoster& p) { return p.postFlagsChanged(0); }, "flags 0x0"},
        {[](EventPoster& p) { return p.postKeyboardEvent(0x38, true); }, "keyboard 0x38 down"},
        {[](EventPoster& p) { return p.postKeyboardEvent(0x38, false); }, "keyboard 0x38 up"},
        {[](EventPoster& p) { return p.postAuxKey(0); }, "aux 0x0"},
        {[](EventPoster& p) { return p.postAuxKey(1); }, "aux 0x1"},
        {[](EventPoster& p) { return p.postAuxKey(7); }, "aux 0x7"},
        {[](EventPoster& p) { return p.postSystemDefined(10); }, "sysdefined 10"},
    };
    QStringList expected;
    for (const PostCase& c : cases) {
        EXPECT_EQ(c.post(poster), kIoSuccess) << c.line;
        expected.append(QString::fromLatin1(c.line));
        // The post is in the log as soon as it returns.
        EXPECT_EQ(suite.sim(split("events")).lines(), expected);
    }
    EXPECT_EQ(suite.sim(split("events --clear")).lines(), expected);

    // Many quick posts keep their order.
    expected.clear();
    for (int code = 0; code < 200; ++code) {
        ASSERT_EQ(poster.postKey(static_cast<std::uint8_t>(code), code % 2 == 0, false),
                  kIoSuccess);
        expected.append(code % 2 == 0 ? QStringLiteral("keydown 0x%1 repeat=0").arg(code, 0, 16)
                                      : QStringLiteral("keyup 0x%1").arg(code, 0, 16));
    }
    EXPECT_EQ(suite.sim(split("events")).lines(), expected);
}

TEST_F(VirtualEventPosterTest, OpensOnlyWhileTheSimulatorIsThere) {
    VirtualEventPoster poster(suite.connection());
    EXPECT_EQ(poster.open(), kIoNotOpen);
    EXPECT_EQ(poster.postKey(0, true, false), kIoNotOpen);

    ASSERT_TRUE(suite.startSimulator()) << qPrintable(suite.error());
    EXPECT_EQ(poster.open(), kIoSuccess);
    EXPECT_EQ(poster.postAuxKey(7), kIoSuccess);

    ASSERT_EQ(suite.stopProgram(QStringLiteral("sablecoil-sim")), 0);
    EXPECT_EQ(poster.postAuxKey(7), kIoNotOpen);
    EXPECT_EQ(poster.open(), kIoNotOpen);

    // A new simulator starts with an empty log.
    ASSERT_TRUE(suite.startSimulator()) << qPrintable(suite.error());
    EXPECT_EQ(poster.open(), kIoSuccess);
    EXPECT_EQ(poster.postSystemDefined(10), kIoSuccess);
    EXPECT_EQ(suite.sim(split("events")).lines(), QStringList{QStringLiteral("sysdefined 10")});
}

TEST_F(VirtualEventPosterTest, AServiceThatDoesNotAnswerIsNotResponding) {
    // Something owns the simulator's name but has no such object.
    ASSERT_TRUE(suite.connection().registerService(QStringLiteral("com.orvix.SablecoilSim")));
    const QString name = QStringLiteral("poster-test");
    {
        QDBusConnection own = QDBusConnection::connectToBus(suite.busAddress(), name);
        ASSERT_TRUE(own.isConnected());
        VirtualEventPoster poster(own);
        EXPECT_EQ(poster.open(), kIoSuccess);
        EXPECT_EQ(poster.postKey(1, true, false), kIoNotResponding);
        EXPECT_EQ(poster.postFlagsChanged(0), kIoNotResponding);
    }
    QDBusConnection::disconnectFromBus(name);
}

} // namespace
