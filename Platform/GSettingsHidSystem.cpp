// GSettingsHidSystem: HID system parameters on the desktop's GSettings.
#include "GSettingsHidSystem.h"

#include <gio/gio.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

namespace {

constexpr const char* sClickTimeKey = "HIDClickTime";
constexpr const char* sButtonModeKey = "HIDPointerButtonMode";
constexpr const char* sAccelerationKey = "HIDMouseAcceleration";

constexpr std::int64_t sNanosecondsPerMillisecond = 1000000;
constexpr std::int32_t sRightButtonPrimary = 1;
constexpr std::int32_t sNormalButtons = 2;

struct NeededKey {
    const char* name;
    const char* type;
};

// The keys this backend needs and their GVariant types (an enum reads as a string).
constexpr NeededKey sKeys[] = {
    {"double-click", "i"},
    {"left-handed", "b"},
    {"speed", "d"},
    {"accel-profile", "s"},
};

bool schemaHasKeys(GSettingsSchema* schema) {
    for (const NeededKey& needed : sKeys) {
        if (!g_settings_schema_has_key(schema, needed.name)) {
            return false;
        }
        GSettingsSchemaKey* key = g_settings_schema_get_key(schema, needed.name);
        const bool matches = g_variant_type_equal(g_settings_schema_key_get_value_type(key),
                                                  G_VARIANT_TYPE(needed.type));
        g_settings_schema_key_unref(key);
        if (!matches) {
            return false;
        }
    }
    return true;
}

// The parameters a call asks for, checked before anything is written.
struct Changes {
    std::optional<std::int32_t> doubleClickMs;
    std::optional<bool> leftHanded;
    std::optional<double> acceleration;
};

std::optional<std::int32_t> clickTimeMs(const PlistValue& value) {
    if (value.isInteger()) {
        if (!value.integerIsSigned() &&
            value.toUInt64() >
                static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return std::nullopt;
        }
        const std::int64_t ns = value.toInt64();
        if (ns < 0) {
            return std::nullopt;
        }
        // Rounded to the nearest millisecond without overflowing near the top.
        const std::int64_t ms =
            ns / sNanosecondsPerMillisecond +
            (ns % sNanosecondsPerMillisecond >= sNanosecondsPerMillisecond / 2 ? 1 : 0);
        if (ms > std::numeric_limits<std::int32_t>::max()) {
            return std::nullopt;
        }
        return static_cast<std::int32_t>(ms);
    }
    if (value.isReal()) {
        const double ms = std::round(value.toReal() / 1e6);
        if (!std::isfinite(ms) || ms < 0 || ms > std::numeric_limits<std::int32_t>::max()) {
            return std::nullopt;
        }
        return static_cast<std::int32_t>(ms);
    }
    return std::nullopt;
}

} // namespace

GSettingsHidSystem::GSettingsHidSystem() : GSettingsHidSystem(kMouseSchema) {}

GSettingsHidSystem::GSettingsHidSystem(std::string schemaId) : fSchemaId(std::move(schemaId)) {}

GSettingsHidSystem::~GSettingsHidSystem() {
    if (fSettings != nullptr) {
        g_settings_sync();
        g_object_unref(fSettings);
    }
}

GSettings* GSettingsHidSystem::settings() {
    if (fLookedUp) {
        return fSettings;
    }
    fLookedUp = true;
    // g_settings_new() aborts the process on a missing schema; look it up first.
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (source == nullptr) {
        return nullptr;
    }
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, fSchemaId.c_str(), TRUE);
    if (schema == nullptr) {
        return nullptr;
    }
    if (schemaHasKeys(schema)) {
        fSettings = g_settings_new_full(schema, nullptr, nullptr);
    }
    g_settings_schema_unref(schema);
    return fSettings;
}

bool GSettingsHidSystem::isAvailable() {
    return settings() != nullptr;
}

