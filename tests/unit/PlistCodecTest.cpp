// Tests of PlistCodec: XML and binary round trips of every kind of value, a
// binary file made by plistutil, and a table of corrupt, hostile and
// unwritable inputs that must give an error (never a crash or a leak).
#include "PlistCodec.h"

#include <plist/plist.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace {

using Width = PlistValue::Width;

// The binary form of an XML property list, as libplist writes it.
std::string toBinary(const std::string& xml) {
    plist_t node = nullptr;
    plist_from_xml(xml.data(), static_cast<std::uint32_t>(xml.size()), &node);
    if (!node) {
        return {};
    }
    char* bin = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(node, &bin, &length);
    std::string out(bin, length);
    plist_to_bin_free(bin);
    plist_free(node);
    return out;
}

std::string bigEndian(std::uint64_t v, int width) {
    std::string out;
    for (int k = width - 1; k >= 0; --k) {
        out += static_cast<char>((v >> (8 * k)) & 0xFF);
    }
    return out;
}

// A hand-made binary property list: the given objects (raw encodings), a
// 4-byte offset table and the trailer; references are 4 bytes wide.
std::string binaryPlist(const std::vector<std::string>& objects, std::uint64_t root = 0) {
    std::string out = "bplist00";
    std::string table;
    for (const std::string& o : objects) {
        table += bigEndian(out.size(), 4);
        out += o;
    }
    const std::uint64_t tableOffset = out.size();
    out += table;
    out += std::string(6, '\0');
    out += '\x04'; // offset size
    out += '\x04'; // reference size
    out += bigEndian(objects.size(), 8);
    out += bigEndian(root, 8);
    out += bigEndian(tableOffset, 8);
    return out;
}

// An array object referring to the given objects (4-byte references).
std::string binaryArray(const std::vector<std::uint64_t>& refs, char marker = '\xA0') {
    std::string out;
    if (refs.size() < 15) {
        out += static_cast<char>(marker | static_cast<char>(refs.size()));
    } else {
        out += static_cast<char>(marker | 0x0F);
        out += '\x13';
        out += bigEndian(refs.size(), 8);
    }
    for (std::uint64_t r : refs) {
        out += bigEndian(r, 4);
    }
    return out;
}

// `depth` arrays, each holding the next; the innermost is empty.
std::string deepBinaryArrays(std::size_t depth) {
    std::vector<std::string> objects;
    for (std::size_t k = 0; k + 1 < depth; ++k) {
        objects.push_back(binaryArray({k + 1}));
    }
    objects.push_back(binaryArray({}));
    return binaryPlist(objects);
}

std::string deepXml(std::size_t depth, const std::string& open = "<array>",
                    const std::string& close = "</array>", const std::string& between = "") {
    std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (std::size_t k = 0; k < depth; ++k) {
        xml += open + between;
    }
    for (std::size_t k = 0; k < depth; ++k) {
        xml += close;
    }
    return xml + "</plist>";
}

PlistValue nestedArrays(int depth) {
    PlistValue v = PlistValue::array();
    for (int k = 1; k < depth; ++k) {
        v = PlistValue::array({v});
    }
    return v;
}

struct RoundTrip {
    const char* name;
    PlistValue value;
};

