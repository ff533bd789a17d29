// UinputEventPoster: synthetic key events as a uinput keyboard.
#include "UinputEventPoster.h"

#include "LibevdevUinputWriter.h"
#include "VirtualKeyCodes.h"

#include <linux/input-event-codes.h>

#include <array>

namespace {

// The key values of EV_KEY events.
constexpr std::int32_t kKeyRelease = 0;
constexpr std::int32_t kKeyPress = 1;
constexpr std::int32_t kKeyRepeat = 2;

constexpr std::uint32_t kCapsLockFlag = 0x10000;

struct ModifierKey {
    std::uint32_t flag;
    std::uint16_t key;
};

// The flags in the order their keys go down; they come up in the reverse order.
constexpr std::array sModifierKeys{
    ModifierKey{kCapsLockFlag, KEY_CAPSLOCK}, ModifierKey{0x20000, KEY_LEFTSHIFT},
    ModifierKey{0x40000, KEY_LEFTCTRL},       ModifierKey{0x80000, KEY_LEFTALT},
    ModifierKey{0x100000, KEY_LEFTMETA},
};

constexpr std::uint32_t kAllModifierFlags = [] {
    std::uint32_t all = 0;
    for (const ModifierKey& modifier : sModifierKeys) {
        all |= modifier.flag;
    }
    return all;
}();

// The auxiliary control keys: sound up, sound down, mute.
std::uint16_t auxKey(std::uint8_t auxKeyCode) {
    switch (auxKeyCode) {
    case 0:
        return KEY_VOLUMEUP;
    case 1:
        return KEY_VOLUMEDOWN;
    case 7:
        return KEY_MUTE;
    default:
        return KEY_RESERVED;
    }
}

constexpr std::uint8_t kSubtypeEject = 10;

} // namespace

UinputEventPoster::UinputEventPoster()
    : UinputEventPoster(std::make_unique<LibevdevUinputWriter>()) {}

UinputEventPoster::UinputEventPoster(std::unique_ptr<InputEventWriter> writer)
    : fWriter(std::move(writer)) {}

std::vector<std::uint16_t> UinputEventPoster::keyboardKeys() {
    std::vector<std::uint16_t> keys;
    for (const VirtualKeyMapping& mapping : virtualKeyMappings()) {
        keys.push_back(mapping.linuxKey);
    }
    keys.insert(keys.end(), {KEY_VOLUMEUP, KEY_VOLUMEDOWN, KEY_MUTE, KEY_EJECTCD});
    return keys;
}

IoStatus UinputEventPoster::open() {
    if (fOpen) {
        return kIoSuccess;
    }
    const std::vector<std::uint16_t> keys = keyboardKeys();
    const IoStatus status = fWriter->create(kDeviceName, keys);
    if (status != kIoSuccess) {
        // The agent asks again before every post; say why only once per reason.
        if (fWriter->lastError() != fReportedError) {
            fReportedError = fWriter->lastError();
            printIoError(status, ("Sablecoil: no virtual keyboard, " + fReportedError).c_str());
        }
        return status;
    }
    fOpen = true;
    fHeldFlags = 0;
    fReportedError.clear();
    return kIoSuccess;
}

IoStatus UinputEventPoster::ensureOpen() {
    return fOpen ? kIoSuccess : open();
}

IoStatus UinputEventPoster::writeEvent(std::uint16_t code, std::int32_t value) {
    return fWriter->write(EV_KEY, code, value);
}

IoStatus UinputEventPoster::sync() {
    return fWriter->write(EV_SYN, SYN_REPORT, 0);
}

// A press and a release, each in a report of its own, so that every reader
// sees the key go down.
IoStatus UinputEventPoster::tap(std::uint16_t code) {
    IoStatus status = writeEvent(code, kKeyPress);
    if (status == kIoSuccess) {
        status = sync();
    }
    if (status == kIoSuccess) {
        status = writeEvent(code, kKeyRelease);
    }
    if (status == kIoSuccess) {
        status = sync();
    }
    return status;
}

IoStatus UinputEventPoster::postKey(std::uint8_t keyCode, bool down, bool repeat) {
    const std::uint16_t key = linuxKeyCode(keyCode);
    if (key == KEY_RESERVED) {
        return kIoBadArgument;
    }
    if (const IoStatus status = ensureOpen(); status != kIoSuccess) {
        return status;
    }
    IoStatus status = writeEvent(key, down ? (repeat ? kKeyRepeat : kKeyPress) : kKeyRelease);
    if (status == kIoSuccess) {
        status = sync();
    }
    return status;
}

IoStatus UinputEventPoster::postFlagsChanged(std::uint32_t flags) {
    if (const IoStatus status = ensureOpen(); status != kIoSuccess) {
        return status;
    }
    const std::uint32_t wanted = flags & kAllModifierFlags;
    const std::uint32_t changed = wanted ^ fHeldFlags;
    if (changed == 0) {
        return kIoSuccess; // nothing to press or release: no empty report
    }
    IoStatus status = kIoSuccess;
    // Caps Lock is a lock: its flag changes with one press and release.
    if (changed & kCapsLockFlag) {
        status = tap(KEY_CAPSLOCK);
        if (status != kIoSuccess) {
            return status;
        }
        fHeldFlags ^= kCapsLockFlag;
    }
    bool wrote = false;
    for (auto it = sModifierKeys.rbegin(); it != sModifierKeys.rend(); ++it) {
        if (it->flag != kCapsLockFlag && (changed & it->flag) && !(wanted & it->flag)) {
            if ((status = writeEvent(it->key, kKeyRelease)) != kIoSuccess) {
                return status;
            }
            fHeldFlags &= ~it->flag;
            wrote = true;
        }
    }
    for (const ModifierKey& modifier : sModifierKeys) {
        if (modifier.flag != kCapsLockFlag && (changed & modifier.flag) &&
            (wanted & modifier.flag)) {
            if ((status = writeEvent(modifier.key, kKeyPress)) != kIoSuccess) {
                return status;
            }
            fHeldFlags |= modifier.flag;
            wrote = true;
        }
    }
    return wrote ? sync() : kIoSuccess;
}

// The single-key path holds the key for as long as the button is held; the
// flags state is left alone, so the closing flags change of the key sequence
// does not let go of it.
IoStatus UinputEventPoster::postKeyboardEvent(std::uint8_t keyCode, bool down) {
    return postKey(keyCode, down, false);
}

IoStatus UinputEventPoster::postAuxKey(std::uint8_t auxKeyCode) {
    const std::uint16_t key = auxKey(auxKeyCode);
    if (key == KEY_RESERVED) {
        return kIoBadArgument;
    }
    if (const IoStatus status = ensureOpen(); status != kIoSuccess) {
        return status;
    }
    // A lone press would stay down on Linux: the release follows at once.
    return tap(key);
}

IoStatus UinputEventPoster::postSystemDefined(std::uint8_t subtype) {
    if (subtype != kSubtypeEject) {
        return kIoUnsupported;
    }
    if (const IoStatus status = ensureOpen(); status != kIoSuccess) {
        return status;
    }
    return tap(KEY_EJECTCD);
}
