// ButtonMappingSupport: moves a profile's mappings between the stored form (an
// array of data items, one button mapping record each, in input order) and
// ButtonMapping objects.
#pragma once

#include "ButtonMapping.h"

#include <PlistValue.h>

#include <cstddef>
#include <memory>
#include <vector>

namespace ButtonMappingSupport {

using MappingList = std::vector<std::unique_ptr<ButtonMapping>>;

// Appends the mapping's record to the array as a data item.
void addMapping(PlistValue::Array& array, const ButtonMapping& mapping);

// Decodes the data item at index into a new mapping the caller owns; nullptr
// when the value is not an array, the index is out of range or the item there
// is not a data item.
std::unique_ptr<ButtonMapping> mappingAtIndex(const PlistValue& array, std::size_t index);

// The records of all mappings, in order, as an array of data items. An empty
// slot (nullptr) is written as a click record so the positions stay.
PlistValue mappingDataArray(const MappingList& mappings);

// A new mapping decoded from every element, in order. An element that is not a
// data item gives a new click mapping in its place, so every mapping keeps the
// input index of its position. A value that is not an array gives no mappings.
MappingList mappingArray(const PlistValue& array);

} // namespace ButtonMappingSupport
