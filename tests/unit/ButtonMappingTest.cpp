// Tests of ButtonMapping: record decoding and encoding, the owner contract,
// the on-the-fly option and the array helpers.
#include "ButtonMapping.h"
#include "ButtonMappingOwner.h"
#include "ButtonMappingSupport.h"

#include <PlistValue.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using ::testing::_;
using ::testing::InSequence;
using ::testing::Invoke;
using ::testing::Ref;
using ::testing::Return;
using ::testing::StrictMock;

Bytes bytes(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) {
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return out;
}

Bytes withText(Bytes prefix, const std::string& text) {
    prefix.insert(prefix.end(), text.begin(), text.end());
    return prefix;
}

class FakeOwner : public ButtonMappingOwner {
public:
    MOCK_METHOD(bool, isValidMapTypeForMapping, (int mapType, const ButtonMapping& mapping),
                (override));
    MOCK_METHOD(void, notifyMappingPrefsChange, (), (override));
};

// ---- Decoding --------------------------------------------------------------

struct Nested {
    std::int32_t type;
    std::optional<std::string> text;
};

struct DecodeCase {
    const char* name;
    Bytes record;
    std::int32_t type;
    std::optional<std::string> text;
    std::optional<Nested> nested;
    Bytes reencoded;
};

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, DecodesAndEncodesAgain) {
    const DecodeCase& c = GetParam();
    auto mapping = ButtonMapping::initWithData(c.record);
    ASSERT_NE(mapping, nullptr);

    EXPECT_EQ(mapping->mapType(), c.type);
    EXPECT_EQ(mapping->hasAuxData(), c.text.has_value());
    EXPECT_EQ(mapping->auxData(), c.text.value_or(""));
    EXPECT_FALSE(mapping->otfs());
    EXPECT_EQ(mapping->prefsController(), nullptr);
    if (c.nested) {
        ASSERT_NE(mapping->advMapping(), nullptr);
        EXPECT_EQ(mapping->advMapping()->mapType(), c.nested->type);
        EXPECT_EQ(mapping->advMapping()->hasAuxData(), c.nested->text.has_value());
        EXPECT_EQ(mapping->advMapping()->auxData(), c.nested->text.value_or(""));
    } else {
        EXPECT_EQ(mapping->advMapping(), nullptr);
    }
    EXPECT_EQ(mapping->toData(), c.reencoded);
}

const std::string sHighBytes = std::string("\x80\xFF\0A", 4);

