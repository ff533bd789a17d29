// OrvixSablecoilDriver: report filter, property intake and device command of
// the mouse's driver.
#include "OrvixSablecoilDriver.h"

#include "PlistValue.h"

namespace {

using Driver = com_orvix_driver_OrvixSablecoilDriver;

constexpr auto sRelaxed = std::memory_order_relaxed;

// Map types the filter tells apart (the codes of a button mapping record).
constexpr std::uint32_t sTypeClick = 0;
constexpr std::uint32_t sTypeMenu = 1;
constexpr std::uint32_t sTypeDoubleClick = 2;
constexpr std::uint32_t sTypeKey = 3;
constexpr std::uint32_t sTypeMacro = 4;
constexpr std::uint32_t sTypeMacroOtfs = 5;
constexpr std::uint32_t sTypeDpiSet = 6;
constexpr std::uint32_t sTypeProfileSwitch = 7;
constexpr std::uint32_t sTypeOtfs = 8;
constexpr std::uint32_t sTypePassThrough = 9;
constexpr std::uint32_t sTypeScrollUp = 10;
constexpr std::uint32_t sTypeScrollDown = 11;
constexpr std::uint32_t sTypeButtonOff = 12;

constexpr std::size_t sWheelUp = 5;
constexpr std::size_t sWheelDown = 6;

bool isOtfsType(std::uint32_t type) {
    return type == sTypeMacroOtfs || type == sTypeOtfs;
}

bool isClickOrMenu(std::uint32_t type) {
    return type == sTypeClick || type == sTypeMenu;
}

bool isScrollType(std::uint32_t type) {
    return type == sTypeScrollUp || type == sTypeScrollDown;
}

// 16-bit motion to the 8-bit fields: 127 for 128 and up, -127 for -128 and
// down (the 8-bit fields never carry -128).
std::int8_t clampToByte(std::int16_t v) {
    if (v >= 128) {
        return 127;
    }
    if (v <= -128) {
        return -127;
    }
    return static_cast<std::int8_t>(v);
}

// The index of the highest input whose bit is in bits, or -1.
int highestInputWithBit(const std::uint32_t* ids, std::uint32_t bits) {
    for (int i = static_cast<int>(Driver::kInputCount) - 1; i >= 0; --i) {
        if (ids[i] & bits) {
            return i;
        }
    }
    return -1;
}

std::uint32_t messageWord(std::int8_t wheel, int input, std::uint32_t flags) {
    const std::uint32_t u = input < 0 ? Driver::kMessageNoInput : static_cast<std::uint32_t>(input);
    return static_cast<std::uint8_t>(wheel) | u << 8 | flags << 16;
}

// A property number: an integer of any width and sign, taken as its low 32
// bits. Everything else (reals, booleans, strings, data) counts as absent:
// the factors are 16.16 fixed point, and a real such as 5.0 would be
// ambiguous between 5.0 and 5/65536; the host converts at the bus boundary.
bool propertyNumber(const PlistValue& properties, std::string_view key, std::uint32_t& value) {
    const PlistValue* item = properties.find(key);
    if (item == nullptr || !item->isInteger()) {
        return false;
    }
    value = static_cast<std::uint32_t>(item->toUInt64());
    return true;
}

// Resolution field of the command word by generation (450, 900, 1800, 3500 dpi).
constexpr std::uint32_t sResolutionV1[4] = {3, 2, 1, 1};
constexpr std::uint32_t sResolutionV2[4] = {4, 3, 2, 1};
// Report-rate field (125, 500, 1000 reports per second).
constexpr std::uint32_t sPollingRate[3] = {3, 2, 1};

constexpr std::uint32_t sLogoLightBit = 1u << 24;
constexpr std::uint32_t sWheelLightBit = 1u << 25;
constexpr std::uint32_t sProfileField = 0xFFu << 16;

} // namespace

