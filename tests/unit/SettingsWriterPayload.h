// The payload SettingsWriter stores with each value of its counter, shared by
// the helper and the tests that check a file holds a matching pair.
#pragma once

#include "PlistValue.h"

#include <cstddef>
#include <cstdint>

// Large enough that writing it takes a while, different for every counter.
inline PlistValue settingsWriterPayload(std::int64_t counter) {
    PlistValue::Data bytes(48 * 1024 + static_cast<std::size_t>(counter % 997));
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        bytes[k] =
            static_cast<std::uint8_t>((static_cast<std::uint64_t>(counter) * 131 + k * 7) & 0xFF);
    }
    return PlistValue::data(std::move(bytes));
}
