// ButtonMapping: what one input of the mouse does, as the application edits it,
// and its encoding as a button mapping record (the bytes stored per input under
// "ButtonMappings" and read by the agent and the driver).
//
// Record layout: one unsigned byte of map type, then the payload chosen by the
// type (see MapType.h): the action string for types 3, 4, 6 and 7 running to
// the end of the record, a complete nested record for type 5, nothing
// otherwise. There is no header, length field or terminator.
#pragma once

#include "MapType.h"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

class ButtonMappingOwner;

class ButtonMapping {
public:
    // Real records nest at most once (a type-5 record holds a macro). Decoding
    // builds at most this many nested levels; a type-5 record at the deepest
    // level gets no nested mapping, so a hostile chain of type-5 bytes cannot
    // exhaust the stack or memory.
    static constexpr int kMaxNestingDepth = 8;

    // A new mapping: click, no text, no nested mapping, on-the-fly option off,
    // no owner.
    ButtonMapping() = default;
    ~ButtonMapping();

    // Copies are deep (the nested mapping is copied too). A mapping made from
    // another has no owner: an owner approves and hears about the mappings it
    // holds, not copies of them. Assignment replaces the content and keeps the
    // target's own owner; it does not notify.
    ButtonMapping(const ButtonMapping& other);
    ButtonMapping& operator=(const ButtonMapping& other);
    ButtonMapping(ButtonMapping&& other) noexcept;
    ButtonMapping& operator=(ButtonMapping&& other) noexcept;

    // Decodes one record into a new mapping without an owner. Never fails: type
    // bytes without a meaning here simply carry no payload.
    static std::unique_ptr<ButtonMapping> initWithData(std::span<const std::uint8_t> record);

    // Encodes the mapping as one record. Only the payload that the type carries
    // is written; the owner, the on-the-fly option and a text or nested mapping
    // the type does not carry are not part of the record.
    std::vector<std::uint8_t> toData() const;

    std::int32_t mapType() const { return fMapType; }
    // The text payload; empty when there is none.
    const std::string& auxData() const;
    // Whether the mapping holds a text at all (an empty text counts).
    bool hasAuxData() const { return fAuxData.has_value(); }
    // The nested mapping of a type-5 record, or nullptr.
    const ButtonMapping* advMapping() const { return fAdvMapping.get(); }
    bool otfs() const { return fOtfs; }
    ButtonMappingOwner* prefsController() const { return fPrefsController; }

    // Asks the owner whether the type is allowed; only then stores it and tells
    // the owner. Without an owner the type never changes through this call.
    void setMapType(std::int32_t mapType);
    // Stores the type without asking or telling the owner.
    void forceMapType(std::int32_t mapType);
    // Replaces the text (std::nullopt removes it) and tells the owner. The text
    // is not validated.
    void setAuxData(std::optional<std::string> auxData);
    // Stores the on-the-fly option. Turning it on for a macro (type 4) makes the
    // mapping a macro with on-the-fly sensitivity (type 5) whose nested mapping
    // is the macro, and tells the owner.
    void setOtfs(bool otfs);
    // Sets the owner; it is not owned and must outlive the mapping or be reset.
    void setPrefsController(ButtonMappingOwner* prefsController) {
        fPrefsController = prefsController;
    }

    // Compares type, text (absent and empty differ), nested mapping and the
    // on-the-fly option; the owner is not compared.
    bool operator==(const ButtonMapping& other) const;

private:
    void takeContentFrom(ButtonMapping&& other) noexcept;

    ButtonMappingOwner* fPrefsController = nullptr;
    std::int32_t fMapType = kMapClick;
    // Raw payload bytes: the texts are ASCII digits and commas, but any byte is
    // kept as it is so that a record survives decoding and encoding unchanged.
    std::optional<std::string> fAuxData;
    std::unique_ptr<ButtonMapping> fAdvMapping;
    bool fOtfs = false;
};

// Lets GoogleTest print mappings in failure messages.
void PrintTo(const ButtonMapping& mapping, std::ostream* os);
