// PlistCodec: libplist-backed reading and writing of property lists, with the
// input checks that keep libplist away from inputs it cannot handle safely
// (its binary parser and its tree release recurse once per nesting level, and
// its binary parser expands shared objects once per use).
#include "PlistCodec.h"

#include <plist/plist.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_set>
#include <vector>

namespace {

struct PlistFree {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

struct MallocFree {
    void operator()(void* p) const { std::free(p); }
};
using CharPtr = std::unique_ptr<char, MallocFree>;

const std::string_view sBinaryMagic = "bplist00";
const std::string sDepthMessage =
    "nesting deeper than " + std::to_string(PlistCodec::kMaxDepth) + " levels";

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool startsWith(std::string_view s, std::size_t at, std::string_view prefix) {
    return s.size() - at >= prefix.size() && s.compare(at, prefix.size(), prefix) == 0;
}

// --- XML pre-checks -------------------------------------------------------

// Checks that the text looks like a complete XML property list and that its
// containers do not nest deeper than the limit. Comments, CDATA sections,
// processing instructions and declarations are skipped as a parser would.
Status checkXml(std::string_view xml) {
    std::size_t end = xml.size();
    while (end > 0 && (isSpace(xml[end - 1]) || xml[end - 1] == '\0')) {
        --end;
    }
    if (xml.find("<plist") == std::string_view::npos) {
        return Status::fail("not a property list");
    }
    if (end < 8 || xml.substr(end - 8, 8) != "</plist>") {
        return Status::fail("truncated: the closing </plist> is missing");
    }
    int depth = 0;
    std::size_t i = 0;
    while ((i = xml.find('<', i)) != std::string_view::npos) {
        const auto skipTo = [&](std::string_view terminator) {
            const std::size_t at = xml.find(terminator, i);
            i = at == std::string_view::npos ? xml.size() : at + terminator.size();
        };
        if (startsWith(xml, i, "<!--")) {
            skipTo("-->");
        } else if (startsWith(xml, i, "<![CDATA[")) {
            skipTo("]]>");
        } else if (startsWith(xml, i, "<!") || startsWith(xml, i, "<?")) {
            skipTo(">");
        } else if (startsWith(xml, i, "</array") || startsWith(xml, i, "</dict")) {
            depth = depth > 0 ? depth - 1 : 0;
            ++i;
        } else if (startsWith(xml, i, "<array") || startsWith(xml, i, "<dict")) {
            const std::size_t close = xml.find('>', i);
            if (close == std::string_view::npos) {
                return Status::fail("truncated: an element is not closed");
            }
            if (xml[close - 1] != '/' && ++depth > PlistCodec::kMaxDepth) {
                return Status::fail(sDepthMessage);
            }
            i = close + 1;
        } else {
            ++i;
        }
    }
    return Status::success();
}

// --- Binary pre-checks ----------------------------------------------------

// The layout of a binary property list ("bplist00"): objects, an offset table
// and a 32-byte trailer. Every read is bounds-checked.
class BinaryLayout {
public:
    explicit BinaryLayout(std::string_view bytes)
        : fData(reinterpret_cast<const std::uint8_t*>(bytes.data())), fSize(bytes.size()) {}

    Status parseTrailer() {
        if (fSize < sBinaryMagic.size() + 32) {
            return Status::fail("truncated binary property list");
        }
        const std::size_t t = fSize - 32;
        fOffsetSize = fData[t + 6];
        fRefSize = fData[t + 7];
        fObjectCount = readBigEndian(t + 8, 8);
        fRoot = readBigEndian(t + 16, 8);
        fTableOffset = readBigEndian(t + 24, 8);
        if (fOffsetSize < 1 || fOffsetSize > 8 || fRefSize < 1 || fRefSize > 8) {
            return Status::fail("corrupt binary property list (bad trailer)");
        }
        if (fObjectCount == 0 || fRoot >= fObjectCount) {
            return Status::fail("corrupt binary property list (bad object count)");
        }
        if (fObjectCount > PlistCodec::kMaxNodes) {
            return Status::fail("binary property list has too many objects");
        }
        if (fTableOffset < sBinaryMagic.size() || fTableOffset > t ||
            (t - fTableOffset) / fOffsetSize < fObjectCount) {
            return Status::fail("truncated binary property list (offset table out of range)");
        }
        return Status::success();
    }