IoStatus com_orvix_driver_OrvixSablecoilDriver::handleReport(std::uint8_t* report,
                                                             std::size_t length,
                                                             std::uint32_t reportType,
                                                             std::uint32_t options) {
    if (report == nullptr || length < kReportLength) {
        // Not a report this filter knows: pass it on as it came.
        return HidDriverBase::handleReport(report, length, reportType, options);
    }

    // One snapshot of the configuration per report: a concurrent update is
    // seen either entirely before or entirely after each field's use.
    const std::uint32_t* ids = fLeftHanded.load(sRelaxed) ? leftMouseIds : rightMouseIds;
    std::uint32_t types[kInputCount];
    for (std::size_t i = 0; i < kInputCount; ++i) {
        types[i] = fMapTypes[i].load(sRelaxed);
    }
    const bool otfsEnabled = fOtfsEnabled.load(sRelaxed) != 0;
    const bool heldKeyAtEntry = fHeldKeyButton != 0;
    const bool heldOtfsAtEntry = fHeldOtfsButton != 0;

    // Motion and wheel.
    const std::uint8_t deviceButtons = report[0];
    std::uint8_t b = deviceButtons;
    const auto w = static_cast<std::int8_t>(report[3]);
    auto x = static_cast<std::int16_t>(report[4] | report[5] << 8);
    auto y = static_cast<std::int16_t>(report[6] | report[7] << 8);
    const bool moved = x != 0 || y != 0;
    y = static_cast<std::int16_t>(-y);
    filterMouse(&x, &y);
    const std::int8_t x8 = clampToByte(x);
    const std::int8_t y8 = clampToByte(y); // opposite sign of the 16-bit Y written below
    bool wheelTurned = w != 0;
    const std::int8_t scaledWheel = filterScrollWheel(w);
    y = static_cast<std::int16_t>(-y);
    report[1] = static_cast<std::uint8_t>(x8);
    report[4] = static_cast<std::uint8_t>(x);
    report[5] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(x) >> 8);
    report[2] = static_cast<std::uint8_t>(y8);
    report[6] = static_cast<std::uint8_t>(y);
    report[7] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(y) >> 8);
    report[3] = static_cast<std::uint8_t>(scaledWheel);

    // Pending releases: the released input's bit stands in for the buttons
    // byte so that the report is attributed to that input.
    std::uint32_t flags = 0;
    bool send = false;
    if (fHeldKeyButton != 0 && (b & fHeldKeyButton) == 0) {
        b = fHeldKeyButton;
        fHeldKeyButton = 0;
        flags = kMessageKeyUp;
        send = true;
    }
    // Whether the on-the-fly input was released is the device's word, not
    // that of the byte as substituted above: a key input released while the
    // on-the-fly input stays held must not end it (nor lose its key-up).
    if (fHeldOtfsButton != 0 && (deviceButtons & fHeldOtfsButton) == 0) {
        if (flags & kMessageKeyUp) {
            // A key input and an on-the-fly input released in the same
            // report: the key-up goes out on its own first, since this
            // report is attributed to the on-the-fly input and its message
            // would not name the key (which would then stay down, repeating).
            messageClients(messageWord(w, highestInputWithBit(ids, b), kMessageKeyUp));
            flags = 0;
            send = false;
        }
        const int released = highestInputWithBit(ids, fHeldOtfsButton);
        b = fHeldOtfsButton;
        if (released >= 0) {
            if (types[released] == sTypeMacroOtfs) {
                // For this report the input acts with the type of its nested
                // record; only the snapshot changes, so the stored map type
                // stays 5 and a concurrent update is never overwritten.
                types[released] = fRestoreType.load(sRelaxed);
                flags |= kMessageNestedAction | kMessageOtfsEnd;
                fLastButtons = 0;
                send = true;
            } else if (types[released] == sTypeOtfs) {
                flags |= kMessageOtfsEnd;
            }
        }
        // Disarmed only by its release: an on-the-fly input that stays held
        // while another input takes the attribution of a report keeps its
        // arm, so it gets exactly one begin and one end (and a type-5 input
        // its nested action).
        fHeldOtfsButton = 0;
    }

    if (b != 0 || w != 0) {
        // Attribution: the last newly pressed input (on-the-fly inputs always
        // count as new), and the first two pressed inputs.
        int first = -1;
        int second = -1;
        int u = -1;
        for (int i = 0; i < static_cast<int>(kInputCount); ++i) {
            if ((ids[i] & b) == 0) {
                continue;
            }
            if (first < 0) {
                first = i;
            } else if (second < 0) {
                second = i;
            }
            if (isOtfsType(types[i]) || (ids[i] & fLastButtons) == 0) {
                u = i;
            }
        }

        // The wheel as a button, when no button is down and the wheel input
        // is not a scroll type.
        bool wheelButton = false;
        if (b == 0) {
            if (w > 0 && !isScrollType(types[sWheelUp])) {
                u = sWheelUp;
                wheelButton = true;
                wheelTurned = false;
            } else if (w < 0 && !isScrollType(types[sWheelDown])) {
                u = sWheelDown;
                wheelButton = true;
                wheelTurned = false;
            }
        }
        if (u < 0 && first >= 0) {
            u = first;
        }

        bool otfsWheel = false;
        bool replay = false;
        std::uint8_t primary = 0;
        if (u < 0) {
            if (b & kProfileButtonBit) {
                flags |= kMessageProfileButton;
                send = true;
            }
        } else {
            const std::uint32_t t = types[u];
            const auto bit = static_cast<std::uint8_t>(ids[u]);
            if (isOtfsType(t) && !heldOtfsAtEntry) {
                flags |= kMessageOtfsBegin;
            }

            bool hasOut = false;
            std::uint8_t out = 0;
            auto setOut = [&](std::uint32_t value) {
                out = static_cast<std::uint8_t>(value);
                hasOut = true;
            };
            switch (t) {
            case sTypeClick:
                setOut(ids[0]);
                if ((first >= 0 && types[first] == sTypeMenu) ||
                    (second >= 0 && types[second] == sTypeMenu)) {
                    out |= ids[1];
                }
                break;
            case sTypeMenu:
                setOut(ids[1]);
                if ((first >= 0 && types[first] == sTypeClick) ||
                    (second >= 0 && types[second] == sTypeClick)) {
                    out |= ids[0];
                }
                break;
            case sTypeDoubleClick:
                if (moved || wheelTurned) {
                    setOut(0);
                } else {
                    primary = getPrimaryButton();
                    setOut(primary);
                    replay = true;
                }
                break;
            case sTypeKey:
                if (heldKeyAtEntry) {
                    setOut(0);
                } else {
                    fHeldKeyButton = bit;
                    setOut(b & ~bit);
                    send = true;
                }
                break;
            case sTypeMacroOtfs:
            case sTypeOtfs:
                if ((flags & kMessageOtfsEnd) == 0) {
                    fHeldOtfsButton = bit;
                }
                if (otfsEnabled) {
                    setOut(b & ~bit);
                    send = true;
                    otfsWheel = true;
                }
                break;
            case sTypePassThrough:
                break;
            default:
                if (b == fLastButtons) {
                    setOut(0);
                } else if (t == sTypeMacro || t == sTypeDpiSet || t == sTypeProfileSwitch) {
                    setOut(b & ~bit);
                    send = true;
                } else if (t == sTypeButtonOff) {
                    setOut(b & ~bit);
                }
                break;
            }

            // A double click's output is the synthesised primary button, not
            // an input's own bit: it is left alone here even when the other
            // pressed input owns the same bit, so that the replay below
            // always reads press, release, press.
            if (second >= 0 && !replay) {
                // When the attributed input gives no value (pass-through,
                // scroll or unknown types, on-the-fly while disabled), the
                // rule starts from the device's own byte: a special second
                // input (key, macro, button off, ...) is kept from the system
                // whichever of the two inputs the report is attributed to.
                if (!hasOut) {
                    setOut(deviceButtons);
                }
                if (u != second && !isClickOrMenu(types[second])) {
                    out &= static_cast<std::uint8_t>(~ids[second]);
                } else if (u == second && !isClickOrMenu(types[first])) {
                    out &= static_cast<std::uint8_t>(~ids[first]);
                }
            }
            if (hasOut) {
                report[0] = out;
            }
        }

        // Message and replay.
        if ((w != 0 && otfsWheel) || wheelButton) {
            report[3] = 0; // the wheel is consumed
            messageClients(messageWord(w, u, flags));
        } else if (send) {
            messageClients(messageWord(w, u, flags));
        }
        if (replay) {
            HidDriverBase::handleReport(report, length, reportType, options);
            report[0] = 0;
            HidDriverBase::handleReport(report, length, reportType, options);
            report[0] = primary;
        }
    }

    fLastButtons = b;
    return HidDriverBase::handleReport(report, length, reportType, options);
}

