// PlistValue: construction, typed access, comparison and debug printing.
#include "PlistValue.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <ostream>

namespace {

const PlistValue sNone;
const PlistValue::Dictionary sEmptyDict;
const PlistValue::Array sEmptyArray;
const PlistValue::Data sEmptyData;
const std::string sEmptyString;

std::uint64_t truncateTo(std::uint64_t bits, PlistValue::Width width, bool isSigned) {
    switch (width) {
    case PlistValue::Width::Bits8:
        return isSigned ? static_cast<std::uint64_t>(
                              static_cast<std::int64_t>(static_cast<std::int8_t>(bits)))
                        : (bits & 0xFFu);
    case PlistValue::Width::Bits16:
        return isSigned ? static_cast<std::uint64_t>(
                              static_cast<std::int64_t>(static_cast<std::int16_t>(bits)))
                        : (bits & 0xFFFFu);
    case PlistValue::Width::Bits32:
        return isSigned ? static_cast<std::uint64_t>(
                              static_cast<std::int64_t>(static_cast<std::int32_t>(bits)))
                        : (bits & 0xFFFFFFFFu);
    case PlistValue::Width::Bits64:
        break;
    }
    return bits;
}

// Whether an integer is negative as a number (only signed integers can be).
bool isNegative(const PlistValue::Integer& i) {
    return i.isSigned && static_cast<std::int64_t>(i.bits) < 0;
}

} // namespace

PlistValue PlistValue::dictionary(Dictionary entries) {
    PlistValue v;
    v.fContent = std::move(entries);
    return v;
}

PlistValue PlistValue::array(Array items) {
    PlistValue v;
    v.fContent = std::move(items);
    return v;
}

PlistValue PlistValue::data(Data bytes) {
    PlistValue v;
    v.fContent = std::move(bytes);
    return v;
}

PlistValue PlistValue::data(const std::uint8_t* bytes, std::size_t length) {
    return data(Data(bytes, bytes + length));
}

PlistValue PlistValue::string(std::string text) {
    PlistValue v;
    v.fContent = std::move(text);
    return v;
}

PlistValue PlistValue::integer(std::int64_t value, Width width) {
    PlistValue v;
    v.fContent = Integer{truncateTo(static_cast<std::uint64_t>(value), width, true), width, true};
    return v;
}

PlistValue PlistValue::unsignedInteger(std::uint64_t value, Width width) {
    PlistValue v;
    v.fContent = Integer{truncateTo(value, width, false), width, false};
    return v;
}

PlistValue PlistValue::real(double value) {
    PlistValue v;
    v.fContent = value;
    return v;
}

PlistValue PlistValue::boolean(bool value) {
    PlistValue v;
    v.fContent = value;
    return v;
}

const char* PlistValue::typeName(Type type) {
    switch (type) {
    case Type::None:
        return "none";
    case Type::Dictionary:
        return "dictionary";
    case Type::Array:
        return "array";
    case Type::Data:
        return "data";
    case Type::String:
        return "string";
    case Type::Integer:
        return "integer";
    case Type::Real:
        return "real";
    case Type::Boolean:
        return "boolean";
    }
    return "unknown";
}

std::int64_t PlistValue::toInt64(std::int64_t fallback) const {
    if (const auto* i = std::get_if<Integer>(&fContent)) {
        return static_cast<std::int64_t>(i->bits);
    }
    if (const auto* d = std::get_if<double>(&fContent)) {
        if (std::isnan(*d)) {
            return fallback;
        }
        if (*d >= 9.2233720368547758e18) {
            return std::numeric_limits<std::int64_t>::max();
        }
        if (*d <= -9.2233720368547758e18) {
            return std::numeric_limits<std::int64_t>::min();
        }
        return static_cast<std::int64_t>(*d);
    }
    return fallback;
}

std::uint64_t PlistValue::toUInt64(std::uint64_t fallback) const {
    if (const auto* i = std::get_if<Integer>(&fContent)) {
        return i->bits;
    }
    if (isReal()) {
        return static_cast<std::uint64_t>(toInt64(static_cast<std::int64_t>(fallback)));
    }
    return fallback;
}