INSTANTIATE_TEST_SUITE_P(
    Records, DecodeTest,
    ::testing::Values(
        DecodeCase{"Empty", {}, kMapClick, std::nullopt, std::nullopt, bytes({0x00})},
        DecodeCase{"Click", bytes({0x00}), kMapClick, std::nullopt, std::nullopt, bytes({0x00})},
        DecodeCase{"ClickStray", bytes({0x00, 0x41}), kMapClick, std::nullopt, std::nullopt,
                   bytes({0x00})},
        DecodeCase{"Otfs", bytes({0x08}), kMapOtfs, std::nullopt, std::nullopt, bytes({0x08})},
        DecodeCase{"ScrollUp", bytes({0x0A}), kMapScrollUp, std::nullopt, std::nullopt,
                   bytes({0x0A})},
        DecodeCase{"KeyOneByte", bytes({0x03}), kMapKey, "", std::nullopt, bytes({0x03})},
        DecodeCase{"MacroOneByte", bytes({0x04}), kMapMacro, "", std::nullopt, bytes({0x04})},
        DecodeCase{"DpiOneByte", bytes({0x06}), kMapDpiSet, "", std::nullopt, bytes({0x06})},
        DecodeCase{"ProfileOneByte", bytes({0x07}), kMapProfileSwitch, "", std::nullopt,
                   bytes({0x07})},
        DecodeCase{"Key", bytes({0x03, 0x31, 0x31, 0x37, 0x37, 0x36}), kMapKey, "11776",
                   std::nullopt, bytes({0x03, 0x31, 0x31, 0x37, 0x37, 0x36})},
        DecodeCase{"DpiSet", withText(bytes({0x06}), "16640"), kMapDpiSet, "16640", std::nullopt,
                   withText(bytes({0x06}), "16640")},
        DecodeCase{"ProfileSwitch", withText(bytes({0x07}), "20480"), kMapProfileSwitch, "20480",
                   std::nullopt, withText(bytes({0x07}), "20480")},
        // A payload-less type ignores the rest, even bytes that look like a record.
        DecodeCase{"PassThroughStray", bytes({0x09, 0x41, 0x42}), kMapPassThrough, std::nullopt,
                   std::nullopt, bytes({0x09})},
        DecodeCase{"MenuStrayNested", bytes({0x01, 0x05, 0x04, 0x31}), kMapMenu, std::nullopt,
                   std::nullopt, bytes({0x01})},
        // Type bytes above 7 never carry a payload, though their bit would be set.
        DecodeCase{"TypeFF", bytes({0xFF, 0x41}), 255, std::nullopt, std::nullopt, bytes({0xFF})},
        DecodeCase{"TypeNA", bytes({0x0E, 0x31}), kMapNA, std::nullopt, std::nullopt,
                   bytes({0x0E})},
        DecodeCase{"Type0B", bytes({0x0B, 0x31}), kMapScrollDown, std::nullopt, std::nullopt,
                   bytes({0x0B})},
        DecodeCase{"MacroOtfs", bytes({0x05, 0x04, 0x31, 0x2C, 0x32}), kMapMacroOtfs, std::nullopt,
                   Nested{kMapMacro, "1,2"}, bytes({0x05, 0x04, 0x31, 0x2C, 0x32})},
        DecodeCase{"MacroOtfsEmptyMacro", bytes({0x05, 0x04}), kMapMacroOtfs, std::nullopt,
                   Nested{kMapMacro, ""}, bytes({0x05, 0x04})},
        // A one-byte type-5 record has nothing to nest and stays one byte.
        DecodeCase{"MacroOtfsOneByte", bytes({0x05}), kMapMacroOtfs, std::nullopt, std::nullopt,
                   bytes({0x05})},
        DecodeCase{"NestedPayloadless", bytes({0x05, 0x09, 0x41}), kMapMacroOtfs, std::nullopt,
                   Nested{kMapPassThrough, std::nullopt}, bytes({0x05, 0x09})},
        DecodeCase{"NestedKey", withText(bytes({0x05, 0x03}), "4096"), kMapMacroOtfs, std::nullopt,
                   Nested{kMapKey, "4096"}, withText(bytes({0x05, 0x03}), "4096")},
        // Bytes outside 7-bit ASCII (NUL included) are kept, so nothing is lost.
        DecodeCase{"NonAsciiText", withText(bytes({0x04}), sHighBytes), kMapMacro, sHighBytes,
                   std::nullopt, withText(bytes({0x04}), sHighBytes)}),
    [](const ::testing::TestParamInfo<DecodeCase>& info) { return info.param.name; });

TEST(ButtonMappingDecode, DoublyNestedRecordRoundTrips) {
    const Bytes record = withText(bytes({0x05, 0x05, 0x04}), "1,2");
    auto mapping = ButtonMapping::initWithData(record);
    ASSERT_NE(mapping->advMapping(), nullptr);
    const ButtonMapping* inner = mapping->advMapping()->advMapping();
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->mapType(), kMapMacro);
    EXPECT_EQ(inner->auxData(), "1,2");
    EXPECT_EQ(mapping->toData(), record);
}

TEST(ButtonMappingDecode, LongNestedChainIsCutAtTheDepthLimit) {
    Bytes record(100000, 0x05);
    record.push_back(0x04);
    record.push_back(0x31);
    auto mapping = ButtonMapping::initWithData(record);

    int depth = 0;
    const ButtonMapping* deepest = mapping.get();
    while (deepest->advMapping() != nullptr) {
        deepest = deepest->advMapping();
        ++depth;
    }
    EXPECT_EQ(depth, ButtonMapping::kMaxNestingDepth);
    EXPECT_EQ(deepest->mapType(), kMapMacroOtfs);
    EXPECT_EQ(mapping->toData(), Bytes(ButtonMapping::kMaxNestingDepth + 1, 0x05));
}

// ---- Encoding of edited mappings ------------------------------------------

struct EncodeCase {
    const char* name;
    std::int32_t type;
    std::optional<std::string> text;
    Bytes record;
};

class EncodeTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeTest, WritesTheTypeAndTheCarriedPayloadOnly) {
    const EncodeCase& c = GetParam();
    ButtonMapping mapping;
    mapping.forceMapType(c.type);
    mapping.setAuxData(c.text);
    EXPECT_EQ(mapping.toData(), c.record);
}