void com_orvix_driver_OrvixSablecoilDriver::filterMouse(std::int16_t* x, std::int16_t* y) {
    // A factor never set (0) becomes "unchanged" and stays so; the exchange
    // only succeeds while the field is still 0, so it never overwrites a
    // factor that the property side stored meanwhile.
    auto factor = [](std::atomic<std::uint32_t>& field) {
        std::uint32_t f = field.load(sRelaxed);
        if (f == 0 && field.compare_exchange_strong(f, kUnchangedSensitivity, sRelaxed)) {
            f = kUnchangedSensitivity;
        }
        return f; // on a lost exchange, the value stored meanwhile
    };
    const std::uint32_t fx = factor(fSensitivityX);
    const std::uint32_t fy = factor(fSensitivityY);
    const std::int16_t sx = filterMouseAxis(*x, fx);
    const std::int16_t sy = filterMouseAxis(*y, fy);
    *x = sx;
    *y = sy;
}

std::int16_t com_orvix_driver_OrvixSablecoilDriver::filterMouseAxis(std::int16_t value,
                                                                    std::uint32_t factor) {
    if (value == 0) {
        return 0;
    }
    if (factor == kUnchangedSensitivity) {
        return value;
    }
    // The factor divided by 10, in 16.16, truncated.
    const std::int64_t scale = static_cast<std::int64_t>(factor) * 65536 /
                               static_cast<std::int64_t>(kUnchangedSensitivity);
    const std::int64_t magnitude = value < 0 ? -static_cast<std::int64_t>(value) : value;
    // |v| × scale in 16.16, kept to 32 bits, then rounded half up to an
    // integer. Unsigned arithmetic wraps where an extreme factor overflows.
    const auto m =
        static_cast<std::uint32_t>(static_cast<std::uint64_t>(magnitude * 65536 * scale) >> 16);
    const std::int32_t q =
        static_cast<std::int32_t>(m + static_cast<std::uint32_t>(kHalfFixed)) >> 16;
    if (q == 0) {
        return value > 0 ? 1 : -1; // a motion never vanishes
    }
    const std::uint32_t signedQ =
        value > 0 ? static_cast<std::uint32_t>(q) : 0u - static_cast<std::uint32_t>(q);
    return static_cast<std::int16_t>(signedQ);
}

