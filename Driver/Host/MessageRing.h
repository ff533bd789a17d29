// MessageRing: a fixed-size single-producer single-consumer queue of 64-bit
// entries, lock-free and allocation-free. The report thread pushes the
// driver's messages and its "report done" marks; the main loop pops them in
// the same order.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

template <std::size_t Capacity>
class MessageRing {
    static_assert(Capacity >= 2 && (Capacity & (Capacity - 1)) == 0,
                  "capacity must be a power of two");

public:
    // Producer side; false when the ring is full.
    bool push(std::uint64_t entry) {
        const std::size_t tail = fTail.load(std::memory_order_relaxed);
        if (tail - fHead.load(std::memory_order_acquire) == Capacity) {
            return false;
        }
        fSlots[tail & (Capacity - 1)] = entry;
        fTail.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Consumer side; false when the ring is empty.
    bool pop(std::uint64_t& entry) {
        const std::size_t head = fHead.load(std::memory_order_relaxed);
        if (head == fTail.load(std::memory_order_acquire)) {
            return false;
        }
        entry = fSlots[head & (Capacity - 1)];
        fHead.store(head + 1, std::memory_order_release);
        return true;
    }

private:
    std::array<std::uint64_t, Capacity> fSlots{};
    alignas(64) std::atomic<std::size_t> fHead{0}; // next entry to pop; written by the consumer
    alignas(64) std::atomic<std::size_t> fTail{0}; // next slot to fill; written by the producer
};