std::vector<RoundTrip> roundTrips() {
    const auto i64 = std::numeric_limits<std::int64_t>::min();
    const auto i64max = std::numeric_limits<std::int64_t>::max();
    return {
        {"EmptyDictionary", PlistValue::dictionary()},
        {"EmptyArray", PlistValue::array()},
        {"Profile",
         PlistValue::dictionary(
             {{"Sensitivity", PlistValue::real(9.8)},
              {"MasterSensitivityOn", PlistValue::int32(0)},
              {"ButtonMappings",
               PlistValue::array({PlistValue::data({0x00}),
                                  PlistValue::data({0x03, 0x31, 0x31, 0x37, 0x37, 0x36})})},
              {"LeftHanded", PlistValue::boolean(false)}})},
        {"NestedContainers",
         PlistValue::array(
             {PlistValue::dictionary({{"x", PlistValue::array({PlistValue::array()})}}),
              PlistValue::dictionary()})},
        {"Integers",
         PlistValue::array({PlistValue::int64(0), PlistValue::int64(-1), PlistValue::int16(-32768),
                            PlistValue::int64(i64), PlistValue::int64(i64max),
                            PlistValue::uint32(0xFFFFFFFFu), PlistValue::unsignedInteger(~0ull),
                            PlistValue::unsignedInteger(1ull << 63)})},
        {"Reals",
         PlistValue::array({PlistValue::real(9.8), PlistValue::real(0.1), PlistValue::real(1.0 / 3),
                            PlistValue::real(-2.5e-300), PlistValue::real(1.7976931348623157e308),
                            PlistValue::real(0.0), PlistValue::real(65536.0 * 10)})},
        {"NotANumberAndInfinities",
         PlistValue::array({PlistValue::real(std::nan("")),
                            PlistValue::real(std::numeric_limits<double>::infinity()),
                            PlistValue::real(-std::numeric_limits<double>::infinity())})},
        {"Booleans", PlistValue::array({PlistValue::boolean(true), PlistValue::boolean(false)})},
        {"Strings", PlistValue::array({PlistValue::string(""),
                                       PlistValue::string("Grüße ✓ 日本語 🖱"),
                                       PlistValue::string("<&>\"' ]]> <!-- -->"),
                                       PlistValue::string("tab\tline\nreturn\r\nctl\x01"),
                                       PlistValue::string("  padded  ")})},
        {"UnicodeKeys", PlistValue::dictionary({{"Größe", PlistValue::string("ü")},
                                                {"<key>&", PlistValue::int32(1)},
                                                {"", PlistValue::int32(2)}})},
        {"Data", PlistValue::array({PlistValue::data(PlistValue::Data{}),
                                    PlistValue::data(PlistValue::Data(1000, 0xA5)),
                                    PlistValue::data({0x00, 0xFF, 0x7F, 0x80})})},
        {"StringRoot", PlistValue::string("alone")},
        {"IntegerRoot", PlistValue::int64(-42)},
        {"DeepestAllowed", nestedArrays(PlistCodec::kMaxDepth)},
    };
}

void PrintTo(const RoundTrip& trip, std::ostream* os) {
    *os << trip.name;
}

class PlistCodecRoundTrip : public testing::TestWithParam<RoundTrip> {};

TEST_P(PlistCodecRoundTrip, ThroughXml) {
    const PlistValue& value = GetParam().value;
    Result<std::string> xml = PlistCodec::writeXml(value);
    ASSERT_TRUE(xml.ok()) << xml.message();
    Result<PlistValue> back = PlistCodec::read(*xml);
    ASSERT_TRUE(back.ok()) << back.message() << "\n" << *xml;
    EXPECT_EQ(*back, value) << *xml;
}

