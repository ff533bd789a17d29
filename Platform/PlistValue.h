// PlistValue: the one value type for settings, configuration files, driver
// property dictionaries and notification user information.
//
// A value is one of: nothing (an absent value), dictionary (keys keep their
// insertion order), array, data (bytes), string, integer (remembers its width
// and signedness), real (double) or boolean. Values copy deeply; equality
// compares content (integers by numeric value, whatever their width, since a
// stored property list does not carry the width; dictionaries regardless of
// key order).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

class PlistValue {
public:
    enum class Type : std::uint8_t {
        None,
        Dictionary,
        Array,
        Data,
        String,
        Integer,
        Real,
        Boolean
    };
    enum class Width : std::uint8_t { Bits8 = 8, Bits16 = 16, Bits32 = 32, Bits64 = 64 };

    using Dictionary = std::vector<std::pair<std::string, PlistValue>>;
    using Array = std::vector<PlistValue>;
    using Data = std::vector<std::uint8_t>;

    struct Integer {
        std::uint64_t bits = 0; // two's complement bits of the value, sign-extended to 64
        Width width = Width::Bits64;
        bool isSigned = true;
        bool operator==(const Integer&) const = default;
    };

    PlistValue() = default; // None

    // Construction
    static PlistValue dictionary(Dictionary entries = {});
    static PlistValue array(Array items = {});
    static PlistValue data(Data bytes);
    static PlistValue data(const std::uint8_t* bytes, std::size_t length);
    static PlistValue string(std::string text);
    static PlistValue integer(std::int64_t value, Width width = Width::Bits64);
    static PlistValue unsignedInteger(std::uint64_t value, Width width = Width::Bits64);
    static PlistValue int16(std::int16_t value) { return integer(value, Width::Bits16); }
    static PlistValue int32(std::int32_t value) { return integer(value, Width::Bits32); }
    static PlistValue int64(std::int64_t value) { return integer(value, Width::Bits64); }
    static PlistValue uint32(std::uint32_t value) { return unsignedInteger(value, Width::Bits32); }
    static PlistValue real(double value);
    static PlistValue boolean(bool value);

    // Kind
    Type type() const { return static_cast<Type>(fContent.index()); }
    bool isNone() const { return type() == Type::None; }
    bool isDictionary() const { return type() == Type::Dictionary; }
    bool isArray() const { return type() == Type::Array; }
    bool isData() const { return type() == Type::Data; }
    bool isString() const { return type() == Type::String; }
    bool isInteger() const { return type() == Type::Integer; }
    bool isReal() const { return type() == Type::Real; }
    bool isBoolean() const { return type() == Type::Boolean; }
    // A number is an integer or a real (booleans are not numbers).
    bool isNumber() const { return isInteger() || isReal(); }
    static const char* typeName(Type type);

    // Scalar access with a default for a value of another kind. Numbers convert
    // between integer and real (a real is truncated toward zero, saturated).
    std::int64_t toInt64(std::int64_t fallback = 0) const;
    std::uint64_t toUInt64(std::uint64_t fallback = 0) const;
    double toReal(double fallback = 0.0) const;
    bool toBool(bool fallback = false) const; // booleans and numbers (non-zero)
    std::string toString(std::string fallback = {}) const;

    // Integer details; meaningful only for integers.
    Width integerWidth() const;
    bool integerIsSigned() const;

    // Container access. The mutable forms turn a value of another kind into an
    // empty container of the asked kind first.
    const Dictionary& dict() const;
    Dictionary& dict();
    const Array& items() const;
    Array& items();
    const Data& bytes() const;
    const std::string& text() const;

    // Number of entries of a dictionary or array, bytes of data, else 0.
    std::size_t size() const;

    // Dictionary operations
    const PlistValue* find(std::string_view key) const;
    PlistValue* find(std::string_view key);
    bool contains(std::string_view key) const { return find(key) != nullptr; }
    // The value under key, or an empty value when absent (or not a dictionary).
    const PlistValue& get(std::string_view key) const;
    // Replaces the value in place when the key exists, else appends it.
    void set(std::string_view key, PlistValue value);
    bool remove(std::string_view key);

    // Typed lookup with a default, for the common "read a setting" case.
    std::int64_t intFor(std::string_view key, std::int64_t fallback = 0) const;
    double realFor(std::string_view key, double fallback = 0.0) const;
    bool boolFor(std::string_view key, bool fallback = false) const;
    std::string stringFor(std::string_view key, std::string fallback = {}) const;

    // Array operations
    void append(PlistValue value);
    const PlistValue& at(std::size_t index) const; // empty value when out of range

    bool operator==(const PlistValue& other) const;
    bool operator!=(const PlistValue& other) const { return !(*this == other); }

    // A readable, indented rendering for logs and test failures.
    std::string debugString() const;

private:
    void debugPrint(std::string& out, int indent) const;

    std::variant<std::monostate, Dictionary, Array, Data, std::string, Integer, double, bool>
        fContent;
};

// Lets GoogleTest print values in failure messages.
void PrintTo(const PlistValue& value, std::ostream* os);