    std::uint64_t objectCount() const { return fObjectCount; }
    std::uint64_t root() const { return fRoot; }
    std::uint64_t refSize() const { return fRefSize; }

    // Where object `index` starts; 0 when the offset lies outside the objects.
    std::uint64_t objectOffset(std::uint64_t index) const {
        const std::uint64_t offset = readBigEndian(fTableOffset + index * fOffsetSize, fOffsetSize);
        return offset >= sBinaryMagic.size() && offset < fTableOffset ? offset : 0;
    }

    struct Object {
        std::uint8_t kind = 0;      // high nibble of the marker
        bool isContainer = false;   // array, set or dictionary
        std::uint64_t refs = 0;     // references that follow (keys and values)
        std::uint64_t refStart = 0; // where they start
        std::uint64_t payloadStart = 0;
        std::uint64_t payloadLength = 0;
    };

    // Decodes the marker and length of one object and checks that its payload
    // lies inside the object area.
    Result<Object> object(std::uint64_t index) const {
        const std::uint64_t offset = objectOffset(index);
        if (offset == 0) {
            return Result<Object>::fail(
                "corrupt binary property list (object offset out of range)");
        }
        const std::uint8_t marker = fData[offset];
        Object o;
        o.kind = marker >> 4;
        std::uint64_t count = marker & 0x0F;
        std::uint64_t pos = offset + 1;
        const bool sized = o.kind == 0x4 || o.kind == 0x5 || o.kind == 0x6 || o.kind == 0xA ||
                           o.kind == 0xC || o.kind == 0xD;
        if (sized && count == 0x0F) {
            if (pos >= fTableOffset || (fData[pos] >> 4) != 0x1) {
                return Result<Object>::fail("corrupt binary property list (bad length)");
            }
            const unsigned width = 1u << (fData[pos] & 0x0F);
            if (width > 8 || pos + 1 + width > fTableOffset) {
                return Result<Object>::fail("corrupt binary property list (bad length)");
            }
            count = readBigEndian(pos + 1, width);
            pos += 1 + width;
        }
        const std::uint64_t room = fTableOffset - pos;
        std::uint64_t payload = 0;
        switch (o.kind) {
        case 0x0:
            break;
        case 0x1:
        case 0x2:
            payload = std::uint64_t{1} << (count & 0x7);
            break;
        case 0x3:
            payload = 8;
            break;
        case 0x4:
        case 0x5:
            payload = count;
            break;
        case 0x6:
            if (count > room / 2) {
                return Result<Object>::fail("truncated binary property list (string too long)");
            }
            payload = count * 2;
            break;
        case 0x8:
            payload = count + 1;
            break;
        case 0xA:
        case 0xC:
        case 0xD: {
            const std::uint64_t refs = o.kind == 0xD ? 2 : 1;
            if (count > room / fRefSize / refs) {
                return Result<Object>::fail("truncated binary property list (container too long)");
            }
            o.isContainer = true;
            o.refs = count * refs;
            o.refStart = pos;
            payload = o.refs * fRefSize;
            break;
        }
        default:
            return Result<Object>::fail("corrupt binary property list (unknown object type)");
        }
        if (payload > room) {
            return Result<Object>::fail("truncated binary property list (object too long)");
        }
        o.payloadStart = pos;
        o.payloadLength = payload;
        return o;
    }

    // Whether a string object holds a NUL character, which libplist cannot
    // represent (it asserts on such dictionary keys and cuts such strings).
    bool stringHasNul(const Object& o) const {
        const std::uint8_t* p = fData + o.payloadStart;
        if (o.kind == 0x5) {
            return std::memchr(p, 0, o.payloadLength) != nullptr;
        }
        for (std::uint64_t k = 0; o.kind == 0x6 && k + 1 < o.payloadLength; k += 2) {
            if (p[k] == 0 && p[k + 1] == 0) {
                return true;
            }
        }
        return false;
    }

    std::uint64_t ref(const Object& o, std::uint64_t n) const {
        return readBigEndian(o.refStart + n * fRefSize, fRefSize);
    }

private:
    std::uint64_t readBigEndian(std::uint64_t at, std::uint64_t width) const {
        std::uint64_t v = 0;
        for (std::uint64_t k = 0; k < width; ++k) {
            v = (v << 8) | fData[at + k];
        }
        return v;
    }

