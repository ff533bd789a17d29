// EventLogTest: the simulator's event log keeps only its newest events.
#include "EventLog.h"

#include <gtest/gtest.h>

namespace {

TEST(EventLog, DropsTheOldestBeyondItsLimit) {
    EventLog log(3);
    for (std::uint8_t code = 1; code <= 5; ++code) {
        log.postAux(code);
    }
    EXPECT_EQ(log.size(), 3u);
    EXPECT_EQ(log.lines(false), (QStringList{QStringLiteral("aux 0x3"), QStringLiteral("aux 0x4"),
                                             QStringLiteral("aux 0x5")}));
    log.postSystemDefined(10);
    EXPECT_EQ(log.lines(true), (QStringList{QStringLiteral("aux 0x4"), QStringLiteral("aux 0x5"),
                                            QStringLiteral("sysdefined 10")}));
    EXPECT_EQ(log.size(), 0u);
}

TEST(EventLog, KeepsTheDefaultLimitUnderARunawayRepeat) {
    EventLog log;
    for (std::size_t i = 0; i < EventLog::kDefaultLimit + 10; ++i) {
        log.postKey(static_cast<std::uint8_t>(i), true, true);
    }
    EXPECT_EQ(log.size(), EventLog::kDefaultLimit);
    // The first kept event is the eleventh posted.
    EXPECT_EQ(log.lines(false).first(), QStringLiteral("keydown 0xa repeat=1"));
}

} // namespace
