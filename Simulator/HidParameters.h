// HidParameters: the desktop's pointer parameters as the simulator keeps
// them, in the HID system's terms: "HIDPointerButtonMode" (32-bit integer,
// 1 = right button primary, 2 = normal), "HIDClickTime" (64-bit integer,
// nanoseconds) and "HIDMouseAcceleration" (real). Values are checked and
// stored in the key's own type; other keys are refused.
#pragma once

#include "Result.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <cstdint>
#include <utility>
#include <vector>

class HidParameters {
public:
    HidParameters();

    static QStringList keys();
    static bool isKnown(const QString& key);

    // The value of a key, typed as stored (int, qlonglong or double).
    Result<QVariant> value(const QString& key) const;
    // Sets a key from any number: integers for the integer keys (range
    // checked), integers or reals for the acceleration.
    Status setValue(const QString& key, const QVariant& value);
    QVariantMap all() const { return fValues; }
    // The integer parameters, as the report channels carry them.
    std::vector<std::pair<std::string, std::int64_t>> integerValues() const;

    // A stable, readable form: integers in decimal, reals with a decimal point.
    static QString format(const QVariant& value);
    // Reads a command-line value: a decimal or 0x integer, else a real.
    static Result<QVariant> parse(const QString& text);

private:
    QVariantMap fValues;
};
