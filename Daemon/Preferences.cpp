// Preferences: settings domain access, the driver push, and the profile,
// resolution and sensitivity changes with their broadcasts.
#include "Preferences.h"

#include "Application.h"
#include "HidSystem.h"
#include "HidUtils.h"
#include "NotificationCenter.h"
#include "PlatformServices.h"
#include "ServiceRegistry.h"
#include "SettingsDomain.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

namespace {

// The factory button mappings: click, menu, on-the-fly sensitivity, two
// commands (0x2E00 and 0x2B00 as key assignments), scroll up, scroll down.
PlistValue FactoryMappings() {
    const auto record = [](std::initializer_list<std::uint8_t> bytes) {
        return PlistValue::data(PlistValue::Data(bytes));
    };
    return PlistValue::array({
        record({0x00}),
        record({0x01}),
        record({0x08}),
        record({0x03, '1', '1', '7', '7', '6'}),
        record({0x03, '1', '1', '0', '0', '8'}),
        record({0x0A}),
        record({0x0B}),
    });
}

SettingsDomain Domain(const std::string& name) {
    return SettingsDomain(QString::fromStdString(name));
}

void Post(const char* object, PlistValue userInfo) {
    Status status =
        PlatformServices::current().notifications().post(kNotificationName, object, userInfo);
    if (!status) {
        std::fprintf(stderr, "Sablecoil: could not post %s: %s\n", object,
                     status.message().c_str());
        std::fflush(stderr);
    }
}

// Writes one or more keys and reports a failed write once, with its reason.
void Write(const std::string& domain, const PlistValue& keys) {
    Status status = Domain(domain).setMultiple(keys);
    if (!status) {
        std::fprintf(stderr, "Sablecoil: could not write settings: %s\n", status.message().c_str());
        std::fflush(stderr);
    }
}

// The first byte of a mapping record, or -1 for an item that is not a record.
int MapTypeOf(const PlistValue& item) {
    return item.isData() && !item.bytes().empty() ? item.bytes()[0] : -1;
}

bool SystemAcceleration(double& value) {
    PlistValue v = CopyHidSystemParamValue("HIDMouseAcceleration");
    if (!v.isNumber()) {
        return false;
    }
    value = v.toReal();
    return true;
}

void SetSystemAcceleration(double value) {
    PlistValue parameters = PlistValue::dictionary();
    parameters.set("HIDMouseAcceleration", PlistValue::real(value));
    PlatformServices::current().hidSystem().setParameters(parameters);
}

} // namespace

std::string Preferences::BundleId() {
    return SablecoilIsV1() ? SettingsDomain::kFirstGeneration : SettingsDomain::kSecondGeneration;
}

void Preferences::MakePrefsActive(const std::string& domain) {
    const std::string other = domain == SettingsDomain::kFirstGeneration
                                  ? SettingsDomain::kSecondGeneration
                                  : SettingsDomain::kFirstGeneration;
    Write(domain, PlistValue::dictionary({{"PrefIsActive", PlistValue::int16(1)}}));
    Write(other, PlistValue::dictionary({{"PrefIsActive", PlistValue::int16(0)}}));
}

bool Preferences::HasPrefs() {
    SettingsDomain domain = Domain(BundleId());
    domain.synchronize();
    return domain.copyAll().size() > 0;
}

PlistValue Preferences::FactoryProfile() {
    double acceleration = 1.0;
    if (!SystemAcceleration(acceleration)) {
        acceleration = 1.0;
    }
    return PlistValue::dictionary({
        {"Sensitivity", PlistValue::real(10.0)},
        {"MasterSensitivityX", PlistValue::real(10.0)},
        {"MasterSensitivityY", PlistValue::real(10.0)},
        {"MasterSensitivityOn", PlistValue::int32(0)},
        {"MasterAccel", PlistValue::real(acceleration)},
        {"MasterAccelOn", PlistValue::int32(0)},
        {"Otfs", PlistValue::int32(1)},
        {"OtfsOnScreen", PlistValue::int32(1)},
        {"ScrollWheelSpeed", PlistValue::real(10.0)},
        {"DblClickSpeed", PlistValue::real(6.0)},
        {"Resolution", PlistValue::int32(2)},
        {"PollingRate", PlistValue::int32(1)},
        {"GlowLogoOn", PlistValue::int32(1)},
        {"ScrollLightOn", PlistValue::int32(1)},
        {"ButtonMappings", FactoryMappings()},
    });
}

PlistValue Preferences::InitPrefs() {
    const PlistValue profile = FactoryProfile();
    PlistValue profiles = PlistValue::array(PlistValue::Array(6, profile));
    SettingsDomain domain = Domain(BundleId());
    Write(BundleId(), PlistValue::dictionary({{"ProfileNumber", PlistValue::int32(1)},
                                              {"ProfileArray", std::move(profiles)}}));
    domain.synchronize();
    return domain.copyAll();
}