    const std::uint8_t* fData;
    std::size_t fSize;
    std::uint64_t fOffsetSize = 0;
    std::uint64_t fRefSize = 0;
    std::uint64_t fObjectCount = 0;
    std::uint64_t fRoot = 0;
    std::uint64_t fTableOffset = 0;
};

// Walks the object graph from the root without recursion: refuses cycles,
// references out of range, dictionary keys that are not strings, nesting
// deeper than the limit and graphs that expand (shared objects counted once
// per use) to more values than the limit.
Status checkBinary(std::string_view bytes) {
    BinaryLayout layout(bytes);
    if (Status s = layout.parseTrailer(); !s) {
        return s;
    }
    enum : std::uint8_t { kUnvisited, kOnPath, kDone };
    const std::size_t n = layout.objectCount();
    std::vector<std::uint8_t> state(n, kUnvisited);
    std::vector<std::uint8_t> depth(n, 0);
    std::vector<std::uint32_t> expanded(n, 0);
    const auto saturatingAdd = [](std::uint32_t a, std::uint32_t b) {
        const std::uint64_t sum = std::uint64_t{a} + b;
        return static_cast<std::uint32_t>(std::min<std::uint64_t>(sum, PlistCodec::kMaxNodes + 1));
    };

    struct Frame {
        std::uint64_t index;
        BinaryLayout::Object object;
        std::uint64_t next = 0;
    };
    std::vector<Frame> path;
    const auto enter = [&](std::uint64_t index) -> Status {
        Result<BinaryLayout::Object> o = layout.object(index);
        if (!o) {
            return Status::fail(o.message());
        }
        if (layout.stringHasNul(*o)) {
            return Status::fail("a string contains a NUL character");
        }
        if (!o->isContainer) {
            state[index] = kDone;
            expanded[index] = 1;
            return Status::success();
        }
        if (static_cast<int>(path.size()) >= PlistCodec::kMaxDepth) {
            return Status::fail(sDepthMessage);
        }
        state[index] = kOnPath;
        expanded[index] = 1;
        path.push_back(Frame{index, *o});
        return Status::success();
    };

    if (Status s = enter(layout.root()); !s) {
        return s;
    }
    while (!path.empty()) {
        Frame& top = path.back();
        if (top.next == top.object.refs) {
            const std::uint64_t done = top.index;
            state[done] = kDone;
            depth[done] = static_cast<std::uint8_t>(depth[done] + 1);
            path.pop_back();
            if (!path.empty()) {
                const std::uint64_t parent = path.back().index;
                depth[parent] = std::max(depth[parent], depth[done]);
                expanded[parent] = saturatingAdd(expanded[parent], expanded[done]);
            }
            continue;
        }
        const bool isKey = top.object.kind == 0xD && top.next < top.object.refs / 2;
        const std::uint64_t child = layout.ref(top.object, top.next++);
        if (child >= n) {
            return Status::fail("corrupt binary property list (reference out of range)");
        }
        if (isKey) {
            Result<BinaryLayout::Object> key = layout.object(child);
            if (!key) {
                return Status::fail(key.message());
            }
            if (key->kind != 0x5 && key->kind != 0x6) {
                return Status::fail(
                    "corrupt binary property list (dictionary key is not a string)");
            }
            if (layout.stringHasNul(*key)) {
                return Status::fail("a dictionary key contains a NUL character");
            }
        }
        if (state[child] == kOnPath) {
            return Status::fail("corrupt binary property list (an object contains itself)");
        }
        if (state[child] == kUnvisited) {
            if (Status s = enter(child); !s) {
                return s;
            }
            if (state[child] == kOnPath) {
                continue; // descend first; the parent is updated when the child is done
            }
        }
        Frame& parent = path.back();
        if (static_cast<int>(path.size()) + depth[child] > PlistCodec::kMaxDepth) {
            return Status::fail(sDepthMessage);
        }
        depth[parent.index] = std::max(depth[parent.index], depth[child]);
        expanded[parent.index] = saturatingAdd(expanded[parent.index], expanded[child]);
        if (expanded[parent.index] > PlistCodec::kMaxNodes) {
            return Status::fail("binary property list expands to too many values");
        }
    }
    if (expanded[layout.root()] > PlistCodec::kMaxNodes) {
        return Status::fail("binary property list expands to too many values");
    }
    return Status::success();
}

// --- libplist tree to PlistValue -------------------------------------------

// Whether an integer node whose 64 bits have the top bit set is a negative
// number: libplist keeps the sign only in a private length field, which shows
// in its XML rendering.
bool isNegativeInteger(plist_t node) {
    PlistPtr copy(plist_copy(node));
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(copy.get(), &xml, &length);
    const bool negative =
        xml && std::string_view(xml, length).find("<integer>-") != std::string_view::npos;
    plist_to_xml_free(xml);
    return negative;
}

const char* nodeKind(plist_t node) {
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN:
        return "a boolean";
    case PLIST_UINT:
        return "an integer";
    case PLIST_REAL:
        return "a real";
    case PLIST_STRING:
        return "a string";
    case PLIST_ARRAY:
        return "an array";
    case PLIST_DICT:
        return "a dictionary";
    case PLIST_DATE:
        return "a date";
    case PLIST_DATA:
        return "data";
    case PLIST_UID:
        return "a UID";
    case PLIST_KEY:
    case PLIST_NONE:
        break;
    }
    return "a value of unknown type";
}

Result<PlistValue> fromNode(plist_t node, int depth) {
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        std::uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return PlistValue::boolean(b != 0);
    }
    case PLIST_UINT: {
        std::uint64_t v = 0;
        plist_get_uint_val(node, &v);
        if (v > static_cast<std::uint64_t>(INT64_MAX) && !isNegativeInteger(node)) {
            return PlistValue::unsignedInteger(v);
        }
        return PlistValue::int64(static_cast<std::int64_t>(v));
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return PlistValue::real(d);
    }
    case PLIST_STRING: {
        std::uint64_t length = 0;
        const char* s = plist_get_string_ptr(node, &length);
        if (!s) {
            return PlistValue::string({});
        }
        if (std::memchr(s, '\0', length) != nullptr) {
            return Result<PlistValue>::fail("a string contains a NUL character");
        }
        return PlistValue::string(std::string(s, length));
    }
    case PLIST_DATA: {
        std::uint64_t length = 0;
        const char* d = plist_get_data_ptr(node, &length);
        return PlistValue::data(reinterpret_cast<const std::uint8_t*>(d), d ? length : 0);
    }
    case PLIST_ARRAY: {
        if (depth >= PlistCodec::kMaxDepth) {
            return Result<PlistValue>::fail(sDepthMessage);
        }
        const std::uint32_t count = plist_array_get_size(node);
        PlistValue::Array items;
        items.reserve(count);
        for (std::uint32_t k = 0; k < count; ++k) {
            Result<PlistValue> item = fromNode(plist_array_get_item(node, k), depth + 1);
            if (!item) {
                return item;
            }
            items.push_back(std::move(item).value());
        }
        return PlistValue::array(std::move(items));
    }
    case PLIST_DICT: {
        if (depth >= PlistCodec::kMaxDepth) {
            return Result<PlistValue>::fail(sDepthMessage);
        }
        PlistValue dict = PlistValue::dictionary();
        PlistValue::Dictionary& entries = dict.dict();
        entries.reserve(plist_dict_get_size(node));
        std::unordered_set<std::string> seen; // a later duplicate key replaces the earlier one
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        std::unique_ptr<void, MallocFree> iterOwner(iter);
        for (;;) {
            char* rawKey = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, iter, &rawKey, &value);
            CharPtr key(rawKey);
            if (!value) {
                break;
            }
            Result<PlistValue> converted = fromNode(value, depth + 1);
            if (!converted) {
                return converted;
            }
            std::string name = key ? key.get() : "";
            if (seen.insert(name).second) {
                entries.emplace_back(std::move(name), std::move(converted).value());
            } else {
                dict.set(name, std::move(converted).value());
            }
        }
        return dict;
    }
    case PLIST_DATE:
        return Result<PlistValue>::fail("contains a date, which is not a supported value");
    case PLIST_UID:
        return Result<PlistValue>::fail("contains a UID, which is not a supported value");
    case PLIST_KEY:
    case PLIST_NONE:
        break;
    }
    return Result<PlistValue>::fail("contains a value of unknown type");
}

