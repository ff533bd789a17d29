// MessageRingTest: the driver host's single-producer single-consumer queue.
#include "MessageRing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

namespace {

TEST(MessageRing, KeepsOrderAcrossTheWrap) {
    MessageRing<4> ring;
    std::uint64_t next = 0;
    std::uint64_t expected = 0;
    for (int round = 0; round < 5; ++round) {
        while (ring.push(next)) {
            ++next;
        }
        std::uint64_t entry = 0;
        ASSERT_TRUE(ring.pop(entry));
        EXPECT_EQ(entry, expected++);
        ASSERT_TRUE(ring.pop(entry));
        EXPECT_EQ(entry, expected++);
    }
}

TEST(MessageRing, FullAndEmpty) {
    MessageRing<2> ring;
    std::uint64_t entry = 0;
    EXPECT_FALSE(ring.pop(entry));
    EXPECT_TRUE(ring.push(1));
    EXPECT_TRUE(ring.push(2));
    EXPECT_FALSE(ring.push(3));
    EXPECT_TRUE(ring.pop(entry));
    EXPECT_EQ(entry, 1u);
    EXPECT_TRUE(ring.push(3));
    EXPECT_TRUE(ring.pop(entry));
    EXPECT_EQ(entry, 2u);
    EXPECT_TRUE(ring.pop(entry));
    EXPECT_EQ(entry, 3u);
    EXPECT_FALSE(ring.pop(entry));
}

// One thread pushes, another pops: every entry arrives once and in order.
TEST(MessageRing, TwoThreadsSeeEveryEntryInOrder) {
    constexpr std::uint64_t kCount = 200000;
    MessageRing<64> ring;
    std::thread producer([&ring] {
        for (std::uint64_t i = 0; i < kCount; ++i) {
            while (!ring.push(i)) {
                std::this_thread::yield();
            }
        }
    });
    std::uint64_t expected = 0;
    while (expected < kCount) {
        std::uint64_t entry = 0;
        if (ring.pop(entry)) {
            ASSERT_EQ(entry, expected);
            ++expected;
        } else {
            std::this_thread::yield();
        }
    }
    producer.join();
    std::uint64_t extra = 0;
    EXPECT_FALSE(ring.pop(extra));
}

} // namespace
