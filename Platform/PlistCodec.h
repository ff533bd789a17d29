// PlistCodec: reads property lists (XML or binary) into PlistValue and writes
// PlistValue as an XML property list, using libplist.
//
// Reading never trusts its input: the size, the nesting depth and (for the
// binary form) the object graph are checked before libplist sees the bytes,
// so a corrupt or hostile file gives an error message, never a crash or an
// unbounded amount of memory. Integers come back as signed 64-bit values
// (unsigned 64-bit when they do not fit), since a file does not carry widths.
#pragma once

#include "PlistValue.h"
#include "Result.h"

#include <cstddef>
#include <string>
#include <string_view>

class PlistCodec {
public:
    // Containers nested deeper than this are refused, on reading and writing.
    static constexpr int kMaxDepth = 64;
    // Inputs larger than this are refused.
    static constexpr std::size_t kMaxInputSize = 16u * 1024u * 1024u;
    // A binary property list may hold at most this many objects, and expand to
    // at most this many values (shared objects count once per use).
    static constexpr std::size_t kMaxNodes = 2u * 1024u * 1024u;

    enum class Root { Any, Dictionary };

    // Parses an XML or binary property list. With Root::Dictionary, a root of
    // another kind is an error.
    static Result<PlistValue> read(std::string_view bytes, Root root = Root::Any);
    static Result<PlistValue> readDictionary(std::string_view bytes) {
        return read(bytes, Root::Dictionary);
    }

    // Serializes a value as an XML property list. Fails for an empty value
    // (anywhere in the tree), strings or keys holding a NUL character, and
    // nesting deeper than kMaxDepth.
    static Result<std::string> writeXml(const PlistValue& value);
};
