// DBusPlist: turns what arrives over D-Bus (a{sv} dictionaries and the
// variants in them) into PlistValue, at the bus boundary.
//
// D-Bus integers keep their width and signedness (y is unsigned 8-bit, n and
// q 16-bit, i and u 32-bit, x and t 64-bit), d becomes a real, b a boolean,
// s a string, ay data, a{s...} a dictionary, other arrays arrays, v is
// unwrapped. What has no property-list form (object paths, signatures, file
// descriptors, structures, maps with non-string keys) is left out of a
// dictionary and stays an empty value in an array, so that positions keep
// their meaning. Nesting deeper than kMaxDepth is cut off the same way.
#pragma once

#include "PlistValue.h"

#include <QVariant>
#include <QVariantMap>

class QDBusArgument;

class DBusPlist {
public:
    static constexpr int kMaxDepth = 32;

    // One value; an empty value when it has no property-list form.
    static PlistValue fromVariant(const QVariant& value);
    // An a{sv} dictionary, in the map's key order.
    static PlistValue fromVariantMap(const QVariantMap& map);

private:
    static PlistValue fromVariant(const QVariant& value, int depth);
    static PlistValue fromArgument(const QDBusArgument& argument, int depth);
};