INSTANTIATE_TEST_SUITE_P(
    Mappings, EncodeTest,
    ::testing::Values(EncodeCase{"New", kMapClick, std::nullopt, bytes({0x00})},
                      EncodeCase{"ClickKeepsTextOut", kMapClick, "12", bytes({0x00})},
                      EncodeCase{"OtfsKeepsTextOut", kMapOtfs, "12", bytes({0x08})},
                      EncodeCase{"KeyWithoutText", kMapKey, std::nullopt, bytes({0x03})},
                      EncodeCase{"KeyEmptyText", kMapKey, "", bytes({0x03})},
                      EncodeCase{"Macro", kMapMacro, "1,2", withText(bytes({0x04}), "1,2")},
                      EncodeCase{"MacroOtfsWithoutNested", kMapMacroOtfs, "12", bytes({0x05})},
                      EncodeCase{"MinusOne", -1, "12", bytes({0xFF})},
                      EncodeCase{"Type255", 255, "12", bytes({0xFF})},
                      // Only the low byte is written; above 7 there is no payload.
                      EncodeCase{"Type259", 259, "12", bytes({0x03})}),
    [](const ::testing::TestParamInfo<EncodeCase>& info) { return info.param.name; });

TEST(ButtonMappingEncode, NewMappingIsAClickWithNothingElse) {
    ButtonMapping mapping;
    EXPECT_EQ(mapping.mapType(), kMapClick);
    EXPECT_FALSE(mapping.hasAuxData());
    EXPECT_EQ(mapping.advMapping(), nullptr);
    EXPECT_FALSE(mapping.otfs());
    EXPECT_EQ(mapping.prefsController(), nullptr);
}

// ---- Owner contract --------------------------------------------------------

TEST(ButtonMappingOwnerContract, AllowedTypeIsStoredBeforeTheOwnerIsTold) {
    StrictMock<FakeOwner> owner;
    ButtonMapping mapping;
    mapping.setPrefsController(&owner);
    {
        InSequence order;
        EXPECT_CALL(owner, isValidMapTypeForMapping(kMapMenu, Ref(mapping)))
            .WillOnce(Invoke([](int, const ButtonMapping& m) {
                EXPECT_EQ(m.mapType(), kMapClick); // asked before the change
                return true;
            }));
        EXPECT_CALL(owner, notifyMappingPrefsChange()).WillOnce(Invoke([&mapping] {
            EXPECT_EQ(mapping.mapType(), kMapMenu); // told after the change
        }));
    }
    mapping.setMapType(kMapMenu);
    EXPECT_EQ(mapping.mapType(), kMapMenu);
}

TEST(ButtonMappingOwnerContract, RefusedTypeChangesNothingAndTellsNobody) {
    StrictMock<FakeOwner> owner;
    ButtonMapping mapping;
    mapping.forceMapType(kMapMacro);
    mapping.setPrefsController(&owner);
    EXPECT_CALL(owner, isValidMapTypeForMapping(kMapClick, Ref(mapping))).WillOnce(Return(false));
    mapping.setMapType(kMapClick);
    EXPECT_EQ(mapping.mapType(), kMapMacro);
}

TEST(ButtonMappingOwnerContract, WithoutOwnerSetMapTypeDoesNothingButForceDoes) {
    ButtonMapping mapping;
    mapping.setMapType(kMapMenu);
    EXPECT_EQ(mapping.mapType(), kMapClick);
    mapping.forceMapType(kMapMenu);
    EXPECT_EQ(mapping.mapType(), kMapMenu);
}

TEST(ButtonMappingOwnerContract, ForceMapTypeNeitherAsksNorTells) {
    StrictMock<FakeOwner> owner; // any call fails the test
    ButtonMapping mapping;
    mapping.setPrefsController(&owner);
    mapping.forceMapType(kMapButtonOff);
    EXPECT_EQ(mapping.mapType(), kMapButtonOff);
}

TEST(ButtonMappingOwnerContract, SetAuxDataReplacesTheTextAndTellsTheOwner) {
    StrictMock<FakeOwner> owner;
    ButtonMapping mapping;
    mapping.forceMapType(kMapKey);
    mapping.setPrefsController(&owner);
    EXPECT_CALL(owner, notifyMappingPrefsChange()).Times(2);

    mapping.setAuxData("66");
    EXPECT_EQ(mapping.toData(), withText(bytes({0x03}), "66"));
    mapping.setAuxData(std::nullopt);
    EXPECT_FALSE(mapping.hasAuxData());
    EXPECT_EQ(mapping.toData(), bytes({0x03}));
}

TEST(ButtonMappingOwnerContract, CopiesHaveNoOwnerAndAssignmentKeepsTheTargetsOwner) {
    StrictMock<FakeOwner> owner;
    ButtonMapping source;
    source.setPrefsController(&owner);
    ButtonMapping copy(source);
    EXPECT_EQ(copy.prefsController(), nullptr);

    ButtonMapping target;
    target.setPrefsController(&owner);
    target = ButtonMapping(); // no notification: StrictMock
    EXPECT_EQ(target.prefsController(), &owner);
}

