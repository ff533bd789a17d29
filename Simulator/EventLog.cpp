// EventLog: the bounded record of posted synthetic input events.
#include "EventLog.h"

void EventLog::postKey(std::uint8_t keyCode, bool down, bool repeat) {
    append({down ? Kind::KeyDown : Kind::KeyUp, keyCode, down && repeat});
}

void EventLog::postFlags(std::uint32_t flags) {
    append({Kind::Flags, flags, false});
}

void EventLog::postKeyboard(std::uint8_t keyCode, bool down) {
    append({Kind::Keyboard, keyCode, down});
}

void EventLog::postAux(std::uint8_t keyCode) {
    append({Kind::Aux, keyCode, false});
}

void EventLog::postSystemDefined(std::uint8_t subtype) {
    append({Kind::SystemDefined, subtype, false});
}

void EventLog::append(const Event& event) {
    if (fLimit == 0) {
        return;
    }
    while (fEvents.size() >= fLimit) {
        fEvents.pop_front();
    }
    fEvents.push_back(event);
}

QStringList EventLog::lines(bool clear) {
    QStringList result;
    result.reserve(static_cast<qsizetype>(fEvents.size()));
    for (const Event& event : fEvents) {
        result.append(format(event));
    }
    if (clear) {
        fEvents.clear();
    }
    return result;
}

QString EventLog::format(const Event& event) {
    const QString hex = QString::number(event.value, 16);
    switch (event.kind) {
    case Kind::KeyDown:
        return QStringLiteral("keydown 0x%1 repeat=%2").arg(hex).arg(event.mark ? 1 : 0);
    case Kind::KeyUp:
        return QStringLiteral("keyup 0x%1").arg(hex);
    case Kind::Flags:
        return QStringLiteral("flags 0x%1").arg(hex);
    case Kind::Keyboard:
        return QStringLiteral("keyboard 0x%1 %2")
            .arg(hex, event.mark ? QStringLiteral("down") : QStringLiteral("up"));
    case Kind::Aux:
        return QStringLiteral("aux 0x%1").arg(hex);
    case Kind::SystemDefined:
        return QStringLiteral("sysdefined %1").arg(event.value);
    }
    return QString();
}