std::int8_t com_orvix_driver_OrvixSablecoilDriver::filterScrollWheel(std::int8_t step) {
    if (step == 0) {
        return 0;
    }
    const std::int64_t magnitude = step < 0 ? -static_cast<std::int64_t>(step) : step;
    const std::int64_t scaled = (magnitude * fWheelSpeed.load(sRelaxed)) >> 16;
    bool negative = step < 0;
    if ((step > 0 && fMapTypes[sWheelUp].load(sRelaxed) == sTypeScrollDown) ||
        (step < 0 && fMapTypes[sWheelDown].load(sRelaxed) == sTypeScrollUp)) {
        negative = !negative;
    }
    const std::uint64_t result =
        negative ? 0u - static_cast<std::uint64_t>(scaled) : static_cast<std::uint64_t>(scaled);
    return static_cast<std::int8_t>(static_cast<std::uint8_t>(result));
}

std::uint8_t com_orvix_driver_OrvixSablecoilDriver::getPrimaryButton() {
    std::int64_t mode = 0;
    if (hidSystemParameter("HIDPointerButtonMode", mode) && static_cast<std::uint8_t>(mode) == 1) {
        return 2;
    }
    return 1;
}

IoStatus com_orvix_driver_OrvixSablecoilDriver::sendDeviceRequest(std::uint32_t word) {
    std::uint8_t data[4] = {
        static_cast<std::uint8_t>(word),
        static_cast<std::uint8_t>(word >> 8),
        static_cast<std::uint8_t>(word >> 16),
        static_cast<std::uint8_t>(word >> 24),
    };
    DeviceRequest request;
    request.bmRequestType = kSetSettingsRequestType;
    request.bRequest = kSetSettingsRequest;
    request.wValue = kSetSettingsValue;
    request.wIndex = 0;
    request.wLength = sizeof data;
    request.data = data;
    request.noDataTimeoutMs = kSetSettingsTimeoutMs;
    request.completionTimeoutMs = 0;
    return deviceRequest(request);
}