int Preferences::GetProfile() {
    SettingsDomain domain = Domain(BundleId());
    domain.synchronize();
    PlistValue top = domain.copyAll();
    if (top.size() == 0) {
        top = InitPrefs();
    }
    const PlistValue* number = top.find("ProfileNumber");
    if (!number) {
        // The profiles a user already has survive a lost profile number:
        // only a domain without a usable profile array gets the factory one.
        const PlistValue& profiles = top.get("ProfileArray");
        const bool usable = profiles.size() == 6 &&
                            std::all_of(profiles.items().begin(), profiles.items().end(),
                                        [](const PlistValue& p) { return p.isDictionary(); });
        if (usable) {
            Write(BundleId(), PlistValue::dictionary({{"ProfileNumber", PlistValue::int32(1)}}));
            domain.synchronize();
            top = domain.copyAll();
        } else {
            top = InitPrefs();
        }
        number = top.find("ProfileNumber");
    }
    if (!number || !number->isNumber()) {
        // Also a stored value of another kind: it is left as it is, and
        // nothing else of the domain is rewritten because of it.
        Application::PrintMsg("Sablecoil: Could not initialize preferences!");
        return 1;
    }
    return static_cast<int>(std::clamp<std::int64_t>(number->toInt64(1), INT32_MIN, INT32_MAX));
}

// A profile number outside the array (the array has the template at 0 and
// the five profiles at 1 to 5) names no profile.
std::optional<PlistValue> Preferences::LoadCurrentProfile() {
    const int n = GetProfile();
    const PlistValue profiles = Domain(BundleId()).copyValue("ProfileArray");
    if (!profiles.isArray() || n < 0 || static_cast<std::size_t>(n) >= profiles.size() ||
        !profiles.at(static_cast<std::size_t>(n)).isDictionary()) {
        return std::nullopt;
    }
    return profiles.at(static_cast<std::size_t>(n));
}

void Preferences::SaveCurrentProfile(const PlistValue& profile) {
    const int n = GetProfile();
    PlistValue profiles = Domain(BundleId()).copyValue("ProfileArray");
    if (!profiles.isArray() || n < 0 || static_cast<std::size_t>(n) >= profiles.size()) {
        return;
    }
    profiles.items()[static_cast<std::size_t>(n)] = profile;
    Write(BundleId(), PlistValue::dictionary({{"ProfileArray", std::move(profiles)}}));
}

void Preferences::SetProfile(int n) {
    Write(BundleId(), PlistValue::dictionary({{"ProfileNumber", PlistValue::int32(n)}}));
    SendPrefsToDriver(LoadCurrentProfile());
    PostProfileChangeNotification(n);
}

int Preferences::GetDpi() {
    const std::optional<PlistValue> profile = LoadCurrentProfile();
    if (!profile) {
        return 2;
    }
    const PlistValue& resolution = profile->get("Resolution");
    return resolution.isNumber() ? static_cast<int>(resolution.toInt64()) : 2;
}

void Preferences::SetDpi(int d) {
    std::optional<PlistValue> profile = LoadCurrentProfile();
    if (profile) {
        profile->set("Resolution", PlistValue::int32(d));
        SaveCurrentProfile(*profile);
        SendPrefsToDriver(profile);
    }
    PostDpiChangeNotification(d);
}

double Preferences::SetSensitivity(double value, SensType index) {
    // A NaN step leaves nothing sensible to store; keep the lowest value.
    const double clamped = std::isnan(value) ? 1.0 : std::clamp(value, 1.0, 10.0);
    fSens[index] = clamped;
    return clamped;
}

void Preferences::SendSensToDriver() {
    const ServiceHandle& sablecoil = Application::GetApp()->fSablecoil;
    if (sablecoil.empty()) {
        return;
    }
    PlistValue d = PlistValue::dictionary({
        {"Sensitivity", PlistValue::int32(ToFixed(fSens[kSensBoth]))},
        {"MasterSensitivityX", PlistValue::int32(ToFixed(fSens[kSensX]))},
        {"MasterSensitivityY", PlistValue::int32(ToFixed(fSens[kSensY]))},
    });
    PrintIOErrMsg(PlatformServices::current().registry().setProperties(sablecoil, d),
                  "Error setting Sablecoil property.");
}

void Preferences::SaveSensToPrefs() {
    std::optional<PlistValue> profile = LoadCurrentProfile();
    if (!profile) {
        return;
    }
    profile->set("Sensitivity", PlistValue::real(fSens[kSensBoth]));
    profile->set("MasterSensitivityX", PlistValue::real(fSens[kSensX]));
    profile->set("MasterSensitivityY", PlistValue::real(fSens[kSensY]));
    SaveCurrentProfile(*profile);
}

void Preferences::PostOtfsNotification() {
    PlistValue info = PlistValue::dictionary();
    if (fMasterSens) {
        info.set("MasterSensitivityX", PlistValue::real(fSens[kSensX]));
        info.set("MasterSensitivityY", PlistValue::real(fSens[kSensY]));
    } else {
        info.set("Sensitivity", PlistValue::real(fSens[kSensBoth]));
    }
    Post(kOtfsChange, std::move(info));
}