// --- PlistValue to libplist tree -------------------------------------------

// An unsigned integer above the signed 64-bit range: libplist writes integers
// made by plist_new_uint as signed, but keeps one it parsed as unsigned.
plist_t newLargeUnsigned(std::uint64_t v) {
    char xml[96];
    const int length =
        std::snprintf(xml, sizeof xml, "<plist><integer>%" PRIu64 "</integer></plist>", v);
    plist_t node = nullptr;
    plist_from_xml(xml, static_cast<std::uint32_t>(length), &node);
    return node;
}

PlistPtr toNode(const PlistValue& value, int depth, std::string& error) {
    switch (value.type()) {
    case PlistValue::Type::None:
        error = "cannot write an empty value";
        return nullptr;
    case PlistValue::Type::Boolean:
        return PlistPtr(plist_new_bool(value.toBool() ? 1 : 0));
    case PlistValue::Type::Integer: {
        const std::uint64_t bits = value.toUInt64();
        if (!value.integerIsSigned() && bits > static_cast<std::uint64_t>(INT64_MAX)) {
            PlistPtr node(newLargeUnsigned(bits));
            if (!node) {
                error = "cannot encode the integer " + std::to_string(bits);
            }
            return node;
        }
        return PlistPtr(plist_new_uint(bits));
    }
    case PlistValue::Type::Real:
        return PlistPtr(plist_new_real(value.toReal()));
    case PlistValue::Type::String:
        if (value.text().find('\0') != std::string::npos) {
            error = "cannot write a string holding a NUL character";
            return nullptr;
        }
        return PlistPtr(plist_new_string(value.text().c_str()));
    case PlistValue::Type::Data:
        return PlistPtr(plist_new_data(reinterpret_cast<const char*>(value.bytes().data()),
                                       value.bytes().size()));
    case PlistValue::Type::Array: {
        if (depth >= PlistCodec::kMaxDepth) {
            error = "cannot write " + sDepthMessage;
            return nullptr;
        }
        PlistPtr array(plist_new_array());
        for (const PlistValue& item : value.items()) {
            PlistPtr node = toNode(item, depth + 1, error);
            if (!node) {
                return nullptr;
            }
            plist_array_append_item(array.get(), node.release());
        }
        return array;
    }
    case PlistValue::Type::Dictionary: {
        if (depth >= PlistCodec::kMaxDepth) {
            error = "cannot write " + sDepthMessage;
            return nullptr;
        }
        PlistPtr dict(plist_new_dict());
        for (const auto& [key, item] : value.dict()) {
            if (key.find('\0') != std::string::npos) {
                error = "cannot write a key holding a NUL character";
                return nullptr;
            }
            PlistPtr node = toNode(item, depth + 1, error);
            if (!node) {
                error += " (under key \"" + key + "\")";
                return nullptr;
            }
            plist_dict_set_item(dict.get(), key.c_str(), node.release());
        }
        return dict;
    }
    }
    error = "cannot write a value of unknown type";
    return nullptr;
}

} // namespace

