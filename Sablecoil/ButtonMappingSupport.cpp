// ButtonMappingSupport: the array helpers between stored records and mappings.
#include "ButtonMappingSupport.h"

namespace ButtonMappingSupport {

void addMapping(PlistValue::Array& array, const ButtonMapping& mapping) {
    array.push_back(PlistValue::data(mapping.toData()));
}

std::unique_ptr<ButtonMapping> mappingAtIndex(const PlistValue& array, std::size_t index) {
    if (!array.isArray() || index >= array.items().size()) {
        return nullptr;
    }
    const PlistValue& item = array.items()[index];
    if (!item.isData()) {
        return nullptr;
    }
    return ButtonMapping::initWithData(item.bytes());
}

PlistValue mappingDataArray(const MappingList& mappings) {
    PlistValue::Array records;
    records.reserve(mappings.size());
    for (const auto& mapping : mappings) {
        addMapping(records, mapping ? *mapping : ButtonMapping());
    }
    return PlistValue::array(std::move(records));
}

MappingList mappingArray(const PlistValue& array) {
    MappingList mappings;
    const PlistValue::Array& items = array.items(); // empty unless an array
    mappings.reserve(items.size());
    for (const PlistValue& item : items) {
        // Not a record: a new click mapping keeps the later inputs in place.
        mappings.push_back(item.isData() ? ButtonMapping::initWithData(item.bytes())
                                         : std::make_unique<ButtonMapping>());
    }
    return mappings;
}

} // namespace ButtonMappingSupport