// ---- On-the-fly option -----------------------------------------------------

TEST(ButtonMappingOtfs, MacroBecomesMacroWithOtfsWithoutAskingTheOwner) {
    StrictMock<FakeOwner> owner;
    ButtonMapping mapping;
    mapping.forceMapType(kMapMacro);
    mapping.setAuxData("1,2");
    mapping.setPrefsController(&owner);
    EXPECT_CALL(owner, notifyMappingPrefsChange()).Times(1); // and no isValid... call

    mapping.setOtfs(true);
    EXPECT_TRUE(mapping.otfs());
    EXPECT_EQ(mapping.mapType(), kMapMacroOtfs);
    ASSERT_NE(mapping.advMapping(), nullptr);
    EXPECT_EQ(mapping.advMapping()->prefsController(), nullptr);
    EXPECT_EQ(mapping.toData(), withText(bytes({0x05, 0x04}), "1,2"));
}

TEST(ButtonMappingOtfs, ReusesAnExistingNestedMappingAndGivesItTheNewText) {
    auto mapping = ButtonMapping::initWithData(withText(bytes({0x05, 0x09}), ""));
    mapping->forceMapType(kMapMacro);
    mapping->setAuxData("3,4");
    const ButtonMapping* nested = mapping->advMapping();

    mapping->setOtfs(true);
    EXPECT_EQ(mapping->advMapping(), nested);
    EXPECT_EQ(mapping->toData(), withText(bytes({0x05, 0x04}), "3,4"));
}

TEST(ButtonMappingOtfs, OtherTypesOnlyKeepTheFlag) {
    StrictMock<FakeOwner> owner; // nothing may be asked or told
    for (const std::int32_t type : {kMapKey, kMapClick, kMapMacroOtfs, kMapOtfs}) {
        SCOPED_TRACE(type);
        ButtonMapping mapping;
        mapping.forceMapType(type);
        mapping.setAuxData("7");
        mapping.setPrefsController(&owner);
        const Bytes before = mapping.toData();

        mapping.setOtfs(true);
        EXPECT_TRUE(mapping.otfs());
        EXPECT_EQ(mapping.mapType(), type);
        EXPECT_EQ(mapping.toData(), before);
    }
}

TEST(ButtonMappingOtfs, TurningItOffKeepsAMacroWithOtfs) {
    auto mapping = ButtonMapping::initWithData(withText(bytes({0x05, 0x04}), "9"));
    mapping->setOtfs(true);
    mapping->setOtfs(false);
    EXPECT_FALSE(mapping->otfs());
    EXPECT_EQ(mapping->mapType(), kMapMacroOtfs);
    EXPECT_EQ(mapping->toData(), withText(bytes({0x05, 0x04}), "9"));
}

TEST(ButtonMappingOtfs, IsNotPartOfTheRecord) {
    ButtonMapping mapping;
    mapping.forceMapType(kMapMacro);
    mapping.setOtfs(true); // now type 5
    auto decoded = ButtonMapping::initWithData(mapping.toData());
    EXPECT_FALSE(decoded->otfs());
    EXPECT_EQ(decoded->mapType(), kMapMacroOtfs);
}

// ---- Copies ----------------------------------------------------------------

TEST(ButtonMappingCopy, IsDeepAndEqual) {
    auto original = ButtonMapping::initWithData(withText(bytes({0x05, 0x04}), "1,2"));
    ButtonMapping copy(*original);
    EXPECT_EQ(copy, *original);
    ASSERT_NE(copy.advMapping(), nullptr);
    EXPECT_NE(copy.advMapping(), original->advMapping());

    copy.forceMapType(kMapMacro);
    copy.setOtfs(true); // rewrites the copy's nested text
    copy.setAuxData("x");
    EXPECT_EQ(original->advMapping()->auxData(), "1,2");
    EXPECT_EQ(original->mapType(), kMapMacroOtfs);
}

TEST(ButtonMappingCopy, AssigningItsOwnNestedMappingShiftsTheChain) {
    auto mapping = ButtonMapping::initWithData(withText(bytes({0x05, 0x05, 0x04}), "8"));
    *mapping = *mapping->advMapping();
    EXPECT_EQ(mapping->toData(), withText(bytes({0x05, 0x04}), "8"));
}

// ---- Array helpers ---------------------------------------------------------