std::uint32_t
com_orvix_driver_OrvixSablecoilDriver::deviceCommandWord(const PlistValue& properties) {
    std::uint32_t generation = 1;
    propertyNumber(properties, "DeviceVersion", generation);

    std::uint32_t word = 0;
    std::uint32_t value = 0;
    if (propertyNumber(properties, "Resolution", value) && value < 4) {
        word |= (generation == 1 ? sResolutionV1[value] : sResolutionV2[value]) << 8;
    }
    if (propertyNumber(properties, "PollingRate", value) && value < 3) {
        word |= sPollingRate[value];
    }
    if (propertyNumber(properties, "GlowLogoOn", value) && static_cast<std::uint8_t>(value) != 0) {
        word |= sLogoLightBit;
    }
    if (propertyNumber(properties, "ScrollLightOn", value) &&
        static_cast<std::uint8_t>(value) != 0) {
        word |= sWheelLightBit;
    }
    if (propertyNumber(properties, "ProfileNumber", value)) {
        // Kept to its own field: a stray value above 255 must not switch
        // the lights or set reserved bits.
        word |= (value << 16) & sProfileField;
    }
    return word;
}

IoStatus com_orvix_driver_OrvixSablecoilDriver::setProperties(const PlistValue& properties) {
    if (!properties.isDictionary()) {
        return kIoBadArgument;
    }

    // The device command word, sent only when it differs from the last one
    // the mouse accepted; a failed request is tried again with the next
    // dictionary that yields the same word.
    if (hasUsbInterface()) {
        const std::uint32_t word = deviceCommandWord(properties);
        if (word != 0 && word != fLastCommand.load(sRelaxed)) {
            if (sendDeviceRequest(word) == kIoSuccess) {
                fLastCommand.store(word, sRelaxed);
            }
        }
    }

    std::uint32_t value = 0;
    if (propertyNumber(properties, "MasterSensitivityOn", value)) {
        fMasterSensOn.store(value != 0 ? 1 : 0, sRelaxed);
    }
    if (fMasterSensOn.load(sRelaxed) != 0) {
        if (propertyNumber(properties, "MasterSensitivityX", value)) {
            fSensitivityX.store(value, sRelaxed);
        }
        if (propertyNumber(properties, "MasterSensitivityY", value)) {
            fSensitivityY.store(value, sRelaxed);
        }
    } else if (propertyNumber(properties, "Sensitivity", value)) {
        fSensitivityX.store(value, sRelaxed);
        fSensitivityY.store(value, sRelaxed);
    }
    if (propertyNumber(properties, "ScrollWheelSpeed", value)) {
        fWheelSpeed.store(value, sRelaxed);
    }
    // "MasterAccelOn", "MasterAccel" and "HIDPointerAcceleration" leave no
    // state here: the agent sets the system's acceleration itself. The
    // dictionary is the caller's (const) and goes nowhere else, so no value
    // is written back into it.
    if (propertyNumber(properties, "HIDPointerButtonMode", value)) {
        fLeftHanded.store(value == 1 ? 1 : 0, sRelaxed);
    }
    if (propertyNumber(properties, "Otfs", value)) {
        fOtfsEnabled.store(value != 0 ? 1 : 0, sRelaxed);
    }

    // The map types: the first byte of each record, in input order. Only the
    // first seven items count; an item that is not data or is empty leaves
    // that input's type as it was. The restore slot takes the nested type of
    // the last type-5 record that has one.
    const PlistValue* mappings = properties.find("ButtonMappings");
    if (mappings != nullptr && mappings->isArray()) {
        std::uint32_t restore = 0;
        const PlistValue::Array& items = mappings->items();
        for (std::size_t i = 0; i < items.size() && i < kInputCount; ++i) {
            if (!items[i].isData() || items[i].size() == 0) {
                continue;
            }
            const PlistValue::Data& record = items[i].bytes();
            fMapTypes[i].store(record[0], sRelaxed);
            if (record[0] == sTypeMacroOtfs && record.size() > 1) {
                restore = record[1];
            }
        }
        fRestoreType.store(restore, sRelaxed);
    }
    return kIoSuccess;
}