TEST_P(PlistCodecRoundTrip, ThroughBinary) {
    Result<std::string> xml = PlistCodec::writeXml(GetParam().value);
    ASSERT_TRUE(xml.ok()) << xml.message();
    const std::string bin = toBinary(*xml);
    ASSERT_FALSE(bin.empty());
    Result<PlistValue> back = PlistCodec::read(bin);
    ASSERT_TRUE(back.ok()) << back.message();
    EXPECT_EQ(*back, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Values, PlistCodecRoundTrip, testing::ValuesIn(roundTrips()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PlistCodec, KeepsKeyOrder) {
    // Equality ignores key order, so check the order itself.
    PlistValue d = PlistValue::dictionary();
    for (const char* key : {"z", "a", "m", "ProfileArray", "B"}) {
        d.set(key, PlistValue::int32(1));
    }
    Result<std::string> xml = PlistCodec::writeXml(d);
    ASSERT_TRUE(xml.ok());
    for (const std::string& data : {*xml, toBinary(*xml)}) {
        Result<PlistValue> back = PlistCodec::read(data);
        ASSERT_TRUE(back.ok()) << back.message();
        ASSERT_EQ(back->dict().size(), d.dict().size());
        for (std::size_t k = 0; k < d.dict().size(); ++k) {
            EXPECT_EQ(back->dict()[k].first, d.dict()[k].first) << k;
        }
    }
}

TEST(PlistCodec, ReadsIntegersAsSigned64AndRealsExactly) {
    Result<PlistValue> v = PlistCodec::read(
        "<plist><array><integer>-5</integer><integer>18446744073709551615</integer>"
        "<real>9.8</real><real>9.8000000000000007</real></array></plist>");
    ASSERT_TRUE(v.ok()) << v.message();
    EXPECT_EQ(v->at(0).toInt64(), -5);
    EXPECT_EQ(v->at(0).integerWidth(), Width::Bits64);
    EXPECT_TRUE(v->at(0).integerIsSigned());
    // Too big for signed 64 bits: kept as the unsigned number it is.
    EXPECT_FALSE(v->at(1).integerIsSigned());
    EXPECT_EQ(v->at(1).toUInt64(), ~0ull);
    EXPECT_EQ(v->at(2).toReal(), 9.8);
    EXPECT_EQ(v->at(3).toReal(), 9.8);
}

TEST(PlistCodec, WritesStandardXmlThatPlistutilReads) {
    Result<std::string> xml = PlistCodec::writeXml(PlistValue::dictionary(
        {{"ProfileNumber", PlistValue::int32(1)}, {"Offset", PlistValue::int16(-5)}}));
    ASSERT_TRUE(xml.ok());
    EXPECT_EQ(xml->rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u) << *xml;
    EXPECT_NE(xml->find("<key>ProfileNumber</key>"), std::string::npos) << *xml;
    EXPECT_NE(xml->find("<integer>-5</integer>"), std::string::npos) << *xml;
}

// A dictionary written as a binary property list by plistutil.
const unsigned char sFixture[] = {
    0x62, 0x70, 0x6c, 0x69, 0x73, 0x74, 0x30, 0x30, 0xd6, 0x01, 0x03, 0x05, 0x07, 0x0a, 0x0c,
    0x02, 0x04, 0x06, 0x08, 0x0b, 0x0d, 0x5d, 0x50, 0x72, 0x6f, 0x66, 0x69, 0x6c, 0x65, 0x4e,
    0x75, 0x6d, 0x62, 0x65, 0x72, 0x10, 0x03, 0x5b, 0x53, 0x65, 0x6e, 0x73, 0x69, 0x74, 0x69,
    0x76, 0x69, 0x74, 0x79, 0x23, 0x40, 0x23, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9a, 0x54, 0x4e,
    0x61, 0x6d, 0x65, 0x65, 0x00, 0x47, 0x00, 0x72, 0x00, 0xfc, 0x00, 0xdf, 0x00, 0x65, 0x5e,
    0x42, 0x75, 0x74, 0x74, 0x6f, 0x6e, 0x4d, 0x61, 0x70, 0x70, 0x69, 0x6e, 0x67, 0x73, 0xa1,
    0x09, 0x46, 0x03, 0x31, 0x31, 0x37, 0x37, 0x36, 0x52, 0x4f, 0x6e, 0x09, 0x56, 0x4f, 0x66,
    0x66, 0x73, 0x65, 0x74, 0x13, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xfb, 0x08, 0x15,
    0x23, 0x25, 0x31, 0x3a, 0x3f, 0x4a, 0x59, 0x5b, 0x62, 0x65, 0x66, 0x6d, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0e, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x76};

std::string fixture() {
    return std::string(reinterpret_cast<const char*>(sFixture), sizeof sFixture);
}

TEST(PlistCodec, ReadsBinaryFileMadeByPlistutil) {
    Result<PlistValue> v = PlistCodec::readDictionary(fixture());
    ASSERT_TRUE(v.ok()) << v.message();
    const PlistValue expected = PlistValue::dictionary(
        {{"ProfileNumber", PlistValue::int64(3)},
         {"Sensitivity", PlistValue::real(9.8)},
         {"Name", PlistValue::string("Grüße")},
         {"ButtonMappings",
          PlistValue::array({PlistValue::data({0x03, 0x31, 0x31, 0x37, 0x37, 0x36})})},
         {"On", PlistValue::boolean(true)},
         {"Offset", PlistValue::int64(-5)}});
    EXPECT_EQ(*v, expected);
}

struct BadInput {
    const char* name;
    std::string bytes;
    const char* message; // part of the expected error
    PlistCodec::Root root = PlistCodec::Root::Any;
};

std::vector<BadInput> badInputs() {
    const std::string xmlDict = "<plist><dict><key>a</key><integer>1</integer></dict></plist>";
    std::string flippedRoot = fixture();
    flippedRoot[flippedRoot.size() - 9] = 0x20; // root index beyond the objects
    std::string badOffset = fixture();
    badOffset[0x79] = '\x7F'; // first offset points into the offset table
    // Object 0 = [1, 1], object 1 = [2, 2], ...: 2^60 values once expanded.
    std::vector<std::string> bomb;
    for (std::uint64_t k = 0; k < 60; ++k) {
        bomb.push_back(binaryArray({k + 1, k + 1}));
    }
    bomb.push_back("\x09");
    // A dictionary whose key is an array.
    const std::string arrayKey =
        binaryPlist({std::string("\xD1\x00\x00\x00\x01\x00\x00\x00\x01", 9), binaryArray({})});
    // An array claiming 2^60 entries.
    std::string hugeCount = "\xAF\x13" + bigEndian(1ull << 60, 8);
    return {
        {"Empty", "", "empty"},
        {"PlainText", "hello, world", "not a property list"},
        {"OtherXml", "<html><body/></html>", "not a property list"},
        {"TruncatedXml", xmlDict.substr(0, xmlDict.size() - 12), "truncated"},
        {"XmlWithoutEnd", "<plist><dict><key>a</key><true/>", "truncated"},
        {"MalformedXml", "<plist><dict><key>a</key><integer>1</integer></plist>", "malformed"},
        {"NulInXmlString", "<plist><string>a&#0;b</string></plist>", "malformed"},
        {"XmlDate", "<plist><date>2020-01-01T00:00:00Z</date></plist>", "date"},
        {"RootIsArray", "<plist><array/></plist>", "root is an array, expected a dictionary",
         PlistCodec::Root::Dictionary},
        {"RootIsString", "<plist><string>x</string></plist>",
         "root is a string, expected a dictionary", PlistCodec::Root::Dictionary},
        {"DeepXmlArrays", deepXml(100000), "nesting deeper than 64 levels"},
        {"DeepXmlDicts", deepXml(100000, "<dict><key>k</key>", "</dict>"), "nesting deeper"},
        {"JustTooDeepXml", deepXml(PlistCodec::kMaxDepth + 1), "nesting deeper"},
        {"DeepXmlHidingClosersInComments",
         deepXml(100000, "<array>", "</array>",
                 "<!-- </array> --><string><![CDATA[</array>]]></string>"),
         "nesting deeper"},
        {"TooLarge", std::string(PlistCodec::kMaxInputSize + 1, ' '), "larger than"},
        {"TruncatedBinary", fixture().substr(0, 100), "binary property list"},
        {"BinaryHeaderOnly", "bplist00", "truncated binary"},
        {"OtherBinaryVersion", "bplist15" + fixture().substr(8), "unsupported"},
        {"BinaryRootOutOfRange", flippedRoot, "bad object count"},
        {"BinaryOffsetOutOfRange", badOffset, "out of range"},
        {"DeepBinary", deepBinaryArrays(100000), "nesting deeper than 64 levels"},
        {"JustTooDeepBinary", deepBinaryArrays(PlistCodec::kMaxDepth + 1), "nesting deeper"},
        {"BinaryCycle", binaryPlist({binaryArray({1}), binaryArray({0})}), "contains itself"},
        {"BinarySelfReference", binaryPlist({binaryArray({0})}), "contains itself"},
        {"BinaryExpansionBomb", binaryPlist(bomb), "too many values"},
        {"BinaryReferenceOutOfRange", binaryPlist({binaryArray({7})}), "reference out of range"},
        {"BinaryHugeCount", binaryPlist({hugeCount}), "truncated binary"},
        {"BinaryHugeString", binaryPlist({"\x5F\x13" + bigEndian(1ull << 62, 8)}), "truncated"},
        {"BinaryKeyNotString", arrayKey, "key is not a string"},
        {"BinaryUnknownType", binaryPlist({"\x70"}), "unknown object type"},
        {"BinaryDate", binaryPlist({"\x33" + std::string(8, '\0')}), "date"},
        {"BinaryUid", binaryPlist({"\x80\x01"}), "UID"},
        {"BinaryNulInString",
         binaryPlist({std::string("\x53"
                                  "a\0b",
                                  4)}),
         "NUL"},
        {"BinaryNulInUtf16String", binaryPlist({std::string("\x62\x00\x41\x00\x00", 5)}), "NUL"},
        {"BinaryNulInKey",
         binaryPlist({std::string("\xD1\x00\x00\x00\x01\x00\x00\x00\x02", 9),
                      std::string("\x53"
                                  "a\0b",
                                  4),
                      "\x09"}),
         "key contains a NUL"},
        {"BinaryRootNotDictionary", binaryPlist({binaryArray({})}), "root is an array",
         PlistCodec::Root::Dictionary},
    };
}

void PrintTo(const BadInput& bad, std::ostream* os) {
    *os << bad.name;
}

class PlistCodecBadInput : public testing::TestWithParam<BadInput> {};

TEST_P(PlistCodecBadInput, GivesAClearError) {
    const BadInput& bad = GetParam();
    Result<PlistValue> v = PlistCodec::read(bad.bytes, bad.root);
    ASSERT_FALSE(v.ok()) << v->debugString();
    EXPECT_NE(v.message().find(bad.message), std::string::npos) << v.message();
}

INSTANTIATE_TEST_SUITE_P(Inputs, PlistCodecBadInput, testing::ValuesIn(badInputs()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PlistCodec, AcceptsTheDeepestAllowedNesting) {
    EXPECT_TRUE(PlistCodec::read(deepXml(PlistCodec::kMaxDepth)).ok());
    EXPECT_TRUE(PlistCodec::read(deepBinaryArrays(PlistCodec::kMaxDepth)).ok());
    // Shared objects are fine while the expanded tree stays small.
    EXPECT_TRUE(PlistCodec::read(binaryPlist({binaryArray({1, 1, 1}), "\x09"})).ok());
}

struct Unwritable {
    const char* name;
    PlistValue value;
    const char* message;
};

TEST(PlistCodec, RefusesToWriteWhatCannotBeStored) {
    const std::vector<Unwritable> cases = {
        {"None", PlistValue(), "empty value"},
        {"NoneInArray", PlistValue::array({PlistValue::int32(1), PlistValue()}), "empty value"},
        {"NoneUnderKey", PlistValue::dictionary({{"Gone", PlistValue()}}), "under key \"Gone\""},
        {"NulInString", PlistValue::string(std::string("a\0b", 3)), "NUL"},
        {"NulInKey", PlistValue::dictionary({{std::string("a\0b", 3), PlistValue::int32(1)}}),
         "NUL"},
        {"TooDeep", nestedArrays(PlistCodec::kMaxDepth + 1), "nesting deeper"},
    };
    for (const Unwritable& c : cases) {
        Result<std::string> xml = PlistCodec::writeXml(c.value);
        ASSERT_FALSE(xml.ok()) << c.name;
        EXPECT_NE(xml.message().find(c.message), std::string::npos)
            << c.name << ": " << xml.message();
    }
}

} // namespace