std::vector<Bytes> sevenRecords() {
    return {bytes({0x00}),
            bytes({0x01}),
            withText(bytes({0x03}), "11776"),
            withText(bytes({0x04}), "568,312,2048,120,568"),
            withText(bytes({0x05, 0x04}), "1,2"),
            withText(bytes({0x06}), "16640"),
            bytes({0x0B})};
}

PlistValue dataArray(const std::vector<Bytes>& records) {
    PlistValue::Array items;
    for (const Bytes& record : records) {
        items.push_back(PlistValue::data(record));
    }
    return PlistValue::array(std::move(items));
}

TEST(ButtonMappingSupportTest, SevenMappingsRoundTripInOrder) {
    const std::vector<Bytes> records = sevenRecords();
    const PlistValue stored = dataArray(records);

    const ButtonMappingSupport::MappingList mappings = ButtonMappingSupport::mappingArray(stored);
    ASSERT_EQ(mappings.size(), records.size());
    const std::int32_t types[] = {kMapClick,     kMapMenu,   kMapKey,       kMapMacro,
                                  kMapMacroOtfs, kMapDpiSet, kMapScrollDown};
    for (std::size_t i = 0; i < mappings.size(); ++i) {
        ASSERT_NE(mappings[i], nullptr);
        EXPECT_EQ(mappings[i]->mapType(), types[i]) << "index " << i;
    }
    EXPECT_EQ(mappings[2]->auxData(), "11776");
    ASSERT_NE(mappings[4]->advMapping(), nullptr);
    EXPECT_EQ(mappings[4]->advMapping()->auxData(), "1,2");

    EXPECT_EQ(ButtonMappingSupport::mappingDataArray(mappings), stored);
}

TEST(ButtonMappingSupportTest, AddMappingAppendsTheRecordAsData) {
    PlistValue::Array array{PlistValue::data(bytes({0x00}))};
    ButtonMapping mapping;
    mapping.forceMapType(kMapDpiSet);
    mapping.setAuxData("16384");
    ButtonMappingSupport::addMapping(array, mapping);
    ASSERT_EQ(array.size(), 2U);
    EXPECT_EQ(array[1], PlistValue::data(withText(bytes({0x06}), "16384")));
}

TEST(ButtonMappingSupportTest, MappingAtIndexDecodesOneItem) {
    const PlistValue stored = dataArray(sevenRecords());
    auto mapping = ButtonMappingSupport::mappingAtIndex(stored, 4);
    ASSERT_NE(mapping, nullptr);
    EXPECT_EQ(mapping->toData(), sevenRecords()[4]);
    EXPECT_EQ(mapping->prefsController(), nullptr);
}

TEST(ButtonMappingSupportTest, MappingAtIndexGivesNoneWhereThereIsNoRecord) {
    PlistValue stored = dataArray({bytes({0x01})});
    stored.append(PlistValue::string("1"));
    EXPECT_EQ(ButtonMappingSupport::mappingAtIndex(stored, 1), nullptr); // not data
    EXPECT_EQ(ButtonMappingSupport::mappingAtIndex(stored, 2), nullptr); // out of range
    EXPECT_EQ(ButtonMappingSupport::mappingAtIndex(PlistValue::string("x"), 0), nullptr);
}

TEST(ButtonMappingSupportTest, NonDataElementsBecomeClicksInPlace) {
    PlistValue stored = PlistValue::array(
        {PlistValue::data(bytes({0x01})), PlistValue::int32(9), PlistValue::data(bytes({0x0C}))});
    const auto mappings = ButtonMappingSupport::mappingArray(stored);
    ASSERT_EQ(mappings.size(), 3U);
    EXPECT_EQ(mappings[0]->mapType(), kMapMenu);
    EXPECT_EQ(*mappings[1], ButtonMapping());
    EXPECT_EQ(mappings[2]->mapType(), kMapButtonOff);

    EXPECT_TRUE(ButtonMappingSupport::mappingArray(PlistValue::string("x")).empty());
}

TEST(ButtonMappingSupportTest, EmptySlotsAreWrittenAsClicks) {
    ButtonMappingSupport::MappingList mappings;
    mappings.push_back(ButtonMapping::initWithData(bytes({0x01})));
    mappings.push_back(nullptr);
    mappings.push_back(ButtonMapping::initWithData(bytes({0x0C})));
    EXPECT_EQ(ButtonMappingSupport::mappingDataArray(mappings),
              dataArray({bytes({0x01}), bytes({0x00}), bytes({0x0C})}));
}

} // namespace
