// SimChannel: encoding and decoding of the report channel's datagrams.
#include "SimChannel.h"

#include <cstring>

namespace {

void putU32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint32_t getU32(const std::uint8_t* in) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(in[i]) << (8 * i);
    }
    return value;
}

void putI64(std::uint8_t* out, std::int64_t value) {
    const auto bits = static_cast<std::uint64_t>(value);
    for (int i = 0; i < 8; ++i) {
        out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
}

std::int64_t getI64(const std::uint8_t* in) {
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) {
        bits |= static_cast<std::uint64_t>(in[i]) << (8 * i);
    }
    return static_cast<std::int64_t>(bits);
}

} // namespace

std::size_t SimChannel::encodeInputReport(std::uint32_t seq, const std::uint8_t* report,
                                          std::size_t length, std::uint8_t* out,
                                          std::size_t capacity) {
    if (length == 0 || length > kMaxReport || capacity < 5 + length) {
        return 0;
    }
    out[0] = kInputReport;
    putU32(out + 1, seq);
    std::memcpy(out + 5, report, length);
    return 5 + length;
}

std::size_t SimChannel::encodeParameter(std::string_view key, std::int64_t value, std::uint8_t* out,
                                        std::size_t capacity) {
    if (key.empty() || key.size() > kMaxKey || capacity < 9 + key.size()) {
        return 0;
    }
    out[0] = kParameter;
    putI64(out + 1, value);
    std::memcpy(out + 9, key.data(), key.size());
    return 9 + key.size();
}

std::size_t SimChannel::encodeDelivered(const std::uint8_t* report, std::size_t length,
                                        std::uint8_t* out, std::size_t capacity) {
    if (length > kMaxReport || capacity < 1 + length) {
        return 0;
    }
    out[0] = kDelivered;
    if (length > 0) {
        std::memcpy(out + 1, report, length);
    }
    return 1 + length;
}

std::size_t SimChannel::encodeHandled(std::uint32_t seq, std::uint8_t* out, std::size_t capacity) {
    if (capacity < 5) {
        return 0;
    }
    out[0] = kHandled;
    putU32(out + 1, seq);
    return 5;
}

bool SimChannel::decode(const std::uint8_t* data, std::size_t length, Datagram& out) {
    if (data == nullptr || length == 0) {
        return false;
    }
    out = Datagram{};
    switch (data[0]) {
    case kInputReport:
        if (length < 6 || length - 5 > kMaxReport) {
            return false;
        }
        out.kind = kInputReport;
        out.seq = getU32(data + 1);
        out.bytes = data + 5;
        out.length = length - 5;
        return true;
    case kParameter:
        if (length < 10 || length - 9 > kMaxKey) {
            return false;
        }
        out.kind = kParameter;
        out.value = getI64(data + 1);
        out.key = std::string_view(reinterpret_cast<const char*>(data + 9), length - 9);
        return true;
    case kDelivered:
        if (length - 1 > kMaxReport) {
            return false;
        }
        out.kind = kDelivered;
        out.bytes = data + 1;
        out.length = length - 1;
        return true;
    case kHandled:
        if (length != 5) {
            return false;
        }
        out.kind = kHandled;
        out.seq = getU32(data + 1);
        return true;
    default:
        return false;
    }
}