double PlistValue::toReal(double fallback) const {
    if (const auto* i = std::get_if<Integer>(&fContent)) {
        return i->isSigned ? static_cast<double>(static_cast<std::int64_t>(i->bits))
                           : static_cast<double>(i->bits);
    }
    if (const auto* d = std::get_if<double>(&fContent)) {
        return *d;
    }
    return fallback;
}

bool PlistValue::toBool(bool fallback) const {
    if (const auto* b = std::get_if<bool>(&fContent)) {
        return *b;
    }
    if (const auto* i = std::get_if<Integer>(&fContent)) {
        return i->bits != 0;
    }
    if (const auto* d = std::get_if<double>(&fContent)) {
        return *d != 0.0;
    }
    return fallback;
}

std::string PlistValue::toString(std::string fallback) const {
    if (const auto* s = std::get_if<std::string>(&fContent)) {
        return *s;
    }
    return fallback;
}

PlistValue::Width PlistValue::integerWidth() const {
    if (const auto* i = std::get_if<Integer>(&fContent)) {
        return i->width;
    }
    return Width::Bits64;
}

bool PlistValue::integerIsSigned() const {
    if (const auto* i = std::get_if<Integer>(&fContent)) {
        return i->isSigned;
    }
    return true;
}

const PlistValue::Dictionary& PlistValue::dict() const {
    if (const auto* d = std::get_if<Dictionary>(&fContent)) {
        return *d;
    }
    return sEmptyDict;
}

PlistValue::Dictionary& PlistValue::dict() {
    if (!isDictionary()) {
        fContent = Dictionary{};
    }
    return std::get<Dictionary>(fContent);
}

const PlistValue::Array& PlistValue::items() const {
    if (const auto* a = std::get_if<Array>(&fContent)) {
        return *a;
    }
    return sEmptyArray;
}

PlistValue::Array& PlistValue::items() {
    if (!isArray()) {
        fContent = Array{};
    }
    return std::get<Array>(fContent);
}

const PlistValue::Data& PlistValue::bytes() const {
    if (const auto* d = std::get_if<Data>(&fContent)) {
        return *d;
    }
    return sEmptyData;
}

const std::string& PlistValue::text() const {
    if (const auto* s = std::get_if<std::string>(&fContent)) {
        return *s;
    }
    return sEmptyString;
}

std::size_t PlistValue::size() const {
    switch (type()) {
    case Type::Dictionary:
        return std::get<Dictionary>(fContent).size();
    case Type::Array:
        return std::get<Array>(fContent).size();
    case Type::Data:
        return std::get<Data>(fContent).size();
    default:
        return 0;
    }
}

const PlistValue* PlistValue::find(std::string_view key) const {
    if (const auto* d = std::get_if<Dictionary>(&fContent)) {
        for (const auto& [k, v] : *d) {
            if (k == key) {
                return &v;
            }
        }
    }
    return nullptr;
}

PlistValue* PlistValue::find(std::string_view key) {
    return const_cast<PlistValue*>(std::as_const(*this).find(key));
}

const PlistValue& PlistValue::get(std::string_view key) const {
    const PlistValue* v = find(key);
    return v ? *v : sNone;
}

void PlistValue::set(std::string_view key, PlistValue value) {
    if (PlistValue* existing = find(key)) {
        *existing = std::move(value);
        return;
    }
    dict().emplace_back(std::string(key), std::move(value));
}

bool PlistValue::remove(std::string_view key) {
    auto* d = std::get_if<Dictionary>(&fContent);
    if (!d) {
        return false;
    }
    for (auto it = d->begin(); it != d->end(); ++it) {
        if (it->first == key) {
            d->erase(it);
            return true;
        }
    }
    return false;
}

std::int64_t PlistValue::intFor(std::string_view key, std::int64_t fallback) const {
    return get(key).toInt64(fallback);
}

double PlistValue::realFor(std::string_view key, double fallback) const {
    return get(key).toReal(fallback);
}

