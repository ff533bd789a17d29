// IoStatus: the platform layer's status codes for device and registry calls,
// and their texts. 0 is success; failures keep the classic 0xe00002xx layout so
// that a printed status reads the same on every backend.
#pragma once

#include <cstdint>
#include <cstdio>

using IoStatus = std::int32_t;

inline constexpr IoStatus kIoSuccess = 0;
inline constexpr IoStatus kIoError = static_cast<IoStatus>(0xe00002bc);       // general error
inline constexpr IoStatus kIoNoMemory = static_cast<IoStatus>(0xe00002bd);    // out of memory
inline constexpr IoStatus kIoNoDevice = static_cast<IoStatus>(0xe00002c0);    // no such device
inline constexpr IoStatus kIoBadArgument = static_cast<IoStatus>(0xe00002c2); // invalid argument
inline constexpr IoStatus kIoExclusiveAccess = static_cast<IoStatus>(0xe00002c5); // device busy
inline constexpr IoStatus kIoUnsupported = static_cast<IoStatus>(0xe00002c7);     // not supported
inline constexpr IoStatus kIoNotOpen = static_cast<IoStatus>(0xe00002cd);         // device not open
inline constexpr IoStatus kIoTimeout = static_cast<IoStatus>(0xe00002d6);         // timed out
inline constexpr IoStatus kIoNotResponding = static_cast<IoStatus>(0xe00002ed);   // not responding
inline constexpr IoStatus kIoNotFound = static_cast<IoStatus>(0xe00002f0);        // not found
inline constexpr IoStatus kIoPipeStall = static_cast<IoStatus>(0xe000404f); // request rejected

// The text the platform layer gives for a status, for error messages.
inline const char* ioStatusText(IoStatus status) {
    switch (status) {
    case kIoSuccess:
        return "success";
    case kIoError:
        return "general error";
    case kIoNoMemory:
        return "cannot allocate memory";
    case kIoNoDevice:
        return "no such device";
    case kIoBadArgument:
        return "invalid argument";
    case kIoExclusiveAccess:
        return "exclusive access and device already open";
    case kIoUnsupported:
        return "unsupported function";
    case kIoNotOpen:
        return "device not open";
    case kIoTimeout:
        return "I/O timeout";
    case kIoNotResponding:
        return "device not responding";
    case kIoNotFound:
        return "data was not found";
    case kIoPipeStall:
        return "pipe is stalled";
    default:
        return "unknown error";
    }
}

// Prints "message - text(status in hex,low 24 bits in decimal)" on standard
// error and flushes it; prints nothing for success.
inline void printIoError(IoStatus status, const char* message) {
    if (status == kIoSuccess) {
        return;
    }
    std::fprintf(stderr, "%s - %s(%x,%d)\n", message, ioStatusText(status),
                 static_cast<unsigned>(status), static_cast<int>(status & 0xFFFFFF));
    std::fflush(stderr);
}
