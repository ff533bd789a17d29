// PlistToDBus: turns property-list values into what goes out over D-Bus, at
// the bus boundary; the reverse of DBusPlist.
//
// Types are kept so that a peer sees the same numbers the suite holds:
// signed integers become n (16-bit), i (32-bit) or x (64-bit); unsigned ones
// y (8-bit), q, u or t; a signed 8-bit integer becomes n, since D-Bus has no
// signed byte. A real becomes d, a boolean b, a string s, data ay, an array
// made only of data aay, any other array av and a dictionary a{sv}. Empty
// values have no D-Bus form: they are left out of dictionaries and arrays.
#pragma once

#include "PlistValue.h"

#include <QVariant>
#include <QVariantMap>

class PlistToDBus {
public:
    // One value, ready to be put into a variant or a message; an invalid
    // QVariant for an empty value.
    static QVariant toVariant(const PlistValue& value);
    // A dictionary as a{sv}, keys as they are; anything else gives an empty map.
    static QVariantMap toVariantMap(const PlistValue& dictionary);

private:
    static QVariant integerToVariant(const PlistValue& value);
    static bool isArrayOfData(const PlistValue& array);
};