bool PlistValue::boolFor(std::string_view key, bool fallback) const {
    return get(key).toBool(fallback);
}

std::string PlistValue::stringFor(std::string_view key, std::string fallback) const {
    return get(key).toString(std::move(fallback));
}

void PlistValue::append(PlistValue value) {
    items().push_back(std::move(value));
}

const PlistValue& PlistValue::at(std::size_t index) const {
    const Array& a = items();
    return index < a.size() ? a[index] : sNone;
}

bool PlistValue::operator==(const PlistValue& other) const {
    if (type() != other.type()) {
        return false;
    }
    if (const auto* i = std::get_if<Integer>(&fContent)) {
        const auto& o = std::get<Integer>(other.fContent);
        return i->bits == o.bits && isNegative(*i) == isNegative(o);
    }
    if (const auto* d = std::get_if<double>(&fContent)) {
        const double o = std::get<double>(other.fContent);
        return *d == o || (std::isnan(*d) && std::isnan(o));
    }
    if (const auto* d = std::get_if<Dictionary>(&fContent)) {
        // Keys are unique and their order carries no meaning for equality.
        const auto& o = std::get<Dictionary>(other.fContent);
        if (d->size() != o.size()) {
            return false;
        }
        for (const auto& [key, value] : *d) {
            const PlistValue* theirs = other.find(key);
            if (!theirs || *theirs != value) {
                return false;
            }
        }
        return true;
    }
    if (const auto* a = std::get_if<Array>(&fContent)) {
        const auto& o = std::get<Array>(other.fContent);
        return a->size() == o.size() && std::equal(a->begin(), a->end(), o.begin());
    }
    return fContent == other.fContent;
}

void PlistValue::debugPrint(std::string& out, int indent) const {
    const std::string pad(static_cast<std::size_t>(indent) * 2, ' ');
    char buf[64];
    switch (type()) {
    case Type::None:
        out += "(none)";
        break;
    case Type::Dictionary: {
        const auto& d = std::get<Dictionary>(fContent);
        if (d.empty()) {
            out += "{}";
            break;
        }
        out += "{\n";
        for (const auto& [k, v] : d) {
            out += pad + "  \"" + k + "\" = ";
            v.debugPrint(out, indent + 1);
            out += "\n";
        }
        out += pad + "}";
        break;
    }
    case Type::Array: {
        const auto& a = std::get<Array>(fContent);
        if (a.empty()) {
            out += "[]";
            break;
        }
        out += "[\n";
        for (const auto& v : a) {
            out += pad + "  ";
            v.debugPrint(out, indent + 1);
            out += "\n";
        }
        out += pad + "]";
        break;
    }
    case Type::Data: {
        out += "<";
        const auto& d = std::get<Data>(fContent);
        for (std::size_t n = 0; n < d.size(); ++n) {
            std::snprintf(buf, sizeof buf, n ? " %02x" : "%02x", d[n]);
            out += buf;
        }
        out += ">";
        break;
    }
    case Type::String:
        out += "\"" + std::get<std::string>(fContent) + "\"";
        break;
    case Type::Integer: {
        const auto& i = std::get<Integer>(fContent);
        if (i.isSigned) {
            std::snprintf(buf, sizeof buf, "%lld (int%d)",
                          static_cast<long long>(static_cast<std::int64_t>(i.bits)),
                          static_cast<int>(i.width));
        } else {
            std::snprintf(buf, sizeof buf, "%llu (uint%d)", static_cast<unsigned long long>(i.bits),
                          static_cast<int>(i.width));
        }
        out += buf;
        break;
    }
    case Type::Real:
        std::snprintf(buf, sizeof buf, "%.17g", std::get<double>(fContent));
        out += buf;
        break;
    case Type::Boolean:
        out += std::get<bool>(fContent) ? "true" : "false";
        break;
    }
}

std::string PlistValue::debugString() const {
    std::string out;
    debugPrint(out, 0);
    return out;
}

void PrintTo(const PlistValue& value, std::ostream* os) {
    *os << value.debugString();
}