void Preferences::SendPrefsToDriver(const std::optional<PlistValue>& profile) {
    Application* app = Application::GetApp();
    HidSystem& hidSystem = PlatformServices::current().hidSystem();
    if (!profile || !profile->isDictionary() || app->fSablecoil.empty() ||
        app->fHidSystem.empty() || !hidSystem.isAvailable()) {
        return;
    }
    const PlistValue& p = *profile;
    PlistValue d = PlistValue::dictionary();

    const char* const sensKeys[3] = {"Sensitivity", "MasterSensitivityX", "MasterSensitivityY"};
    for (int i = 0; i < 3; ++i) {
        const PlistValue& v = p.get(sensKeys[i]);
        if (v.isNumber()) {
            fSens[i] = v.toReal();
            d.set(sensKeys[i], PlistValue::int32(ToFixed(fSens[i])));
        }
    }
    if (const PlistValue* v = p.find("MasterSensitivityOn"); v && v->isNumber()) {
        fMasterSens = v->toReal() != 0.0;
        d.set("MasterSensitivityOn", *v);
    }
    if (const PlistValue* v = p.find("MasterAccel"); v && v->isNumber()) {
        SetSystemAcceleration(v->toReal());
        d.set("HIDPointerAcceleration", PlistValue::int32(ToFixed(v->toReal())));
    }
    if (const PlistValue* v = p.find("MasterAccelOn"); v && v->isNumber()) {
        if (v->toReal() == 0.0) {
            SetSystemAcceleration(0.0);
        }
        d.set("MasterAccelOn", *v);
    }
    if (const PlistValue* v = p.find("Otfs"); v && v->isNumber()) {
        fOtfsOn = v->toReal() != 0.0;
        d.set("Otfs", *v);
    }
    if (const PlistValue* v = p.find("OtfsOnScreen"); v && v->isNumber()) {
        fOtfsOnScreen = v->toReal() == 1.0;
        d.set("OtfsOnScreen", *v);
    }
    if (const PlistValue* v = p.find("ScrollWheelSpeed"); v && v->isNumber()) {
        d.set("ScrollWheelSpeed", PlistValue::int32(ToFixed(v->toReal())));
    }
    for (const char* key :
         {"Resolution", "PollingRate", "GlowLogoOn", "ScrollLightOn", "ProfileNumber"}) {
        if (const PlistValue* v = p.find(key)) {
            d.set(key, *v);
        }
    }
    if (const PlistValue* mappings = p.find("ButtonMappings"); mappings && mappings->isArray()) {
        fMappingArray = *mappings;
        if (mappings->size() < 2) {
            d.set("ButtonMappings", *mappings);
        } else {
            std::int64_t leftHanded = 0;
            if (!SablecoilIsV1()) {
                leftHanded = p.get("LeftHanded").toInt64(0);
            }
            const int t0 = MapTypeOf(mappings->at(0));
            const int t1 = MapTypeOf(mappings->at(1));
            const bool exchange =
                (t0 == 1 && t1 == 0 && leftHanded == 0) || (t0 == 0 && t1 == 1 && leftHanded != 0);
            SetIsRightButtonPrimary(exchange);
            if (exchange) {
                PlistValue swapped = *mappings;
                std::swap(swapped.items()[0], swapped.items()[1]);
                d.set("ButtonMappings", std::move(swapped));
            } else {
                d.set("ButtonMappings", *mappings);
            }
        }
    }
    d.set("DeviceVersion", PlistValue::int32(SablecoilIsV1() ? 1 : 2));

    PrintIOErrMsg(PlatformServices::current().registry().setProperties(app->fSablecoil, d),
                  "Error setting Sablecoil property.");

    if (const PlistValue* v = p.find("DblClickSpeed"); v && v->isNumber()) {
        SetDblClickSpeed(v->toReal());
    }
}

void Preferences::ReadPrefs() {
    MakePrefsActive(BundleId());
    SendPrefsToDriver(LoadCurrentProfile());
}

void Preferences::SetFirmwareVersion(std::uint16_t version) {
    Write(BundleId(),
          PlistValue::dictionary({{"FirmwareVersion", PlistValue::unsignedInteger(
                                                          version, PlistValue::Width::Bits16)}}));
}

void Preferences::PostDpiChangeNotification(int d) {
    Post(kDpiChange, PlistValue::dictionary({{"Resolution", PlistValue::int32(d)}}));
}

void Preferences::PostProfileChangeNotification(int n) {
    Post(kProfileChange, PlistValue::dictionary({{"ProfileNumber", PlistValue::int32(n)}}));
}

void Preferences::PrintIOErrMsg(IoStatus status, const char* message) {
    printIoError(status, message);
}

// Narrows to single precision, scales by 65536 and truncates toward zero, so
// 9.8 becomes 642252. Values beyond the 32-bit range saturate and NaN gives 0
// rather than an undefined conversion.
std::int32_t Preferences::ToFixed(double value) {
    const double scaled = static_cast<double>(static_cast<float>(value)) * 65536.0;
    if (std::isnan(scaled)) {
        return 0;
    }
    if (scaled >= 2147483647.0) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (scaled <= -2147483648.0) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(scaled);
}