Result<PlistValue> PlistCodec::read(std::string_view bytes, Root root) {
    if (bytes.empty()) {
        return Result<PlistValue>::fail("empty, not a property list");
    }
    if (bytes.size() > kMaxInputSize) {
        return Result<PlistValue>::fail("larger than " + std::to_string(kMaxInputSize >> 20) +
                                        " MiB, not read");
    }
    const bool binary = bytes.substr(0, sBinaryMagic.size()) == sBinaryMagic;
    if (!binary && bytes.substr(0, 6) == "bplist") {
        return Result<PlistValue>::fail("unsupported binary property list version");
    }
    if (Status s = binary ? checkBinary(bytes) : checkXml(bytes); !s) {
        return Result<PlistValue>::fail(s.message());
    }

    plist_t raw = nullptr;
    const auto length = static_cast<std::uint32_t>(bytes.size());
    if (binary) {
        plist_from_bin(bytes.data(), length, &raw);
    } else {
        plist_from_xml(bytes.data(), length, &raw);
    }
    PlistPtr node(raw);
    if (!node) {
        return Result<PlistValue>::fail(binary ? "corrupt binary property list"
                                               : "malformed XML property list");
    }
    if (root == Root::Dictionary && plist_get_node_type(node.get()) != PLIST_DICT) {
        return Result<PlistValue>::fail(std::string("root is ") + nodeKind(node.get()) +
                                        ", expected a dictionary");
    }
    return fromNode(node.get(), 0);
}

Result<std::string> PlistCodec::writeXml(const PlistValue& value) {
    std::string error;
    PlistPtr node = toNode(value, 0, error);
    if (!node) {
        return Result<std::string>::fail(error);
    }
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(node.get(), &xml, &length);
    if (!xml) {
        return Result<std::string>::fail("libplist could not produce XML");
    }
    std::string text(xml, length);
    plist_to_xml_free(xml);
    return text;
}
