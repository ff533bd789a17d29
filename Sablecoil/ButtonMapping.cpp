// ButtonMapping: decoding and encoding of a button mapping record, and the
// edits the application makes to one input's mapping.
//
// The nested mappings form a chain (a type-5 mapping holds a macro). Decoding,
// encoding, copying, comparing and destroying walk that chain in loops rather
// than by recursion, and decoding limits its length (kMaxNestingDepth).
#include "ButtonMapping.h"

#include "ButtonMappingOwner.h"

#include <cstdio>
#include <ostream>
#include <utility>

namespace {

const std::string sNoText;

} // namespace

ButtonMapping::~ButtonMapping() {
    // Unlink the nested chain one level at a time so that destroying a long
    // chain does not recurse.
    std::unique_ptr<ButtonMapping> next = std::move(fAdvMapping);
    while (next) {
        next = std::move(next->fAdvMapping);
    }
}

ButtonMapping::ButtonMapping(const ButtonMapping& other) {
    ButtonMapping* target = this;
    for (const ButtonMapping* source = &other; source != nullptr;
         source = source->fAdvMapping.get()) {
        target->fMapType = source->fMapType;
        target->fAuxData = source->fAuxData;
        target->fOtfs = source->fOtfs;
        if (source->fAdvMapping) {
            target->fAdvMapping = std::make_unique<ButtonMapping>();
            target = target->fAdvMapping.get();
        }
    }
}

ButtonMapping& ButtonMapping::operator=(const ButtonMapping& other) {
    if (this != &other) {
        // Copy first: other may be part of this mapping's own chain.
        takeContentFrom(ButtonMapping(other));
    }
    return *this;
}

ButtonMapping::ButtonMapping(ButtonMapping&& other) noexcept {
    takeContentFrom(std::move(other));
}

ButtonMapping& ButtonMapping::operator=(ButtonMapping&& other) noexcept {
    if (this != &other) {
        takeContentFrom(std::move(other));
    }
    return *this;
}

void ButtonMapping::takeContentFrom(ButtonMapping&& other) noexcept {
    fMapType = other.fMapType;
    fAuxData = std::move(other.fAuxData);
    other.fAuxData.reset();
    // The old chain is released by the unique_ptr assignment; its destructor
    // unlinks it level by level.
    fAdvMapping = std::move(other.fAdvMapping);
    fOtfs = other.fOtfs;
}

std::unique_ptr<ButtonMapping> ButtonMapping::initWithData(std::span<const std::uint8_t> record) {
    auto mapping = std::make_unique<ButtonMapping>();
    // A record of zero bytes is never written by the system; it decodes as a
    // new mapping: map type 0 (click) without payload.
    if (record.empty()) {
        return mapping;
    }

    ButtonMapping* current = mapping.get();
    int depth = 0;
    for (;;) {
        const std::uint8_t type = record.front();
        const std::span<const std::uint8_t> payload = record.subspan(1);
        current->fMapType = type;
        if (mapTypeHasText(type)) {
            // The rest of the record is the text, byte for byte (an empty text
            // for a one-byte record).
            current->fAuxData.emplace(payload.begin(), payload.end());
            break;
        }
        // A one-byte type-5 record has no nested mapping (it encodes back to
        // the single byte); at the deepest allowed level the rest is ignored.
        if (mapTypeHasNestedRecord(type) && !payload.empty() && depth < kMaxNestingDepth) {
            current->fAdvMapping = std::make_unique<ButtonMapping>();
            current = current->fAdvMapping.get();
            record = payload;
            ++depth;
            continue;
        }
        // Every other type is the type byte alone; any further bytes are ignored.
        break;
    }
    return mapping;
}

std::vector<std::uint8_t> ButtonMapping::toData() const {
    std::vector<std::uint8_t> record;
    const ButtonMapping* current = this;
    while (current != nullptr) {
        record.push_back(static_cast<std::uint8_t>(current->fMapType & 0xFF));
        // Whether a payload follows depends on the whole type taken as
        // unsigned: negative or large types have none.
        const auto type = static_cast<std::uint32_t>(current->fMapType);
        if (mapTypeHasText(type)) {
            if (current->fAuxData) {
                record.insert(record.end(), current->fAuxData->begin(), current->fAuxData->end());
            }
            break;
        }
        if (!mapTypeHasNestedRecord(type)) {
            break;
        }
        current = current->fAdvMapping.get(); // none: the type byte alone
    }
    return record;
}

const std::string& ButtonMapping::auxData() const {
    return fAuxData ? *fAuxData : sNoText;
}

void ButtonMapping::setMapType(std::int32_t mapType) {
    if (fPrefsController == nullptr ||
        !fPrefsController->isValidMapTypeForMapping(mapType, *this)) {
        return;
    }
    fMapType = mapType;
    fPrefsController->notifyMappingPrefsChange();
}

void ButtonMapping::forceMapType(std::int32_t mapType) {
    fMapType = mapType;
}

void ButtonMapping::setAuxData(std::optional<std::string> auxData) {
    fAuxData = std::move(auxData);
    if (fPrefsController != nullptr) {
        fPrefsController->notifyMappingPrefsChange();
    }
}

void ButtonMapping::setOtfs(bool otfs) {
    fOtfs = otfs;
    if (!otfs || fMapType != kMapMacro) {
        // Turning the option off does not make a type-5 mapping a macro again,
        // and it means nothing for other types.
        return;
    }
    // Macro and macro with on-the-fly sensitivity are both not click, so the
    // owner's click rule cannot be affected: no need to ask.
    fMapType = kMapMacroOtfs;
    if (!fAdvMapping) {
        fAdvMapping = std::make_unique<ButtonMapping>();
    }
    fAdvMapping->forceMapType(kMapMacro);
    fAdvMapping->setAuxData(fAuxData); // the nested mapping has no owner
    if (fPrefsController != nullptr) {
        fPrefsController->notifyMappingPrefsChange();
    }
}

bool ButtonMapping::operator==(const ButtonMapping& other) const {
    const ButtonMapping* a = this;
    const ButtonMapping* b = &other;
    while (a != nullptr && b != nullptr) {
        if (a->fMapType != b->fMapType || a->fAuxData != b->fAuxData || a->fOtfs != b->fOtfs) {
            return false;
        }
        a = a->fAdvMapping.get();
        b = b->fAdvMapping.get();
    }
    return a == nullptr && b == nullptr;
}

void PrintTo(const ButtonMapping& mapping, std::ostream* os) {
    int levels = 0;
    for (const ButtonMapping* m = &mapping; m != nullptr; m = m->advMapping()) {
        *os << (levels++ == 0 ? "{" : " nested {") << "type " << m->mapType() << ", text ";
        if (!m->hasAuxData()) {
            *os << "none";
        } else {
            *os << '"';
            for (const char c : m->auxData()) {
                const auto byte = static_cast<unsigned char>(c);
                if (byte >= 0x20 && byte < 0x7F) {
                    *os << c;
                } else {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
                    *os << escaped;
                }
            }
            *os << '"';
        }
        *os << ", otfs " << (m->otfs() ? "on" : "off");
    }
    for (int i = 0; i < levels; ++i) {
        *os << '}';
    }
}
