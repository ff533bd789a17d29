// PlistToDBus: property-list values to D-Bus variants with their types kept.
#include "PlistToDBus.h"

#include <QByteArray>
#include <QDBusArgument>
#include <QString>
#include <QVariantList>

namespace {

QByteArray toByteArray(const PlistValue::Data& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

} // namespace

QVariant PlistToDBus::toVariant(const PlistValue& value) {
    switch (value.type()) {
    case PlistValue::Type::None:
        return {};
    case PlistValue::Type::Dictionary:
        return QVariant(toVariantMap(value));
    case PlistValue::Type::Array: {
        if (isArrayOfData(value)) {
            // aay: an array argument of byte arrays, wrapped so that the
            // enclosing variant carries its signature.
            QDBusArgument argument;
            argument.beginArray(QMetaType::fromType<QByteArray>());
            for (const PlistValue& item : value.items()) {
                argument << toByteArray(item.bytes());
            }
            argument.endArray();
            return QVariant::fromValue(argument);
        }
        QVariantList list;
        for (const PlistValue& item : value.items()) {
            QVariant converted = toVariant(item);
            if (converted.isValid()) {
                list.append(std::move(converted));
            }
        }
        return QVariant(list);
    }
    case PlistValue::Type::Data:
        return QVariant(toByteArray(value.bytes()));
    case PlistValue::Type::String:
        return QVariant(QString::fromStdString(value.text()));
    case PlistValue::Type::Integer:
        return integerToVariant(value);
    case PlistValue::Type::Real:
        return QVariant(value.toReal());
    case PlistValue::Type::Boolean:
        return QVariant(value.toBool());
    }
    return {};
}

QVariantMap PlistToDBus::toVariantMap(const PlistValue& dictionary) {
    QVariantMap map;
    if (!dictionary.isDictionary()) {
        return map;
    }
    for (const auto& [key, item] : dictionary.dict()) {
        QVariant converted = toVariant(item);
        if (converted.isValid()) {
            map.insert(QString::fromStdString(key), std::move(converted));
        }
    }
    return map;
}

QVariant PlistToDBus::integerToVariant(const PlistValue& value) {
    const bool isSigned = value.integerIsSigned();
    switch (value.integerWidth()) {
    case PlistValue::Width::Bits8:
        if (isSigned) {
            return QVariant::fromValue(static_cast<short>(value.toInt64()));
        }
        return QVariant::fromValue(static_cast<uchar>(value.toUInt64()));
    case PlistValue::Width::Bits16:
        if (isSigned) {
            return QVariant::fromValue(static_cast<short>(value.toInt64()));
        }
        return QVariant::fromValue(static_cast<ushort>(value.toUInt64()));
    case PlistValue::Width::Bits32:
        if (isSigned) {
            return QVariant::fromValue(static_cast<int>(value.toInt64()));
        }
        return QVariant::fromValue(static_cast<uint>(value.toUInt64()));
    case PlistValue::Width::Bits64:
        break;
    }
    if (isSigned) {
        return QVariant::fromValue(static_cast<qlonglong>(value.toInt64()));
    }
    return QVariant::fromValue(static_cast<qulonglong>(value.toUInt64()));
}

bool PlistToDBus::isArrayOfData(const PlistValue& array) {
    if (array.items().empty()) {
        return false;
    }
    for (const PlistValue& item : array.items()) {
        if (!item.isData()) {
            return false;
        }
    }
    return true;
}
