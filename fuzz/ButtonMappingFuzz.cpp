// Fuzz target for button mapping records: any bytes decode without fault, and
// decoding is stable: what a decoded mapping encodes to decodes to the same
// mapping and encodes to the same bytes again. The encoding of a non-empty
// record is always a prefix of it (decoding drops only ignored bytes).
#include "ButtonMapping.h"
#include "ButtonMappingSupport.h"

#include <PlistValue.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> record(data, size);

    const auto first = ButtonMapping::initWithData(record);
    const std::vector<std::uint8_t> encoded = first->toData();
    const auto second = ButtonMapping::initWithData(encoded);

    // Type, text and nested mappings, all levels (the on-the-fly flag is off
    // after both decodings).
    if (!(*first == *second) || second->toData() != encoded) {
        std::abort();
    }
    if (size > 0 && (encoded.size() > size || !std::equal(encoded.begin(), encoded.end(), data))) {
        std::abort();
    }

    // A deep copy is equal and encodes alike.
    const ButtonMapping copy(*first);
    if (!(copy == *first) || copy.toData() != encoded) {
        std::abort();
    }

    // Through the stored array form and back.
    ButtonMappingSupport::MappingList list;
    list.push_back(ButtonMapping::initWithData(record));
    const PlistValue stored = ButtonMappingSupport::mappingDataArray(list);
    const auto back = ButtonMappingSupport::mappingAtIndex(stored, 0);
    if (back == nullptr || !(*back == *first)) {
        std::abort();
    }
    return 0;
}
