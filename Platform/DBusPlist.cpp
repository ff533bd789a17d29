// DBusPlist: D-Bus values to property-list values.
#include "DBusPlist.h"

#include <QByteArrayList>
#include <QDBusArgument>
#include <QDBusVariant>
#include <QStringList>

PlistValue DBusPlist::fromVariant(const QVariant& value) {
    return fromVariant(value, 0);
}

PlistValue DBusPlist::fromVariantMap(const QVariantMap& map) {
    PlistValue dictionary = PlistValue::dictionary();
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        PlistValue converted = fromVariant(it.value(), 1);
        if (!converted.isNone()) {
            dictionary.set(it.key().toStdString(), std::move(converted));
        }
    }
    return dictionary;
}

PlistValue DBusPlist::fromVariant(const QVariant& value, int depth) {
    if (depth > kMaxDepth) {
        return {};
    }
    switch (value.metaType().id()) {
    case QMetaType::UChar:
        return PlistValue::unsignedInteger(value.value<uchar>(), PlistValue::Width::Bits8);
    case QMetaType::Short:
        return PlistValue::integer(value.value<short>(), PlistValue::Width::Bits16);
    case QMetaType::UShort:
        return PlistValue::unsignedInteger(value.value<ushort>(), PlistValue::Width::Bits16);
    case QMetaType::Int:
        return PlistValue::integer(value.toInt(), PlistValue::Width::Bits32);
    case QMetaType::UInt:
        return PlistValue::unsignedInteger(value.toUInt(), PlistValue::Width::Bits32);
    case QMetaType::LongLong:
        return PlistValue::integer(value.toLongLong(), PlistValue::Width::Bits64);
    case QMetaType::ULongLong:
        return PlistValue::unsignedInteger(value.toULongLong(), PlistValue::Width::Bits64);
    case QMetaType::Double:
        return PlistValue::real(value.toDouble());
    case QMetaType::Bool:
        return PlistValue::boolean(value.toBool());
    case QMetaType::QString:
        return PlistValue::string(value.toString().toStdString());
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return PlistValue::data(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                static_cast<std::size_t>(bytes.size()));
    }
    case QMetaType::QStringList: {
        PlistValue array = PlistValue::array();
        for (const QString& text : value.toStringList()) {
            array.append(PlistValue::string(text.toStdString()));
        }
        return array;
    }
    case QMetaType::QByteArrayList: {
        PlistValue array = PlistValue::array();
        for (const QByteArray& bytes : value.value<QByteArrayList>()) {
            array.append(PlistValue::data(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                          static_cast<std::size_t>(bytes.size())));
        }
        return array;
    }
    default:
        break;
    }
    if (value.metaType() == QMetaType::fromType<QDBusVariant>()) {
        return fromVariant(value.value<QDBusVariant>().variant(), depth + 1);
    }
    if (value.metaType() == QMetaType::fromType<QDBusArgument>()) {
        return fromArgument(value.value<QDBusArgument>(), depth);
    }
    return {};
}

PlistValue DBusPlist::fromArgument(const QDBusArgument& argument, int depth) {
    if (depth > kMaxDepth) {
        (void)argument.asVariant(); // consume it so that the enclosing container reads on
        return {};
    }
    switch (argument.currentType()) {
    case QDBusArgument::BasicType:
    case QDBusArgument::VariantType:
        return fromVariant(argument.asVariant(), depth + 1);
    case QDBusArgument::ArrayType: {
        if (argument.currentSignature() == QLatin1String("ay")) {
            QByteArray bytes;
            argument >> bytes;
            return PlistValue::data(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                    static_cast<std::size_t>(bytes.size()));
        }
        PlistValue array = PlistValue::array();
        argument.beginArray();
        while (!argument.atEnd()) {
            array.append(fromArgument(argument, depth + 1));
        }
        argument.endArray();
        return array;
    }
    case QDBusArgument::MapType: {
        if (!argument.currentSignature().startsWith(QLatin1String("a{s"))) {
            (void)argument.asVariant();
            return {};
        }
        PlistValue dictionary = PlistValue::dictionary();
        argument.beginMap();
        while (!argument.atEnd()) {
            argument.beginMapEntry();
            QString key;
            argument >> key;
            PlistValue item = fromArgument(argument, depth + 1);
            argument.endMapEntry();
            if (!item.isNone()) {
                dictionary.set(key.toStdString(), std::move(item));
            }
        }
        argument.endMap();
        return dictionary;
    }
    default:
        (void)argument.asVariant();
        return {};
    }
}
