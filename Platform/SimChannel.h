// SimChannel: the datagrams on a virtual mouse's report channel, a
// SOCK_SEQPACKET socket pair between sablecoil-sim and the driver host. Like
// uhid's events, every datagram starts with one byte that says what it is:
//
//   simulator -> host
//     0x01 InputReport   seq (u32 LE), the report bytes
//     0x02 Parameter     value (i64 LE), the key (UTF-8, no terminator)
//   host -> simulator
//     0x81 Delivered     the report bytes the system received
//     0x82 Handled       seq (u32 LE): the host has finished the report with
//                        this sequence number (delivered it and sent its
//                        messages on the bus)
//
// Encoding writes into a caller's buffer and decoding reads a received
// buffer, so the report thread can use them without allocating.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

class SimChannel {
public:
    enum Kind : std::uint8_t {
        kInputReport = 0x01,
        kParameter = 0x02,
        kDelivered = 0x81,
        kHandled = 0x82,
    };

    // The largest datagram either side sends; reports are at most kMaxReport bytes.
    static constexpr std::size_t kMaxReport = 64;
    static constexpr std::size_t kMaxDatagram = 128;
    static constexpr std::size_t kMaxKey = kMaxDatagram - 9;

    // A decoded datagram; views point into the received buffer.
    struct Datagram {
        Kind kind = kInputReport;
        std::uint32_t seq = 0;
        std::int64_t value = 0;
        const std::uint8_t* bytes = nullptr;
        std::size_t length = 0;
        std::string_view key;
    };

    // Each returns the datagram's length, or 0 when it does not fit in out.
    static std::size_t encodeInputReport(std::uint32_t seq, const std::uint8_t* report,
                                         std::size_t length, std::uint8_t* out,
                                         std::size_t capacity);
    static std::size_t encodeParameter(std::string_view key, std::int64_t value, std::uint8_t* out,
                                       std::size_t capacity);
    static std::size_t encodeDelivered(const std::uint8_t* report, std::size_t length,
                                       std::uint8_t* out, std::size_t capacity);
    static std::size_t encodeHandled(std::uint32_t seq, std::uint8_t* out, std::size_t capacity);

    // Reads one received datagram; false for an unknown kind or a wrong length.
    static bool decode(const std::uint8_t* data, std::size_t length, Datagram& out);
};
