// HidParameters: the simulator's pointer parameters.
#include "HidParameters.h"

#include <QDBusVariant>

#include <charconv>
#include <cmath>
#include <limits>

namespace {

const char* const sButtonMode = "HIDPointerButtonMode";
const char* const sClickTime = "HIDClickTime";
const char* const sAcceleration = "HIDMouseAcceleration";

bool isIntegerType(const QVariant& value) {
    switch (value.metaType().id()) {
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return true;
    default:
        return false;
    }
}

} // namespace

HidParameters::HidParameters() {
    fValues.insert(QString::fromLatin1(sButtonMode), QVariant::fromValue<int>(2));
    fValues.insert(QString::fromLatin1(sClickTime), QVariant::fromValue<qlonglong>(500000000));
    fValues.insert(QString::fromLatin1(sAcceleration), QVariant::fromValue<double>(1.0));
}

QStringList HidParameters::keys() {
    return {QString::fromLatin1(sButtonMode), QString::fromLatin1(sClickTime),
            QString::fromLatin1(sAcceleration)};
}

bool HidParameters::isKnown(const QString& key) {
    return keys().contains(key);
}

Result<QVariant> HidParameters::value(const QString& key) const {
    if (!fValues.contains(key)) {
        return Result<QVariant>::fail("unknown HID system parameter \"" + key.toStdString() +
                                      "\" (known: " + keys().join(", ").toStdString() + ")");
    }
    return fValues.value(key);
}

Status HidParameters::setValue(const QString& key, const QVariant& given) {
    if (!isKnown(key)) {
        return Status::fail("unknown HID system parameter \"" + key.toStdString() +
                            "\" (known: " + keys().join(", ").toStdString() + ")");
    }
    QVariant value = given;
    if (value.metaType() == QMetaType::fromType<QDBusVariant>()) {
        value = value.value<QDBusVariant>().variant();
    }
    const bool integer = isIntegerType(value);
    const bool real = value.metaType().id() == QMetaType::Double;
    if (key == QLatin1String(sAcceleration)) {
        if (!integer && !real) {
            return Status::fail(key.toStdString() + " takes a number");
        }
        const double number = value.toDouble();
        if (!std::isfinite(number)) {
            return Status::fail(key.toStdString() + " takes a finite number");
        }
        fValues.insert(key, QVariant::fromValue<double>(number));
        return Status::success();
    }
    if (!integer) {
        return Status::fail(key.toStdString() + " takes an integer");
    }
    if (value.metaType().id() == QMetaType::ULongLong &&
        value.toULongLong() > static_cast<qulonglong>(std::numeric_limits<qlonglong>::max())) {
        return Status::fail(key.toStdString() + ": value out of range");
    }
    const qlonglong number = value.toLongLong();
    if (key == QLatin1String(sButtonMode)) {
        if (number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max()) {
            return Status::fail(key.toStdString() + " takes a 32-bit integer");
        }
        fValues.insert(key, QVariant::fromValue<int>(static_cast<int>(number)));
    } else {
        fValues.insert(key, QVariant::fromValue<qlonglong>(number));
    }
    return Status::success();
}

std::vector<std::pair<std::string, std::int64_t>> HidParameters::integerValues() const {
    std::vector<std::pair<std::string, std::int64_t>> values;
    for (auto it = fValues.cbegin(); it != fValues.cend(); ++it) {
        if (isIntegerType(it.value())) {
            values.emplace_back(it.key().toStdString(), it.value().toLongLong());
        }
    }
    return values;
}

QString HidParameters::format(const QVariant& value) {
    if (isIntegerType(value)) {
        return value.metaType().id() == QMetaType::ULongLong ? QString::number(value.toULongLong())
                                                             : QString::number(value.toLongLong());
    }
    if (value.metaType().id() == QMetaType::Double) {
        char buffer[64];
        const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value.toDouble());
        if (error != std::errc()) {
            return QString::number(value.toDouble(), 'g', 17);
        }
        QString text = QString::fromLatin1(buffer, static_cast<qsizetype>(end - buffer));
        if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')) &&
            !text.contains(QLatin1String("inf")) && !text.contains(QLatin1String("nan"))) {
            text += QLatin1String(".0");
        }
        return text;
    }
    return value.toString();
}

Result<QVariant> HidParameters::parse(const QString& text) {
    bool ok = false;
    const bool hex = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ||
                     text.startsWith(QLatin1String("-0x"), Qt::CaseInsensitive);
    const qlonglong integer =
        hex ? QString(text).remove(QLatin1String("0x"), Qt::CaseInsensitive).toLongLong(&ok, 16)
            : text.toLongLong(&ok, 10);
    if (ok) {
        return QVariant::fromValue<qlonglong>(integer);
    }
    const double real = text.toDouble(&ok);
    if (ok && std::isfinite(real)) {
        return QVariant::fromValue<double>(real);
    }
    return Result<QVariant>::fail("\"" + text.toStdString() + "\" is not a number");
}