Result<PlistValue> GSettingsHidSystem::copyParameters() {
    GSettings* s = settings();
    if (s == nullptr) {
        return Result<PlistValue>::fail("the desktop pointer settings (" + fSchemaId +
                                        ") are not installed");
    }
    const std::int64_t clickNs = static_cast<std::int64_t>(g_settings_get_int(s, "double-click")) *
                                 sNanosecondsPerMillisecond;
    const bool leftHanded = g_settings_get_boolean(s, "left-handed");
    gchar* profile = g_settings_get_string(s, "accel-profile");
    const bool flat = g_strcmp0(profile, "flat") == 0;
    g_free(profile);
    const double acceleration =
        flat ? 0.0 : accelerationForSpeed(g_settings_get_double(s, "speed"));

    return PlistValue::dictionary({
        {sClickTimeKey, PlistValue::int64(clickNs)},
        {sButtonModeKey, PlistValue::int32(leftHanded ? sRightButtonPrimary : sNormalButtons)},
        {sAccelerationKey, PlistValue::real(acceleration)},
    });
}

IoStatus GSettingsHidSystem::setParameters(const PlistValue& parameters) {
    GSettings* s = settings();
    if (s == nullptr) {
        return kIoNoDevice;
    }
    if (!parameters.isDictionary()) {
        return kIoBadArgument;
    }

    // Check every entry first so that a bad one changes nothing. Keys other
    // than the three are merged into nothing: the desktop has no place for them.
    Changes changes;
    if (const PlistValue* value = parameters.find(sClickTimeKey)) {
        changes.doubleClickMs = clickTimeMs(*value);
        if (!changes.doubleClickMs) {
            return kIoBadArgument;
        }
    }
    if (const PlistValue* value = parameters.find(sButtonModeKey)) {
        if (!value->isNumber() ||
            (value->toInt64(0) != sRightButtonPrimary && value->toInt64(0) != sNormalButtons)) {
            return kIoBadArgument;
        }
        changes.leftHanded = value->toInt64() == sRightButtonPrimary;
    }
    if (const PlistValue* value = parameters.find(sAccelerationKey)) {
        if (!value->isNumber() || !std::isfinite(value->toReal())) {
            return kIoBadArgument;
        }
        changes.acceleration = value->toReal();
    }

    bool written = true;
    if (changes.doubleClickMs) {
        written = g_settings_set_int(s, "double-click", *changes.doubleClickMs) && written;
    }
    if (changes.leftHanded) {
        written = g_settings_set_boolean(s, "left-handed", *changes.leftHanded) && written;
    }
    if (changes.acceleration) {
        // No acceleration (0, or the negative "off" value) is the flat
        // profile; the speed the user chose on the desktop stays.
        if (*changes.acceleration <= 0.0) {
            written = g_settings_set_string(s, "accel-profile", "flat") && written;
        } else {
            written = g_settings_set_string(s, "accel-profile", "default") && written;
            written =
                g_settings_set_double(s, "speed", speedForAcceleration(*changes.acceleration)) &&
                written;
        }
    }
    g_settings_sync();
    return written ? kIoSuccess : kIoError;
}

double GSettingsHidSystem::speedForAcceleration(double acceleration) {
    // Two straight pieces meeting at the desktop's default: 0..1 onto -1..0
    // and 1..3 onto 0..1, so 1.0 (the suite's fallback) is speed 0.
    const double a = std::clamp(acceleration, 0.0, kMaxAcceleration);
    if (a <= 1.0) {
        return a - 1.0;
    }
    return (a - 1.0) / (kMaxAcceleration - 1.0);
}

double GSettingsHidSystem::accelerationForSpeed(double speed) {
    const double s = std::isfinite(speed) ? std::clamp(speed, -1.0, 1.0) : 0.0;
    if (s <= 0.0) {
        return s + 1.0;
    }
    return 1.0 + s * (kMaxAcceleration - 1.0);
}
